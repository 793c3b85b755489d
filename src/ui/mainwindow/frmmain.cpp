#include "ui/mainwindow/frmmain.h"
#include "ui_frmmain.h"

#include "core/album.h"
#include "core/category.h"
#include "core/picture.h"
#include "core/previewcache.h"
#include "core/project.h"
#include "core/projectlock.h"
#include "core/projectops.h"
#include "core/renameops.h"
#include "db/sqlaccess.h"
#include "processing/thumbnailthread.h"
#include "ui/album/albumlistdelegate.h"
#include "ui/common/settingsstore.h"
#include "ui/common/uiresources.h"
#include "ui/common/waitcursor.h"
#include "ui/mainwindow/albumcommands.h"
#include "ui/mainwindow/frmfirst.h"
#include "ui/mainwindow/picturecommands.h"
#include "ui/mainwindow/processcommands.h"
#include "ui/mainwindow/projectcommands.h"
#include "ui/mainwindow/runcommand.h"
#include "ui/mainwindow/startpage.h"
#include "ui/mainwindow/toolscommands.h"
#include "ui/photolist/photolistcontrols.h"
#include "ui/photolist/photolistview.h"
#include "ui/photolist/pictureviewer.h"
#include "util/helpers.h"
#include "util/messages.h"
#include "util/tracer.h"
#include "util/userprompt.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QToolTip>
#include <QUrl>
#include <QVBoxLayout>

namespace {

const QString kTitle = QStringLiteral("LumenFold2");
const QString kModifiedQuestion = QStringLiteral("Project was modified. Would you like to save?");
} // namespace

// --- Creation ------------------------------------------------------------------------------------

TfrmLumenFold2::TfrmLumenFold2(QWidget* parent)
    : QMainWindow(parent), ui(std::make_unique<Ui::TfrmLumenFold2>()),
      project_(std::make_unique<TLumenfoldProject>()) {
  ui->setupUi(this);
  setAcceptDrops(true);
  project_->Reset();
  SetCurrentConnectionString(project_->ConnectionString);
  setWindowIcon(UiIcon(QStringLiteral("app")));

  // Picture view between the view-mode buttons and the album path label.
  lvwMain = new TphotoListView(ui->pnlPictures);
  lvwMain->setObjectName(QStringLiteral("lvwMain"));
  lvwMain->setContextMenuPolicy(Qt::CustomContextMenu);
  ui->layPictures->insertWidget(1, lvwMain, 1);
  cbxCategoryFilter = new TCategoryFilterBox(lvwMain, ui->pnlPictures);
  ui->layViewMode->insertWidget(2, cbxCategoryFilter);
  cbxCategoryFilter->Source = [this] { return &project_->Categories; };
  // A long folder path is cut off at the right instead of widening the window.
  ui->lblAlbumPath->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

  createActions();
  buildMenus();
  createPages();

  // Album list.
  ui->lbxAlbums->setItemDelegate(new TAlbumListDelegate(ui->lbxAlbums));
  ui->lbxAlbums->setMouseTracking(true);
  ui->lbxAlbums->viewport()->installEventFilter(this);
  connect(ui->lbxAlbums, &QListWidget::itemClicked, this, [this] { albumSelected(); });
  connect(ui->lbxAlbums, &QListWidget::currentRowChanged, this, [this] { albumSelected(); });
  connect(ui->lbxAlbums, &QListWidget::itemDoubleClicked, this,
          [this] { actions_.actAlbumDetail->trigger(); });
  connect(ui->lbxAlbums, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& p) { pmnAlbums->popup(ui->lbxAlbums->mapToGlobal(p)); });

  // Splitter: albums 232 wide at first, live resize, repaint of the album list after a move.
  ui->splitterMain->setSizes({232, 268});
  ui->splitterMain->setStretchFactor(0, 0);
  ui->splitterMain->setStretchFactor(1, 1);
  connect(ui->splitterMain, &QSplitter::splitterMoved, this, [this] { RepaintAlbums(); });

  connectPictureView();
  connect(lvwMain, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& p) { pmnPictures->popup(lvwMain->mapToGlobal(p)); });
  connect(ui->rbnThumbnails, &QRadioButton::toggled, this, [this] { viewModeChanged(); });

  // Status bar: panel 0 the long hint, panel 1 the picture count, panel 2 unused.
  for (int i = 0; i < 3; ++i) {
    statusPanels_[i] = new QLabel(ui->sbrMain);
    statusPanels_[i]->setObjectName(QStringLiteral("sbrPanel%1").arg(i));
    statusPanels_[i]->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    statusPanels_[i]->setMinimumWidth(i == 0 ? 0 : (i == 1 ? 100 : 50));
    ui->sbrMain->addWidget(statusPanels_[i], i == 0 ? 1 : 0);
  }
  statusPanels_[0]->setMaximumWidth(250);
  sizeControl_ = new TThumbnailSizeControl(lvwMain, ui->sbrMain);
  ui->sbrMain->addPermanentWidget(sizeControl_);

  ui->pnlAlbums->hide();
  ui->splitterMain->hide();
  ui->pnlPictures->hide();
  setTitle();
}

