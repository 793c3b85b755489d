// Picture properties dialog benchmark: the time from opening the dialog on an original until it
// has drawn the picture, against `djpeg -scale 1/N` decoding the same file at the scale the
// dialog chose, measured in the same run. The median of the repetitions is printed per file.
//
//   bench_picturedialog [--reps N] photo.jpg...
//
// The screen's size decides the decode scale; under the offscreen platform that is its default
// screen (set a real display, or Xvfb with the wanted size, to measure another one).
#include "core/album.h"
#include "core/picture.h"
#include "core/project.h"
#include "ui/picture/cropimage.h"
#include "ui/picture/frmpicturedetail.h"
#include "util/helpers.h"
#include "util/imaging/jpegcodec.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <cmath>

namespace {
double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0.0 : v[v.size() / 2];
}
} // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QTemporaryDir settings;
  qputenv("XDG_CONFIG_HOME", settings.path().toLocal8Bit());
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
  const QSize screen = QGuiApplication::primaryScreen()->size();
  out << "screen " << screen.width() << " x " << screen.height() << ", " << reps
      << " repetitions, median wall times\n";
  out << "file                     size          scale  dialog ms  djpeg ms  ratio\n";
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
    // As after the thumbnail loader's first visit: the file's facts are known.
    picture->OriginalSize = int(info.size());
    picture->OriginalHash = GetFileHash(file);
    const QSize stored = ReadJpegSize(file);
    picture->OriginalWidth = stored.width();
    picture->OriginalHeight = stored.height();
    album->Pictures.Add(picture->OriginalFileName, picture);

    std::vector<double> dialog, djpeg;
    int denominator = 1;
    for (int r = 0; r < reps; ++r) {
      QElapsedTimer timer;
      timer.start();
      {
        TfrmPictureDetail d;
        d.SetProject(&project);
        d.SetPictures({picture}, 0);
        d.show();
        const QPixmap shown = d.grab(); // draws the dialog with the picture
        dialog.push_back(timer.nsecsElapsed() / 1e6);
        auto* image = d.findChild<TCropImage*>("imgFull");
        denominator = int(std::lround(1.0 / image->PixelScale()));
        d.reject();
      }
      QElapsedTimer peer;
      peer.start();
      QProcess::execute(
          "djpeg", {"-scale", QString("1/%1").arg(denominator), "-outfile", "/dev/null", file});
      djpeg.push_back(peer.nsecsElapsed() / 1e6);
    }
    const double a = Median(dialog), b = Median(djpeg);
    ratios.push_back(a / b);
    out << QString("%1 %2 x %3  1/%4  %5  %6  %7\n")
               .arg(info.fileName(), -24)
               .arg(stored.width(), 5)
               .arg(stored.height(), -5)
               .arg(denominator)
               .arg(a, 9, 'f', 1)
               .arg(b, 8, 'f', 1)
               .arg(a / b, 5, 'f', 2);
  }
  if (!ratios.empty())
    out << QString("median ratio dialog / djpeg: %1\n").arg(Median(ratios), 0, 'f', 2);
  return 0;
}
