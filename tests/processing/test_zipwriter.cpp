// The archive writer: archives that other readers accept, entries copied from the previous
// archive without a changed byte, ZIP64 for many entries, and a write that fails half-way.
#include "processing/archive/archivebuilder.h"
#include "processing/archive/zipwriter.h"
#include "testenv.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QtTest>
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

namespace {

void writeFile(const QString& path, const QByteArray& data, int hoursAgo = 1) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write(data);
  f.close();
  // Written well before the archive, as the files of an earlier run are.
  QVERIFY(f.open(QIODevice::ReadWrite));
  QVERIFY(f.setFileTime(QDateTime::currentDateTime().addSecs(-3600 * hoursAgo),
                        QFileDevice::FileModificationTime));
}

QByteArray readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Entry name -> content, read back through the archive's directory (each entry's CRC checked).
QMap<QString, QByteArray> readZip(const QString& path, bool* ok = nullptr) {
  QMap<QString, QByteArray> entries;
  bool good = true;
  for (const auto& [name, entry] : ReadTestZip(path).asKeyValueRange()) {
    entries.insert(name, entry.Data);
    good = good && entry.Good;
  }
  if (ok) *ok = good;
  return entries;
}

// The directory of an archive on disk, with each entry's stored bytes.
struct RawEntry {
  TZipEntryHeader Header;
  QByteArray Data;
};
QMap<QString, RawEntry> rawEntries(const QString& path) {
  QMap<QString, RawEntry> result;
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
  if (fd < 0) return result;
  const qint64 size = QFileInfo(path).size();
  std::vector<TZipDirectoryEntry> entries;
  if (ReadZipDirectory(fd, size, entries, nullptr)) {
    for (const TZipDirectoryEntry& e : entries) {
      RawEntry raw;
      raw.Header = e.Header;
      const qint64 at = ZipEntryDataOffset(fd, size, e);
      raw.Data.resize(qsizetype(e.Header.CompressedSize));
      if (at < 0 || pread(fd, raw.Data.data(), size_t(raw.Data.size()), at) != raw.Data.size())
        raw.Data = "unreadable";
      result.insert(QString::fromUtf8(e.Header.Name), raw);
    }
  }
  ::close(fd);
  return result;
}

// "unzip -t" and "zipinfo" on the archive, when the tools are installed.
void checkWithUnzip(const QString& archive, int entries) {
  const QString unzip = QStandardPaths::findExecutable("unzip");
  if (unzip.isEmpty()) return;
  QProcess test;
  test.start(unzip, {"-tq", archive});
  QVERIFY(test.waitForFinished(120000));
  QVERIFY2(test.exitCode() == 0, test.readAll().constData());
  const QString zipinfo = QStandardPaths::findExecutable("zipinfo");
  if (zipinfo.isEmpty()) return;
  QProcess info;
  info.start(zipinfo, {"-1", archive});
  QVERIFY(info.waitForFinished(120000));
  QCOMPARE(info.exitCode(), 0);
  QCOMPARE(info.readAllStandardOutput().count('\n'), entries);
}

QByteArray noise(int size, quint32 seed) {
  QByteArray bytes(size, Qt::Uninitialized);
  QRandomGenerator random(seed);
  for (char& c : bytes)
    c = char(random.bounded(256));
  return bytes;
}

// Archives written whole while it lives, as they are when an update would leave too much unused.
struct FullRewrite {
  FullRewrite() { qputenv("LUMENFOLD_ARCHIVE_FULL_REWRITE", "1"); }
  ~FullRewrite() { qunsetenv("LUMENFOLD_ARCHIVE_FULL_REWRITE"); }
};

} // namespace

class TestZipWriter : public QObject {
  Q_OBJECT
private slots:
  void archiveIsValidForOtherReaders();
  void unchangedEntriesKeepEveryByte();
  void failedWriteKeepsTheOldArchive();
  void manyEntriesGetZip64Records();
  void damagedPreviousArchiveIsRecompressed();
  void largeIncompressibleDataIsStored();
  void unchangedRunsAreCopiedWithTheirHeaders();
  void foreignOrAlteredHeadersAreWrittenAnew();
  void copyMadeAheadGivesTheSameArchive();
  void copyMadeAheadNeverSurvivesWithoutAWrite();
  void reopenedLongerFileEndsWithTheArchive();
  void firstArchiveHoldsNoBytesOfUnwantedEntries_data();
  void firstArchiveHoldsNoBytesOfUnwantedEntries();
};