TfrmLumenFold2::~TfrmLumenFold2() {
  StopThumbnailLoader();
  // The views refer to albums and pictures of the project: empty them before it goes.
  ui->lbxAlbums->clear();
  lvwMain->Clear();
}

TThumbnailThread* TfrmLumenFold2::ThumbnailLoader() const {
  return loader_.data();
}

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

// --- State ---------------------------------------------------------------------------------------

bool TfrmLumenFold2::IsProjectOpen() const {
  return !project_->FileName.isEmpty();
}

void TfrmLumenFold2::setTitle() {
  setWindowTitle(IsProjectOpen() ? kTitle + QStringLiteral(" - ") + project_->FileName : kTitle);
}

void TfrmLumenFold2::UpdateView() {
  const bool open = IsProjectOpen();
  const bool albums = open && project_->Albums.Count() > 0;
  if (!open) startPage_->SetRecentProjects(RecentProjects());
  startPage_->setVisible(!open);
  ui->pnlAlbums->setVisible(open);
  ui->splitterMain->setVisible(open);
  ui->pnlPictures->setVisible(open);
  emptyProject_->setVisible(open && !albums);
  if (!albums && viewing_) closeViewer(-1);
  lvwMain->setVisible(albums && !viewing_);
  sizeControl_->setVisible(albums);
  lblEmptyAlbum_->setVisible(albums && currentAlbum_ && currentAlbum_->Pictures.Count() == 0);
  EnableActions();
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

void TfrmLumenFold2::openRecent(const QString& fileName) {
  if (!AskSaveModified()) return;
  OpenProjectFile(fileName);
}

void TfrmLumenFold2::EnableActions() {
  TActionState state;
  state.ProjectOpen = IsProjectOpen();
  state.ProjectModified = project_->Modified;
  state.Album = currentAlbum_ != nullptr;
  state.Picture = currentPicture_ != nullptr;
  state.Original = currentPicture_ && QFileInfo::exists(currentPicture_->OriginalPath());
  actions_.ApplyEnableRules(state);
}

// --- Lifecycle -----------------------------------------------------------------------------------

void TfrmLumenFold2::showEvent(QShowEvent* e) {
  if (!firstShown_) {
    firstShown_ = true;
    LoadFromRegistry();
    UpdateView();
    if (StartDialogOnShow) PostMessage(this, LF_MSG_START, 0, 0);
  }
  QMainWindow::showEvent(e);
}

bool TfrmLumenFold2::event(QEvent* e) {
  if (TMessageEvent::Is(e, LF_MSG_START)) {
    ShowStartDialog();
    return true;
  }
  if (TMessageEvent::Is(e, LF_MSG_THUMBNAIL)) {
    // A face thumbnail may have become available. The picture in the message is only compared:
    // it may belong to an album that is gone by now. The loader has put its findings into the
    // picture on this thread, so a row that the view still lists shows them.
    const auto* m = static_cast<const TMessageEvent*>(e);
    const auto* picture = reinterpret_cast<const TLumenfoldPicture*>(m->Second);
    lvwMain->PictureChanged(picture);
    // A picture the view lists is alive and read: the album list (whose every repaint scales
    // the albums' face pictures anew) is repainted for face pictures only, not ten thousand
    // times while a large album loads.
    if (lvwMain->IndexOfPicture(picture) < 0 || picture->IsFace) RepaintAlbums();
    return true;
  }
  if (e->type() == QEvent::ApplicationPaletteChange) actions_.RefreshIcons(); // Options' scheme
  if (e->type() == QEvent::StatusTip) {
    statusPanels_[0]->setText(static_cast<QStatusTipEvent*>(e)->tip());
    return true;
  }
  return QMainWindow::event(e);
}

void TfrmLumenFold2::resizeEvent(QResizeEvent* e) {
  QMainWindow::resizeEvent(e);
  // The thumbnail size control sits at the right: the hint panel leaves room for it too.
  statusPanels_[0]->setMaximumWidth(
      std::max(0, ui->sbrMain->width() - 200 - sizeControl_->sizeHint().width()));
  statusPanels_[1]->setFixedWidth(100);
  statusPanels_[2]->setFixedWidth(50);
}

bool TfrmLumenFold2::AskSaveModified() {
  if (!IsProjectOpen() || !project_->Modified) return true;
  const auto answer =
      QMessageBox::warning(this, QStringLiteral("Warning"), kModifiedQuestion,
                           QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
  if (answer == QMessageBox::Cancel || answer == QMessageBox::Escape) return false;
  if (answer == QMessageBox::Yes) return SaveCurrentProject();
  return true;
}

void TfrmLumenFold2::closeEvent(QCloseEvent* e) {
  // A failed save keeps the window open so that nothing is lost.
  if (!AskSaveModified()) {
    e->ignore();
    return;
  }
  StopThumbnailLoader();
  SaveToRegistry();
  e->accept();
}

void TfrmLumenFold2::CloseCurrentProject() {
  UnlockOpenProject();
  ForgetAlbums();
  project_->Albums.Clear();
  {
    QMutexLocker lock(&ThumbnailLock());
    BitmapList().Clear();
  }
  project_->FileName.clear();
  // Nothing is left to save once the project is closed.
  project_->Modified = false;
  ui->lblAlbumPath->clear();
  statusPanels_[1]->clear();
  setTitle();
  UpdateView();
}

bool TfrmLumenFold2::SaveCurrentProject() {
  TWaitCursor busy;
  if (loader_) loader_->SetPaused(true);
  struct Resume {
    QPointer<TThumbnailThread>& loader;
    ~Resume() {
      if (loader) loader->SetPaused(false);
    }
  } resume{loader_};
  bool saved = false;
  RunCommand(this, [&] { saved = project_->SaveToFile() && !project_->Modified; });
  if (!saved) {
    // The model has told the user what went wrong; the changes stay marked as unsaved.
    project_->Modified = true;
  } else {
    AddRecentProject(RecentProjects(), project_->FileName);
  }
  setTitle();
  UpdateView();
  return saved;
}

void TfrmLumenFold2::StartNewProject(const TLumenfoldProject& settings) {
  ForgetAlbums();
  project_->Albums.Clear();
  project_->Assign(settings);
  RunCommand(this, [&] {
    {
      TWaitCursor busy;
      OpenNewProject(*project_);
    }
    FillAlbumList();
  });
  UpdateView();
  setTitle();
  AddRecentProject(RecentProjects(), project_->FileName);
}

void TfrmLumenFold2::OpenProjectFile(const QString& fileName) {
  if (!LockOpenProject(fileName)) return; // another window or run has it
  // The album objects are freed by the load: forget every reference to them first.
  ForgetAlbums();
  RunCommand(this, [&] {
    bool ok;
    {
      TWaitCursor busy;
      ok = project_->LoadFromFile(fileName);
    }
    if (!ok) Prompt()->warning(QStringLiteral("Project file was not load correctly.\n") + fileName);
    FillAlbumList();
  });
  UpdateView();
  // The title names what is open: a file that could not be read at all leaves it unchanged.
  setTitle();
  if (QFileInfo::exists(fileName)) AddRecentProject(RecentProjects(), fileName);
}

void TfrmLumenFold2::ChangeDatabase(const QString& connectionString) {
  TWaitCursor busy;
  ForgetAlbums();
  project_->ConnectionString = connectionString;
  SetCurrentConnectionString(connectionString);
  project_->Albums.Clear();
  RunCommand(this, [&] {
    project_->LoadDatabase();
    FillAlbumList();
  });
  UpdateView();
  setTitle();
  AddRecentProject(RecentProjects(), project_->FileName);
  project_->Modified = true;
  UpdateView();
}

// --- Settings store ------------------------------------------------------------------------------

void TfrmLumenFold2::LoadFromRegistry() {
  Tracer().Write(QStringLiteral("LoadFromRegistry procedure is about to start."));
  try {
    // The first start opens at three quarters of the screen, centred; later starts restore the
    // stored placement.
    QRect first(100, 100, 500, 480);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      const QRect area = screen->availableGeometry();
      first.setSize(area.size() * 3 / 4);
      first.moveCenter(area.center());
    }
    if (!LoadFormPlacement(this, FormSettingsKey(QStringLiteral("frmMain")), first.topLeft(),
                           first.size()))
      throw std::runtime_error("placement");
    std::unique_ptr<QSettings> s = LumenfoldSettings();
    startNew_ = s->value(QStringLiteral("Software/Kelm/LumenFold/2.0/First/New"), false).toBool();
    QStringList& recent = RecentProjects();
    recent.clear();
    for (int i = 0; i < 9; ++i) {
      const QString v =
          s->value(QStringLiteral("Software/Kelm/LumenFold/2.0/First/Project%1").arg(i)).toString();
      if (!v.isEmpty()) recent.append(v);
    }
    if (s->status() != QSettings::NoError) throw std::runtime_error("settings");
    Tracer().Write(QStringLiteral("LoadFromRegistry procedure finished successfully."));
  } catch (...) {
    Tracer().Write(QStringLiteral("Error occur while LoadFromRegistry procedure."));
  }
}

void TfrmLumenFold2::SaveToRegistry() {
  Tracer().Write(QStringLiteral("SaveToRegistry procedure is about to start."));
  try {
    if (!SaveFormPlacement(this, FormSettingsKey(QStringLiteral("frmMain"))))
      throw std::runtime_error("placement");
    std::unique_ptr<QSettings> s = LumenfoldSettings();
    s->setValue(QStringLiteral("Software/Kelm/LumenFold/2.0/First/New"), startNew_);
    const QStringList& recent = RecentProjects();
    for (int i = 0; i < recent.size(); ++i)
      s->setValue(QStringLiteral("Software/Kelm/LumenFold/2.0/First/Project%1").arg(i),
                  recent.at(i));
    s->sync();
    if (s->status() != QSettings::NoError) throw std::runtime_error("settings");
    Tracer().Write(QStringLiteral("SaveToRegistry procedure finished successfully."));
  } catch (...) {
    Tracer().Write(QStringLiteral("Error occur while SaveToRegistry procedure."));
  }
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
    lvwMain->ReportList()->header()->setSectionResizeMode(column, QHeaderView::ResizeToContents);
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

void TfrmLumenFold2::dragEnterEvent(QDragEnterEvent* e) {
  const QMimeData* data = e->mimeData();
  if (IsProjectOpen() && data && data->hasUrls())
    for (const QUrl& url : data->urls())
      if (url.isLocalFile() && QFileInfo(url.toLocalFile()).isDir()) {
        e->acceptProposedAction();
        return;
      }
  QMainWindow::dragEnterEvent(e);
}

void TfrmLumenFold2::dropEvent(QDropEvent* e) {
  const QMimeData* data = e->mimeData();
  QString folder;
  if (data && data->hasUrls())
    for (const QUrl& url : data->urls())
      if (url.isLocalFile() && QFileInfo(url.toLocalFile()).isDir()) {
        folder = QDir::toNativeSeparators(url.toLocalFile());
        break;
      }
  EnableActions();
  if (folder.isEmpty() || !actions_.actAddAlbum->isEnabled()) return;
  e->acceptProposedAction();
  // The wizard is modal: it opens once the drop has finished.
  QTimer::singleShot(0, this, [this, folder] { albumCommands_->AddAlbum(folder); });
}

bool TfrmLumenFold2::eventFilter(QObject* watched, QEvent* e) {
  if (watched == ui->lbxAlbums->viewport() && e->type() == QEvent::MouseMove) {
    const QPoint pos = static_cast<QMouseEvent*>(e)->position().toPoint();
    if (QListWidgetItem* item = ui->lbxAlbums->itemAt(pos)) {
      auto* album =
          static_cast<TLumenfoldAlbum*>(item->data(TAlbumListDelegate::AlbumRole).value<void*>());
      if (album) {
        ui->lbxAlbums->setToolTip(QStringLiteral("List of albums"));
        statusPanels_[0]->setText(QStringLiteral("Album long name: ") + album->LongName);
      }
    }
  }
  return QMainWindow::eventFilter(watched, e);
}

// --- Start dialog and view buttons --------------------------------------------------------------

void TfrmLumenFold2::ShowStartDialog() {
  TfrmFirst dlg(this);
  dlg.SetRecentProjects(RecentProjects());
  if (dlg.exec() != QDialog::Accepted) return;
  startNew_ = dlg.NewProjectChosen();
  if (startNew_)
    projectCommands_->NewProject();
  else if (!dlg.SelectedProject().isEmpty())
    OpenProjectFile(dlg.SelectedProject());
}

void TfrmLumenFold2::actionClicked(int number) {
  const TMainActions& a = actions_;
  // The action buttons drawn on a thumbnail, in their order.
  QAction* const buttons[] = {
      a.actRotateCCW,      a.actRotateCW,    a.actRotate180,       a.actFlip,
      a.actPrivatePicture, a.actMarkDeleted, a.actMakeFacePicture, a.actAssignCategory,
      a.actSignPicture};
  if (number >= 0 && number < int(std::size(buttons)) && buttons[number]->isEnabled())
    buttons[number]->trigger();
  UpdateView();
}
