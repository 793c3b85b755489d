#pragma once
// "Category Detail": adds, edits and deletes the project's categories on a working copy of the
// list; OK writes the differences into the project and its database (ApplyCategoryEdits).
// Deleting a category that pictures use asks first and says how many pictures lose it.
//
// Threads: user-interface thread only.
#include "core/category.h"
#include "ui/common/workingcopydialog.h"

#include <memory>

namespace Ui {
class frmCategories;
}
class TLumenfoldProject;

class TfrmCategoryDetail : public TWorkingCopyDialog<TLumenfoldCategoryList> {
  Q_OBJECT
public:
  explicit TfrmCategoryDetail(QWidget* parent = nullptr);
  ~TfrmCategoryDetail() override;

  // Sets the project and copies its categories into the working list.
  void SetProject(TLumenfoldProject* project);
  // OK deleted at least one category (pictures may have lost categories).
  bool Deleted() const { return deleted_; }

  void accept() override;

protected:
  void FirstShow() override;

private:
  void fillList();
  void showCategory();
  void edited();
  bool titleCheck();
  void add();
  void remove();
  void applyEnableRules();
  TLumenfoldCategory* current() const;

  std::unique_ptr<Ui::frmCategories> ui;
  TLumenfoldProject* project_ = nullptr;
  bool deleted_ = false;
};
