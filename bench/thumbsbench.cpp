// Thumbnail loader benchmark: a first visit of an album (checksums, decodes, previews written)
// and a second visit of the unchanged album, each against the peer measured in the same run:
// hashing every file plus `djpeg -scale 1/8` on it.
//
// Usage: bench_thumbs <folder of JPEG files> [rounds]
#include "core/album.h"
#include "core/picture.h"
#include "core/project.h"
#include "processing/thumbnailthread.h"
#include "util/helpers.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <sys/resource.h>

namespace {

QTextStream out(stdout);

// Processor seconds used so far by this process (all threads) and by its finished children:
// on a shared machine these compare fairer than wall-clock times.
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

double Median(QList<double> v) {
  std::sort(v.begin(), v.end());
  return v.isEmpty() ? 0 : v[v.size() / 2];
}

// Hash of every file, then djpeg -scale 1/8 of every file.
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

// One loader run over the album. decoded receives the number of originals decoded.
Time Visit(TLumenfoldAlbum* album, int* decoded) {
  TThumbnailThread loader(album, nullptr, nullptr);
  loader.FreeOnEnd = false;
  loader.WriteRows = false;
  QEventLoop loop;
  QObject::connect(&loader, &TThumbnailThread::Done, &loop, &QEventLoop::quit);
  QElapsedTimer t;
  const double cpu = CpuSeconds();
  t.start();
  loader.start();
  loop.exec();
  const Time spent{t.nsecsElapsed() / 1e9, CpuSeconds() - cpu};
  if (!loader.ErrorText().isEmpty()) qFatal("loader failed: %s", qPrintable(loader.ErrorText()));
  *decoded = loader.DecodedCount();
  return spent;
}

} // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments();
  if (args.size() < 2) {
    std::fprintf(stderr, "usage: bench_thumbs <folder of JPEG files> [rounds]\n");
    return 2;
  }
  const int rounds = args.size() > 2 ? std::max(1, args[2].toInt()) : 5;
  QTemporaryDir work;
  QStringList files;
  for (const QString& name : QDir(args[1]).entryList({"*.jpg", "*.jpeg", "*.JPG"}, QDir::Files)) {
    const QString target = work.filePath(name);
    if (!QFile::copy(QDir(args[1]).filePath(name), target))
      qFatal("cannot copy %s", qPrintable(name));
    files << target;
  }
  if (files.isEmpty()) qFatal("no JPEG files in %s", qPrintable(args[1]));
  qint64 bytes = 0;
  for (const QString& f : files)
    bytes += QFileInfo(f).size();

  TLumenfoldProject project;
  project.Reset();
  Peer(files); // warm the file cache once

  QList<double> peerWall, peerCpu, firstWall, firstCpu, secondWall, secondCpu;
  int decodedFirst = 0, decodedSecond = -1;
  for (int round = 0; round < rounds; ++round) {
    const Time p = Peer(files);
    peerWall << p.Wall;
    peerCpu << p.Cpu;

    QDir(work.filePath("ps_tmp")).removeRecursively();
    auto album = std::make_unique<TLumenfoldAlbum>(&project);
    album->Path = work.path();
    album->ImportFolder(work.path());
    const Time f = Visit(album.get(), &decodedFirst);
    firstWall << f.Wall;
    firstCpu << f.Cpu;

    // A later visit of the unchanged album: recorded facts, no bitmaps yet.
    auto again = std::make_unique<TLumenfoldAlbum>(&project);
    again->Path = work.path();
    for (int i = 0; i < album->Pictures.Count(); ++i) {
      auto* copy = new TLumenfoldPicture(again.get());
      copy->Assign(*album->Pictures.Pictures(i));
      copy->Album = again.get();
      copy->SetThumbnail(nullptr);
      again->Pictures.Add(QString(), copy);
    }
    album->Pictures.ClearThumbnails();
    const Time v = Visit(again.get(), &decodedSecond);
    secondWall << v.Wall;
    secondCpu << v.Cpu;
    again->Pictures.ClearThumbnails();
  }

  const double pw = Median(peerWall), pc = Median(peerCpu);
  const double fw = Median(firstWall), fc = Median(firstCpu);
  const double sw = Median(secondWall), sc = Median(secondCpu);
  out << "photos: " << files.size() << " files, " << bytes / 1048576.0 << " MiB, " << rounds
      << " rounds (medians; processor time counts this process's threads and the djpeg runs)\n";
  out << "peer (hash + djpeg -scale 1/8): wall " << pw * 1000 << " ms, processor " << pc * 1000
      << " ms\n";
  out << "first visit:  " << decodedFirst << " decoded, wall " << fw * 1000 << " ms (ratio "
      << fw / pw << "), processor " << fc * 1000 << " ms (ratio " << fc / pc
      << ", target <= 1.3)\n";
  out << "second visit: " << decodedSecond << " decoded, wall " << sw * 1000 << " ms (ratio "
      << sw / pw << "), processor " << sc * 1000 << " ms (ratio " << sc / pc << ")\n";
  out.flush();
  return fc / pc <= 1.3 && decodedSecond == 0 ? 0 : 1;
}
