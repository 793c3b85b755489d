// The main window's menus, tool bar and pages: built from the action table, with the
// entries that belong to the window itself put beside the actions they go with.
#include "ui/mainwindow/frmmain.h"
#include "ui_frmmain.h"

#include "ui/mainwindow/albumcommands.h"
#include "ui/mainwindow/picturecommands.h"
#include "ui/mainwindow/processcommands.h"
#include "ui/mainwindow/projectcommands.h"
#include "ui/mainwindow/runcommand.h"
#include "ui/mainwindow/startpage.h"
#include "ui/mainwindow/toolscommands.h"
#include "ui/photolist/photolistview.h"
#include "ui/photolist/pictureviewer.h"
#include "util/helpers.h"
#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QShortcut>
#include <QToolBar>
#include <QVBoxLayout>

void TfrmLumenFold2::createActions() {
  actxpMain = new QObject(this);
  actxpMain->setObjectName(QStringLiteral("actxpMain"));
  actions_.Create(actxpMain);
  addActions(actions_.All());
  // Each command class wires its own actions; an action left unwired stays disabled.
  projectCommands_ = new TProjectCommands(*this, actions_, this);
  albumCommands_ = new TAlbumCommands(*this, actions_, this);
  pictureCommands_ = new TPictureCommands(*this, actions_, this);
  toolsCommands_ = new TToolsCommands(*this, actions_, this);
  processCommands_ = new TProcessCommands(*this, actions_, this);
}

void TfrmLumenFold2::buildMenus() {
  auto* coolBar = new QWidget(this);
  coolBar->setObjectName(QStringLiteral("coolBarMain"));
  auto* lay = new QVBoxLayout(coolBar);
  lay->setContentsMargins(0, 0, 0, 0);
  lay->setSpacing(0);
  auto* menuBar = new QMenuBar(coolBar);
  menuBar->setObjectName(QStringLiteral("actMainMenuBar"));
  menuBar->setNativeMenuBar(false);
  auto* toolBar = new QToolBar(coolBar);
  toolBar->setObjectName(QStringLiteral("actMainToolbar"));
  toolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
  toolBar->setIconSize(QSize(20, 20));
  lay->addWidget(menuBar);
  lay->addWidget(toolBar);
  setMenuWidget(coolBar);

  // The actions' places come from the action table; the entries of the window's own are put
  // beside the action they belong to.
  const TMainActions& a = actions_;
  auto menu = [&](const char* title, const char* objectName, TMenuPlace place) {
    QMenu* m = menuBar->addMenu(QString::fromLatin1(title));
    m->setObjectName(QString::fromLatin1(objectName));
    m->setToolTipsVisible(false);
    a.Fill(m, place);
    return m;
  };
  QMenu* file = menu("&File", "mnuFile", mpFile);
  mnuOpenRecent = new QMenu(QStringLiteral("Open &Recent"), file);
  mnuOpenRecent->setObjectName(QStringLiteral("mnuOpenRecent"));
  TMainActions::InsertAfter(file, a.actOpenProject, mnuOpenRecent->menuAction());
  connect(mnuOpenRecent, &QMenu::aboutToShow, this, [this] { fillRecentMenu(); });
  menu("&Album", "mnuAlbum", mpAlbum);
  menu("&Picture", "mnuPicture", mpPicture);
  QMenu* tools = menu("&Tools", "mnuTools", mpTools);
  // Synchronisation, base path and temporary files are reached from here too: without an entry
  // nobody could find them.
  auto* synchroEntry = new QAction(QStringLiteral("Synchronise with folders..."), tools);
  synchroEntry->setObjectName(QStringLiteral("mniSynchro"));
  TMainActions::InsertAfter(tools, a.actDatabase, synchroEntry);
  connect(synchroEntry, &QAction::triggered, a.actSynchro, &QAction::trigger);
  connect(a.actSynchro, &QAction::changed, synchroEntry,
          [this, synchroEntry] { synchroEntry->setEnabled(actions_.actSynchro->isEnabled()); });
  // Process with zip, then publish what the run made.
  auto* processPublish = new QAction(QStringLiteral("Process and publish..."), tools);
  processPublish->setObjectName(QStringLiteral("mniProcessAndPublish"));
  TMainActions::InsertAfter(tools, a.actPublish, processPublish);
  connect(processPublish, &QAction::triggered, this, [this] {
    if (actions_.actProcess->isEnabled() && actions_.actPublish->isEnabled())
      RunCommand(this, [this] { processCommands_->ProcessAndPublish(); });
  });
  auto followProcess = [this, processPublish] {
    processPublish->setEnabled(actions_.actProcess->isEnabled() &&
                               actions_.actPublish->isEnabled());
  };
  connect(a.actProcess, &QAction::changed, processPublish, followProcess);
  connect(a.actPublish, &QAction::changed, processPublish, followProcess);
  menu("&Help", "mnuHelp", mpHelp);

  a.Fill(toolBar, mpToolbar);

  pmnAlbums = new QMenu(this);
  pmnAlbums->setObjectName(QStringLiteral("pmnAlbums"));
  a.Fill(pmnAlbums, mpAlbumPopup);
  // "Process and zip" opens the processing selection with the current album checked and zip on;
  // it is enabled with Process.
  auto* processZip = new QAction(QStringLiteral("Process and zip"), pmnAlbums);
  processZip->setObjectName(QStringLiteral("mniProcessAndZip"));
  TMainActions::InsertAfter(pmnAlbums, a.actProcess, processZip);
  connect(processZip, &QAction::triggered, this, [this] {
    if (actions_.actProcess->isEnabled())
      RunCommand(this, [this] { processCommands_->ProcessAndZip(); });
  });
  connect(a.actProcess, &QAction::changed, processZip,
          [this, processZip] { processZip->setEnabled(actions_.actProcess->isEnabled()); });

  pmnPictures = new QMenu(this);
  pmnPictures->setObjectName(QStringLiteral("pmnPictures"));
  a.Fill(pmnPictures, mpPicturePopup);
}

