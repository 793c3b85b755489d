#include "screenshots.h"

#include "core/album.h"
#include "core/destinations.h"
#include "core/outputsettings.h"
#include "core/project.h"
#include "processing/processingjob.h"
#include "processing/thumbnailthread.h"
#include "ui/album/frmalbumdetail.h"
#include "ui/album/frmchangebase.h"
#include "ui/album/frmnewalbum.h"
#include "ui/album/frmrenaming.h"
#include "ui/album/frmsynchro.h"
#include "ui/category/frmcategorydetail.h"
#include "ui/category/frmselectcategory.h"
#include "ui/mainwindow/albumcommands.h"
#include "ui/mainwindow/frmfirst.h"
#include "ui/mainwindow/frmmain.h"
#include "ui/mainwindow/frmsplash.h"
#include "ui/photolist/photolistview.h"
#include "ui/photolist/pictureviewer.h"
#include "ui/picture/frmpicturedetail.h"
#include "ui/picture/frmscale.h"
#include "ui/processing/frmprocessselection.h"
#include "ui/processing/frmprogress.h"
#include "ui/processing/frmpublish.h"
#include "ui/project/frmdatabase.h"
#include "ui/project/frmnewproject.h"
#include "ui/project/frmoptions.h"
#include "ui/signature/frmselectsignature.h"
#include "ui/signature/frmsignatureitems.h"
#include "ui/signature/frmsignatures.h"
#include "util/helpers.h"
#include "util/userprompt.h"

#include <QApplication>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShortcut>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QTimer>
#include <functional>

namespace {

void Settle(int milliseconds = 150) {
  QDeadlineTimer until(milliseconds);
  while (!until.hasExpired()) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(10);
  }
}

void Save(QWidget* w, const QString& name) {
  Settle();
  const QString file = QDir(ScreenshotFolder()).filePath(name + QStringLiteral(".png"));
  const bool ok = w->grab().save(file);
  QTextStream(stderr) << (ok ? "saved " : "FAILED ") << file << '\n';
  // On a real display also what the screen shows (all windows as the X server draws them).
  if (QGuiApplication::platformName() == QLatin1String("xcb"))
    if (QScreen* screen = QGuiApplication::primaryScreen())
      screen->grabWindow(0).save(
          QDir(ScreenshotFolder()).filePath(QStringLiteral("screen-") + name + ".png"));
}

// Shows a dialog without entering its modal loop, saves its picture and closes it.
void Shoot(QDialog* dialog, const QString& name) {
  dialog->show();
  Save(dialog, name);
  dialog->reject();
  delete dialog;
}

// The album wizard page by page (edit mode on a copy of the current album), the renaming and the
// synchronisation dialogs.
void ShootAlbumDialogs(TfrmLumenFold2* w) {
  TLumenfoldAlbum* current = w->CurrentAlbum();
  if (!current) return;
  Shoot(new TfrmRenaming(w, w->Project(), current), QStringLiteral("dialog-renaming"));
  auto* synchro = new TfrmSynchro(w, w->Project());
  synchro->SetAlbum(*current);
  Shoot(synchro, QStringLiteral("dialog-synchro"));

  TLumenfoldAlbum copy(w->Project());
  copy.Assign(*current);
  const TWizardPages pages = w->Project()->WizardPages;
  w->Project()->WizardPages = kAllWizardPages;
  auto* wizard = new TfrmNewAlbum(w, w->Project(), &copy, AlbumWizardEditors());
  wizard->show();
  for (int page = 0; page < TfrmNewAlbum::pgCount; ++page) {
    QDeadlineTimer until(60000);
    while (wizard->ThumbnailLoader() && !until.hasExpired())
      Settle(100);
    Save(wizard, QStringLiteral("wizard-%1").arg(page + 1));
    if (page + 1 == TfrmNewAlbum::pgCount) break;
    auto* next = wizard->findChild<QPushButton*>(QStringLiteral("bbnNext"));
    auto* skip = wizard->findChild<QPushButton*>(QStringLiteral("bbnSkip"));
    (next->isEnabled() ? next : skip)->click();
  }
  {
    // Cancel asks whether to drop what was typed; the pictures are taken, so the answer is Yes.
    struct TYes : UserPrompt {
      void error(const QString&) override {}
      void warning(const QString&) override {}
      bool confirm(const QString&) override { return true; }
    } yes;
    UserPrompt* previous = SetPrompt(&yes);
    wizard->reject();
    SetPrompt(previous);
  }
  delete wizard;
  w->Project()->WizardPages = pages;
}

