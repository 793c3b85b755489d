// The album wizard's pages: the preview loader behind their picture lists, the folder, the
// pictures to import, the face picture, renaming, signatures and categories.
#include "core/album.h"
#include "core/category.h"
#include "core/outputsettings.h"
#include "core/picture.h"
#include "core/previewcache.h"
#include "core/project.h"
#include "core/renameops.h"
#include "core/syncops.h"
#include "processing/thumbnailthread.h"
#include "ui/album/albumlistdelegate.h"
#include "ui/album/frmalbumdetail.h"
#include "ui/album/frmnewalbum.h"
#include "ui/album/frmrenaming.h"
#include "ui/album/renamepreviewmodel.h"
#include "ui/common/filedialogs.h"
#include "ui/photolist/photolistview.h"
#include "ui_frmnewalbum.h"
#include "util/helpers.h"
#include "util/messages.h"
#include "util/programfolder.h"
#include <QDir>
#include <QFileInfo>

// --- Thumbnail loader ------------------------------------------------------------------------

void TfrmNewAlbum::removeOwnPreviewFolders(const QString& keptFolder) {
  const QString kept =
      keptFolder.isEmpty() ? QString() : IncludeTrailingSeparator(keptFolder) + "ps_tmp";
  for (const QString& folder : std::as_const(ownPreviewFolders_)) {
    if (!kept.isEmpty() && QFileInfo(folder) == QFileInfo(kept)) continue;
    // Only the preview files the loader writes (every size, and a file it was writing when
    // it stopped); anything else keeps the folder in place.
    QStringList ownFiles{QStringLiteral("tmp_*")};
    for (int step = 1; step < kPreviewSteps; ++step)
      ownFiles << QStringLiteral("tmp%1_*").arg(PreviewStepBox(step).width());
    QDir dir(folder);
    for (const QFileInfo& file : dir.entryInfoList(ownFiles, QDir::Files))
      QFile::remove(file.absoluteFilePath());
    QDir().rmdir(folder);
  }
  ownPreviewFolders_.clear();
}

void TfrmNewAlbum::stopThumbnailLoader() {
  TThumbnailThread::StopAndWait(loader_);
}

void TfrmNewAlbum::startThumbnailLoader() {
  stopThumbnailLoader();
  if (!album_ || album_->Pictures.Count() == 0) {
    if (album_) album_->Loaded = true;
    return;
  }
  const QString previews = IncludeTrailingSeparator(album_->Path) + "ps_tmp";
  if (!QFileInfo::exists(previews) && !ownPreviewFolders_.contains(previews))
    ownPreviewFolders_ << previews;
  auto* loader = new TThumbnailThread(album_, this, ui->lvwThumbs);
  // The wizard never writes rows: in add mode the album is not stored yet, and in edit mode a
  // Cancel must leave the database as it was.
  loader->WriteRows = false;
  loader->FreeOnEnd = true;
  connect(loader, &TThumbnailThread::Done, this, [this](TThumbnailThread* t) {
    if (loader_ != t) return;
    loader_ = nullptr;
    if (album_) album_->Loaded = true;
    updateButtons();
  });
  loader_ = loader;
  loader->start();
}

bool TfrmNewAlbum::event(QEvent* e) {
  if (TMessageEvent::Is(e, LF_MSG_THUMBNAIL)) {
    const auto* m = static_cast<const TMessageEvent*>(e);
    ui->pbrThumbnails->setValue(int(m->First));
    // The loader tells the pictures page itself; a later page showing the pictures is told here.
    TphotoListView* view = viewOfPage(PageIndex());
    if (view && view != ui->lvwThumbs && album_ && m->First >= 0 &&
        m->First < album_->Pictures.Count())
      view->InvalidatePicture(album_->Pictures.Pictures(int(m->First)));
    return true;
  }
  return TPlacedDialog::event(e);
}

void TfrmNewAlbum::resizeEvent(QResizeEvent* e) {
  TPlacedDialog::resizeEvent(e);
  TfrmRenaming::FitPreviewColumns(ui->dgdRename);
}

TphotoListView* TfrmNewAlbum::viewOfPage(int page) const {
  switch (page) {
  case pgPictures:
    return ui->lvwThumbs;
  case pgFace:
    return ui->lvwFace;
  case pgSignature:
    return ui->lvwSignature;
  case pgCategory:
    return ui->lvwCategory;
  case pgSummary:
    return ui->lvwSummary;
  default:
    return nullptr;
  }
}

void TfrmNewAlbum::fillView(TphotoListView* view) {
  view->BeginUpdate();
  view->Clear();
  if (album_)
    for (int i = 0; i < album_->Pictures.Count(); ++i)
      view->AddItem(album_->Pictures.Pictures(i));
  view->EndUpdate();
}

// --- Path page -------------------------------------------------------------------------------

