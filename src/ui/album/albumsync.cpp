#include "ui/album/albumsync.h"

#include "core/album.h"
#include "core/picture.h"
#include "core/project.h"
#include "core/renameops.h"
#include "core/syncops.h"
#include "ui/album/frmrenaming.h"
#include "ui/album/frmsynchro.h"
#include "ui/common/waitcursor.h"
#include "util/userprompt.h"

#include <QFileInfo>
#include <QMessageBox>
#include <QProgressDialog>

namespace {

TRemoveQuestionHook removeHook = nullptr;

TRemoveAnswer askRemove(QWidget* parent, const QString& fileName) {
  if (removeHook) return removeHook(fileName);
  QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"),
                  QStringLiteral("Picture not found. Do you want to delete record from database?"),
                  QMessageBox::Yes | QMessageBox::No | QMessageBox::YesToAll | QMessageBox::NoToAll,
                  parent);
  box.setInformativeText(fileName);
  box.setDefaultButton(QMessageBox::No);
  switch (box.exec()) {
  case QMessageBox::Yes:
    return TRemoveAnswer::Yes;
  case QMessageBox::YesToAll:
    return TRemoveAnswer::YesToAll;
  case QMessageBox::NoToAll:
    return TRemoveAnswer::NoToAll;
  default:
    return TRemoveAnswer::No;
  }
}

} // namespace

void SetRemoveQuestionHook(TRemoveQuestionHook hook) {
  removeHook = hook;
}

QString TSynchroOutcome::Summary() const {
  QString text = QStringLiteral("Albums removed: %1, relocated: %2. Pictures removed: %3, "
                                "checked: %4.")
                     .arg(AlbumsRemoved)
                     .arg(AlbumsRelocated)
                     .arg(PicturesRemoved)
                     .arg(PicturesRefreshed);
  if (Stopped) text += QStringLiteral(" Stopped before the end.");
  return text;
}

TSynchroOutcome SynchroniseWithFolders(QWidget* parent, TLumenfoldProject& project) {
  TSynchroOutcome outcome;
  // 1. Albums whose folder is missing: remove, relocate or leave them.
  for (int i = 0; i < project.Albums.Count();) {
    TLumenfoldAlbum* album = project.Albums.Albums(i);
    if (album->PathExists()) {
      ++i;
      continue;
    }
    TfrmSynchro dlg(parent, &project);
    dlg.SetAlbum(*album);
    if (dlg.exec() == QDialog::Accepted && dlg.RemoveChosen()) {
      TWaitCursor busy;
      project.DeleteAlbum(album);
      ++outcome.AlbumsRemoved;
      continue; // the next album moved into this position
    }
    if (dlg.result() == QDialog::Accepted && dlg.RelocateChosen()) {
      const QString error = RelocateAlbum(project, *album, dlg.Album().Path, dlg.Album().Directory);
      if (error.isEmpty())
        ++outcome.AlbumsRelocated;
      else
        Prompt()->error(error);
    }
    ++i;
  }

  // 2. The pictures of the albums whose folder is there.
  QStringList unread;
  std::vector<TLumenfoldAlbum*> albums;
  int total = 0;
  for (int i = 0; i < project.Albums.Count(); ++i) {
    TLumenfoldAlbum* album = project.Albums.Albums(i);
    if (!album->PathExists()) continue;
    QString error;
    if (!EnsurePicturesLoaded(*album, &error)) {
      unread.append(error);
      continue;
    }
    albums.push_back(album);
  }
  bool yesToAll = false, noToAll = false;
  for (TLumenfoldAlbum* album : albums) {
    outcome.PicturesRemoved += RemoveMissingPictures(*album, [&](TLumenfoldPicture& p) {
      if (yesToAll) return true;
      if (noToAll) return false;
      switch (askRemove(parent, p.OriginalFileName)) {
      case TRemoveAnswer::YesToAll:
        yesToAll = true;
        return true;
      case TRemoveAnswer::NoToAll:
        noToAll = true;
        return false;
      case TRemoveAnswer::Yes:
        return true;
      default:
        return false;
      }
    });
    total += album->Pictures.Count();
  }

  // 3. Every present original is read again: show progress and keep the window painting.
  QProgressDialog progress(QStringLiteral("Reading the original pictures..."),
                           QStringLiteral("Stop"), 0, qMax(total, 1), parent);
  progress.setObjectName(QStringLiteral("dlgSynchroProgress"));
  progress.setWindowModality(Qt::WindowModal);
  progress.setMinimumDuration(500);
  int done = 0;
  for (TLumenfoldAlbum* album : albums) {
    for (int k = 0; k < album->Pictures.Count(); ++k) {
      if (progress.wasCanceled()) {
        outcome.Stopped = true;
        break;
      }
      progress.setValue(done++);
      if (SynchronizePicture(*album->Pictures.Pictures(k))) ++outcome.PicturesRefreshed;
    }
    // One save per album: its rows are written in one transaction.
    if (album->Dirty) album->Save();
    if (outcome.Stopped) break;
  }
  progress.setValue(progress.maximum());
  if (!unread.isEmpty()) Prompt()->error(unread.join(QLatin1Char('\n')));
  return outcome;
}

bool RenameAlbumPicturesInteractive(QWidget* parent, TLumenfoldProject& project,
                                    TLumenfoldAlbum& album) {
  QString error;
  if (!EnsurePicturesLoaded(album, &error)) {
    Prompt()->error(error);
    return false;
  }
  TfrmRenaming dlg(parent, &project, &album);
  if (dlg.exec() != QDialog::Accepted) return false;
  const TRenameSettings settings = dlg.Settings();
  project.RenameStart = settings.Start;
  project.FileNameCase = settings.FileNameCase;
  project.RenameTemplate = settings.Template;
  const TRenamePlan plan = PlanAlbumRename(album, settings);
  TWaitCursor busy;
  QProgressDialog progress(QStringLiteral("Renaming the pictures..."), QString(), 0,
                           qMax(plan.Changes() * 2, 1), parent);
  progress.setWindowModality(Qt::WindowModal);
  progress.setMinimumDuration(500);
  const TRenameResult result =
      ApplyRename(album, plan, [&progress](int done, int) { progress.setValue(done); });
  progress.setValue(progress.maximum());
  if (!result.Ok())
    Prompt()->error(result.Summary());
  else if (!result.Warnings.isEmpty() || !result.Skipped.isEmpty())
    Prompt()->warning(result.Summary());
  return result.Renamed > 0;
}
