#pragma once
// The start dialog: at program start, open a recent project or make a new one.
//
// Threads: user-interface thread only.
#include "ui/common/placeddialog.h"

#include <QStringList>
#include <memory>

namespace Ui {
class frmFirst;
}

class TfrmFirst : public TPlacedDialog {
  Q_OBJECT
public:
  explicit TfrmFirst(QWidget* parent = nullptr);
  ~TfrmFirst() override;

  // Fills the list with the recent projects. An empty list checks "New project" and disables
  // "Existing project" and the list; otherwise "Existing project" is checked and the first entry
  // selected.
  void SetRecentProjects(const QStringList& projects);
  // After OK: whether "New project" was chosen, and the project to open (the selected entry, or
  // the first one when none is selected; empty when the list is empty).
  bool NewProjectChosen() const;
  QString SelectedProject() const;

protected:
  void FirstShow() override;

private:
  void applyEnableRule();
  std::unique_ptr<Ui::frmFirst> ui;
};