void TfrmLumenFold2::createPages() {
  startPage_ = new TStartPage(ui->pnlClient);
  ui->layClient->addWidget(startPage_, 1);
  connect(startPage_, &TStartPage::NewRequested, actions_.actNewProject, &QAction::trigger);
  connect(startPage_, &TStartPage::OpenRequested, actions_.actOpenProject, &QAction::trigger);
  connect(startPage_, &TStartPage::RecentChosen, this,
          [this](const QString& file) { openRecent(file); });

  emptyProject_ = new TEmptyProjectPage(ui->pnlPictures);
  ui->layPictures->insertWidget(2, emptyProject_, 1);
  connect(emptyProject_, &TEmptyProjectPage::AddAlbumRequested, actions_.actAddAlbum,
          &QAction::trigger);
  lblEmptyAlbum_ = new QLabel(
      QStringLiteral("This album has no pictures yet. Copy photos into its folder, then choose "
                     "Tools › Synchronise with folders, or open the album wizard (Album › Edit "
                     "album wizard) to import them."),
      ui->pnlPictures);
  lblEmptyAlbum_->setObjectName(QStringLiteral("lblEmptyAlbum"));
  lblEmptyAlbum_->setWordWrap(true);
  lblEmptyAlbum_->setAlignment(Qt::AlignCenter);
  lblEmptyAlbum_->setMargin(24);
  ui->layPictures->insertWidget(2, lblEmptyAlbum_);
  emptyProject_->hide();
  lblEmptyAlbum_->hide();

  viewer_ = new TPictureViewer(ui->pnlPictures);
  ui->layPictures->insertWidget(2, viewer_, 1);
  viewer_->hide();
  auto* space = new QShortcut(QKeySequence(Qt::Key_Space), lvwMain);
  space->setContext(Qt::WidgetWithChildrenShortcut);
  connect(space, &QShortcut::activated, this, [this] { openViewer(); });
  connect(viewer_, &TPictureViewer::CloseRequested, this, [this](int row) { closeViewer(row); });
  connect(viewer_, &TPictureViewer::FullScreenRequested, this,
          [this] { isFullScreen() ? showNormal() : showFullScreen(); });
}

void TfrmLumenFold2::fillRecentMenu() {
  mnuOpenRecent->clear();
  const QList<TRecentEntry> entries = RecentMenuEntries(RecentProjects());
  for (const TRecentEntry& e : entries) {
    QAction* entry = mnuOpenRecent->addAction(
        e.exists ? e.fileName : e.fileName + QStringLiteral("  (file not found)"));
    entry->setEnabled(e.exists);
    const QString file = e.fileName;
    connect(entry, &QAction::triggered, this, [this, file] { openRecent(file); });
  }
  if (entries.isEmpty())
    mnuOpenRecent->addAction(QStringLiteral("No recent projects"))->setEnabled(false);
}
