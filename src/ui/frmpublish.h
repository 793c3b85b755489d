#pragma once
// The Publish window: the project's destinations (add, remove, test the connection), the plan
// of a publish to the chosen one, and the publish itself with a progress window (bytes, files,
// time left, Cancel). The engine runs on a worker thread (TPublisher); the window keeps
// dispatching events meanwhile and applies nothing to the model but the destination list.
// A password typed here is used for this session only and never stored with the project.
//
// Threads: user-interface thread only.
#include "core/destinations.h"
#include "processing/publish.h"
#include "ui/placeddialog.h"

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
  TPublishSecrets secretsOf(const TPublishDestination& d) const;
  // Runs work on a worker thread while a progress window shows; false when cancelled.
  void runInWorker(TPublisher& publisher, const QString& title,
                   const std::function<void(const TPublishProgressFn&)>& work);

  TLumenfoldProject* project_;
  QListWidget* lstDestinations;
  QLineEdit *edtName, *edtUrl, *edtKeyFile, *edtPasswordEnv, *edtPassword;
  QPlainTextEdit* txtPlan;
  QPushButton *btnAdd, *btnRemove, *btnTest, *btnPlan, *btnPublish;
  QHash<QString, QString> sessionPasswords_;
  QString lastError_;
};
