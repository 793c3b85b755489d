#include "ui/frmmain.h"
#include "ui_frmmain.h"

#include "core/album.h"
#include "core/category.h"
#include "core/picture.h"
#include "core/project.h"
#include "db/sqlaccess.h"
#include "db/userprompt.h"
#include "processing/thumbnailthread.h"
#include "ui/albumlistdelegate.h"
#include "ui/filedialogs.h"
#include "ui/frmalbumdetail.h"
#include "ui/frmchangebase.h"
#include "ui/frmdatabase.h"
#include "ui/frmfirst.h"
#include "ui/frmnewproject.h"
#include "ui/frmoptions.h"
#include "ui/frmsplash.h"
#include "ui/photolistview.h"
#include "ui/settingsstore.h"
#include "ui/uiresources.h"
#include "ui/waitcursor.h"
#include "util/helpers.h"
#include "util/messages.h"
#include "util/programfolder.h"
#include "util/tracer.h"

#include <QAction>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressDialog>
#include <QSettings>
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
const QString kProjectFilter =
    QStringLiteral("LumenFold Projects (*.lumenfold)|*.lumenfold|All files (*.*)|*.*");

struct TActionInfo {
  const char* name;
  const char* category;
  const char* caption; // with the menu accelerator where the menu gives one
  const char* shortHint;
  const char* longHint;
  const char* icon; // action image, empty for none
};

// The action list of the action manager, in its order.
const TActionInfo kActions[] = {
    {"actNewProject", "File", "&New project...", "New project", "Start new project", "new"},
    {"actSaveProject", "File", "&Save project", "Save project", "Save project", "save"},
    {"actSaveProjectAs", "File", "S&ave project as...", "Save project as", "Save project as", ""},
    {"actOpenProject", "File", "&Open project...", "Open project", "Open existing project", "open"},
    {"actAddAlbum", "Album", "&Add album wizard...", "Add album",
     "Start wizard to add new photo album", "addalbum"},
    {"actEditAlbum", "Album", "&Edit album wizard...", "Edit album",
     "Start wizard to edit photo album", "album"},
    {"actDeleteAlbum", "Album", "&Delete album", "Delete album", "Delete photo album", "delete"},
    {"actCategories", "Tools", "&Categories", "Categories", "Manage categories", "categories"},
    {"actSignatures", "Tools", "&Signatures", "Signatures", "Manage signatures", "signatures"},
    {"actRenaming", "Tools", "&Rename pictures", "Rename pictures",
     "Rename pictures in photo album", "rename"},
    {"actDatabase", "Tools", "&Database...", "Change data provider",
     "Change connection string to data provider", "database"},
    {"actSynchro", "Tools", "Synchronization db <-> files...", "", "", "synchro"},
    {"actOption", "Tools", "&Options...", "Options", "Options", "options"},
    {"actProcess", "Tools", "&Process", "Process", "Process pictures", "process"},
    {"actDeletePicture", "Picture", "&Delete picture", "Delete picture",
     "Delete picture from photo album", "delete"},
    {"actRotateCCW", "Picture", "&Rotate picture counter-clockwise", "Rotate CCW",
     "Rotate counter-clockwise", "rotateccw"},
    {"actRotateCW", "Picture", "R&otate picture clockwise", "Rotate CW", "Rotate clockwise",
     "rotatecw"},
    {"actCloseProject", "File", "&Close project", "", "", "close"},
    {"actExit", "File", "&Exit", "Close", "Close application", "exit"},
    {"actHelp", "Help", "&Help", "Help", "Help", "help"},
    {"actAbout", "Help", "&About", "About", "About", "about"},
    {"actRotate180", "Picture", "&Picture u-turn", "Round", "Rotate round", "rotate180"},
    {"actFlip", "Picture", "P&icture flip", "Flip", "Horizontal flip", "flip"},
    {"actPrivatePicture", "Picture", "Pri&vate picture", "Private", "Mark picture as private", ""},
    {"actMarkDeleted", "Picture", "&Mark as deleted", "Delete", "Mark picture as delete", ""},
    {"actMakeFacePicture", "Picture", "Ma&ke picture face for album", "Face",
     "Set picture as face of photo album", ""},
    {"actAssignCategory", "Picture", "Pi&cture categories...", "Assign categories",
     "Assign categories to selected pictures", "categories"},
    {"actSignPicture", "Picture", "&Sign picture...", "Sign pictures", "Sign selected pictures",
     "signatures"},
    {"actRotateCCWAll", "Picture", "Ro&tate counter clockwise all pictures in album",
     "Rotate all CCW", "Rotate all picture counter-clockwise", "rotateccw"},
    {"actRotateCWAll", "Picture", "Rotat&e clockwise all pictures in album", "Rotate all CW",
     "Rotate all picture clockwise", "rotatecw"},
    {"actRotate180All", "Picture", "&U-turn for all pictures in album",
     "Round allRotate all pictures round", "Round allRotate all pictures round", "rotate180"},
    {"actFlipAll", "Picture", "&Flip all pictures in album", "Flip all", "Flip all pictures",
     "flip"},
    {"actAlbumDetail", "Album", "A&lbum properties...", "Album properties",
     "View/Update album properties", "album"},
    {"actAssignCategoryAll", "Picture", "Assi&gn categories for all pictures...",
     "Assign categories", "Assign categories to all pictures", "categories"},
    {"actSignAllPictures", "Picture", "Sig&n all pictures...", "Sign all", "Sign all pictures",
     "signatures"},
    {"actPictureDetails", "Picture", "Picture properties...", "Picture properties",
     "View/Update picture properties", "picture"},
    {"actProcessedPicture", "", "Set to be processed", "Set to processed", "Set to be processed",
     ""},
    {"actChangeBase", "", "Change base path...", "", "", ""},
    {"actRecreateTemp", "", "Recreate temp files", "", "", ""},
};