// Large data that barely shrinks (JPEG data) is stored without deflating it all; large data
// that shrinks, even only in part, is deflated.
void TestZipWriter::largeIncompressibleDataIsStored() {
  const QByteArray random = noise(2 << 20, 11);
  const TCompressedEntry stored = CompressForArchive(random);
  QVERIFY(!stored.Deflated);
  QCOMPARE(stored.Data, random);
  QCOMPARE(stored.Crc, quint32(crc32(0, reinterpret_cast<const Bytef*>(random.constData()),
                                     uInt(random.size()))));
  const QByteArray mixed = QByteArray(600 * 1024, 'x') + random;
  const TCompressedEntry deflated = CompressForArchive(mixed);
  QVERIFY(deflated.Deflated);
  QVERIFY(deflated.Data.size() < mixed.size());
  QCOMPARE(deflated.Size, qint64(mixed.size()));
}

void TestZipWriter::archiveIsValidForOtherReaders() {
  TestEnv env;
  const QByteArray text = QByteArray("a caption that repeats\n").repeated(2000);
  const QByteArray random = noise(200 * 1024, 5);
  writeFile(env.path("src/text.txt"), text);
  writeFile(env.path("src/noise.jpg"), random);
  writeFile(env.path("src/empty.txt"), QByteArray());
  writeFile(env.path("src/Grüße.txt"), text.left(100));
  const QString archive = env.path("out/albums.zip");
  QDir().mkpath(env.path("out"));
  {
    TArchiveBuilder builder(archive);
    // One entry compressed ahead, the others at the end.
    builder.Spool("album/text.txt", env.path("src/text.txt"), CompressForArchive(text));
    QVERIFY(builder.Want("album/text.txt", env.path("src/text.txt")));
    QVERIFY(builder.Want("album/noise.jpg", env.path("src/noise.jpg")));
    QVERIFY(builder.Want("empty.txt", env.path("src/empty.txt")));
    QVERIFY(builder.Want("album/Grüße.txt", env.path("src/Grüße.txt")));
    builder.CompressRemaining(2);
    builder.Write();
  }
  bool ok = false;
  const auto entries = readZip(archive, &ok);
  QVERIFY(ok);
  QCOMPARE(entries.size(), 4);
  QCOMPARE(entries["album/text.txt"], text);
  QCOMPARE(entries["album/noise.jpg"], random);
  QCOMPARE(entries["empty.txt"], QByteArray());
  QCOMPARE(entries["album/Grüße.txt"], text.left(100));
  const auto raw = rawEntries(archive);
  QCOMPARE(raw["album/text.txt"].Header.Method, kZipDeflated);
  QCOMPARE(raw["album/noise.jpg"].Header.Method, kZipStored);
  // The time stamp is the file's, to the two seconds the format keeps.
  quint16 time = 0, date = 0;
  ZipDosTime(QFileInfo(env.path("src/noise.jpg")).lastModified().toSecsSinceEpoch(), time, date);
  QCOMPARE(raw["album/noise.jpg"].Header.DosTime, time);
  QCOMPARE(raw["album/noise.jpg"].Header.DosDate, date);
  checkWithUnzip(archive, 4);
  QVERIFY(TArchiveBuilder::Leftovers(archive).isEmpty());
}

