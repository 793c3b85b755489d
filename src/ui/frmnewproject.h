#pragma once
// "New project": the file name and connection string of a new project, with the project
// options behind "&Advanced...". On OK a missing SQLite database file is created from
// template.db and the process-wide connection string becomes the new one.
//
// Threads: user-interface thread only.
#include "ui/placeddialog.h"

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

protected:
  void FirstShow() override;

private:
  void browseProject();
  void browseDatabase();
  void advanced();

  std::unique_ptr<Ui::frmNewProject> ui;
  std::unique_ptr<TLumenfoldProject> project_;
  bool loading_ = true;
};