// Commands whose windows are not part of this program yet: their actions exist in every menu
// but stay disabled whatever the enabling rules say.
const char* const kNotAvailable[] = {
    "actAddAlbum",       "actEditAlbum",   "actCategories",        "actSignatures",
    "actRenaming",       "actSynchro",     "actProcess",           "actPictureDetails",
    "actAssignCategory", "actSignPicture", "actAssignCategoryAll", "actSignAllPictures",
};

bool IsAvailable(const QString& name) {
  for (const char* n : kNotAvailable)
    if (name == QLatin1String(n)) return false;
  return true;
}

} // namespace

// --- Creation ------------------------------------------------------------------------------------

TfrmLumenFold2::TfrmLumenFold2(QWidget* parent)
    : QMainWindow(parent), ui(std::make_unique<Ui::TfrmLumenFold2>()),
      project_(std::make_unique<TLumenfoldProject>()) {
  ui->setupUi(this);
  project_->Reset();
  SetCurrentConnectionString(project_->ConnectionString);
  setWindowIcon(UiIcon(QStringLiteral("app")));

  // Picture view between the view-mode buttons and the album path label.
  lvwMain = new TphotoListView(ui->pnlPictures);
  lvwMain->setObjectName(QStringLiteral("lvwMain"));
  lvwMain->setContextMenuPolicy(Qt::CustomContextMenu);
  ui->layPictures->insertWidget(1, lvwMain, 1);
  // A long folder path is cut off at the right instead of widening the window.
  ui->lblAlbumPath->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

  createActions();
  buildMenus();

  // Album list.
  ui->lbxAlbums->setItemDelegate(new TAlbumListDelegate(ui->lbxAlbums));
  ui->lbxAlbums->setMouseTracking(true);
  ui->lbxAlbums->viewport()->installEventFilter(this);
  connect(ui->lbxAlbums, &QListWidget::itemClicked, this, [this] { albumSelected(); });
  connect(ui->lbxAlbums, &QListWidget::currentRowChanged, this, [this] { albumSelected(); });
  connect(ui->lbxAlbums, &QListWidget::itemDoubleClicked, this,
          [this] { invokeAction(QStringLiteral("actAlbumDetail")); });
  connect(ui->lbxAlbums, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& p) { pmnAlbums->popup(ui->lbxAlbums->mapToGlobal(p)); });

  // Splitter: albums 232 wide at first, live resize, repaint of the album list after a move.
  ui->splitterMain->setSizes({232, 268});
  ui->splitterMain->setStretchFactor(0, 0);
  ui->splitterMain->setStretchFactor(1, 1);
  connect(ui->splitterMain, &QSplitter::splitterMoved, this, [this] { repaintAlbums(); });

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

QAction* TfrmLumenFold2::Action(const QString& name) const {
  return actxpMain ? actxpMain->findChild<QAction*>(name) : nullptr;
}

TThumbnailThread* TfrmLumenFold2::ThumbnailLoader() const {
  return loader_.data();
}