void TestZipWriter::unchangedEntriesKeepEveryByte() {
  TestEnv env;
  for (int i = 0; i < 5; ++i)
    writeFile(env.path(QString("src/p%1.jpg").arg(i)), noise(50000 + i, quint32(i)));
  writeFile(env.path("src/db.sqlite"), QByteArray("rows of a database ").repeated(3000));
  const QString archive = env.path("out.zip");
  auto build = [&] {
    TArchiveBuilder builder(archive);
    for (int i = 0; i < 5; ++i)
      QVERIFY(builder.Want(QString("a/p%1.jpg").arg(i), env.path(QString("src/p%1.jpg").arg(i))));
    QVERIFY(builder.Want("db.sqlite", env.path("src/db.sqlite")));
    builder.CompressRemaining(2);
    builder.Write();
  };
  build();
  const auto before = rawEntries(archive);
  QCOMPARE(before.size(), 6);
  // The user's permissions of the archive stay.
  const QFile::Permissions mine = QFile::ReadOwner | QFile::WriteOwner;
  QVERIFY(QFile::setPermissions(archive, mine));
  // The database changes (written after the archive); the pictures do not.
  QFile db(env.path("src/db.sqlite"));
  QVERIFY(db.open(QIODevice::Append));
  db.write("one more row");
  db.close();
  QList<qint64> reported;
  {
    TArchiveBuilder builder(archive);
    for (int i = 0; i < 5; ++i) {
      const QString name = QString("a/p%1.jpg").arg(i);
      QVERIFY(builder.Unchanged(name, env.path(QString("src/p%1.jpg").arg(i))));
      QVERIFY(builder.Want(name, env.path(QString("src/p%1.jpg").arg(i))));
    }
    QVERIFY(!builder.Unchanged("db.sqlite", env.path("src/db.sqlite")));
    QVERIFY(builder.Want("db.sqlite", env.path("src/db.sqlite")));
    builder.CompressRemaining(1);
    builder.Progress = [&](qint64 done, qint64 total) {
      reported << done;
      QVERIFY(done <= total);
    };
    builder.Write();
  }
  const auto after = rawEntries(archive);
  QCOMPARE(after.keys(), before.keys());
  QCOMPARE(QFile::permissions(archive) & ~(QFile::ReadUser | QFile::WriteUser), mine);
  for (int i = 0; i < 5; ++i) {
    const QString name = QString("a/p%1.jpg").arg(i);
    const TZipEntryHeader& a = before[name].Header;
    const TZipEntryHeader& b = after[name].Header;
    QCOMPARE(after[name].Data, before[name].Data);
    QCOMPARE(b.Crc, a.Crc);
    QCOMPARE(b.Method, a.Method);
    QCOMPARE(b.DosTime, a.DosTime);
    QCOMPARE(b.DosDate, a.DosDate);
    QCOMPARE(b.ExternalAttributes, a.ExternalAttributes);
  }
  QVERIFY(after["db.sqlite"].Header.Size > before["db.sqlite"].Header.Size);
  QVERIFY(readZip(archive)["db.sqlite"].endsWith("one more row"));
  // Writing reports its bytes as they go, rising to the whole.
  QVERIFY(reported.size() >= 6);
  QVERIFY(std::is_sorted(reported.cbegin(), reported.cend()));
  qint64 data = 0;
  for (const RawEntry& e : after)
    data += qint64(e.Header.CompressedSize);
  QCOMPARE(reported.last(), data);
  checkWithUnzip(archive, 6);
}

void TestZipWriter::failedWriteKeepsTheOldArchive() {
  TestEnv env;
  writeFile(env.path("src/a.txt"), QByteArray("first text ").repeated(100));
  writeFile(env.path("src/b.jpg"), noise(100000, 9));
  const QString archive = env.path("out.zip");
  {
    TArchiveBuilder builder(archive);
    QVERIFY(builder.Want("a.txt", env.path("src/a.txt")));
    builder.CompressRemaining(1);
    builder.Write();
  }
  const QByteArray old = readAll(archive);
  {
    TArchiveBuilder builder(archive);
    QVERIFY(builder.Want("a.txt", env.path("src/a.txt")));
    QVERIFY(builder.Want("b.jpg", env.path("src/b.jpg")));
    builder.CompressRemaining(1);
    builder.BeforeEntry = [](int entry) {
      if (entry == 1) throw TZipError("the disk is full");
    };
    QVERIFY_THROWS_EXCEPTION(TZipError, builder.Write());
  }
  QCOMPARE(readAll(archive), old);
  QVERIFY(TArchiveBuilder::Leftovers(archive).isEmpty());

  // A write killed half-way leaves its partial file, which the next builder removes.
  {
    TZipWriter writer;
    QVERIFY(writer.Open(archive + ".lumenfold-new"));
    const QByteArray data = "partial";
    TZipEntryHeader h;
    h.Name = "a.txt";
    h.CompressedSize = h.Size = quint64(data.size());
    QVERIFY(writer.Add(h, data.constData()));
  }
  QCOMPARE(TArchiveBuilder::Leftovers(archive).size(), 1);
  { TArchiveBuilder builder(archive); }
  QVERIFY(TArchiveBuilder::Leftovers(archive).isEmpty());
  QCOMPARE(readAll(archive), old);
}

