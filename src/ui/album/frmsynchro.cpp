#include "ui/album/frmsynchro.h"

#include "core/album.h"
#include "core/project.h"
#include "core/syncops.h"
#include "ui/album/frmalbumdetail.h"
#include "ui/common/filedialogs.h"
#include "ui_frmsynchro.h"
#include "util/helpers.h"
#include "util/programfolder.h"
#include "util/userprompt.h"

#include <QDir>
#include <QFileInfo>

TfrmSynchro::TfrmSynchro(QWidget* parent, TLumenfoldProject* project)
    : TPlacedDialog(parent, QStringLiteral("frmSynchro"), QSize(414, 217)),
      ui(std::make_unique<Ui::frmSynchro>()), project_(project),
      copy_(std::make_unique<TLumenfoldAlbum>()) {
  ui->setupUi(this);
  connect(ui->bbnOk, &QPushButton::clicked, this, &QDialog::accept);
  connect(ui->bbnCancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(ui->bbnBrowsePath, &QPushButton::clicked, this, &TfrmSynchro::browse);
  connect(ui->bbnLeft, &QPushButton::clicked, this, &TfrmSynchro::left);
  connect(ui->bbnRight, &QPushButton::clicked, this, &TfrmSynchro::right);
}

TfrmSynchro::~TfrmSynchro() = default;

void TfrmSynchro::SetAlbum(const TLumenfoldAlbum& album) {
  original_ = &album;
  copy_->AssignFields(album);
  // The copy never marks the project modified; the caller does when it applies the choice.
  copy_->Project = nullptr;
  ui->edtPath->setText(copy_->Path);
  ui->edtDirectory->setText(copy_->Directory);
}

void TfrmSynchro::FirstShow() {
  ui->edtPath->setText(copy_->Path);
  ui->edtDirectory->setText(copy_->Directory);
}

bool TfrmSynchro::RemoveChosen() const {
  return ui->rbnAlbumRemove->isChecked();
}

bool TfrmSynchro::RelocateChosen() const {
  return ui->rbnAlbumRelocate->isChecked();
}

void TfrmSynchro::writeCopy() {
  copy_->SetPath(ui->edtPath->text().trimmed());
  copy_->Directory = ui->edtDirectory->text().trimmed();
}

void TfrmSynchro::browse() {
  const QString path = ui->edtPath->text().trimmed();
  QString start = PicturesFolder();
  if (!path.isEmpty() && QFileInfo(path).isDir())
    start = path;
  else if (!path.isEmpty() && QFileInfo(QFileInfo(path).absolutePath()).isDir())
    start = QFileInfo(path).absolutePath();
  const QString chosen = BrowseForFolder(this, QStringLiteral("Select album path"), start);
  if (chosen.isEmpty()) return;
  ui->edtPath->setText(chosen);
  ui->edtDirectory->setText(LastPathComponent(chosen));
  writeCopy();
}

void TfrmSynchro::left() {
  const QString dir = ui->edtDirectory->text();
  if (!TfrmAlbumDetail::CanGoLeft(dir)) return;
  ui->edtDirectory->setText(TfrmAlbumDetail::DirectoryLeft(dir));
  writeCopy();
}

void TfrmSynchro::right() {
  const QString dir = ui->edtDirectory->text();
  if (!TfrmAlbumDetail::CanGoRight(dir, ui->edtPath->text())) return;
  ui->edtDirectory->setText(TfrmAlbumDetail::DirectoryRight(dir, ui->edtPath->text()));
  writeCopy();
}

void TfrmSynchro::done(int result) {
  if (result == QDialog::Accepted && RemoveChosen()) {
    if (!Prompt()->confirm(QStringLiteral("Do you really want to remove album \"%1\" from the "
                                          "project? The records of its pictures are deleted; "
                                          "no file is touched.")
                               .arg(copy_->ShortName)))
      return;
  } else if (result == QDialog::Accepted && RelocateChosen()) {
    // What is in the fields counts, typed or browsed.
    writeCopy();
    const QString folder = copy_->Path;
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
      Prompt()->warning(QStringLiteral("The folder does not exist:\n") + folder);
      return;
    }
    if (project_) {
      if (const TLumenfoldAlbum* other = AlbumUsingFolder(*project_, folder, original_)) {
        Prompt()->warning(QStringLiteral("The folder %1 is already used by album \"%2\".")
                              .arg(folder, other->ShortName));
        return;
      }
    }
    if (copy_->Directory.isEmpty()) {
      Prompt()->warning(QStringLiteral("The relative directory must not be empty."));
      return;
    }
  }
  TPlacedDialog::done(result);
}