QString TfrmNewAlbum::pathProblem() const {
  const QString path = ui->edtOriginalPath->text().trimmed();
  if (path.isEmpty()) return QStringLiteral("Choose the folder of the album's pictures.");
  if (!QFileInfo(path).isDir()) return QStringLiteral("The folder does not exist.");
  if (!project_) return QString();
  // In edit mode the album being edited is the one with the same id.
  const int self = album_ && album_->Id != -1 ? project_->Albums.IndexOfId(album_->Id) : -1;
  const TLumenfoldAlbum* except = self >= 0 ? project_->Albums.Albums(self) : album_;
  if (const TLumenfoldAlbum* other = AlbumUsingFolder(*project_, path, except))
    return QStringLiteral("Album with the same Path already exists in project: \"%1\". Two "
                          "albums of one folder would write the same images.")
        .arg(other->ShortName);
  if (const QString clash = ValidateAlbumFolder(*project_, path, except); !clash.isEmpty())
    return clash;
  // The relative directory names the album's folder inside the site and the archive: two albums
  // there would overwrite each other's entries.
  const QString directory = ui->edtRelativeDirectory->text().trimmed();
  if (!directory.isEmpty()) return ValidateAlbumDirectory(*project_, except, directory);
  return QString();
}

void TfrmNewAlbum::originalPathEdited() {
  ui->edtRelativeDirectory->setText(LastPathComponent(ui->edtOriginalPath->text()));
  updateButtons();
}

void TfrmNewAlbum::browsePath() {
  const QString typed = ui->edtOriginalPath->text().trimmed();
  QString start = PicturesFolder();
  if (!typed.isEmpty() && QFileInfo(typed).isDir())
    start = typed;
  else if (album_ && album_->PathExists())
    start = album_->Path;
  const QString chosen = BrowseForFolder(
      this, addMode_ ? QStringLiteral("Select new album path") : QStringLiteral("Edit album path"),
      start);
  if (!chosen.isEmpty()) {
    ui->edtOriginalPath->setText(chosen);
    ui->edtRelativeDirectory->setText(LastPathComponent(chosen));
  }
  updateButtons();
}

void TfrmNewAlbum::directoryLeft() {
  ui->edtRelativeDirectory->setText(
      TfrmAlbumDetail::DirectoryLeft(ui->edtRelativeDirectory->text()));
  updateButtons();
}

void TfrmNewAlbum::directoryRight() {
  ui->edtRelativeDirectory->setText(TfrmAlbumDetail::DirectoryRight(
      ui->edtRelativeDirectory->text(), ui->edtOriginalPath->text()));
  updateButtons();
}

// --- Pictures page ---------------------------------------------------------------------------

void TfrmNewAlbum::dropPicturesOfOtherFolder() {
  stopThumbnailLoader();
  for (TphotoListView* v :
       {ui->lvwThumbs, ui->lvwFace, ui->lvwSignature, ui->lvwCategory, ui->lvwSummary})
    v->Clear();
  preview_->SetAlbum(nullptr);
  // Pictures read from the other folder in this wizard have no row: they go. Stored pictures of
  // an edited album stay; they move with the album to its new folder.
  for (int i = album_->Pictures.Count() - 1; i >= 0; --i) {
    TLumenfoldPicture* p = album_->Pictures.Pictures(i);
    if (p->Id != -1) continue;
    if (album_->FacePicture == p) album_->FacePicture = nullptr;
    album_->Pictures.Delete(i);
  }
  importedFrom_.clear();
  if (addMode_) album_->Loaded = false;
}

void TfrmNewAlbum::importPictures() {
  // A new album reads its folder once; an edited one takes the files it does not have yet.
  const int before = album_->Pictures.Count();
  if (addMode_ && before == 0)
    album_->ImportFolder(album_->Path);
  else if (!addMode_)
    album_->ImportNewFiles(album_->Path);
  importedFrom_ = album_->Path;
  showSkippedFiles();
  const bool imported = album_->Pictures.Count() != before;
  const int count = album_->Pictures.Count();
  if (count > 0) ui->pbrThumbnails->setMaximum(count - 1);
  if (addMode_ && imported) ui->pbrThumbnails->setValue(0);
  fillView(ui->lvwThumbs);
  // The loader reads every original in full: it runs only when some preview is missing.
  bool missing = imported;
  for (int i = 0; i < count && !missing; ++i)
    missing = !album_->Pictures.Pictures(i)->Thumbnail();
  if (missing || (addMode_ && !album_->Loaded && !loader_)) startThumbnailLoader();
}

void TfrmNewAlbum::showSkippedFiles() {
  const QList<TSkippedFile> skipped = SkippedFolderFiles(album_->Path);
  QStringList lines;
  lines << (skipped.size() == 1
                ? QStringLiteral("1 file of the folder is not imported:")
                : QStringLiteral("%1 files of the folder are not imported:").arg(skipped.size()));
  for (const TSkippedFile& f : skipped)
    lines << QStringLiteral("%1 (%2)").arg(f.Name, f.Reason);
  ui->memSkippedFiles->setPlainText(lines.join(QLatin1Char('\n')));
  ui->memSkippedFiles->setVisible(!skipped.isEmpty());
}

