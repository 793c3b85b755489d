#include "screenshots.h"

#include "core/album.h"
#include "core/project.h"
#include "processing/thumbnailthread.h"
#include "ui/frmalbumdetail.h"
#include "ui/frmchangebase.h"
#include "ui/frmdatabase.h"
#include "ui/frmfirst.h"
#include "ui/frmmain.h"
#include "ui/frmnewproject.h"
#include "ui/frmoptions.h"
#include "ui/frmprocessselection.h"
#include "ui/frmprogress.h"
#include "ui/frmsplash.h"
#include "util/helpers.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QListWidget>
#include <QProgressBar>
#include <QRadioButton>
#include <QScreen>
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

void Run(TfrmLumenFold2* w) {
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
  }

  auto* first = new TfrmFirst(w);
  first->SetRecentProjects(RecentProjects());
  Shoot(first, QStringLiteral("dialog-first"));

  auto* newProject = new TfrmNewProject(w);
  newProject->Project().Assign(*w->Project());
  Shoot(newProject, QStringLiteral("dialog-newproject"));

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

  ShootProcessing(w);
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
