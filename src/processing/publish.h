#pragma once
// Publishing: the site folder (sitefolder.h) is brought onto a destination (destinations.h) by
// the transfer engine, rclone: one engine per publish, driven through its remote-control API
// (rclonesession.h), so the whole publish goes over one connection to the server. First a plan: the
// site's files are compared with what the server holds (its listing) and with the manifest an
// earlier publish of this project left there (each file's size and CRC), so only changed files
// travel. Then the order that keeps the site whole for a visitor: pictures and other files first,
// then the database, site.json and the pages that name them, then the removals. Only files a
// manifest of this project lists are ever removed; anything else on the server stays. A marker
// written before the first transfer and removed after the manifest tells the next publish that this
// one was interrupted: it re-plans from what the server holds and sends again only what is not
// there yet.
//
// Threads: construct on the user-interface thread (it copies what it needs from the project);
// afterwards Prepare and Run may run on one worker thread; Cancel on any thread.
#include "core/destinations.h"
#include "processing/rclonesession.h"

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>

class TLumenfoldProject;

// The folder on the server that holds the manifests (hidden from the site's own files).
inline constexpr const char* kPublishStateFolder = ".lumenfold-publish";

enum class TPublishAction { Upload, Replace, Remove };

struct TPublishStep {
  TPublishAction Action = TPublishAction::Upload;
  QString Path; // relative to the site's root, '/' between folders
  qint64 Bytes = 0;
};

struct TPublishPlan {
  QList<TPublishStep> Steps; // in the order they run
  int Uploads = 0, Replaces = 0, Removes = 0, Unchanged = 0;
  qint64 Bytes = 0;      // bytes to send
  bool Resuming = false; // an earlier publish to this destination did not finish
  bool Empty() const { return Steps.isEmpty() && !Resuming; }
};

struct TPublishProgress {
  QString Stage;
  qint64 BytesDone = 0, BytesTotal = 0;
  int FilesDone = 0, FilesTotal = 0;
  int SecondsLeft = -1; // unknown
};
using TPublishProgressFn = std::function<void(const TPublishProgress&)>;

struct TPublishOutcome {
  bool Done = false;   // the site on the server is the new one
  QString Error;       // why not
  QStringList Skipped; // files that should have gone but could not be removed
  int Sent = 0;
  int Removed = 0;
};

// Text of a plan action for the plan's lines ("upload", "replace", "remove").
QString PublishActionName(TPublishAction action);
// A byte count for people: "17 bytes", "340 kB", "12 MB".
QString PublishSizeText(qint64 bytes);
// How far a publish is, 0 to 1: by bytes when their total is known, else by files.
double PublishProgressShare(const TPublishProgress& progress);
// "3 of 10 files, 2 MB of 12 MB, 1:05 left" (the time left only when it is known), the same words
// in the progress window and on a terminal.
QString PublishProgressText(const TPublishProgress& progress);

class TPublisher {
public:
  TPublisher(const TLumenfoldProject& project, const TPublishDestination& destination,
             const TPublishSecrets& secrets);

  // Asks the server for the destination's folder. Empty when it answered (a folder that does
  // not exist yet is fine: the first publish makes it), otherwise the reason.
  QString TestConnection();
  // Brings the site folder up to date with the archive and makes the plan. False with Error().
  bool Prepare(const TPublishProgressFn& progress = {});
  const TPublishPlan& Plan() const { return plan_; }
  // Carries the plan out. The outcome says whether the server now holds the new site.
  TPublishOutcome Run(const TPublishProgressFn& progress = {});
  // Stops the transfer at once (any thread); the next publish resumes.
  void Cancel() { cancel_ = true; }
  QString Error() const { return error_; }
  QString SourceFolder() const { return source_; }
  QString Display() const { return target_.Display; }

  // The stored form of a manifest: path -> (size, CRC).
  struct TEntry {
    qint64 Size = -1;
    quint32 Crc = 0;
    bool operator==(const TEntry&) const = default;
  };
  using TManifest = QHash<QString, TEntry>;

private:
  // One engine command on this publish's engine (started on first use).
  TRcloneSession::TResult call(const QString& command, const QJsonObject& parameters,
                               const std::function<void(const QJsonObject&)>& stats = {});
  bool ensureEngine();
  bool readServer(QHash<QString, qint64>& listing, TManifest& manifest, TManifest& pending,
                  TManifest& previous);
  bool putState(const QString& name, const QByteArray& bytes, QString& error);
  bool getState(const QString& name, QByteArray& bytes);
  bool transfer(const QStringList& paths, bool certain, const TPublishProgressFn& progress,
                TPublishProgress& state, QString& error);

  TRcloneTarget target_;
  TPublishSecrets secrets_;
  QString archive_, source_, id_;
  std::unique_ptr<TRcloneSession> engine_;
  bool engineReady_ = false;
  QString error_;
  TPublishPlan plan_;
  TManifest local_, known_, maybeThere_;
  std::atomic<bool> cancel_{false};
};