void TfrmNewAlbum::thumbAction(int number) {
  noteInput();
  for (TLumenfoldPicture* p : ui->lvwThumbs->SelectedPictures()) {
    switch (number) {
    case 0:
      p->RotateCCW();
      break;
    case 1:
      p->RotateCW();
      break;
    case 2:
      p->Rotate180();
      break;
    case 3:
      p->Flip();
      break;
    case 4:
      // A mark that is not saved would be lost: it marks the picture unsaved like any edit.
      p->IsPrivate = !p->IsPrivate;
      p->SetDirty(true);
      break;
    case 5:
      p->IsDeleted = !p->IsDeleted;
      p->SetDirty(true);
      break;
    default:
      break;
    }
    ui->lvwThumbs->InvalidatePicture(p);
  }
}

void TfrmNewAlbum::thumbDoubleClicked(int row) {
  TLumenfoldPicture* p = ui->lvwThumbs->Picture(row);
  if (!p || !editors_.Picture || !project_) return;
  TLumenfoldPicture before(album_), copy(album_);
  before.Assign(*p);
  copy.Assign(*p);
  if (!editors_.Picture(this, *project_, copy)) return;
  // The loader goes on while the editor is open: what it found out about the original meanwhile
  // (its facts, its preview) is newer than the copy and must not be undone by the copy.
  if (p->OriginalDate != before.OriginalDate || p->OriginalSize != before.OriginalSize ||
      p->OriginalHash != before.OriginalHash) {
    copy.OriginalDate = p->OriginalDate;
    copy.OriginalSize = p->OriginalSize;
    copy.OriginalHash = p->OriginalHash;
  }
  if (p->OriginalWidth != before.OriginalWidth || p->OriginalHeight != before.OriginalHeight) {
    copy.OriginalWidth = p->OriginalWidth;
    copy.OriginalHeight = p->OriginalHeight;
  }
  if (p->Thumbnail() != before.Thumbnail()) copy.SetThumbnail(p->Thumbnail());
  noteInput();
  if (ApplyPictureEdits(*p, copy)) ui->lvwThumbs->InvalidatePicture(p);
}

// --- Face page -------------------------------------------------------------------------------

void TfrmNewAlbum::faceSelected() {
  if (!album_) return;
  if (!preselecting_) noteInput();
  for (TLumenfoldPicture* p : ui->lvwFace->SelectedPictures()) {
    p->SetIsFace(true);
    const QImage face = TAlbumListDelegate::FaceImage(p);
    ui->imgFace->SetImage(face);
    ui->imgFaceSmall->SetImage(face.isNull() ? face
                                             : face.scaled(face.size() * 0.4, Qt::KeepAspectRatio,
                                                           Qt::SmoothTransformation));
  }
  ui->lvwFace->CurrentList()->viewport()->update();
  updateButtons();
}

// --- Rename page -----------------------------------------------------------------------------

void TfrmNewAlbum::renameChanged() {
  if (loading_ || !project_ || !album_) return;
  TRenameSettings s;
  s.Template = ui->edtTemplate->text();
  s.Start = ui->edtStart->value();
  s.FileNameCase = TfrmRenaming::CaseChoice(cases_);
  s.ReplaceSpecialChars = ui->cbxSpecial->isChecked();
  if (project_->RenameStart != s.Start || project_->FileNameCase != s.FileNameCase ||
      project_->RenameTemplate != s.Template) {
    project_->RenameStart = s.Start;
    project_->FileNameCase = s.FileNameCase;
    project_->RenameTemplate = s.Template;
    settingsChanged();
  }
  const bool active = ui->cbxRename->isChecked();
  preview_->SetSettings(s, active);
  const TRenamePlan plan = active ? PlanAlbumRename(*album_, s) : TRenamePlan();
  preview_->SetRefused(RefusedPositions(plan));
  ui->lblRenameProblems->setVisible(!plan.Ok());
  ui->lblRenameProblems->setText(plan.Problems.mid(0, 3).join(QLatin1Char('\n')));
  updateButtons();
}

void TfrmNewAlbum::insertMacro(int macro) {
  ui->edtTemplate->setText(TfrmRenaming::InsertMacroKey(ui->edtTemplate->text(), macro));
}

// --- Signature and category pages ------------------------------------------------------------

QList<TLumenfoldPicture*> TfrmNewAlbum::picturesOf(TphotoListView* view, bool all) const {
  if (!all) return view->SelectedPictures();
  QList<TLumenfoldPicture*> list;
  for (int i = 0; i < view->Count(); ++i)
    if (TLumenfoldPicture* p = view->Picture(i)) list.append(p);
  return list;
}

void TfrmNewAlbum::sign(bool all) {
  const QList<TLumenfoldPicture*> pictures = picturesOf(ui->lvwSignature, all);
  if (!pictures.isEmpty() && project_ && editors_.Signature)
    editors_.Signature(this, *project_, pictures);
  ui->lvwSignature->CurrentList()->viewport()->update();
  updateButtons();
}

void TfrmNewAlbum::assignCategories(bool all) {
  const QList<TLumenfoldPicture*> pictures = picturesOf(ui->lvwCategory, all);
  if (!pictures.isEmpty() && project_ && editors_.Category)
    editors_.Category(this, *project_, pictures);
  ui->lvwCategory->CurrentList()->viewport()->update();
  updateButtons();
}
