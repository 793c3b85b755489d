#include "ui/mainwindow/toolscommands.h"

#include "core/project.h"
#include "core/projectops.h"
#include "ui/album/albumsync.h"
#include "ui/mainwindow/commandcontext.h"
#include "ui/common/filedialogs.h"
#include "ui/category/frmcategorydetail.h"
#include "ui/album/frmchangebase.h"
#include "ui/signature/frmsignatures.h"
#include "ui/mainwindow/frmsplash.h"
#include "ui/common/waitcursor.h"
#include "util/helptopics.h"
#include "util/programfolder.h"
#include "util/userprompt.h"

#include <QCoreApplication>
#include <QProgressDialog>

TToolsCommands::TToolsCommands(TCommandContext& context, TMainActions& actions, QObject* parent)
    : QObject(parent), context_(context) {
  WireCommand(context, actions.actSynchro, this, [this] { Synchro(); });
  WireCommand(context, actions.actCategories, this, [this] { Categories(); });
  WireCommand(context, actions.actSignatures, this, [this] { Signatures(); });
  WireCommand(context, actions.actChangeBase, this, [this] { ChangeBase(); });
  WireCommand(context, actions.actRecreateTemp, this, [this] { RecreateTemp(); });
  WireCommand(context, actions.actHelp, this, [this] { Help(); });
  WireCommand(context, actions.actAbout, this, [this] { About(); });
}

void TToolsCommands::Synchro() {
  // Albums may be removed and pictures freed: the views let go of them first.
  context_.ForgetAlbums();
  RunCommand(context_.Window(),
             [&] { SynchroniseWithFolders(context_.Window(), *context_.Project()); });
  context_.FillAlbumList();
}

void TToolsCommands::Categories() {
  // Deleting a category changes loaded pictures, which the loader may be saving.
  context_.StopThumbnailLoader();
  bool deleted = false;
  {
    TfrmCategoryDetail dialog(context_.Window());
    dialog.SetProject(context_.Project());
    deleted = dialog.exec() == QDialog::Accepted && dialog.Deleted();
  }
  if (deleted) context_.RepaintPictures();
  context_.StartThumbnailLoader();
  context_.UpdateView();
}

void TToolsCommands::Signatures() {
  TfrmSignatures dialog(context_.Window());
  dialog.SetProject(context_.Project());
  dialog.exec();
  context_.UpdateView();
}

void TToolsCommands::ChangeBase() {
  TfrmChangeBase dlg(context_.Window());
  dlg.SetInitialFolder(PicturesFolder());
  if (dlg.exec() != QDialog::Accepted) return;
  {
    TWaitCursor busy;
    ChangeBasePath(*context_.Project(), dlg.SearchText(), dlg.ReplaceText());
  }
  context_.CurrentAlbumChanged();
}

void TToolsCommands::RecreateTemp() {
  {
    TWaitCursor busy;
    context_.ForgetAlbums();
    TLumenfoldProject& project = *context_.Project();
    // Every original is read again: show progress and keep the window painting.
    QProgressDialog progress(QStringLiteral("Reading the original pictures..."),
                             QStringLiteral("Stop"), 0, 1, context_.Window());
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    RunCommand(context_.Window(), [&] {
      RefreshOriginals(project, [&](int done, int total) {
        progress.setMaximum(total);
        progress.setValue(done);
        QCoreApplication::processEvents();
        return !progress.wasCanceled();
      });
    });
  }
  context_.FillAlbumList();
}

void TToolsCommands::Help() {
  ShowHelpTopic(kHelpContents);
}

void TToolsCommands::About() {
  TfrmLumenFold2Splash::ShowSplash(context_.Window(), true);
}
