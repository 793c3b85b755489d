// The main window's album list, picture view and large viewer: filling them, the preview
// loader behind the picture view, and what the views report back.
#include "ui/mainwindow/frmmain.h"
#include "ui_frmmain.h"

#include "core/album.h"
#include "core/category.h"
#include "core/picture.h"
#include "core/previewcache.h"
#include "core/project.h"
#include "core/renameops.h"
#include "processing/thumbnailthread.h"
#include "ui/album/albumlistdelegate.h"
#include "ui/common/waitcursor.h"
#include "ui/mainwindow/picturecommands.h"
#include "ui/photolist/photolistcontrols.h"
#include "ui/photolist/photolistview.h"
#include "ui/photolist/pictureviewer.h"
#include "util/userprompt.h"
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>

void TfrmLumenFold2::openViewer() {
  if (!currentPicture_ || lvwMain->Count() == 0) return;
  QList<TLumenfoldPicture*> pictures;
  for (int row = 0; row < lvwMain->Count(); ++row)
    pictures << lvwMain->Picture(row);
  viewing_ = true;
  lvwMain->hide();
  viewer_->show();
  ui->layPictures->activate();
  viewer_->Open(pictures, std::max(0, lvwMain->IndexOfPicture(currentPicture_)));
  viewer_->setFocus();
}

void TfrmLumenFold2::closeViewer(int row) {
  viewing_ = false;
  viewer_->Clear();
  viewer_->hide();
  if (isFullScreen()) showNormal();
  if (!IsProjectOpen() || !currentAlbum_) return;
  lvwMain->show();
  // The grid comes back on the picture the viewer showed last.
  if (row >= 0 && row < lvwMain->Count()) {
    lvwMain->ClearSelection();
    lvwMain->SetSelected(row, true);
  }
  lvwMain->setFocus();
}

// --- Album list ----------------------------------------------------------------------------------

void TfrmLumenFold2::FillAlbumList() {
  // A current album that has left the project must not be compared with new objects.
  if (currentAlbum_ && project_->Albums.IndexOfObject(currentAlbum_) < 0) {
    lvwMain->Clear();
    currentAlbum_ = nullptr;
    currentPicture_ = nullptr;
  }
  {
    const QSignalBlocker block(ui->lbxAlbums);
    ui->lbxAlbums->clear();
    for (int i = 0; i < project_->Albums.Count(); ++i) {
      auto* item = new QListWidgetItem(project_->Albums.Strings(i));
      item->setData(TAlbumListDelegate::AlbumRole,
                    QVariant::fromValue<void*>(project_->Albums.Albums(i)));
      ui->lbxAlbums->addItem(item);
    }
  }
  if (ui->lbxAlbums->count() > 0) {
    {
      const QSignalBlocker block(ui->lbxAlbums);
      ui->lbxAlbums->setCurrentRow(0);
    }
    albumSelected();
  } else {
    lvwMain->Clear();
    currentAlbum_ = nullptr;
    currentPicture_ = nullptr;
    ui->lblAlbumPath->clear();
  }
}

void TfrmLumenFold2::SelectAlbum(int row) {
  const QSignalBlocker block(ui->lbxAlbums);
  ui->lbxAlbums->setCurrentRow(row);
  albumSelected();
}

void TfrmLumenFold2::albumSelected() {
  QListWidgetItem* item = ui->lbxAlbums->currentItem();
  if (item) {
    auto* album =
        static_cast<TLumenfoldAlbum*>(item->data(TAlbumListDelegate::AlbumRole).value<void*>());
    if (album && album != currentAlbum_) {
      if (viewing_) closeViewer(-1);
      StopThumbnailLoader();
      // Only the album shown keeps previews in memory; the others stay in their files.
      if (currentAlbum_) PreviewCache().ReleaseAlbum(currentAlbum_);
      currentAlbum_ = album;
      currentPicture_ = nullptr;
      if (!album->Loaded) {
        TWaitCursor busy;
        album->LoadPictures();
      }
      FillPictureView();
      statusPanels_[1]->setText(QString::number(album->Pictures.Count()) +
                                QStringLiteral(" pictures"));
    }
  }
  UpdateView();
}

void TfrmLumenFold2::RepaintAlbums() {
  ui->lbxAlbums->viewport()->update();
}

