// Album wizard benchmark: the pictures page of the add-album wizard on a folder of camera-sized
// originals, against the thumbnail loader bench's peer measured in the same run (the checksum of
// every file plus `djpeg -scale 1/8` of it).
//
// Printed: the time to read the folder (entering the page), to the first preview shown, and to
// the last; the longest the window's event loop went without running (a timer ticks every
// 10 ms while the loader works); and the processor and wall-clock ratios against the peer.
//
//   bench_wizard <folder of JPEG files> [peer files]
//
// peer files: how many of the folder's files the peer visits (default all); its time is scaled
// up to the whole folder. The folder is read, never changed, except for the previews that the
// loader writes into its "ps_tmp" sub-folder (removed before the run).
#include "core/album.h"
#include "core/picture.h"
#include "core/project.h"
#include "processing/thumbnailthread.h"
#include "ui/common/filedialogs.h"
#include "ui/album/frmnewalbum.h"
#include "util/helpers.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <sys/resource.h>

namespace {

// Processor seconds of this process (all threads) and of its finished children.
double CpuSeconds() {
  double total = 0;
  for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
    rusage u{};
    getrusage(who, &u);
    total +=
        u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
  }
  return total;
}

struct Time {
  double Wall = 0, Cpu = 0;
};

Time Peer(const QStringList& files) {
  QElapsedTimer t;
  const double cpu = CpuSeconds();
  t.start();
  for (const QString& f : files)
    if (GetFileHash(f).isEmpty()) qFatal("cannot hash %s", qPrintable(f));
  for (const QString& f : files) {
    QProcess djpeg;
    djpeg.setStandardOutputFile(QProcess::nullDevice());
    djpeg.start(QStringLiteral("djpeg"), {"-scale", "1/8", f});
    if (!djpeg.waitForFinished(60000) || djpeg.exitCode() != 0)
      qFatal("djpeg failed on %s", qPrintable(f));
  }
  return {t.nsecsElapsed() / 1e9, CpuSeconds() - cpu};
}

void Click(QWidget* w, const char* name) {
  auto* b = w->findChild<QPushButton*>(QLatin1String(name));
  if (!b || !b->isEnabled()) qFatal("%s is missing or disabled", name);
  b->click();
}

} // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QTemporaryDir settings;
  qputenv("XDG_CONFIG_HOME", settings.path().toLocal8Bit());
  const QStringList args = app.arguments();
  if (args.size() < 2) {
    std::fprintf(stderr, "usage: bench_wizard <folder of JPEG files> [peer files]\n");
    return 2;
  }
  const QString folder = QDir(args[1]).absolutePath();
  QStringList files;
  for (const QString& name : QDir(folder).entryList({"*.jpg", "*.jpeg"}, QDir::Files, QDir::Name))
    files << QDir(folder).filePath(name);
  if (files.isEmpty()) qFatal("no JPEG files in %s", qPrintable(folder));
  const int peerCount =
      args.size() > 2 ? std::clamp(args[2].toInt(), 1, int(files.size())) : int(files.size());
  QDir(QDir(folder).filePath("ps_tmp")).removeRecursively();
  QTextStream out(stdout);

  // The peer first (it also brings the files into the file cache, as the user's folder would be
  // after copying it from the camera).
  const QStringList peerFiles = files.mid(0, peerCount);
  Peer(peerFiles.mid(0, std::min<qsizetype>(peerFiles.size(), 10)));
  const Time peerPart = Peer(peerFiles);
  const double scale = double(files.size()) / peerCount;
  const Time peer{peerPart.Wall * scale, peerPart.Cpu * scale};

  TLumenfoldProject project;
  project.Reset();
  TfrmNewAlbum wizard(nullptr, &project);
  wizard.show();
  SetBrowseFolderHook([folder](const QString&, const QString&) { return folder; });
  Click(&wizard, "bbnNext"); // welcome
  Click(&wizard, "bbnPath");
  Click(&wizard, "bbnNext"); // path
  QElapsedTimer clock;
  double longestStall = 0, firstShown = -1;
  qint64 lastTick = 0;
  QTimer ticker;
  ticker.setInterval(10);
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    const qint64 now = clock.nsecsElapsed();
    longestStall = std::max(longestStall, (now - lastTick) / 1e6);
    lastTick = now;
    if (firstShown < 0 && wizard.Album() && wizard.Album()->Pictures.Count() > 0 &&
        wizard.Album()->Pictures.Pictures(0)->Thumbnail())
      firstShown = now / 1e9;
  });
  const double cpu = CpuSeconds();
  clock.start();
  Click(&wizard, "bbnNext"); // details: the pictures page reads the folder, the loader starts
  const double pageShown = clock.nsecsElapsed() / 1e9;
  lastTick = clock.nsecsElapsed();
  ticker.start();
  if (TThumbnailThread* loader = wizard.ThumbnailLoader()) {
    // Its end notification comes through the event loop, so it cannot have come yet.
    QEventLoop wait;
    QObject::connect(loader, &TThumbnailThread::Done, &wait, &QEventLoop::quit,
                     Qt::QueuedConnection);
    wait.exec();
  }
  const Time loader{clock.nsecsElapsed() / 1e9, CpuSeconds() - cpu};
  ticker.stop();
  const int pictures = wizard.Album()->Pictures.Count();
  int withPreview = 0;
  for (int i = 0; i < pictures; ++i)
    if (wizard.Album()->Pictures.Pictures(i)->Thumbnail()) ++withPreview;
  wizard.reject();
  QDir(QDir(folder).filePath("ps_tmp")).removeRecursively();

  out << "pictures: " << pictures << " (" << withPreview << " with a preview)\n";
  out << "peer (hash + djpeg -scale 1/8): wall " << peer.Wall << " s, processor " << peer.Cpu
      << " s";
  if (peerCount < files.size()) out << " (measured on " << peerCount << " files, scaled)";
  out << "\n";
  out << "pictures page shown after:  " << pageShown * 1000 << " ms (folder read)\n";
  out << "first preview shown after:  " << firstShown * 1000 << " ms\n";
  out << "all previews after:         wall " << loader.Wall << " s (ratio "
      << loader.Wall / peer.Wall << "), processor " << loader.Cpu << " s (ratio "
      << loader.Cpu / peer.Cpu << ", target <= 1.3)\n";
  out << "longest event-loop stall while loading: " << longestStall << " ms\n";
  out.flush();
  return withPreview == pictures && firstShown >= 0 && firstShown < 1.0 ? 0 : 1;
}