void TfrmLumenFold2::createActions() {
  actxpMain = new QObject(this);
  actxpMain->setObjectName(QStringLiteral("actxpMain"));
  for (const TActionInfo& info : kActions) {
    auto* a = new QAction(QString::fromLatin1(info.caption), actxpMain);
    a->setObjectName(QString::fromLatin1(info.name));
    a->setProperty("category", QString::fromLatin1(info.category));
    if (*info.shortHint) a->setToolTip(QString::fromLatin1(info.shortHint));
    if (*info.longHint) a->setStatusTip(QString::fromLatin1(info.longHint));
    if (*info.icon) a->setIcon(UiIcon(QString::fromLatin1(info.icon)));
    addAction(a);
  }
  auto on = [this](const char* name, auto&& fn) {
    connect(Action(QString::fromLatin1(name)), &QAction::triggered, this, fn);
  };
  on("actNewProject", [this] { cmdNewProject(); });
  on("actSaveProject", [this] { SaveCurrentProject(); });
  on("actSaveProjectAs", [this] { cmdSaveProjectAs(); });
  on("actOpenProject", [this] { cmdOpenProject(); });
  on("actCloseProject", [this] {
    // Unsaved changes are offered for saving rather than dropped.
    if (askSaveModified()) CloseCurrentProject();
  });
  on("actExit", [this] { close(); });
  on("actDatabase", [this] { cmdDatabase(); });
  on("actOption", [this] { cmdOption(); });
  on("actHelp", [this] { cmdHelp(); });
  on("actAbout", [this] { cmdAbout(); });
  on("actDeleteAlbum", [this] { cmdDeleteAlbum(); });
  on("actAlbumDetail", [this] { cmdAlbumDetail(); });
  on("actDeletePicture", [this] { cmdDeletePicture(); });
  on("actRotateCCW", [this] { cmdTurn(0, false); });
  on("actRotateCW", [this] { cmdTurn(1, false); });
  on("actRotate180", [this] { cmdTurn(2, false); });
  on("actFlip", [this] { cmdTurn(3, false); });
  on("actRotateCCWAll", [this] { cmdTurn(0, true); });
  on("actRotateCWAll", [this] { cmdTurn(1, true); });
  on("actRotate180All", [this] { cmdTurn(2, true); });
  on("actFlipAll", [this] { cmdTurn(3, true); });
  on("actPrivatePicture", [this] { cmdToggleMark(true); });
  on("actMarkDeleted", [this] { cmdToggleMark(false); });
  on("actMakeFacePicture", [this] { cmdMakeFace(); });
  on("actProcessedPicture", [this] { cmdProcessed(); });
  on("actChangeBase", [this] { cmdChangeBase(); });
  on("actRecreateTemp", [this] { cmdRecreateTemp(); });
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

  // Entries by action name; "-" is a separator.
  auto fill = [this](QWidget* target, std::initializer_list<const char*> names) {
    for (const char* n : names) {
      if (QLatin1String(n) == QLatin1String("-")) {
        auto* sep = new QAction(target);
        sep->setSeparator(true);
        target->addAction(sep);
      } else {
        target->addAction(Action(QString::fromLatin1(n)));
      }
    }
  };
  auto menu = [&](const char* title, const char* objectName) {
    QMenu* m = menuBar->addMenu(QString::fromLatin1(title));
    m->setObjectName(QString::fromLatin1(objectName));
    m->setToolTipsVisible(false);
    return m;
  };
  fill(menu("&File", "mnuFile"), {"actNewProject", "actSaveProject", "actSaveProjectAs",
                                  "actOpenProject", "-", "actCloseProject", "-", "actExit"});
  fill(menu("&Album", "mnuAlbum"),
       {"actAddAlbum", "actEditAlbum", "actDeleteAlbum", "-", "actAlbumDetail"});
  fill(menu("&Picture", "mnuPicture"), {"actDeletePicture",
                                        "-",
                                        "actRotateCCW",
                                        "actRotateCW",
                                        "actRotate180",
                                        "actFlip",
                                        "actPrivatePicture",
                                        "actMarkDeleted",
                                        "actMakeFacePicture",
                                        "actAssignCategory",
                                        "actSignPicture",
                                        "-",
                                        "actRotateCCWAll",
                                        "actRotateCWAll",
                                        "actRotate180All",
                                        "actFlipAll",
                                        "actAssignCategoryAll",
                                        "actSignAllPictures",
                                        "-",
                                        "actPictureDetails"});
  QMenu* tools = menu("&Tools", "mnuTools");
  fill(tools, {"actCategories", "actSignatures", "actRenaming", "-", "actDatabase"});
  // The synchronisation entry is kept in the menu but hidden.
  QAction* synchroEntry = tools->addAction(Action(QStringLiteral("actSynchro"))->text());
  synchroEntry->setObjectName(QStringLiteral("mniSynchro"));
  synchroEntry->setVisible(false);
  connect(synchroEntry, &QAction::triggered, Action(QStringLiteral("actSynchro")),
          &QAction::trigger);
  fill(tools, {"-", "actOption", "-", "actProcess"});
  fill(menu("&Help", "mnuHelp"), {"actHelp", "-", "actAbout"});

  fill(toolBar, {"actNewProject",
                 "actSaveProject",
                 "actOpenProject",
                 "-",
                 "actAddAlbum",
                 "actEditAlbum",
                 "actDeleteAlbum",
                 "-",
                 "actProcess",
                 "-",
                 "actCategories",
                 "actSignatures",
                 "actRenaming",
                 "-",
                 "actDatabase",
                 "actOption",
                 "-",
                 "actHelp",
                 "actAbout",
                 "-",
                 "actExit"});

  pmnAlbums = new QMenu(this);
  pmnAlbums->setObjectName(QStringLiteral("pmnAlbums"));
  fill(pmnAlbums, {"actAddAlbum", "actEditAlbum", "actDeleteAlbum", "-", "actProcess"});
  // "Process and zip" opens the same processing selection, where the zip options are chosen.
  QAction* processZip = pmnAlbums->addAction(QStringLiteral("Process and zip"));
  processZip->setObjectName(QStringLiteral("mniProcessAndZip"));
  connect(processZip, &QAction::triggered, Action(QStringLiteral("actProcess")), &QAction::trigger);
  connect(Action(QStringLiteral("actProcess")), &QAction::changed, processZip,
          [this, processZip] { processZip->setEnabled(Action("actProcess")->isEnabled()); });
  fill(pmnAlbums, {"-", "actAlbumDetail"});

  pmnPictures = new QMenu(this);
  pmnPictures->setObjectName(QStringLiteral("pmnPictures"));
  fill(pmnPictures, {"actDeletePicture",
                     "-",
                     "actRotateCCW",
                     "actRotateCW",
                     "actRotate180",
                     "actFlip",
                     "actMakeFacePicture",
                     "actPrivatePicture",
                     "actMarkDeleted",
                     "actAssignCategory",
                     "actSignPicture",
                     "-",
                     "actRotateCCWAll",
                     "actRotateCWAll",
                     "actRotate180All",
                     "actFlipAll",
                     "actAssignCategoryAll",
                     "actSignAllPictures",
                     "-",
                     "actPictureDetails",
                     "-",
                     "actProcessedPicture"});
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
  ui->pnlAlbums->setVisible(open);
  ui->splitterMain->setVisible(open);
  ui->pnlPictures->setVisible(open);
  EnableActions();
}