// --- Picture view --------------------------------------------------------------------------------

void TfrmLumenFold2::FillPictureView() {
  if (!currentAlbum_) return;
  ui->lblAlbumPath->setText(currentAlbum_->Path);
  ui->lblAlbumPath->setToolTip(currentAlbum_->Path);
  if (currentAlbum_->Pictures.Count() == 0) {
    lvwMain->Clear();
    return;
  }
  StopThumbnailLoader();
  currentAlbum_->FacePicture = nullptr;
  cbxCategoryFilter->SetCategories(project_->Categories);
  lvwMain->BeginUpdate();
  lvwMain->Clear();
  for (int i = 0; i < currentAlbum_->Pictures.Count(); ++i)
    lvwMain->AddItem(currentAlbum_->Pictures.Pictures(i));
  lvwMain->EndUpdate();

  StartThumbnailLoader();
}

void TfrmLumenFold2::StartThumbnailLoader() {
  StopThumbnailLoader();
  loaderHeld_ = false;
  if (!currentAlbum_ || currentAlbum_->Pictures.Count() == 0) return;
  auto* loader = new TThumbnailThread(currentAlbum_, this, lvwMain);
  // Rows of an album that is not in the database yet are written by the album's own save, which
  // links them to its new id; written earlier they would belong to no album.
  if (currentAlbum_->Id == -1) loader->WriteRows = false;
  loader_ = loader;
  connect(loader, &TThumbnailThread::Done, this, [this](TThumbnailThread* done) {
    // A later loader may be running by now: only this one's reference is cleared.
    if (loader_ == done) loader_ = nullptr;
    RepaintAlbums();
  });
  loader->start();
}

void TfrmLumenFold2::StopThumbnailLoader() {
  loaderHeld_ = true;
  TThumbnailThread::StopAndWait(loader_);
}

void TfrmLumenFold2::viewModeChanged() {
  const bool icons = ui->rbnThumbnails->isChecked();
  lvwMain->SetReadOnly(icons);
  if (icons) {
    lvwMain->SetViewStyle(TphotoListView::vsIcon);
  } else {
    lvwMain->SetViewStyle(TphotoListView::vsReport);
    lvwMain->SetColumnWidth(0, 0);
  }
}

void TfrmLumenFold2::connectPictureView() {
  lvwMain->SetMultiSelect(true);
  lvwMain->SetReadOnly(true);
  lvwMain->SetColumns({{QStringLiteral("sort_order"), 0, Qt::AlignLeft},
                       {QStringLiteral("filename"), 220, Qt::AlignLeft},
                       {QStringLiteral("size"), 60, Qt::AlignRight},
                       {QStringLiteral("date"), 120, Qt::AlignLeft},
                       {QStringLiteral("dimension"), 80, Qt::AlignRight},
                       {QStringLiteral("hash"), 60, Qt::AlignLeft},
                       {QStringLiteral("Title"), 160, Qt::AlignLeft},
                       {QStringLiteral("Second title"), 120, Qt::AlignLeft},
                       {QStringLiteral("Private"), 50, Qt::AlignLeft},
                       {QStringLiteral("Categories"), 160, Qt::AlignLeft}});
  // The file name is edited in its own column (the caption column has no width); the others
  // take the width of their content.
  lvwMain->SetEditColumn(1);
  for (int column = 1; column < TPhotoListModel::fdCount; ++column)
    lvwMain->FitColumnToContent(column);
  lvwMain->Model()->CategoryTitles = [this](const TLumenfoldPicture& p) {
    return project_->Categories.CategoryTitles(&p, QStringLiteral(", "));
  };
  // Once per selection change, however many items it concerns (select-all of a large album).
  connect(lvwMain, &TphotoListView::SelectionChanged, this, [this] {
    currentPicture_ = lvwMain->LastChangedPicture();
    UpdateView();
  });
  connect(lvwMain, &TphotoListView::ItemDoubleClicked, this, [this] {
    if (currentPicture_ && actions_.actPictureDetails->isEnabled())
      actions_.actPictureDetails->trigger();
  });
  connect(lvwMain, &TphotoListView::ItemHovered, this, [this](int row) {
    if (TLumenfoldPicture* p = row >= 0 ? lvwMain->Picture(row) : nullptr)
      statusPanels_[0]->setText(p->OriginalPath());
  });
  connect(lvwMain, &TphotoListView::CaptionEdited, this,
          [this](int row, const QString& text) { fileNameEdited(row, text); });
  lvwMain->ItemHint = [this](int row) {
    TLumenfoldPicture* p = lvwMain->Picture(row);
    if (!p) return QString();
    return PictureToolTip(*project_, *p);
  };
  lvwMain->OnActionClick = [this](TphotoListView*, int number) { actionClicked(number); };
  connect(lvwMain, &TphotoListView::PreviewsWanted, this,
          [this](const QList<TLumenfoldPicture*>& pictures) {
            const int step = lvwMain->PreviewStep();
            QList<TLumenfoldPicture*> lacking;
            for (TLumenfoldPicture* p :
                 TThumbnailThread::LoadWanted(loader_, pictures, step, &lacking))
              lvwMain->InvalidatePicture(p);
            // Larger tiles than the finished loader made previews for: a loader makes them,
            // unless the loader was stopped on purpose (a save, a processing run).
            if (!lacking.isEmpty() && !loader_ && !loaderHeld_) {
              StartThumbnailLoader();
              if (loader_) loader_->Request(lacking, step);
            }
          });
}