void TestZipWriter::manyEntriesGetZip64Records() {
  TestEnv env;
  const QString archive = env.path("many.zip");
  const int count = 70000; // more than the 65535 the plain end record counts
  {
    TZipWriter writer;
    QVERIFY(writer.Open(archive));
    for (int i = 0; i < count; ++i) {
      const QByteArray data = QByteArray::number(i);
      TZipEntryHeader h;
      h.Name = "f/" + QByteArray::number(i) + ".txt";
      h.Crc =
          quint32(crc32(0, reinterpret_cast<const Bytef*>(data.constData()), uInt(data.size())));
      h.CompressedSize = h.Size = quint64(data.size());
      QVERIFY(writer.Add(h, data.constData()));
    }
    QVERIFY2(writer.Finish(), qPrintable(writer.ErrorString()));
  }
  const int fd = ::open(QFile::encodeName(archive).constData(), O_RDONLY);
  std::vector<TZipDirectoryEntry> entries;
  QVERIFY(ReadZipDirectory(fd, QFileInfo(archive).size(), entries, nullptr));
  ::close(fd);
  QCOMPARE(int(entries.size()), count);
  QCOMPARE(entries.back().Header.Name, QByteArray("f/69999.txt"));
  checkWithUnzip(archive, count);
}

// A previous archive whose directory points at nothing sensible: its entries are compressed
// anew from the files instead of copying garbage.
void TestZipWriter::damagedPreviousArchiveIsRecompressed() {
  TestEnv env;
  const QByteArray text = QByteArray("words ").repeated(500);
  writeFile(env.path("src/a.txt"), text);
  const QString archive = env.path("out.zip");
  {
    TArchiveBuilder builder(archive);
    QVERIFY(builder.Want("a.txt", env.path("src/a.txt")));
    builder.CompressRemaining(1);
    builder.Write();
  }
  // Break the local header's signature: the directory still lists the entry.
  QFile file(archive);
  QVERIFY(file.open(QIODevice::ReadWrite));
  file.write("XXXX");
  file.close();
  {
    TArchiveBuilder builder(archive);
    QVERIFY(!builder.Unchanged("a.txt", env.path("src/a.txt")));
    QVERIFY(builder.Want("a.txt", env.path("src/a.txt")));
    builder.CompressRemaining(1);
    builder.Write();
  }
  bool ok = false;
  QCOMPARE(readZip(archive, &ok)["a.txt"], text);
  QVERIFY(ok);
}

// Entries that lie one after the other in the previous archive go over with their headers: an
// archive built again from unchanged files is the same file, and one whose middle entry changed
// keeps every other entry's bytes and stays readable.
void TestZipWriter::unchangedRunsAreCopiedWithTheirHeaders() {
  TestEnv env;
  const int count = 6;
  for (int i = 0; i < count; ++i)
    writeFile(env.path(QString("src/p%1.jpg").arg(i)), noise(30000 + 7 * i, quint32(40 + i)));
  writeFile(env.path("src/notes.txt"), QByteArray("a line of notes\n").repeated(400));
  const QString archive = env.path("out.zip");
  auto build = [&](QList<qint64>* reported) {
    TArchiveBuilder builder(archive);
    for (int i = 0; i < count; ++i)
      QVERIFY(builder.Want(QString("a/p%1.jpg").arg(i), env.path(QString("src/p%1.jpg").arg(i))));
    QVERIFY(builder.Want("notes.txt", env.path("src/notes.txt")));
    builder.CompressRemaining(1);
    if (reported)
      builder.Progress = [reported](qint64 done, qint64 total) {
        QVERIFY(done <= total);
        reported->append(done);
      };
    builder.Write();
  };
  build(nullptr);
  const QByteArray first = readAll(archive);
  QList<qint64> reported;
  build(&reported);
  QCOMPARE(readAll(archive), first);
  // One report per entry at least, rising to the whole of the entries' data.
  QVERIFY(reported.size() >= count + 1);
  QVERIFY(std::is_sorted(reported.cbegin(), reported.cend()));
  qint64 data = 0;
  for (const RawEntry& e : rawEntries(archive))
    data += qint64(e.Header.CompressedSize);
  QCOMPARE(reported.last(), data);

  // The third picture changes size: the entries before and after it are copied as they are,
  // the ones after it to a new place.
  const QByteArray changed = noise(41234, 99);
  writeFile(env.path("src/p2.jpg"), changed);
  const auto before = rawEntries(archive);
  build(nullptr);
  bool ok = false;
  const auto entries = readZip(archive, &ok);
  QVERIFY(ok);
  QCOMPARE(entries.size(), count + 1);
  QCOMPARE(entries["a/p2.jpg"], changed);
  const auto after = rawEntries(archive);
  for (int i = 0; i < count; ++i) {
    if (i == 2) continue;
    const QString name = QString("a/p%1.jpg").arg(i);
    QCOMPARE(after[name].Data, before[name].Data);
    QCOMPARE(after[name].Header.DosTime, before[name].Header.DosTime);
  }
  QCOMPARE(after["notes.txt"].Data, before["notes.txt"].Data);
  checkWithUnzip(archive, count + 1);
}

