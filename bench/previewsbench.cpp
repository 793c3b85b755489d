// Desktop memory benchmark: the main window opens a project and shows its albums one after
// another, as a person clicking down the album list would, and scrolls each through once.
//
// Printed per album: pictures, the time from the click to the first screen of previews (every
// row on screen has its preview), the time to complete (the loader has ended and the rows on
// screen have their previews), and the resident memory then; at the end the peak resident
// memory of the whole run and the bound of the preview cache.
//
//   bench_previews PROJECT.lumenfold [bound in MB, 0: no bound]
//
// With BENCH_PREVIEWS_NO_SCROLL=1 in the environment each album is left once it is complete (for
// profiling the loader alone).
// The project is read and its albums' "ps_tmp" previews are written, as the desktop does.
#include "core/album.h"
#include "core/picture.h"
#include "core/previewcache.h"
#include "core/project.h"
#include "processing/thumbnailthread.h"
#include "ui/mainwindow/frmmain.h"
#include "ui/photolist/photolistview.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QScrollBar>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <limits>
#include <sys/resource.h>

namespace {

// A field of /proc/self/status in MB ("VmRSS", "VmHWM").
double StatusMegabytes(const char* field) {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly)) return -1;
  const QByteArray key = QByteArray(field) + ':';
  for (const QByteArray& line : status.readAll().split('\n'))
    if (line.startsWith(key))
      return line.mid(key.size()).trimmed().split(' ').value(0).toDouble() / 1024.0;
  return -1;
}

// Seconds of processor time the whole process has used (every thread, user and system).
double ProcessorSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The first row on screen without its preview, or -1. Only the rows from the first one on screen
// are looked at (the check runs every few milliseconds beside the loader).
int VisibleMissing(TphotoListView* view) {
  const QRect area = view->IconViewport()->rect();
  int start = 0;
  for (int x = 1; x < area.width(); x += 16) {
    const QModelIndex index = view->IconList()->indexAt(QPoint(x, 1));
    if (index.isValid()) {
      start = index.row();
      break;
    }
  }
  for (int row = std::max(0, start - 64); row < view->Count(); ++row) {
    const QRect rect = view->ItemRect(row);
    if (rect.top() > area.bottom()) break;
    if (!rect.intersects(area)) continue;
    TLumenfoldPicture* p = view->Picture(row);
    if (p && !p->OriginalMissing && !p->Thumbnail()) return row;
  }
  return -1;
}

// A row still without its preview after a long wait is named, once per album.
bool VisibleShown(TphotoListView* view) {
  static QElapsedTimer since;
  const int row = VisibleMissing(view);
  if (row < 0) {
    since.invalidate();
    return true;
  }
  if (!since.isValid()) since.start();
  if (since.elapsed() > 5000) {
    std::fprintf(stderr, "row %d (%s) has no preview after 5 s; painted rows %d, last %d\n", row,
                 qPrintable(view->Picture(row)->TempThumbPath()), view->PaintedItems(),
                 view->PaintedRows().isEmpty() ? -1 : view->PaintedRows().last());
    since.invalidate();
    return true;
  }
  return false;
}

// Runs the event loop until done() holds; false after ten minutes without.
template <class F> bool RunUntil(F done) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > 600000) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(1);
  }
  return true;
}

} // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_previews PROJECT.lumenfold [bound MB, 0: none]\n");
    return 2;
  }
  if (argc > 2) {
    const qint64 mb = QByteArray(argv[2]).toLongLong();
    PreviewCache().SetLimitBytes(mb > 0 ? mb * 1024 * 1024
                                        : std::numeric_limits<qint64>::max() / 2);
  }
  TfrmLumenFold2 w;
  w.StartDialogOnShow = false;
  w.resize(1280, 900);
  w.show();
  w.OpenProjectFile(QString::fromLocal8Bit(argv[1]));
  auto* albums = w.findChild<QListWidget*>(QStringLiteral("lbxAlbums"));
  if (!albums || albums->count() == 0) {
    std::fprintf(stderr, "no albums in %s\n", argv[1]);
    return 1;
  }
  TphotoListView* view = w.PictureView();
  std::printf("%-24s %8s %12s %12s %10s %10s %10s\n", "album", "pictures", "first (s)",
              "complete (s)", "CPU (s)", "RSS (MB)", "scrolled");
  for (int row = 0; row < albums->count(); ++row) {
    QElapsedTimer t;
    t.start();
    w.SelectAlbum(row);
    const bool first = RunUntil([&] { return VisibleShown(view); });
    const double firstSeconds = t.elapsed() / 1000.0;
    const double cpuBefore = ProcessorSeconds();
    const bool complete = RunUntil([&] { return !w.ThumbnailLoader() && VisibleShown(view); });
    const double completeSeconds = t.elapsed() / 1000.0;
    const double cpuSeconds = ProcessorSeconds() - cpuBefore;
    const double rss = StatusMegabytes("VmRSS");
    // Once down the album, screen by screen.
    QScrollBar* bar = view->IconList()->verticalScrollBar();
    const bool scroll = qEnvironmentVariableIntValue("BENCH_PREVIEWS_NO_SCROLL") == 0;
    for (int value = 0; scroll && value <= bar->maximum(); value += qMax(1, bar->pageStep())) {
      bar->setValue(value);
      RunUntil([&] { return VisibleShown(view); });
    }
    std::printf("%-24s %8d %12.2f %12.2f %10.1f %10.0f %10.0f%s\n",
                qPrintable(w.CurrentAlbum() ? w.CurrentAlbum()->ShortName : QString()),
                view->Count(), firstSeconds, completeSeconds, cpuSeconds, rss,
                StatusMegabytes("VmRSS"), first && complete ? "" : "  (gave up waiting)");
    std::fflush(stdout);
  }
  std::printf("peak resident memory: %.0f MB; preview cache bound %.0f MB, held now %.1f MB\n",
              StatusMegabytes("VmHWM"), PreviewCache().LimitBytes() / 1048576.0,
              PreviewCache().Bytes() / 1048576.0);
  w.StopThumbnailLoader();
  w.CloseCurrentProject();
  return 0;
}
