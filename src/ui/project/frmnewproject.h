#pragma once
// "New project": the file name and connection string of a new project, with the project
// options behind "&Advanced...". On OK the project's folder is made when missing, a missing
// SQLite database file is created from template.db and the process-wide connection string
// becomes the new one.
//
// Without a file name the dialog proposes "site1.lumenfold" (the first free "siteN") in a
// "LumenFold" folder of the user's pictures folder, with its database beside it. A database file
// in the project's folder moves along when the project's name changes, until the user sets
// another connection string. A proposed database file that already holds another project's
// albums gives way to one named after the project (lblDBNote says why), and OK on a database
// that holds albums asks first: the two projects would share them.
//
// Threads: user-interface thread only.
#include "ui/common/placeddialog.h"

#include <memory>

namespace Ui {
class frmNewProject;
}
class TLumenfoldProject;

class TfrmNewProject : public TPlacedDialog {
  Q_OBJECT
public:
  explicit TfrmNewProject(QWidget* parent = nullptr);
  ~TfrmNewProject() override;

  // The whole round trip: copy the project's settings in, show the dialog, and after OK copy
  // them back (Assign). True on OK.
  static bool Execute(QWidget* owner, TLumenfoldProject& project);

  // The settings being edited (default settings until the caller assigns its own).
  TLumenfoldProject& Project() { return *project_; }

  void done(int result) override;

  // The folder a new project is proposed in: "LumenFold" inside the user's pictures folder, or
  // the documents folder, or the home folder, whichever exists first.
  static QString ProposedFolder();
  // The first "siteN.lumenfold" of ProposedFolder() that does not exist yet.
  static QString ProposedProjectFile();

protected:
  void FirstShow() override;

private:
  void browseProject();
  void browseDatabase();
  void advanced();
  void projectNameChanged(const QString& text);
  void setDatabaseText(const QString& text);
  // The database beside the project file that ProposeProjectDatabase chooses.
  void proposeDatabase(const QString& projectFile);

  std::unique_ptr<Ui::frmNewProject> ui;
  std::unique_ptr<TLumenfoldProject> project_;
  bool loading_ = true;
  // The database file is in the project's folder and moves along with it.
  bool dbFollows_ = false;
  bool settingDb_ = false;
  // The name a following database file keeps while it can.
  QString preferredDbName_;
};