// The processing windows: the selection, then the progress window during a real run that
// regenerates every picture of the project.
void ShootProcessing(TfrmLumenFold2* w) {
  Shoot(new TfrmProcessSelection(w->Project(), w), QStringLiteral("dialog-process"));
  if (w->Project()->Albums.Count() == 0) return;
  w->StopThumbnailLoader(); // the run changes pictures from its own thread
  TfrmProgress progress(w->Project(), w);
  progress.Request.AllModified = false;
  for (int i = 0; i < w->Project()->Albums.Count(); ++i)
    progress.Request.AlbumPositions << i;
  progress.Request.ProcessAll = true;
  progress.show();
  auto* bar = progress.findChild<QProgressBar*>(QStringLiteral("pbrProcess"));
  QDeadlineTimer until(120000);
  while (bar && bar->value() == 0 && progress.isVisible() && !until.hasExpired())
    Settle(20);
  Save(&progress, QStringLiteral("dialog-progress"));
  while (progress.isVisible() && !until.hasExpired())
    Settle(100);
}

// The publish window with two destinations and, when the demo project has its site archive, the
// plan of a first publish to an empty folder. The project's destinations are put back after.
void ShootPublish(TfrmLumenFold2* w) {
  TLumenfoldProject* project = w->Project();
  const QList<TPublishDestination> destinations = project->Destinations;
  const QString publishId = project->PublishId;
  const bool modified = project->Modified;
  QTemporaryDir server;
  AddDestination(*project, {QStringLiteral("web"),
                            QStringLiteral("sftp://photographer@example.org/public_html"),
                            QStringLiteral("~/.ssh/id_ed25519"),
                            {},
                            {},
                            {}});
  AddDestination(
      *project,
      {QStringLiteral("preview"), QStringLiteral("file://") + server.path(), {}, {}, {}, {}});
  auto* dialog = new TfrmPublish(project, w);
  dialog->resize(720, 560);
  dialog->show();
  if (auto* list = dialog->findChild<QListWidget*>(QStringLiteral("lstDestinations")))
    list->setCurrentRow(1);
  const bool site = QFileInfo::exists(ResolveZipFileName(*project, project->ZipFileName)) &&
                    ArchiveWithoutTemplateWarning(*project).isEmpty();
  if (site && server.isValid()) {
    // A message box of the plan (there should be none) is closed, so that the run goes on.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) box->reject();
    });
    closer.start(50);
    dialog->findChild<QPushButton*>(QStringLiteral("btnPlan"))->click();
  }
  Save(dialog, QStringLiteral("dialog-publish"));
  dialog->reject();
  delete dialog;
  project->Destinations = destinations;
  project->PublishId = publishId;
  project->Modified = modified;
}

