// Large viewer benchmark: the time from asking the viewer (1600 x 1000 pixels) for an original
// until it has drawn it, against `djpeg -scale 1/N` decoding the same file at the scale the
// viewer chose, measured in the same run. The median of the repetitions is printed per file.
// Then the files as one album: the time from the key press for the next picture until it is
// drawn, once the viewer has had the time to decode it ahead (browsing at a looking pace).
//
//   bench_viewer [--reps N] photo.jpg...
#include "core/album.h"
#include "core/picture.h"
#include "core/project.h"
#include "processing/viewerimage.h"
#include "ui/photolist/pictureviewer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QKeyEvent>
#include <QPixmap>
#include <QProcess>
#include <QTextStream>
#include <algorithm>

namespace {
double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0.0 : v[v.size() / 2];
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
  out << "viewer 1600 x 1000, " << reps << " repetitions, median wall times\n";
  out << "file                     scale  viewer ms  djpeg ms  ratio\n";
  std::vector<double> ratios;
  for (const QString& file : files) {
    const QFileInfo info(file);
    TLumenfoldProject project;
    project.Reset();
    auto* album = new TLumenfoldAlbum(&project);
    album->Path = info.absolutePath();
    project.Albums.Add("bench", album);
    auto* picture = new TLumenfoldPicture(album);
    picture->OriginalFileName = info.fileName();
    album->Pictures.Add(picture->OriginalFileName, picture);

    TPictureViewer viewer;
    viewer.resize(1600, 1000);
    viewer.show();
    std::vector<double> shown, djpeg;
    // The scale the viewer decodes at, for the peer.
    const TViewerImage probe = LoadViewerImage(file, QSize(1600, 972), 1);
    const int denominator =
        probe.Bitmap.isNull() ? 1 : std::max(1, probe.FullSize.width() / probe.Bitmap.width());
    for (int r = 0; r < reps; ++r) {
      QElapsedTimer timer;
      timer.start();
      viewer.Open({picture}, 0);
      while (!viewer.Ready())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
      const QPixmap drawn = viewer.grab();
      shown.push_back(timer.nsecsElapsed() / 1e6);
      viewer.Clear();
      QElapsedTimer peer;
      peer.start();
      QProcess::execute(
          "djpeg", {"-scale", QString("1/%1").arg(denominator), "-outfile", "/dev/null", file});
      djpeg.push_back(peer.nsecsElapsed() / 1e6);
    }
    const double a = Median(shown), b = Median(djpeg);
    ratios.push_back(a / b);
    out << QString("%1 1/%2  %3  %4  %5\n")
               .arg(info.fileName(), -24)
               .arg(denominator)
               .arg(a, 9, 'f', 1)
               .arg(b, 8, 'f', 1)
               .arg(a / b, 5, 'f', 2);
  }
  if (!ratios.empty())
    out << QString("median ratio viewer / djpeg: %1\n").arg(Median(ratios), 0, 'f', 2);
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
