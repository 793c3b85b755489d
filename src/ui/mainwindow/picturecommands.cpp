#include "ui/mainwindow/picturecommands.h"

#include "core/album.h"
#include "core/captionimport.h"
#include "core/picture.h"
#include "core/project.h"
#include "ui/mainwindow/commandcontext.h"
#include "ui/picture/frmpicturedetail.h"
#include "ui/category/frmselectcategory.h"
#include "ui/signature/frmselectsignature.h"
#include "ui/common/waitcursor.h"
#include "util/userprompt.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QShortcut>

namespace {
// Keys of the picture view act only while it has the focus and no caption is being edited.
bool PictureViewHasFocus() {
  QWidget* focus = QApplication::focusWidget();
  if (!focus || qobject_cast<QLineEdit*>(focus)) return false;
  for (QWidget* w = focus; w; w = w->parentWidget())
    if (w->objectName() == QLatin1String("lvwMain")) return true;
  return false;
}

QString FileList(const QStringList& files) {
  constexpr int kShown = 12;
  QString text = files.mid(0, kShown).join(QLatin1Char('\n'));
  if (files.size() > kShown) text += QString("\n... and %1 more").arg(files.size() - kShown);
  return text;
}

QString SignatureName(const TLumenfoldProject& project, int id) {
  if (id == -1) return QStringLiteral("<no signature>");
  const TLumenfoldSignature* s = project.Signatures.FindById(id);
  return s ? s->Name : QString("<missing signature %1>").arg(id);
}
} // namespace

QString PictureToolTip(const TLumenfoldProject& project, const TLumenfoldPicture& picture) {
  const QString categories = project.Categories.CategoryTitles(picture.CategoryIds, "\n");
  return QStringLiteral("Categories:\n") +
         (categories.isEmpty() ? QStringLiteral("<none>") : categories) +
         QStringLiteral("\nThumbnail signature: ") +
         SignatureName(project, picture.ThumbSignatureId) +
         QStringLiteral("\nLarge/medium signature: ") +
         SignatureName(project, picture.MediumSignatureId) +
         (picture.PreviewError.isEmpty() ? QString()
                                         : QStringLiteral("\nNo preview: ") + picture.PreviewError);
}

TPictureCommands::TPictureCommands(TCommandContext& context, TMainActions& actions, QObject* parent)
    : QObject(parent), context_(context) {
  const auto turn = [this, &context](QAction* action, TTurn kind, bool all) {
    WireCommand(context, action, this, [this, kind, all] { Turn(kind, all); });
  };
  WireCommand(context, actions.actDeletePicture, this, [this] { DeletePicture(); });
  turn(actions.actRotateCCW, TTurn::CounterClockwise, false);
  turn(actions.actRotateCW, TTurn::Clockwise, false);
  turn(actions.actRotate180, TTurn::HalfTurn, false);
  turn(actions.actFlip, TTurn::Flip, false);
  turn(actions.actRotateCCWAll, TTurn::CounterClockwise, true);
  turn(actions.actRotateCWAll, TTurn::Clockwise, true);
  turn(actions.actRotate180All, TTurn::HalfTurn, true);
  turn(actions.actFlipAll, TTurn::Flip, true);
  WireCommand(context, actions.actPrivatePicture, this, [this] { ToggleMark(true); });
  WireCommand(context, actions.actMarkDeleted, this, [this] { ToggleMark(false); });
  WireCommand(context, actions.actMakeFacePicture, this, [this] { MakeFace(); });
  WireCommand(context, actions.actProcessedPicture, this, [this] { SetToBeProcessed(); });
  WireCommand(context, actions.actPictureDetails, this, [this] { PictureDetails(); });
  WireCommand(context, actions.actAssignCategory, this, [this] { AssignCategories(false); });
  WireCommand(context, actions.actAssignCategoryAll, this, [this] { AssignCategories(true); });
  WireCommand(context, actions.actSignPicture, this, [this] { Sign(false); });
  WireCommand(context, actions.actSignAllPictures, this, [this] { Sign(true); });
  WireCommand(context, actions.actReadCaptions, this, [this] { ReadCaptions(); });

  // Enter and Delete in the picture view; a caption being edited keeps its keys.
  const auto key = [this](QKeySequence sequence, QAction* action) {
    auto* shortcut = new QShortcut(sequence, context_.Window());
    connect(shortcut, &QShortcut::activated, this, [action] {
      if (PictureViewHasFocus() && action->isEnabled()) action->trigger();
    });
  };
  key(QKeySequence(Qt::Key_Return), actions.actPictureDetails);
  key(QKeySequence(Qt::Key_Enter), actions.actPictureDetails);
  key(QKeySequence(Qt::Key_Delete), actions.actDeletePicture);
}