void TfrmLumenFold2::EnableActions() {
  const bool open = IsProjectOpen();
  const bool album = open && currentAlbum_;
  const bool picture = album && currentPicture_;
  const bool original = picture && QFileInfo::exists(currentPicture_->OriginalPath());
  auto set = [this](std::initializer_list<const char*> names, bool on) {
    for (const char* n : names) {
      const QString name = QString::fromLatin1(n);
      Action(name)->setEnabled(on && IsAvailable(name));
    }
  };
  set({"actNewProject", "actOpenProject", "actExit", "actHelp", "actAbout"}, true);
  set({"actSaveProjectAs", "actCloseProject", "actAddAlbum", "actCategories", "actSignatures",
       "actDatabase", "actOption", "actProcess"},
      open);
  set({"actSaveProject"}, open && project_->Modified);
  set({"actEditAlbum", "actDeleteAlbum", "actAlbumDetail", "actRenaming"}, album);
  set({"actDeletePicture"}, picture);
  set({"actPictureDetails", "actRotateCW", "actRotateCCW", "actRotate180", "actFlip",
       "actSignPicture", "actAssignCategory", "actMakeFacePicture", "actPrivatePicture",
       "actMarkDeleted", "actRotateCCWAll", "actRotateCWAll", "actRotate180All", "actFlipAll",
       "actAssignCategoryAll", "actSignAllPictures", "actProcessedPicture"},
      original);
  set({"actSynchro", "actChangeBase", "actRecreateTemp"}, true);
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
    const int row = lvwMain->IndexOfPicture(reinterpret_cast<const TLumenfoldPicture*>(m->Second));
    if (const TLumenfoldPicture* p = row >= 0 ? lvwMain->Picture(row) : nullptr) {
      lvwMain->SetSubItem(row, 2, TphotoListView::FormatThousands(p->OriginalSize, QLocale()));
      lvwMain->SetSubItem(row, 4,
                          QStringLiteral("%1x%2").arg(p->OriginalWidth).arg(p->OriginalHeight));
      lvwMain->SetSubItem(row, 5, p->OriginalHash);
    }
    repaintAlbums();
    return true;
  }
  if (e->type() == QEvent::StatusTip) {
    statusPanels_[0]->setText(static_cast<QStatusTipEvent*>(e)->tip());
    return true;
  }
  return QMainWindow::event(e);
}

