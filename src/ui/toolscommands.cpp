#include "ui/toolscommands.h"

#include "core/projectops.h"
#include "db/userprompt.h"
#include "ui/commandcontext.h"
#include "ui/frmchangebase.h"
#include "ui/frmsplash.h"
#include "ui/waitcursor.h"
#include "util/programfolder.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QProgressDialog>
#include <QUrl>

TToolsCommands::TToolsCommands(TCommandContext& context, TMainActions& actions, QObject* parent)
    : QObject(parent), context_(context) {
  WireCommand(context, actions.actChangeBase, this, [this] { ChangeBase(); });
  WireCommand(context, actions.actRecreateTemp, this, [this] { RecreateTemp(); });
  WireCommand(context, actions.actHelp, this, [this] { Help(); });
  WireCommand(context, actions.actAbout, this, [this] { About(); });
}

void TToolsCommands::ChangeBase() {
  TfrmChangeBase dlg(context_.Window());
  dlg.SetInitialFolder(ProgramFolder());
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
  const QString file = ProgramFolder() + QStringLiteral("LumenFoldHelp.chm");
  if (!QFileInfo::exists(file) || !QDesktopServices::openUrl(QUrl::fromLocalFile(file)))
    Prompt()->error(QStringLiteral("The help file could not be opened:\n") + file);
}

void TToolsCommands::About() {
  TfrmLumenFold2Splash::ShowSplash(context_.Window(), true);
}
