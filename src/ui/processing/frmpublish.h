#pragma once
// The Publish window: the project's destinations (add, remove, test the connection), the plan
// of a publish to the chosen one, and the publish itself with a progress window (bytes, files,
// time left, Cancel). The engine runs on a worker thread (TPublisher); the window keeps
// dispatching events meanwhile and applies nothing to the model but the destination list.
// A password typed here is kept in the desktop's keyring (keyring.h), never with the project;
// without a keyring service the window says so and keeps it for this session only.
//
// Threads: user-interface thread only.
#include "core/destinations.h"
#include "processing/publish.h"
#include "ui/common/placeddialog.h"

#include <QHash>
#include <functional>

class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class TLumenfoldProject;

class TfrmPublish : public TPlacedDialog {
  Q_OBJECT
public:
  TfrmPublish(TLumenfoldProject* project, QWidget* parent = nullptr);
  ~TfrmPublish() override;

  // The outcome of the last publish: empty when it put the site on the server.
  QString LastError() const { return lastError_; }

private:
  void addDestination();
  void removeDestination();
  void testConnection();
  // Makes the plan; with publish, asks and carries it out.
  void plan(bool publish);
  void fillList();
  const TPublishDestination* current() const;
  // The destination's secrets: its environment variables, this session's password, the keyring,
  // or else the password asked for. False when the person cancelled the question.
  bool secretsOf(const TPublishDestination& d, TPublishSecrets& secrets);
  // Keeps a typed password for the session and in the keyring, and says where it went.
  void rememberPassword(const QString& name, const QString& password);
  // Runs work on a worker thread while a progress window shows; false when cancelled.
  void runInWorker(TPublisher& publisher, const QString& title,
                   const std::function<void(const TPublishProgressFn&)>& work);

  TLumenfoldProject* project_;
  QListWidget* lstDestinations;
  QLineEdit *edtName, *edtUrl, *edtKeyFile, *edtPasswordEnv, *edtPassword;
  QPlainTextEdit* txtPlan;
  class QLabel* lblKeyring;
  QPushButton *btnAdd, *btnRemove, *btnTest, *btnPlan, *btnPublish;
  QHash<QString, QString> sessionPasswords_;
  QString lastError_;
};