void TPictureCommands::DeletePicture() {
  TLumenfoldAlbum* album = context_.CurrentAlbum();
  if (!album || !context_.CurrentPicture()) return;
  const QList<TLumenfoldPicture*> selected = context_.SelectedPictures();
  QStringList files;
  for (const TLumenfoldPicture* p : selected)
    files += ExistingPictureFiles(*p);
  QString question = QStringLiteral("Are you sure you want to delete picture?");
  if (!files.isEmpty())
    question +=
        QStringLiteral("\n\nThese files will be moved to the desktop's trash:\n") + FileList(files);
  if (!Prompt()->confirm(question)) return;
  // The loader walks the album's picture list: it must be gone before pictures leave it.
  context_.ForgetPictures();
  QStringList notTrashed;
  for (auto it = selected.crbegin(); it != selected.crend(); ++it) {
    TLumenfoldPicture* p = *it;
    const QStringList own = ExistingPictureFiles(*p);
    // The record goes first: when that fails, the picture and its files stay as they were.
    bool removed = false;
    RunCommand(context_.Window(), [&] {
      if (!p->Delete()) return;
      album->RemovePicture(p);
      removed = true;
    });
    if (removed) notTrashed += MoveFilesToTrash(own);
  }
  album->SetDirty(true);
  if (!notTrashed.isEmpty() &&
      Prompt()->confirm(QStringLiteral("These files could not be moved to the trash (their drive "
                                       "may have none):\n") +
                        FileList(notTrashed) +
                        QStringLiteral("\n\nDelete them for good? With No they stay on disk."))) {
    for (const QString& path : notTrashed)
      QFile::remove(path);
  }
  context_.FillPictureView();
  context_.CurrentAlbumChanged();
}

void TPictureCommands::Turn(TTurn turn, bool all) {
  const QList<TLumenfoldPicture*> pictures =
      all ? context_.AllPictures() : context_.SelectedPictures();
  for (TLumenfoldPicture* p : pictures) {
    switch (turn) {
    case TTurn::CounterClockwise:
      p->RotateCCW();
      break;
    case TTurn::Clockwise:
      p->RotateCW();
      break;
    case TTurn::HalfTurn:
      p->Rotate180();
      break;
    case TTurn::Flip:
      p->Flip();
      break;
    }
  }
  if (all) {
    context_.RepaintPictures();
  } else {
    // The face thumbnail in the album list may have turned as well.
    context_.RepaintAlbums();
    context_.RepaintSelectedPictures();
  }
  context_.UpdateView();
}

void TPictureCommands::ToggleMark(bool privateMark) {
  for (TLumenfoldPicture* p : context_.SelectedPictures()) {
    if (privateMark)
      p->IsPrivate = !p->IsPrivate;
    else
      p->IsDeleted = !p->IsDeleted;
    p->SetDirty(true);
  }
  context_.RepaintSelectedPictures();
  context_.UpdateView();
}

void TPictureCommands::MakeFace() {
  TLumenfoldAlbum* album = context_.CurrentAlbum();
  if (!album) return;
  for (TLumenfoldPicture* p : context_.SelectedPictures())
    p->SetIsFace(!p->IsFace);
  album->SetDirty(true);
  context_.RepaintAlbums();
  context_.RepaintPictures();
  context_.UpdateView();
}

void TPictureCommands::SetToBeProcessed() {
  for (TLumenfoldPicture* p : context_.SelectedPictures())
    p->SetModified(true);
  context_.UpdateView();
}

void TPictureCommands::PictureDetails() {
  TLumenfoldPicture* current = context_.CurrentPicture();
  if (!current || !context_.CurrentAlbum()) return;
  QList<TLumenfoldPicture*> pictures = context_.AllPictures();
  int index = int(pictures.indexOf(current));
  if (index < 0) {
    pictures = {current};
    index = 0;
  }
  // The loader saves pictures it checks: it must not write one the dialog is editing.
  context_.StopThumbnailLoader();
  {
    TfrmPictureDetail dialog(context_.Window());
    dialog.SetProject(context_.Project());
    dialog.SetPictures(pictures, index);
    connect(&dialog, &TfrmPictureDetail::pictureApplied, this,
            [this] { context_.RepaintPictures(); });
    if (dialog.exec() == QDialog::Accepted && dialog.RealPicture())
      ApplyPictureEdits(*dialog.RealPicture(), dialog.Copy());
  }
  context_.RepaintAlbums();
  context_.RepaintPictures();
  context_.StartThumbnailLoader();
  context_.UpdateView();
}

// The category and signature choosers: the selected pictures (or all) go into the dialog, which
// changes them itself.
template <class TChooser> void TPictureCommands::runChooser(bool all) {
  if (!context_.CurrentPicture()) return;
  const QList<TLumenfoldPicture*> pictures =
      all ? context_.AllPictures() : context_.SelectedPictures();
  context_.StopThumbnailLoader();
  {
    TChooser dialog(context_.Window());
    dialog.SetProject(context_.Project());
    for (TLumenfoldPicture* p : pictures)
      dialog.AddPicture(p);
    dialog.exec();
  }
  context_.RepaintPictures();
  context_.StartThumbnailLoader();
  context_.UpdateView();
}

void TPictureCommands::ReadCaptions() {
  const QList<TLumenfoldPicture*> pictures = context_.SelectedPictures();
  if (pictures.isEmpty()) return;
  // The loader saves pictures it checks: it must not write one whose titles change here.
  context_.StopThumbnailLoader();
  TReadCaptionsResult result;
  {
    TWaitCursor wait;
    result = ReadCaptionsIntoPictures(*context_.Project(), pictures, TCaptionTitles::Ask);
  }
  context_.RepaintPictures();
  context_.StartThumbnailLoader();
  context_.UpdateView();
  QMessageBox::information(context_.Window(), QStringLiteral("Read captions from files"),
                           result.Summary().join(QLatin1Char('\n')));
}

void TPictureCommands::AssignCategories(bool all) {
  runChooser<TfrmSelectCategory>(all);
}

void TPictureCommands::Sign(bool all) {
  runChooser<TfrmSelectSignature>(all);
}