void TfrmLumenFold2::resizeEvent(QResizeEvent* e) {
  QMainWindow::resizeEvent(e);
  statusPanels_[0]->setMaximumWidth(std::max(0, ui->sbrMain->width() - 200));
  statusPanels_[1]->setFixedWidth(100);
  statusPanels_[2]->setFixedWidth(50);
}

bool TfrmLumenFold2::askSaveModified() {
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
  if (!askSaveModified()) {
    e->ignore();
    return;
  }
  StopThumbnailLoader();
  SaveToRegistry();
  e->accept();
}

void TfrmLumenFold2::CloseCurrentProject() {
  StopThumbnailLoader();
  lvwMain->Clear();
  currentAlbum_ = nullptr;
  currentPicture_ = nullptr;
  ui->lbxAlbums->clear();
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
  try {
    saved = project_->SaveToFile() && !project_->Modified;
  } catch (const std::exception& ex) {
    Prompt()->error(QString::fromUtf8(ex.what()));
  }
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
  StopThumbnailLoader();
  lvwMain->Clear();
  currentAlbum_ = nullptr;
  currentPicture_ = nullptr;
  ui->lbxAlbums->clear();
  project_->Albums.Clear();
  project_->Assign(settings);
  project_->ZipEnabled = true;
  project_->ZipFileName =
      IncludeTrailingSeparator(QFileInfo(project_->FileName).absolutePath()) + "albums.zip";
  project_->Modified = true;
  SetCurrentConnectionString(project_->ConnectionString);
  try {
    {
      TWaitCursor busy;
      project_->LoadDatabase();
    }
    FillAlbumList();
  } catch (const std::exception& ex) {
    Prompt()->error(QString::fromUtf8(ex.what()));
  }
  UpdateView();
  setTitle();
  AddRecentProject(RecentProjects(), project_->FileName);
}

void TfrmLumenFold2::OpenProjectFile(const QString& fileName) {
  StopThumbnailLoader();
  // The album objects are freed by the load: forget every reference to them first.
  lvwMain->Clear();
  currentAlbum_ = nullptr;
  currentPicture_ = nullptr;
  ui->lbxAlbums->clear();
  try {
    bool ok;
    {
      TWaitCursor busy;
      ok = project_->LoadFromFile(fileName);
    }
    if (!ok) Prompt()->warning(QStringLiteral("Project file was not load correctly.\n") + fileName);
    FillAlbumList();
  } catch (const std::exception& ex) {
    Prompt()->error(QString::fromUtf8(ex.what()));
  }
  UpdateView();
  // The title names what is open: a file that could not be read at all leaves it unchanged.
  setTitle();
  if (QFileInfo::exists(fileName)) AddRecentProject(RecentProjects(), fileName);
}

