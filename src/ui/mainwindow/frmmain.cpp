#include "ui/mainwindow/frmmain.h"
#include "ui_frmmain.h"

#include "core/album.h"
#include "core/category.h"
#include "core/picture.h"
#include "core/project.h"
#include "core/projectlock.h"
#include "core/projectops.h"
#include "db/sqlaccess.h"
#include "processing/thumbnailthread.h"
#include "ui/album/albumlistdelegate.h"
#include "ui/common/settingsstore.h"
#include "ui/common/uiresources.h"
#include "ui/common/waitcursor.h"
#include "ui/mainwindow/albumcommands.h"
#include "ui/mainwindow/frmfirst.h"
#include "ui/mainwindow/projectcommands.h"
#include "ui/mainwindow/runcommand.h"
#include "ui/mainwindow/startpage.h"
#include "ui/photolist/photolistcontrols.h"
#include "ui/photolist/photolistview.h"
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
#include <QHelpEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QStyle>
#include <QTimer>
#include <QToolTip>
#include <QUrl>

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
