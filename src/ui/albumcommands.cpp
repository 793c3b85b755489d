#include "ui/albumcommands.h"

#include "core/album.h"
#include "core/picture.h"
#include "core/project.h"
#include "db/userprompt.h"
#include "ui/commandcontext.h"
#include "ui/frmalbumdetail.h"
#include "ui/waitcursor.h"

TAlbumCommands::TAlbumCommands(TCommandContext& context, TMainActions& actions, QObject* parent)
    : QObject(parent), context_(context) {
  WireCommand(context, actions.actDeleteAlbum, this, [this] { DeleteAlbum(); });
  WireCommand(context, actions.actAlbumDetail, this, [this] { AlbumDetail(); });
}

void TAlbumCommands::DeleteAlbum() {
  TLumenfoldAlbum* album = context_.CurrentAlbum();
  if (!album) return;
  if (!Prompt()->confirm(QStringLiteral("Do you really want to delete album?"))) return;
  TWaitCursor busy;
  context_.ForgetAlbums();
  RunCommand(context_.Window(), [&] { context_.Project()->DeleteAlbum(album); });
  context_.FillAlbumList();
}

void TAlbumCommands::AlbumDetail() {
  TLumenfoldAlbum* album = context_.CurrentAlbum();
  if (!album) return;
  TfrmAlbumDetail dlg(context_.Window());
  dlg.Album().Assign(*album);
  dlg.SetPictureCount(album->Pictures.Count());
  if (TLumenfoldPicture* face = album->GetFacePicture())
    if (TLumenfoldBitmap thumb = face->Thumbnail()) dlg.SetFaceImage(*thumb);
  if (dlg.exec() != QDialog::Accepted || dlg.Album().Equals(*album)) return;
  if (dlg.Album().Path != album->Path) {
    // Another folder means other pictures: the view and the loader let go of the old ones.
    context_.ForgetPictures();
    album->Assign(dlg.Album());
    album->LoadPictures();
    context_.FillPictureView();
  } else {
    album->AssignFields(dlg.Album());
  }
  album->SetDirty(true);
  context_.CurrentAlbumChanged();
}
