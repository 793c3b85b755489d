// Large viewer benchmark. Per file, median wall times from asking the viewer (1600 x 1000
// pixels) for an original until it has drawn:
//   first: the stand-in, when the list's 640-pixel preview exists (ps_tmp, as the list leaves it);
//   sharp: the picture itself, in the same runs (the preview read beside the decode);
//   cold:  the picture itself when no preview exists (a folder of links to the same files);
// against `djpeg -scale M/8` decoding the same file at the scale M/8 the viewer chose, measured
// in the same run, and the ratios of first and cold to it. Then the files as one album: the time
// from the key press for the next picture until it is drawn, once the viewer has had the time
// to decode it ahead (browsing at a looking pace).
//
//   bench_viewer [--reps N] photo.jpg...
#include "core/album.h"
#include "core/picture.h"
#include "core/previewcache.h"
#include "core/project.h"
#include "processing/previewfiles.h"
#include "processing/viewerimage.h"
#include "ui/photolist/pictureviewer.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QPixmap>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <filesystem>
#include <memory>

namespace {
double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0.0 : v[v.size() / 2];
}

struct TOne {
  TLumenfoldProject Project;
  TLumenfoldPicture* Picture = nullptr;
};

// A project of one album in folder holding the file.
std::unique_ptr<TOne> OnePicture(const QString& folder, const QString& name) {
  auto one = std::make_unique<TOne>();
  one->Project.Reset();
  auto* album = new TLumenfoldAlbum(&one->Project);
  album->Path = folder;
  one->Project.Albums.Add("bench", album);
  one->Picture = new TLumenfoldPicture(album);
  one->Picture->OriginalFileName = name;
  album->Pictures.Add(name, one->Picture);
  return one;
}

void WaitFor(const std::function<bool()>& done) {
  while (!done())
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}
} // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QStringList files;
  int reps = 5;
  const QStringList args = app.arguments().mid(1);
  for (int i = 0; i < args.size(); ++i) {
    if (args[i] == "--reps" && i + 1 < args.size())
      reps = std::max(1, args[++i].toInt());
    else
      files << args[i];
  }
  QTextStream out(stdout);
  QFile loadavg(QStringLiteral("/proc/loadavg"));
  const QString load =
      loadavg.open(QIODevice::ReadOnly) ? QString::fromLatin1(loadavg.readLine()).trimmed() : "?";
  out << "viewer 1600 x 1000, " << reps << " repetitions, median wall times; load " << load << "\n";
  out << "file              scale  first ms  sharp ms  cold ms  djpeg ms  first/djpeg  "
         "cold/djpeg\n";
  QTemporaryDir bare(QDir::tempPath() + QStringLiteral("/bench-viewer-XXXXXX"));
  std::vector<double> firstRatios, coldRatios, firsts, colds;
  for (const QString& file : files) {
    const QFileInfo info(file);
    auto withPreview = OnePicture(info.absolutePath(), info.fileName());
    TLumenfoldPicture* picture = withPreview->Picture;
    // The list's largest preview, as browsing the album leaves it.
    const QString preview = PreviewStepPath(picture->TempThumbPath(), kPreviewSteps - 1);
    QDir().mkpath(QFileInfo(preview).absolutePath());
    QImage made;
    const QSize full = MakePreview(file, preview, PreviewStepBox(kPreviewSteps - 1), {}, made);
    picture->OriginalWidth = full.width();
    picture->OriginalHeight = full.height();
    // The same file without any preview: a hard link (a copy where links are refused).
    const QString linked = bare.filePath(info.fileName());
    std::error_code error;
    std::filesystem::create_hard_link(file.toStdString(), linked.toStdString(), error);
    if (error) QFile::copy(file, linked);
    auto withoutPreview = OnePicture(bare.path(), info.fileName());

    TPictureViewer viewer;
    viewer.resize(1600, 1000);
    viewer.show();
    const TViewerImage probe = LoadViewerImage(file, QSize(1600, 972), 1);
    const int eighths = probe.Eighths;
    std::vector<double> first, sharp, cold, djpeg;
    for (int r = 0; r < reps; ++r) {
      QElapsedTimer timer;
      timer.start();
      viewer.Open({picture}, 0);
      if (viewer.ShowsStandIn()) {
        const QPixmap drawn = viewer.grab();
        first.push_back(timer.nsecsElapsed() / 1e6);
      }
      WaitFor([&] { return viewer.Ready(); });
      QPixmap drawn = viewer.grab();
      sharp.push_back(timer.nsecsElapsed() / 1e6);
      viewer.Clear();

      timer.start();
      viewer.Open({withoutPreview->Picture}, 0);
      WaitFor([&] { return viewer.Ready(); });
      drawn = viewer.grab();
      cold.push_back(timer.nsecsElapsed() / 1e6);
      viewer.Clear();

      QElapsedTimer peer;
      peer.start();
      QProcess::execute("djpeg",
                        {"-scale", QString("%1/8").arg(eighths), "-outfile", "/dev/null", file});
      djpeg.push_back(peer.nsecsElapsed() / 1e6);
    }
    const double f = Median(first), s = Median(sharp), c = Median(cold), d = Median(djpeg);
    firsts.push_back(f);
    colds.push_back(c);
    firstRatios.push_back(f / d);
    coldRatios.push_back(c / d);
    out << QString("%1 %2/8  %3  %4  %5  %6  %7  %8\n")
               .arg(info.fileName(), -18)
               .arg(eighths)
               .arg(f, 8, 'f', 1)
               .arg(s, 8, 'f', 1)
               .arg(c, 7, 'f', 1)
               .arg(d, 8, 'f', 1)
               .arg(f / d, 11, 'f', 2)
               .arg(c / d, 10, 'f', 2);
  }
  if (!files.isEmpty())
    out << QString("median over files: first frame %1 ms (ratio %2), cold sharp picture %3 ms "
                   "(ratio %4) against djpeg at the same scale\n")
               .arg(Median(firsts), 0, 'f', 1)
               .arg(Median(firstRatios), 0, 'f', 2)
               .arg(Median(colds), 0, 'f', 1)
               .arg(Median(coldRatios), 0, 'f', 2);
  if (files.size() > 1) {
    TLumenfoldProject project;
    project.Reset();
    auto* album = new TLumenfoldAlbum(&project);
    album->Path = QFileInfo(files.first()).absolutePath();
    project.Albums.Add("bench", album);
    QList<TLumenfoldPicture*> pictures;
    for (const QString& file : files) {
      auto* picture = new TLumenfoldPicture(album);
      picture->OriginalFileName = QFileInfo(file).fileName();
      album->Pictures.Add(picture->OriginalFileName, picture);
      pictures << picture;
    }
    TPictureViewer viewer;
    viewer.resize(1600, 1000);
    viewer.show();
    std::vector<double> next;
    for (int r = 0; r < reps; ++r) {
      viewer.Clear();
      viewer.Open(pictures, 0);
      while (!viewer.Ready())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
      for (int i = 1; i < pictures.size(); ++i) {
        while (!viewer.HasDecoded(i))
          QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QElapsedTimer timer;
        timer.start();
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier);
        QCoreApplication::sendEvent(&viewer, &press);
        while (!viewer.Ready())
          QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        const QPixmap drawn = viewer.grab();
        next.push_back(timer.nsecsElapsed() / 1e6);
      }
    }
    out << QString("next picture after a look, decoded ahead: median %1 ms over %2 steps\n")
               .arg(Median(next), 0, 'f', 1)
               .arg(next.size());
  }
  return 0;
}
