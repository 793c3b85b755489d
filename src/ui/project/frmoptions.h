#pragma once
// "Project options": the processing settings of a project (sizes, folders, prefixes and JPEG
// qualities of thumbnails, medium and large images; resize filter; up-scaling; file-name case;
// zip file name; site template). The dialog edits a working copy; every change goes into the
// copy at once and nothing reaches the caller's project until it copies the copy back after OK.
//
// Threads: user-interface thread only.
#include "core/project.h"
#include "ui/common/workingcopydialog.h"

#include <memory>

namespace Ui {
class frmOptions;
}

class TfrmOptions : public TWorkingCopyDialog<TLumenfoldProject> {
  Q_OBJECT
public:
  explicit TfrmOptions(QWidget* parent = nullptr);
  ~TfrmOptions() override;

  // The whole round trip: copy the project's settings in, show the dialog (on the "Images"
  // page when imagesPage, else on the "Templates" page), and after OK copy them back. True on
  // OK; the caller then marks its project modified.
  static bool Edit(QWidget* owner, TLumenfoldProject& project, bool imagesPage);

  // The working copy (default settings until the caller assigns its own).
  TLumenfoldProject& Project() { return Copy(); }
  // Copies the settings in (Assign) together with the zip file name, which Assign leaves out.
  void LoadFrom(const TLumenfoldProject& source);
  // Copies the settings back (Assign); the zip file name too when it was edited here.
  void StoreTo(TLumenfoldProject& target) const;
  void ShowImagesPage();

  // Preset sizes of the radio buttons.
  static constexpr int kThumbPresets[2][2] = {{150, 100}, {200, 150}};
  static constexpr int kMediumPresets[2][2] = {{800, 768}, {1024, 1024}};

protected:
  void FirstShow() override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void addAppearancePage();
  void fillControls();
  void applyEnableRules();
  void sizeGroupClick(bool thumb);
  void cbxThumbClick();
  void cbxMediumClick();
  void cbxLargeClick();
  void cbxScaleClick();
  void bbnZipClick();
  void lbxTemplatesClick();
  void imgPreviewDblClick();

  std::unique_ptr<Ui::frmOptions> ui;
  bool zipEdited_ = false;
  QImage preview_;
};