// Local headers that are not the ones this writer writes (another program's, or one that
// disagrees with the directory) are never copied: the entry's data is, under a header made anew
// from the directory.
void TestZipWriter::foreignOrAlteredHeadersAreWrittenAnew() {
  TestEnv env;
  const QByteArray a = QByteArray("first file ").repeated(300), b = noise(20000, 3),
                   c = QByteArray("third file ").repeated(200);
  writeFile(env.path("src/a.txt"), a);
  writeFile(env.path("src/b.jpg"), b);
  writeFile(env.path("src/c.txt"), c);
  const QString archive = env.path("out.zip");
  auto build = [&] {
    TArchiveBuilder builder(archive);
    QVERIFY(builder.Want("a.txt", env.path("src/a.txt")));
    QVERIFY(builder.Want("b.jpg", env.path("src/b.jpg")));
    QVERIFY(builder.Want("c.txt", env.path("src/c.txt")));
    builder.CompressRemaining(1);
    builder.Write();
  };
  build();
  // The first entry's local header gets a wrong CRC; the directory keeps the right one.
  const int fd = ::open(QFile::encodeName(archive).constData(), O_RDWR);
  QVERIFY(fd >= 0);
  std::vector<TZipDirectoryEntry> dir;
  QVERIFY(ReadZipDirectory(fd, QFileInfo(archive).size(), dir, nullptr));
  bool asWritten = false;
  QVERIFY(ZipEntryDataOffset(fd, QFileInfo(archive).size(), dir[0], &asWritten) > 0);
  QVERIFY(asWritten);
  const char wrongCrc[4] = {1, 2, 3, 4};
  QCOMPARE(pwrite(fd, wrongCrc, 4, off_t(dir[0].LocalHeaderOffset + 14)), ssize_t(4));
  QVERIFY(ZipEntryDataOffset(fd, QFileInfo(archive).size(), dir[0], &asWritten) > 0);
  QVERIFY(!asWritten);
  ::close(fd);
  build();
  bool ok = false;
  auto entries = readZip(archive, &ok);
  QVERIFY(ok);
  QCOMPARE(entries["a.txt"], a);
  QCOMPARE(entries["c.txt"], c);
  // The headers agree again: a strict reader takes the archive.
  checkWithUnzip(archive, 3);

  // An archive another program wrote: its stored entry's header differs from this writer's (the
  // version needed); every entry is reused either way.
  {
    const int other = ::open(QFile::encodeName(archive).constData(), O_RDWR);
    QVERIFY(ReadZipDirectory(other, QFileInfo(archive).size(), dir, nullptr));
    QCOMPARE(dir[1].Header.Method, kZipStored);
    const char version10[2] = {10, 0};
    QCOMPARE(pwrite(other, version10, 2, off_t(dir[1].LocalHeaderOffset + 4)), ssize_t(2));
    ::close(other);
  }
  {
    TArchiveBuilder builder(archive);
    QVERIFY(builder.Unchanged("a.txt", env.path("src/a.txt")));
    QVERIFY(builder.Unchanged("b.jpg", env.path("src/b.jpg")));
  }
  build();
  entries = readZip(archive, &ok);
  QVERIFY(ok);
  QCOMPARE(entries.size(), 3);
  QCOMPARE(entries["a.txt"], a);
  QCOMPARE(entries["b.jpg"], b);
  QCOMPARE(entries["c.txt"], c);
  checkWithUnzip(archive, 3);
}

