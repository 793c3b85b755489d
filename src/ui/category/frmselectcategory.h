#pragma once
// "Select category": every category of the project with a three-state check box for a set of
// pictures ("Title[count]"); checked when every picture has it, grayed when some have it. OK
// gives checked categories to every picture, takes unchecked ones away and leaves grayed ones
// as each picture has them. The count is live: the project's pictures that have the category now,
// with the dialog's pictures counted as their check box would leave them.
//
// Threads: user-interface thread only.
#include "ui/common/placeddialog.h"

#include <QList>
#include <memory>

namespace Ui {
class frmSelectCategory;
}
class QListWidgetItem;
class TLumenfoldPicture;
class TLumenfoldProject;

class TfrmSelectCategory : public TPlacedDialog {
  Q_OBJECT
public:
  explicit TfrmSelectCategory(QWidget* parent = nullptr);
  ~TfrmSelectCategory() override;

  void SetProject(TLumenfoldProject* project);
  // The pictures to edit (not owned); add them before showing.
  void AddPicture(TLumenfoldPicture* picture);
  const QList<TLumenfoldPicture*>& Pictures() const { return pictures_; }
  // The check state of the category with the given id (Qt::Unchecked when not listed).
  Qt::CheckState State(int categoryId) const;

  void accept() override;

protected:
  void FirstShow() override;

private:
  void fillList();
  void manage();
  // Counts the project's other pictures of every listed category and shows the counts.
  void countPictures();
  void showCount(QListWidgetItem* item);

  std::unique_ptr<Ui::frmSelectCategory> ui;
  TLumenfoldProject* project_ = nullptr;
  QList<TLumenfoldPicture*> pictures_;
  bool showingCount_ = false;
};