void TfrmLumenFold2::ChangeDatabase(const QString& connectionString) {
  TWaitCursor busy;
  StopThumbnailLoader();
  lvwMain->Clear();
  currentAlbum_ = nullptr;
  currentPicture_ = nullptr;
  ui->lbxAlbums->clear();
  project_->ConnectionString = connectionString;
  SetCurrentConnectionString(connectionString);
  project_->Albums.Clear();
  try {
    project_->LoadDatabase();
    FillAlbumList();
  } catch (const std::exception& ex) {
    Prompt()->error(QString::fromUtf8(ex.what()));
  }
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
    if (!LoadFormPlacement(this, FormSettingsKey(QStringLiteral("frmMain")), QPoint(100, 100),
                           QSize(500, 480)))
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
      StopThumbnailLoader();
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

void TfrmLumenFold2::repaintAlbums() {
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
  const QLocale locale;
  const bool icons = ui->rbnThumbnails->isChecked();
  lvwMain->BeginUpdate();
  lvwMain->Clear();
  for (int i = 0; i < currentAlbum_->Pictures.Count(); ++i) {
    TLumenfoldPicture* p = currentAlbum_->Pictures.Pictures(i);
    const QString caption = icons ? QString::number(p->SortOrder) : p->OriginalFileName;
    lvwMain->AddItem(
        caption, p,
        {p->OriginalFileName, TphotoListView::FormatThousands(p->OriginalSize, locale),
         p->PictureDate.isValid() ? locale.toString(p->PictureDate.date(), QLocale::ShortFormat)
                                  : QString(),
         QStringLiteral("%1x%2").arg(p->OriginalWidth).arg(p->OriginalHeight), p->OriginalHash});
  }
  lvwMain->EndUpdate();

  auto* loader = new TThumbnailThread(currentAlbum_, this, lvwMain);
  // Rows of an album that is not in the database yet are written by the album's own save, which
  // links them to its new id; written earlier they would belong to no album.
  if (currentAlbum_->Id == -1) loader->WriteRows = false;
  loader_ = loader;
  connect(loader, &TThumbnailThread::Done, this, [this](TThumbnailThread* done) {
    // A later loader may be running by now: only this one's reference is cleared.
    if (loader_ == done) loader_ = nullptr;
    repaintAlbums();
  });
  loader->start();
}

void TfrmLumenFold2::StopThumbnailLoader() {
  if (!loader_) return;
  QPointer<TThumbnailThread> loader = loader_;
  loader->Terminate();
  // Keep the window painting (and the loader's error box answerable) until its end notification
  // has cleared the reference; user input waits meanwhile.
  while (loader && loader_ == loader) {
    QEventLoop wait;
    connect(loader.data(), &TThumbnailThread::Done, &wait, &QEventLoop::quit);
    QTimer::singleShot(50, &wait, &QEventLoop::quit);
    wait.exec(QEventLoop::ExcludeUserInputEvents);
  }
  if (loader_ == loader) loader_ = nullptr;
}

void TfrmLumenFold2::viewModeChanged() {
  const bool icons = ui->rbnThumbnails->isChecked();
  lvwMain->SetReadOnly(icons);
  for (int row = 0; row < lvwMain->Count(); ++row) {
    if (TLumenfoldPicture* p = lvwMain->Picture(row))
      lvwMain->SetCaption(row, icons ? QString::number(row) : p->OriginalFileName);
  }
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
                       {QStringLiteral("hash"), 60, Qt::AlignLeft}});
  // The file name is edited in its own column (the caption column has no width).
  lvwMain->SetEditColumn(1);
  connect(lvwMain, &TphotoListView::SelectItem, this,
          [this](int, TLumenfoldPicture* picture, bool) {
            currentPicture_ = picture;
            UpdateView();
          });
  connect(lvwMain, &TphotoListView::ItemDoubleClicked, this, [this] {
    if (currentPicture_) invokeAction(QStringLiteral("actPictureDetails"));
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
    return QStringLiteral("Categories:\n") +
           project_->Categories.CategoryTitles(p->CategoryIds, QStringLiteral("\n"));
  };
  lvwMain->OnActionClick = [this](TphotoListView*, int number) { actionClicked(number); };
}

QList<TLumenfoldPicture*> TfrmLumenFold2::selectedPictures() const {
  return lvwMain->SelectedPictures();
}

QList<TLumenfoldPicture*> TfrmLumenFold2::allPictures() const {
  QList<TLumenfoldPicture*> list;
  for (int row = 0; row < lvwMain->Count(); ++row)
    if (TLumenfoldPicture* p = lvwMain->Picture(row)) list.append(p);
  return list;
}

void TfrmLumenFold2::repaintPictures() {
  lvwMain->CurrentList()->viewport()->update();
}

void TfrmLumenFold2::showPictureCount() {
  statusPanels_[1]->setText(currentAlbum_ ? QString::number(currentAlbum_->Pictures.Count()) +
                                                QStringLiteral(" pictures")
                                          : QString());
}

void TfrmLumenFold2::fileNameEdited(int row, const QString& text) {
  TLumenfoldPicture* p = lvwMain->Picture(row);
  if (!p || text.trimmed().isEmpty()) return;
  // The typed name keeps its base; the extension is always ".jpg".
  QString name = text.trimmed();
  const int slash = std::max(name.lastIndexOf('/'), name.lastIndexOf('\\'));
  const int dot = name.lastIndexOf('.');
  if (dot > slash && dot > 0) name.truncate(dot);
  name += QStringLiteral(".jpg");
  if (!p->RenameTo(name)) {
    Prompt()->error(QStringLiteral("The picture could not be renamed to ") + name + '.');
    lvwMain->SetSubItem(row, 1, p->OriginalFileName);
    lvwMain->SetCaption(row, p->OriginalFileName);
    return;
  }
  p->SetDirty(true);
  lvwMain->SetSubItem(row, 1, p->OriginalFileName);
  lvwMain->SetCaption(row, p->OriginalFileName);
  repaintPictures();
  // The file on disk has its new name now: the database follows at once, whether or not the
  // project had unsaved changes before the edit.
  EnableActions();
  invokeAction(QStringLiteral("actSaveProject"));
}