// The previous archive copied ahead into the new archive's file: whatever changed (an entry of
// the same size, one of another size, one gone, one new), the archive is byte for byte the one
// written without the copy, and the parts that stayed in place are not written again.
void TestZipWriter::copyMadeAheadGivesTheSameArchive() {
  // The copy made ahead serves archives that are written whole.
  const FullRewrite fullRewrite;
  TestEnv env;
  const int count = 8;
  auto source = [&](int i) { return env.path(QString("src/p%1.jpg").arg(i)); };
  for (int i = 0; i < count; ++i)
    writeFile(source(i), noise(25000 + 11 * i, quint32(70 + i)));
  writeFile(env.path("src/db.sqlite"), QByteArray("rows of a database ").repeated(2000));
  const QString archive = env.path("out/ahead.zip"), plain = env.path("out/plain.zip");
  QDir().mkpath(env.path("out"));
  // Both archives are made from the same files; only one copies ahead.
  int inPlace = 0;
  auto build = [&](const QString& path, bool ahead, const QList<int>& pictures) {
    // Copied ahead from the start, or only once everything is wanted.
    TArchiveBuilder builder(path, ahead && pictures.size() % 2 == 0);
    if (ahead) builder.StartPrefill();
    for (int i : pictures)
      QVERIFY(builder.Want(QString("a/p%1.jpg").arg(i), source(i)));
    QVERIFY(builder.Want("db.sqlite", env.path("src/db.sqlite")));
    builder.CompressRemaining(1);
    builder.Write();
    if (ahead) inPlace = builder.InPlaceCount();
  };
  QList<int> all;
  for (int i = 0; i < count; ++i)
    all << i;
  build(archive, false, all);
  build(plain, false, all);
  QCOMPARE(readAll(archive), readAll(plain));

  // Each step changes the files, then builds both archives again.
  auto step = [&](const QList<int>& pictures) {
    build(archive, true, pictures);
    build(plain, false, pictures);
    QCOMPARE(readAll(archive), readAll(plain));
    bool ok = false;
    QCOMPARE(readZip(archive, &ok).size(), pictures.size() + 1);
    QVERIFY(ok);
    QVERIFY(TArchiveBuilder::Leftovers(archive).isEmpty());
  };
  step(all); // nothing changed
  QCOMPARE(inPlace, count + 1);
  writeFile(source(3), noise(25000 + 33, 300), 0); // the same size, other bytes
  step(all);
  QCOMPARE(readZip(archive)["a/p3.jpg"], readAll(source(3)));
  QCOMPARE(inPlace, count);
  writeFile(source(5), noise(30000, 500), 0); // another size: the entries after it move
  step(all);
  QCOMPARE(readZip(archive)["a/p7.jpg"], readAll(source(7)));
  QCOMPARE(inPlace, 5);
  all.removeOne(1); // one entry gone, a new one at the end
  writeFile(source(count), noise(1000, 800), 0);
  all << count;
  step(all);
  QCOMPARE(inPlace, 1);
  QCOMPARE(readZip(archive)[QString("a/p%1.jpg").arg(count)], readAll(source(count)));
  checkWithUnzip(archive, int(all.size()) + 1);
}

// A copy made ahead for a write that does not come (a stopped run) or that fails leaves the
// archive as it was and nothing beside it.
void TestZipWriter::copyMadeAheadNeverSurvivesWithoutAWrite() {
  // The copy made ahead serves archives that are written whole.
  const FullRewrite fullRewrite;
  TestEnv env;
  for (int i = 0; i < 3; ++i)
    writeFile(env.path(QString("src/p%1.jpg").arg(i)), noise(200000, quint32(i)));
  const QString archive = env.path("out.zip");
  auto want = [&](TArchiveBuilder& builder) {
    for (int i = 0; i < 3; ++i)
      QVERIFY(builder.Want(QString("p%1.jpg").arg(i), env.path(QString("src/p%1.jpg").arg(i))));
  };
  {
    TArchiveBuilder builder(archive);
    builder.StartPrefill(); // no previous archive: nothing to copy
    want(builder);
    builder.CompressRemaining(1);
    builder.Write();
  }
  const QByteArray old = readAll(archive);
  {
    TArchiveBuilder builder(archive);
    builder.StartPrefill();
    want(builder);
  }
  QVERIFY(TArchiveBuilder::Leftovers(archive).isEmpty());
  QCOMPARE(readAll(archive), old);
  {
    TArchiveBuilder builder(archive, true); // copied ahead from the start, then given up
    want(builder);
    builder.CancelPrefill();
    QVERIFY(TArchiveBuilder::Leftovers(archive).isEmpty());
    builder.CompressRemaining(1);
    builder.Write();
    QCOMPARE(builder.InPlaceCount(), 0);
  }
  QCOMPARE(readAll(archive), old);
  writeFile(env.path("src/p1.jpg"), noise(200000, 77), 0);
  {
    TArchiveBuilder builder(archive);
    builder.StartPrefill();
    want(builder);
    builder.CompressRemaining(1);
    builder.BeforeEntry = [](int entry) {
      if (entry == 2) throw TZipError("the disk is full");
    };
    QVERIFY_THROWS_EXCEPTION(TZipError, builder.Write());
  }
  QVERIFY(TArchiveBuilder::Leftovers(archive).isEmpty());
  QCOMPARE(readAll(archive), old);
}

