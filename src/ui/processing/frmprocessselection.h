#pragma once
// The selection window of a processing run ("Process selection"): all modified pictures or the
// checked albums, regenerate everything or only what changed, the zip archive's settings and
// the site folder kept beside it (the same project setting as the options' site folder).
//
// The zip settings (zip on, file name, database, site template, site folder) are the project's: OK
// stores them and marks the project modified when any of them changed; Cancel leaves the project as
// it was, including a template chosen meanwhile. While zip is on and no template is chosen, a
// warning says that the archive will hold every picture, private ones and originals included.
//
// Threads: user-interface thread only.
#include "ui/common/placeddialog.h"

#include <QStringList>
#include <memory>

namespace Ui {
class frmProcess;
}

class TLumenfoldProject;

class TfrmProcessSelection : public TPlacedDialog {
  Q_OBJECT
public:
  // The first entry of the template list: no template is added to the archive.
  static QString NoTemplateText();

  TfrmProcessSelection(TLumenfoldProject* project, QWidget* parent = nullptr);
  ~TfrmProcessSelection() override;

  // Opens in "checked albums" mode with the album at the position checked, and "Zip" on
  // ("Process and zip" of an album). Call before the window is shown.
  void PresetAlbumAndZip(int albumPosition);

  // Positions (0-based, decimal) of the albums checked in "checked albums" mode; filled by OK.
  const QStringList& CheckedAlbums() const { return checkedAlbums_; }
  QList<int> CheckedAlbumPositions() const;
  // "all modified pictures" is chosen.
  bool AllModifiedMode() const;
  // "Process": regenerate the images of every listed picture.
  bool ProcessAll() const;
  bool Zip() const;
  // "Remove existing zip file before process".
  bool RemoveZip() const;

  void accept() override;
  void reject() override;

protected:
  void FirstShow() override;

private:
  struct Settings;
  void fillAlbums();
  void enableControls();
  void chooseZipFile();
  void templateChosen();
  bool checkZipFolder();

  // Shows the warning about an archive without a template while one would be made.
  void showTemplateWarning();

  std::unique_ptr<Ui::frmProcess> ui;
  class QLabel* lblNoTemplate_ = nullptr; // objectName "lblNoTemplateWarning"
  TLumenfoldProject* project_;
  std::unique_ptr<Settings> before_;
  QString missingTemplate_;
  QStringList checkedAlbums_;
  bool loading_ = false;
};
