#include "ui/mainwindow/albumcommands.h"

#include "core/album.h"
#include "core/outputsettings.h"
#include "core/picture.h"
#include "core/project.h"
#include "core/syncops.h"
#include "ui/album/albumsync.h"
#include "ui/mainwindow/commandcontext.h"
#include "ui/album/frmalbumdetail.h"
#include "ui/album/frmnewalbum.h"
#include "ui/picture/frmpicturedetail.h"
#include "ui/category/frmselectcategory.h"
#include "ui/signature/frmselectsignature.h"
#include "ui/common/waitcursor.h"
#include "util/userprompt.h"

#include <memory>

namespace {
// A chooser dialog on the given pictures; true after OK.
template <class Chooser>
bool RunChooser(QWidget* owner, TLumenfoldProject& project,
                const QList<TLumenfoldPicture*>& pictures) {
  Chooser dialog(owner);
  dialog.SetProject(&project);
  for (TLumenfoldPicture* p : pictures)
    dialog.AddPicture(p);
  return dialog.exec() == QDialog::Accepted;
}
} // namespace

TfrmNewAlbum::TEditors AlbumWizardEditors() {
  TfrmNewAlbum::TEditors editors;
  // The choosers apply the choice to the pictures themselves on OK (marking them unsaved, and to
  // be processed when a signature changed). The wizard's pictures are its own: the album's
  // working copy in edit mode, so a cancelled wizard changes nothing.
  editors.Signature = &RunChooser<TfrmSelectSignature>;
  editors.Category = &RunChooser<TfrmSelectCategory>;
  editors.Picture = [](QWidget* owner, TLumenfoldProject& project, TLumenfoldPicture& copy) {
    TfrmPictureDetail dialog(owner);
    dialog.SetProject(&project);
    dialog.Copy().Assign(copy);
    if (dialog.exec() != QDialog::Accepted) return false;
    copy.Assign(dialog.Copy());
    return true;
  };
  return editors;
}

TAlbumCommands::TAlbumCommands(TCommandContext& context, TMainActions& actions, QObject* parent)
    : QObject(parent), context_(context), actions_(actions) {
  WireCommand(context, actions.actAddAlbum, this, [this] { AddAlbum(); });
  WireCommand(context, actions.actEditAlbum, this, [this] { EditAlbum(); });
  WireCommand(context, actions.actDeleteAlbum, this, [this] { DeleteAlbum(); });
  WireCommand(context, actions.actAlbumDetail, this, [this] { AlbumDetail(); });
  WireCommand(context, actions.actRenaming, this, [this] { RenamePictures(); });
}

void TAlbumCommands::processAfterWizard() {
  if (!context_.Project()->ProcessAfterWizard) return;
  context_.EnableActions();
  if (actions_.actProcess->isEnabled()) actions_.actProcess->trigger();
}

void TAlbumCommands::AddAlbum(const QString& folder) {
  TLumenfoldProject* project = context_.Project();
  context_.StopThumbnailLoader();
  std::unique_ptr<TLumenfoldAlbum> album;
  {
    TfrmNewAlbum wizard(context_.Window(), project, nullptr, AlbumWizardEditors());
    if (!folder.isEmpty()) wizard.SetInitialFolder(folder);
    if (wizard.exec() == QDialog::Accepted) album = wizard.TakeAlbum();
  }
  if (!album) {
    context_.StartThumbnailLoader();
    context_.UpdateView();
    return;
  }
  TLumenfoldAlbum* added = album.release();
  project->Albums.Insert(0, added->ShortName, added);
  added->AttachPictures();
  added->SetDirty(true);
  context_.FillAlbumList(); // selects the new album, the first of the list
  context_.UpdateView();
  processAfterWizard();
}

void TAlbumCommands::EditAlbum() {
  TLumenfoldAlbum* album = context_.CurrentAlbum();
  if (!album) return;
  TLumenfoldProject* project = context_.Project();
  context_.StopThumbnailLoader();
  // The wizard works on every picture of the album.
  QString error;
  if (!EnsurePicturesLoaded(*album, &error)) {
    Prompt()->error(error);
    context_.StartThumbnailLoader();
    return;
  }
  auto copy = std::make_unique<TLumenfoldAlbum>(project);
  copy->Assign(*album);
  bool accepted;
  {
    TfrmNewAlbum wizard(context_.Window(), project, copy.get(), AlbumWizardEditors());
    accepted = wizard.exec() == QDialog::Accepted;
  }
  if (!accepted) {
    context_.StartThumbnailLoader();
    context_.UpdateView();
    return;
  }
  // Paging through the wizard and closing it changes nothing.
  const bool edited = !copy->Equals(*album) || copy->HasUnsavedPictures() ||
                      copy->Pictures.Count() != album->Pictures.Count();
  // The view lets go of the old picture objects before Assign frees them. The album keeps the
  // copy's pictures, new and edited ones included (they are never read back from the database
  // over unsaved changes), and they belong to the album, not to the copy freed below.
  context_.ForgetPictures();
  album->Assign(*copy);
  copy.reset();
  if (edited) album->SetDirty(true);
  context_.FillPictureView();
  context_.CurrentAlbumChanged();
  context_.UpdateView();
  processAfterWizard();
}

void TAlbumCommands::RenamePictures() {
  TLumenfoldAlbum* album = context_.CurrentAlbum();
  if (!album) return;
  // No file may move while the loader reads the album.
  context_.StopThumbnailLoader();
  if (RenameAlbumPicturesInteractive(context_.Window(), *context_.Project(), *album))
    context_.FillPictureView();
  else
    context_.StartThumbnailLoader();
  context_.UpdateView();
}

void TAlbumCommands::DeleteAlbum() {
  TLumenfoldAlbum* album = context_.CurrentAlbum();
  if (!album) return;
  // The question names the album, so that the wrong one is not deleted by mistake.
  const QString name = album->ShortName.trimmed().isEmpty() ? album->Directory : album->ShortName;
  if (!Prompt()->confirm(QStringLiteral("Do you really want to delete album \"%1\"?\n\n"
                                        "The records of its pictures are deleted; no file is "
                                        "touched.")
                             .arg(name)))
    return;
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
  // A directory of another album is refused; the dialog opens again with the edits.
  bool accepted;
  QString clash;
  while ((accepted = dlg.exec() == QDialog::Accepted) &&
         !(clash = ValidateAlbumDirectory(*context_.Project(), album, dlg.Album().Directory))
              .isEmpty())
    Prompt()->error(clash);
  if (!accepted || dlg.Album().Equals(*album)) return;
  if (dlg.Album().Path != album->Path) {
    // Another folder means other pictures: the view and the loader let go of the old ones.
    context_.ForgetPictures();
    album->Assign(dlg.Album());
    // Pictures with unsaved changes are kept as they are; the others are read again.
    if (!album->HasUnsavedPictures()) album->LoadPictures();
    context_.FillPictureView();
  } else {
    album->AssignFields(dlg.Album());
  }
  album->SetDirty(true);
  context_.CurrentAlbumChanged();
}