// The file of a copy made ahead holds more than the new archive keeps when the copy ran past the
// last entry kept in place (how far it ran depends on its thread): made here as it is then.
void TestZipWriter::reopenedLongerFileEndsWithTheArchive() {
  TestEnv env;
  const QByteArray data = noise(5000, 9);
  TZipEntryHeader header;
  header.Name = "kept.jpg";
  header.Crc =
      quint32(crc32(0, reinterpret_cast<const Bytef*>(data.constData()), uInt(data.size())));
  header.CompressedSize = header.Size = quint64(data.size());
  const QString fresh = env.path("fresh.zip"), reopened = env.path("reopened.zip");
  TZipWriter writer;
  QVERIFY(writer.Open(fresh) && writer.Add(header, data.constData()) && writer.Finish());
  writeFile(reopened, ZipLocalHeader(header) + data + noise(20000, 10));
  TZipWriter again;
  QVERIFY(again.Open(reopened, true) && again.AddInPlace(header) && again.Finish());
  QCOMPARE(readAll(reopened), readAll(fresh));
}

// A first archive may be the spool itself, but never with the bytes of an entry spooled and then
// not wanted (a picture made private during the run) or spooled again with other content.
void TestZipWriter::firstArchiveHoldsNoBytesOfUnwantedEntries_data() {
  QTest::addColumn<QString>("extra"); // "": every spooled entry wanted; else how one is not
  QTest::newRow("all wanted") << "";
  QTest::newRow("spooled, not wanted") << "unwanted";
  QTest::newRow("spooled twice") << "again";
}

void TestZipWriter::firstArchiveHoldsNoBytesOfUnwantedEntries() {
  QFETCH(QString, extra);
  TestEnv env;
  const QByteArray a = noise(30000, 21), b = noise(40000, 22), secret = noise(35000, 23);
  writeFile(env.path("src/a.jpg"), a);
  writeFile(env.path("src/b.jpg"), b);
  const QString archive = env.path("out/albums.zip");
  QDir().mkpath(env.path("out"));
  {
    TArchiveBuilder builder(archive);
    builder.Spool("a.jpg", env.path("src/a.jpg"),
                  CompressForArchive(extra == "again" ? secret : a));
    if (extra == "unwanted")
      builder.Spool("private.jpg", env.path("src/b.jpg"), CompressForArchive(secret));
    builder.Spool("b.jpg", env.path("src/b.jpg"), CompressForArchive(b));
    if (extra == "again") builder.Spool("a.jpg", env.path("src/a.jpg"), CompressForArchive(a));
    QVERIFY(builder.Want("a.jpg", env.path("src/a.jpg")));
    QVERIFY(builder.Want("b.jpg", env.path("src/b.jpg")));
    builder.CompressRemaining(1);
    builder.Write();
  }
  bool ok = false;
  const auto entries = readZip(archive, &ok);
  QVERIFY(ok);
  QCOMPARE(entries.size(), 2);
  QCOMPARE(entries["a.jpg"], a);
  QCOMPARE(entries["b.jpg"], b);
  QVERIFY(!readAll(archive).contains(secret.mid(1000, 64)));
  checkWithUnzip(archive, 2);
  QVERIFY(TArchiveBuilder::Leftovers(archive).isEmpty());
}

QTEST_GUILESS_MAIN(TestZipWriter)
#include "test_zipwriter.moc"
