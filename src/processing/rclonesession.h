#pragma once
// One running transfer engine for one publish: "rclone rcd" listening on 127.0.0.1 at a port of
// its own choosing, reached with a user name and password made up for this run and handed to it
// through its environment (never its command line). Every step of a publish goes through it, so
// the engine keeps one connection to the server for the whole publish instead of opening one per
// step.
//
// The engine is started by a thread the session owns for its whole life, so it ends with this
// program even when the program is killed (PR_SET_PDEATHSIG follows the starting thread), and no
// matter which threads call it. Calls are plain blocking HTTP on the loopback.
//
// Threads: Call from one thread at a time; Cancel-style stops come through the flag given to Call.
#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QStringList>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <sys/types.h>
#include <thread>

class TRcloneSession {
public:
  // program: the rclone executable; environment: extra entries for the engine (the remote);
  // dropped: variables of this program's environment the engine must not see.
  TRcloneSession(const QString& program, const QMap<QString, QString>& environment,
                 const QStringList& dropped = {});
  ~TRcloneSession(); // stops the engine and waits for it
  TRcloneSession(const TRcloneSession&) = delete;
  TRcloneSession& operator=(const TRcloneSession&) = delete;

  // Starts the engine and waits until it listens. False with error set.
  bool Start(QString* error);

  struct TResult {
    bool Ok = false;
    bool Cancelled = false;
    QString Error; // the engine's own words when not Ok
    QJsonObject Output;
  };
  // Runs one engine command (e.g. "sync/copy") as a job and waits for it. While it runs, stats
  // (when given) receives the job's transfer statistics; when *cancel becomes true the job is
  // stopped and the result says Cancelled.
  TResult Call(const QString& command, QJsonObject parameters, const std::atomic<bool>* cancel,
               const std::function<void(const QJsonObject&)>& stats = {});

private:
  // One request; false (with error) when the engine did not answer.
  bool post(const QString& command, const QJsonObject& body, int& status, QJsonObject& answer,
            QString& error);
  void supervise();

  QString program_;
  QMap<QString, QString> environment_;
  QStringList dropped_;
  QByteArray auth_;
  std::thread supervisor_;
  std::mutex mutex_;
  std::condition_variable changed_;
  pid_t pid_ = -1;
  int port_ = 0;
  bool ended_ = false;
  QString log_; // the engine's last words, for a failed start
};