void Run(TfrmLumenFold2* w) {
  // Large enough to show a few thumbnails side by side; LUMENFOLD_SCREENSHOT_SIZE ("1600x1000")
  // asks for another size.
  const QStringList size =
      qEnvironmentVariable("LUMENFOLD_SCREENSHOT_SIZE").split(QLatin1Char('x'));
  if (size.size() == 2 && size[0].toInt() > 0 && size[1].toInt() > 0)
    w->resize(size[0].toInt(), size[1].toInt());
  else
    w->resize(880, 620);
  Save(w, QStringLiteral("main-empty"));
  const QString project = qEnvironmentVariable("LUMENFOLD_SCREENSHOT_PROJECT");
  if (!project.isEmpty()) {
    w->OpenProjectFile(project);
    // Let the thumbnail loader finish so that the previews show.
    QDeadlineTimer until(60000);
    while (w->ThumbnailLoader() && !until.hasExpired())
      Settle(100);
    Save(w, QStringLiteral("main-thumbnails"));
    if (auto* report = w->findChild<QRadioButton*>(QStringLiteral("rbnReport"))) {
      report->click();
      Save(w, QStringLiteral("main-details"));
      w->findChild<QRadioButton*>(QStringLiteral("rbnThumbnails"))->click();
    }
    // The viewer, once its sharp picture is there.
    if (TphotoListView* view = w->PictureView(); view && view->Count() > 0) {
      view->SetSelected(0, true);
      view->setFocus();
      // The window's Space shortcut, as a key press would fire it (the window may lack focus).
      for (QShortcut* shortcut : w->findChildren<QShortcut*>())
        if (shortcut->key() == QKeySequence(Qt::Key_Space)) emit shortcut->activated();
      QDeadlineTimer shown(10000);
      while (!(w->Viewer()->isVisible() && w->Viewer()->Ready()) && !shown.hasExpired())
        Settle(50);
      Save(w, QStringLiteral("main-viewer"));
      QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
      QApplication::sendEvent(w->Viewer(), &escape);
      Settle(100);
    }
  }

  auto* first = new TfrmFirst(w);
  first->SetRecentProjects(RecentProjects());
  Shoot(first, QStringLiteral("dialog-first"));

  // What a first new project is offered: default settings, no file name yet.
  Shoot(new TfrmNewProject(w), QStringLiteral("dialog-newproject"));

  auto* database = new TfrmDatabase(w);
  database->SetConnectionString(w->Project()->ConnectionString);
  Shoot(database, QStringLiteral("dialog-database"));

  auto* options = new TfrmOptions(w);
  options->LoadFrom(*w->Project());
  Shoot(options, QStringLiteral("dialog-options"));
  options = new TfrmOptions(w);
  options->LoadFrom(*w->Project());
  options->ShowImagesPage();
  Shoot(options, QStringLiteral("dialog-options-images"));

  Shoot(new TfrmChangeBase(w), QStringLiteral("dialog-changebase"));

  auto* splash = new TfrmLumenFold2Splash(w);
  splash->SetVersionText(TfrmLumenFold2Splash::VersionText());
  Shoot(splash, QStringLiteral("splash"));
  auto* about = new TfrmLumenFold2Splash(w);
  about->SetAboutMode(true);
  about->SetVersionText(TfrmLumenFold2Splash::VersionText());
  Shoot(about, QStringLiteral("about"));

  if (w->CurrentAlbum()) {
    auto* album = new TfrmAlbumDetail(w);
    album->Album().Assign(*w->CurrentAlbum());
    album->SetPictureCount(w->CurrentAlbum()->Pictures.Count());
    Shoot(album, QStringLiteral("dialog-album"));
  }
  ShootAlbumDialogs(w);

  TLumenfoldProject* model = w->Project();
  if (TLumenfoldAlbum* current = w->CurrentAlbum(); current && !current->Pictures.IsEmpty()) {
    QList<TLumenfoldPicture*> pictures;
    for (int i = 0; i < current->Pictures.Count(); ++i)
      pictures << current->Pictures.Pictures(i);
    auto* picture = new TfrmPictureDetail(w);
    picture->SetProject(model);
    picture->SetPictures(pictures, 0);
    picture->resize(900, 680);
    picture->show();
    picture->findChild<QCheckBox*>(QStringLiteral("cbxCrop"))->click();
    Settle(1500); // the finer filter comes after the refinement delay
    Shoot(picture, QStringLiteral("dialog-picture"));

    auto* chooser = new TfrmSelectCategory(w);
    chooser->SetProject(model);
    for (TLumenfoldPicture* p : pictures.mid(0, 4))
      chooser->AddPicture(p);
    Shoot(chooser, QStringLiteral("dialog-selectcategory"));

    auto* signer = new TfrmSelectSignature(w);
    signer->SetProject(model);
    for (TLumenfoldPicture* p : pictures.mid(0, 2))
      signer->AddPicture(p);
    Shoot(signer, QStringLiteral("dialog-selectsignature"));
  }
  auto* categories = new TfrmCategoryDetail(w);
  categories->SetProject(model);
  Shoot(categories, QStringLiteral("dialog-categories"));
  auto* items = new TfrmSignatureItems(w);
  items->SetProject(model);
  Shoot(items, QStringLiteral("dialog-signatureitems"));
  auto* signatures = new TfrmSignatures(w);
  signatures->SetProject(model);
  Shoot(signatures, QStringLiteral("dialog-signatures"));
  Shoot(new TfrmScale(w), QStringLiteral("dialog-scale"));

  ShootPublish(w);
  ShootProcessing(w);
  // The run changed the demo project; it is thrown away, so closing must not ask to save it
  // (nobody would answer the question, and the pictures of the next platform would not be taken).
  w->Project()->Modified = false;
  QApplication::quit();
}

} // namespace

QString ScreenshotFolder() {
  return qEnvironmentVariable("LUMENFOLD_SCREENSHOTS");
}

void ScheduleScreenshots(TfrmLumenFold2* window) {
  window->StartDialogOnShow = false;
  QDir().mkpath(ScreenshotFolder());
  QTimer::singleShot(300, window, [window] { Run(window); });
}