void TfrmLumenFold2::invokeAction(const QString& name) {
  QAction* a = Action(name);
  if (a && a->isEnabled()) a->trigger();
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

// --- Commands ------------------------------------------------------------------------------------

void TfrmLumenFold2::cmdNewProject() {
  // Unsaved changes of the open project are offered for saving before they are replaced.
  if (!askSaveModified()) return;
  TLumenfoldProject settings;
  settings.Assign(*project_);
  if (TfrmNewProject::Execute(this, settings)) StartNewProject(settings);
}

void TfrmLumenFold2::cmdOpenProject() {
  if (!askSaveModified()) return;
  TFileDialogRequest request;
  request.save = false;
  request.title = QStringLiteral("Open LumenFold project");
  request.defaultSuffix = QStringLiteral("lumenfold");
  request.filter = kProjectFilter;
  const QString file = ChooseFileName(this, request);
  if (!file.isEmpty()) OpenProjectFile(file);
}

void TfrmLumenFold2::cmdSaveProjectAs() {
  TFileDialogRequest request;
  request.save = true;
  request.title = QStringLiteral("Save LumenFold project");
  request.defaultSuffix = QStringLiteral("lumenfold");
  request.initialName = project_->FileName;
  request.filter = kProjectFilter;
  const QString file = ChooseFileName(this, request);
  if (file.isEmpty()) return;
  project_->FileName = file;
  SaveCurrentProject();
}

void TfrmLumenFold2::cmdDatabase() {
  QString connection = project_->ConnectionString;
  if (TfrmDatabase::Execute(this, connection) && connection != project_->ConnectionString)
    ChangeDatabase(connection);
  UpdateView();
}

void TfrmLumenFold2::cmdOption() {
  // The dialog works on its own copy and writes it back only after OK.
  if (TfrmOptions::Edit(this, *project_, false)) {
    project_->Modified = true;
    UpdateView();
  }
}

void TfrmLumenFold2::ShowStartDialog() {
  TfrmFirst dlg(this);
  dlg.SetRecentProjects(RecentProjects());
  if (dlg.exec() != QDialog::Accepted) return;
  startNew_ = dlg.NewProjectChosen();
  if (startNew_)
    cmdNewProject();
  else if (!dlg.SelectedProject().isEmpty())
    OpenProjectFile(dlg.SelectedProject());
}

void TfrmLumenFold2::cmdDeleteAlbum() {
  if (!currentAlbum_) return;
  if (!Prompt()->confirm(QStringLiteral("Do you really want to delete album?"))) return;
  TWaitCursor busy;
  StopThumbnailLoader();
  TLumenfoldAlbum* album = currentAlbum_;
  lvwMain->Clear();
  ui->lbxAlbums->clear();
  currentAlbum_ = nullptr;
  currentPicture_ = nullptr;
  try {
    project_->DeleteAlbum(album);
  } catch (const std::exception& ex) {
    Prompt()->error(QString::fromUtf8(ex.what()));
  }
  FillAlbumList();
}

void TfrmLumenFold2::cmdAlbumDetail() {
  if (!currentAlbum_) return;
  TfrmAlbumDetail dlg(this);
  dlg.Album().Assign(*currentAlbum_);
  dlg.SetPictureCount(currentAlbum_->Pictures.Count());
  if (TLumenfoldPicture* face = currentAlbum_->GetFacePicture())
    if (TLumenfoldBitmap thumb = face->Thumbnail()) dlg.SetFaceImage(*thumb);
  if (dlg.exec() != QDialog::Accepted || dlg.Album().Equals(*currentAlbum_)) return;
  if (dlg.Album().Path != currentAlbum_->Path) {
    StopThumbnailLoader();
    lvwMain->Clear();
    currentPicture_ = nullptr;
    currentAlbum_->Assign(dlg.Album());
    currentAlbum_->LoadPictures();
    FillPictureView();
  } else {
    currentAlbum_->AssignFields(dlg.Album());
  }
  currentAlbum_->SetDirty(true);
  if (QListWidgetItem* item = ui->lbxAlbums->currentItem()) item->setText(currentAlbum_->ShortName);
  repaintAlbums();
  albumSelected();
}

void TfrmLumenFold2::cmdDeletePicture() {
  if (!currentAlbum_ || !currentPicture_) return;
  if (!Prompt()->confirm(QStringLiteral("Are you sure you want to delete picture?"))) return;
  // The loader walks the album's picture list: it must be gone before pictures leave it.
  StopThumbnailLoader();
  const QList<TLumenfoldPicture*> selected = selectedPictures();
  lvwMain->Clear();
  currentPicture_ = nullptr;
  for (auto it = selected.crbegin(); it != selected.crend(); ++it) {
    try {
      (*it)->DeleteWithFiles();
    } catch (const std::exception& ex) {
      Prompt()->error(QString::fromUtf8(ex.what()));
    }
  }
  FillPictureView();
  statusPanels_[1]->setText(QString::number(currentAlbum_->Pictures.Count()) +
                            QStringLiteral(" pictures"));
  albumSelected();
}

void TfrmLumenFold2::cmdTurn(int kind, bool all) {
  const QList<TLumenfoldPicture*> pictures = all ? allPictures() : selectedPictures();
  for (TLumenfoldPicture* p : pictures) {
    switch (kind) {
    case 0:
      p->RotateCCW();
      break;
    case 1:
      p->RotateCW();
      break;
    case 2:
      p->Rotate180();
      break;
    default:
      p->Flip();
      break;
    }
  }
  if (all) {
    repaintPictures();
  } else {
    // The face thumbnail in the album list may have turned as well.
    repaintAlbums();
    lvwMain->InvalidateSelected();
  }
  UpdateView();
}

void TfrmLumenFold2::cmdToggleMark(bool privateMark) {
  for (TLumenfoldPicture* p : selectedPictures()) {
    if (privateMark)
      p->IsPrivate = !p->IsPrivate;
    else
      p->IsDeleted = !p->IsDeleted;
    p->SetDirty(true);
  }
  lvwMain->InvalidateSelected();
  UpdateView();
}

void TfrmLumenFold2::cmdMakeFace() {
  if (!currentAlbum_) return;
  for (TLumenfoldPicture* p : selectedPictures())
    p->SetIsFace(!p->IsFace);
  currentAlbum_->SetDirty(true);
  repaintAlbums();
  repaintPictures();
  UpdateView();
}

void TfrmLumenFold2::cmdProcessed() {
  for (TLumenfoldPicture* p : selectedPictures())
    p->SetModified(true);
  UpdateView();
}

void TfrmLumenFold2::cmdChangeBase() {
  TfrmChangeBase dlg(this);
  dlg.SetInitialFolder(ProgramFolder());
  if (dlg.exec() != QDialog::Accepted) return;
  const QString search = dlg.SearchText();
  const QString replacement = dlg.ReplaceText();
  {
    TWaitCursor busy;
    // An empty search text matches nothing (it would otherwise insert the replacement everywhere).
    if (!search.isEmpty()) {
      for (int i = 0; i < project_->Albums.Count(); ++i) {
        TLumenfoldAlbum* album = project_->Albums.Albums(i);
        QString path = album->Path;
        album->SetPath(path.replace(search, replacement, Qt::CaseSensitive));
      }
    }
  }
  if (currentAlbum_) ui->lblAlbumPath->setText(currentAlbum_->Path);
  repaintAlbums();
  UpdateView();
}

void TfrmLumenFold2::cmdRecreateTemp() {
  {
    TWaitCursor busy;
    StopThumbnailLoader();
    lvwMain->Clear();
    currentAlbum_ = nullptr;
    currentPicture_ = nullptr;
    ui->lbxAlbums->clear();
    // Every original is read again: show progress and keep the window painting.
    QProgressDialog progress(QStringLiteral("Reading the original pictures..."),
                             QStringLiteral("Stop"), 0, project_->Albums.Count(), this);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    try {
      for (int i = 0; i < project_->Albums.Count() && !progress.wasCanceled(); ++i) {
        progress.setValue(i);
        TLumenfoldAlbum* album = project_->Albums.Albums(i);
        // Pictures already in memory may carry unsaved edits (or belong to an album that is not
        // stored yet): they are refreshed where they are instead of being read back.
        if (!album->Loaded) album->LoadPictures();
        for (int k = 0; k < album->Pictures.Count() && !progress.wasCanceled(); ++k) {
          album->Pictures.Pictures(k)->RefreshOriginalInfo();
          QCoreApplication::processEvents();
        }
      }
      progress.setValue(project_->Albums.Count());
    } catch (const std::exception& ex) {
      Prompt()->error(QString::fromUtf8(ex.what()));
    }
  }
  FillAlbumList();
}

void TfrmLumenFold2::cmdAbout() {
  TfrmLumenFold2Splash::ShowSplash(this, true);
}

void TfrmLumenFold2::cmdHelp() {
  const QString file = ProgramFolder() + QStringLiteral("LumenFoldHelp.chm");
  if (!QFileInfo::exists(file) || !QDesktopServices::openUrl(QUrl::fromLocalFile(file)))
    Prompt()->error(QStringLiteral("The help file could not be opened:\n") + file);
}

void TfrmLumenFold2::actionClicked(int number) {
  static const char* const kButtons[] = {
      "actRotateCCW",      "actRotateCW",    "actRotate180",       "actFlip",
      "actPrivatePicture", "actMarkDeleted", "actMakeFacePicture", "actAssignCategory",
      "actSignPicture"};
  if (number >= 0 && number < int(std::size(kButtons)))
    invokeAction(QString::fromLatin1(kButtons[number]));
  UpdateView();
}
