#pragma once
// The database connection dialog: builds a connection string from a provider (the installed Qt
// SQL drivers under their provider names, "SQLite" first and bold) and a database file, tests
// it, and refuses OK while the connection cannot be opened. A missing SQLite file is created as
// a copy of template.db.
//
// Threads: user-interface thread only.
#include "ui/common/placeddialog.h"

#include <memory>

namespace Ui {
class frmDatabase;
}

class TfrmDatabase : public TPlacedDialog {
  Q_OBJECT
public:
  explicit TfrmDatabase(QWidget* parent = nullptr);
  ~TfrmDatabase() override;

  // Runs the dialog on a connection string; on OK the string receives the dialog's one.
  static bool Execute(QWidget* owner, QString& connectionString);

  // The string to start from; set it before showing.
  void SetConnectionString(const QString& connectionString);
  // The text of memConnectionString.
  QString ConnectionString() const;
  // Replaces the installed providers in the list (for scripted runs and tests); set before
  // showing.
  void SetAvailableProviders(const QStringList& providers) {
    providers_ = providers;
    providersSet_ = true;
  }
  // Runs the connection test and shows its status; true when the connection opened.
  bool TestConnectionNow();

  // Provider list order for a list of installed providers: the file provider exchanged with the
  // first entry.
  static QStringList OrderProviders(QStringList providers);

  void done(int result) override;

protected:
  void FirstShow() override;

private:
  void providerChosen();
  void fileNameChanged();
  void memoChanged();
  void browseFile();
  void applyEnableRules();
  void setStatusUnknown();
  void showString();
  QString selectedProvider() const;

  std::unique_ptr<Ui::frmDatabase> ui;
  QString connectionString_;
  QStringList providers_;
  bool providersSet_ = false;
  bool updating_ = false;
};
