#pragma once
// "Album detail" during synchronisation: an album whose folder no longer exists is either
// removed from the project or relocated to another folder with its relative web directory. The
// dialog records the choice in its own copy of the album; the caller applies it after OK.
//
// A typed folder counts as well as a browsed one. OK with "Relocate" is refused while the folder
// does not exist or belongs to another album of the project; OK with "Remove" asks first.
//
// Threads: user-interface thread only.
#include "ui/common/placeddialog.h"

#include <memory>

namespace Ui {
class frmSynchro;
}
class TLumenfoldAlbum;
class TLumenfoldProject;

class TfrmSynchro : public TPlacedDialog {
  Q_OBJECT
public:
  explicit TfrmSynchro(QWidget* parent = nullptr, TLumenfoldProject* project = nullptr);
  ~TfrmSynchro() override;

  // Copies the album's fields into the dialog's copy; the album itself is only read.
  void SetAlbum(const TLumenfoldAlbum& album);
  // The copy with the chosen folder and relative directory.
  TLumenfoldAlbum& Album() { return *copy_; }
  bool RemoveChosen() const;
  bool RelocateChosen() const;

  void done(int result) override;

protected:
  void FirstShow() override;

private:
  void browse();
  void left();
  void right();
  void writeCopy();

  std::unique_ptr<Ui::frmSynchro> ui;
  TLumenfoldProject* project_;
  const TLumenfoldAlbum* original_ = nullptr;
  std::unique_ptr<TLumenfoldAlbum> copy_;
};