QList<TLumenfoldPicture*> TfrmLumenFold2::SelectedPictures() {
  return lvwMain->SelectedPictures();
}

QList<TLumenfoldPicture*> TfrmLumenFold2::AllPictures() {
  QList<TLumenfoldPicture*> list;
  for (int row = 0; row < lvwMain->Count(); ++row)
    if (TLumenfoldPicture* p = lvwMain->Picture(row)) list.append(p);
  return list;
}

void TfrmLumenFold2::RepaintPictures() {
  lvwMain->CurrentList()->viewport()->update();
}

void TfrmLumenFold2::RepaintSelectedPictures() {
  lvwMain->InvalidateSelected();
}

void TfrmLumenFold2::ForgetPictures() {
  if (viewing_) closeViewer(-1);
  StopThumbnailLoader();
  lvwMain->Clear();
  currentPicture_ = nullptr;
}

void TfrmLumenFold2::ForgetAlbums() {
  ForgetPictures();
  currentAlbum_ = nullptr;
  ui->lbxAlbums->clear();
}

void TfrmLumenFold2::CurrentAlbumChanged() {
  if (currentAlbum_) {
    if (QListWidgetItem* item = ui->lbxAlbums->currentItem())
      item->setText(currentAlbum_->ShortName);
    ui->lblAlbumPath->setText(currentAlbum_->Path);
    ui->lblAlbumPath->setToolTip(currentAlbum_->Path);
  }
  showPictureCount();
  RepaintAlbums();
  albumSelected();
}

void TfrmLumenFold2::showPictureCount() {
  statusPanels_[1]->setText(currentAlbum_ ? QString::number(currentAlbum_->Pictures.Count()) +
                                                QStringLiteral(" pictures")
                                          : QString());
}

void TfrmLumenFold2::fileNameEdited(int row, const QString& text) {
  TLumenfoldPicture* p = lvwMain->Picture(row);
  if (!p || !currentAlbum_ || text.trimmed().isEmpty()) return;
  // The typed name keeps its base; the extension is the original's kind (".jpg" for a JPEG). It
  // must stay a plain file name of the album's folder, not taken by another file whatever its
  // letter case.
  const int position = currentAlbum_->Pictures.IndexOfObject(p);
  const TRenamePlan plan = PlanPictureRename(*currentAlbum_, position, text);
  auto showName = [this, p] { lvwMain->PictureChanged(p); };
  if (!plan.Ok()) {
    Prompt()->error(QStringLiteral("The picture could not be renamed:\n") +
                    plan.Problems.join(QLatin1Char('\n')));
    showName();
    return;
  }
  StopThumbnailLoader();
  // The rename saves a stored album at once, so the database follows the file on disk.
  const TRenameResult result = ApplyRename(*currentAlbum_, plan);
  if (!result.Ok()) Prompt()->error(result.Summary());
  showName();
  RepaintPictures();
  StartThumbnailLoader();
  // The database follows at once, whether or not the project had unsaved changes before.
  EnableActions();
  if (result.Renamed > 0 && actions_.actSaveProject->isEnabled())
    actions_.actSaveProject->trigger();
}
