#pragma once
// "Picture properties": one picture of an album at full size with its titles, date, turns, crop,
// marks, categories and signatures, edited on a copy that the caller copies back after OK
// (ApplyPictureEdits). Given the pictures of the caller's view, Page Up / Page Down (and the
// Previous / Next buttons) move through them, keeping the edits of the picture left as OK would.
//
// Threads: user-interface thread only.
#include "core/picture.h"
#include "ui/common/workingcopydialog.h"

#include <QList>
#include <QTimer>
#include <memory>

namespace Ui {
class frmPictureDetail;
}
class TCropImage;
class TLumenfoldProject;

class TfrmPictureDetail : public TWorkingCopyDialog<TLumenfoldPicture> {
  Q_OBJECT
public:
  explicit TfrmPictureDetail(QWidget* parent = nullptr);
  ~TfrmPictureDetail() override;

  void SetProject(TLumenfoldProject* project) { project_ = project; }
  // Copy() is the picture being edited; the caller assigns the picture into it before showing
  // (or calls SetPictures, which does so).
  // The pictures to move through and the position of the one to show; assigns it into the copy.
  void SetPictures(const QList<TLumenfoldPicture*>& pictures, int index);
  // The real picture the copy belongs to (nullptr without SetPictures).
  TLumenfoldPicture* RealPicture() const;

  // The crop text of a rectangle: "(x1, y1) - (x2, y2). new size: w x h", rounded half to even.
  static QString CropText(const QRectF& crop);
  // The display's refinement delay after a drag or a window sizing.
  static constexpr int kRefineDelayMs = 1200;
  // The largest picture shown in scale mode, in pixels.
  static constexpr double kMaxScaledPixels = 100e6;

signals:
  // Moving to another picture copied the edits of this one back into it.
  void pictureApplied(TLumenfoldPicture* picture);

protected:
  void FirstShow() override;
  void done(int result) override;
  void resizeEvent(QResizeEvent* event) override;

private:
  void loadPicture();
  void fillControls();
  void decode(int denominator);
  void showMarks();
  void turn(int which);
  void cropClicked();
  void buildCrop(bool fromStored);
  void cropChanged(const QRectF& crop);
  void applyDisplayMode();
  void refine();
  void startInteraction();
  void endInteraction();
  void chooseCategories();
  void chooseSignatures();
  void navigate(int step);
  void updateNavigation();

  std::unique_ptr<Ui::frmPictureDetail> ui;
  TLumenfoldProject* project_ = nullptr;
  QList<TLumenfoldPicture*> pictures_;
  int index_ = -1;
  TCropImage* image_ = nullptr;
  QTimer refineTimer_;
  QSize storedSize_;    // the original's stored size (before orientation); empty when not read
  int denominator_ = 1; // DCT scale of the held pixels
  bool fileExists_ = false;
  bool askScale_ = true;
  bool magnify_ = false;
  double scale_ = 1.0;
};
