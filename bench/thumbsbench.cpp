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

namespace {

QTextStream out(stdout);

double Median(QList<double> v) {
  std::sort(v.begin(), v.end());
  return v.isEmpty() ? 0 : v[v.size() / 2];
}

// Hash of every file, then djpeg -scale 1/8 of every file; seconds.
double Peer(const QStringList& files) {
  QElapsedTimer t;
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
  return t.nsecsElapsed() / 1e9;
}

// One loader run over the album; seconds. decoded receives the number of originals decoded.
double Visit(TLumenfoldAlbum* album, int* decoded) {
  TThumbnailThread loader(album, nullptr, nullptr);
  loader.FreeOnEnd = false;
  loader.WriteRows = false;
  QEventLoop loop;
  QObject::connect(&loader, &TThumbnailThread::Done, &loop, &QEventLoop::quit);
  QElapsedTimer t;
  t.start();
  loader.start();
  loop.exec();
  const double seconds = t.nsecsElapsed() / 1e9;
  if (!loader.ErrorText().isEmpty()) qFatal("loader failed: %s", qPrintable(loader.ErrorText()));
  *decoded = loader.DecodedCount();
  return seconds;
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

  QList<double> peer, first, second;
  int decodedFirst = 0, decodedSecond = -1;
  for (int round = 0; round < rounds; ++round) {
    peer << Peer(files);

    QDir(work.filePath("ps_tmp")).removeRecursively();
    auto album = std::make_unique<TLumenfoldAlbum>(&project);
    album->Path = work.path();
    album->ImportFolder(work.path());
    first << Visit(album.get(), &decodedFirst);

    // A later visit of the unchanged album: recorded facts, no bitmaps yet.
    auto again = std::make_unique<TLumenfoldAlbum>(&project);
    again->Path = work.path();
    for (int i = 0; i < album->Pictures.Count(); ++i) {
      auto* p = new TLumenfoldPicture(again.get());
      p->Assign(*album->Pictures.Pictures(i));
      p->Album = again.get();
      p->SetThumbnail(nullptr);
      again->Pictures.Add(QString(), p);
    }
    album->Pictures.ClearThumbnails();
    second << Visit(again.get(), &decodedSecond);
    again->Pictures.ClearThumbnails();
  }

  const double p = Median(peer), f = Median(first), s = Median(second);
  out << "photos: " << files.size() << " files, " << bytes / 1048576.0 << " MiB, " << rounds
      << " rounds (medians)\n";
  out << "peer (hash + djpeg -scale 1/8): " << p * 1000 << " ms\n";
  out << "first visit:  " << f * 1000 << " ms, " << decodedFirst << " decoded, ratio " << f / p
      << " (target <= 1.3)\n";
  out << "second visit: " << s * 1000 << " ms, " << decodedSecond << " decoded, ratio " << s / p
      << "\n";
  out.flush();
  return f / p <= 1.3 && decodedSecond == 0 ? 0 : 1;
}
