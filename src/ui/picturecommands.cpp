#include "ui/picturecommands.h"

#include "core/album.h"
#include "core/picture.h"
#include "db/userprompt.h"
#include "ui/commandcontext.h"

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
}

void TPictureCommands::DeletePicture() {
  if (!context_.CurrentAlbum() || !context_.CurrentPicture()) return;
  if (!Prompt()->confirm(QStringLiteral("Are you sure you want to delete picture?"))) return;
  const QList<TLumenfoldPicture*> selected = context_.SelectedPictures();
  // The loader walks the album's picture list: it must be gone before pictures leave it.
  context_.ForgetPictures();
  // One failure is shown and the remaining pictures are still deleted.
  for (auto it = selected.crbegin(); it != selected.crend(); ++it)
    RunCommand(context_.Window(), [p = *it] { p->DeleteWithFiles(); });
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
