#pragma once
// Controls of the main window's picture list outside the list itself.
//
// TThumbnailSizeControl sits in the status bar: a slider of the tile size (the view's
// Ctrl+wheel and Ctrl+plus/minus move it too) and a check box for the size line under the
// titles. Both are remembered in the settings store ("<root>/View/ThumbnailSize",
// "<root>/View/SizeLine") and restored when the control is made.
//
// TCategoryFilterBox chooses which pictures the list shows: all, or those of one category.
//
// Threads: user-interface thread only.
#include <QComboBox>
#include <QWidget>
#include <functional>

class QCheckBox;
class QSlider;
class TLumenfoldCategoryList;
class TphotoListView;

class TThumbnailSizeControl : public QWidget {
  Q_OBJECT
public:
  TThumbnailSizeControl(TphotoListView* view, QWidget* parent = nullptr);
  QSlider* Slider() const { return slider_; }

private:
  void remember() const;

  TphotoListView* view_;
  QSlider* slider_;
  QCheckBox* sizeLine_;
};

class TCategoryFilterBox : public QComboBox {
  Q_OBJECT
public:
  TCategoryFilterBox(TphotoListView* view, QWidget* parent = nullptr);
  // Lists "All pictures" and the categories; the chosen category stays chosen while it exists,
  // otherwise the list shows every picture again.
  void SetCategories(const TLumenfoldCategoryList& categories);
  // Where the categories are read again each time the list opens (categories may have been
  // added or renamed since); none: the list stays as last set.
  std::function<const TLumenfoldCategoryList*()> Source;

protected:
  void showPopup() override;

private:
  TphotoListView* view_;
};
