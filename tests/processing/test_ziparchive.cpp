// The zip archive wrapper: entry names, updating an existing archive, explicit saves.
#include "processing/archivebuilder.h"
#include "processing/ziparchive.h"
#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QRandomGenerator>
#include <QtTest>
#include <zip.h>
#include <zlib.h>

namespace {

// Entry name -> (content, compression method) of an archive on disk.
struct Entry {
  QByteArray data;
  int method = -1;
};

QMap<QString, Entry> readZip(const QString& path) {
  QMap<QString, Entry> entries;
  int code = 0;
  zip_t* z = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &code);
  if (!z) return entries;
  const zip_int64_t n = zip_get_num_entries(z, 0);
  for (zip_int64_t i = 0; i < n; ++i) {
    zip_stat_t st;
    zip_stat_index(z, i, 0, &st);
    Entry e;
    e.method = st.comp_method;
    e.data.resize(qsizetype(st.size));
    zip_file_t* f = zip_fopen_index(z, i, 0);
    if (f) {
      zip_fread(f, e.data.data(), st.size);
      zip_fclose(f);
    }
    entries.insert(QString::fromUtf8(st.name), e);
  }
  zip_close(z);
  return entries;
}

void writeFile(const QString& path, const QByteArray& data) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write(data);
}

} // namespace

class TestZipArchive : public QObject {
  Q_OBJECT
private slots:
  void entryNamesStayInsideTheArchive_data();
  void entryNamesStayInsideTheArchive();
  void existingArchiveIsUpdatedNotRecreated();
  void nothingIsWrittenBeforeSave();
  void missingFileAddsNothing();
  void incompressibleEntriesAreStored();
  void notAZipArchiveIsReported();
  void failedSaveKeepsPreviousArchive();
  void builderStoresWhatDeflatingDoesNotShrink();
  void builderRemovesOnlyItsOwnLeftovers();
  void builderRefusesTwoFilesUnderOneName();
};

void TestZipArchive::entryNamesStayInsideTheArchive_data() {
  QTest::addColumn<QString>("relative");
  QTest::addColumn<QString>("expected");
  QTest::newRow("backslashes") << "trip\\ps_medium\\m_a.jpg"
                               << "trip/ps_medium/m_a.jpg";
  QTest::newRow("absolute") << "/etc/passwd"
                            << "etc/passwd";
  QTest::newRow("drive") << "C:\\Windows\\a.jpg"
                         << "Windows/a.jpg";
  QTest::newRow("drive relative") << "c:evil\\a.jpg"
                                  << "evil/a.jpg";
  QTest::newRow("parent parts") << "..\\..\\x/../y/./a.jpg"
                                << "x/y/a.jpg";
  QTest::newRow("doubled separators") << "a//b\\\\c"
                                      << "a/b/c";
  QTest::newRow("only dots") << "../.."
                             << "";
  QTest::newRow("dots inside names") << "a..b/.hidden"
                                     << "a..b/.hidden";
}

void TestZipArchive::entryNamesStayInsideTheArchive() {
  QFETCH(QString, relative);
  QFETCH(QString, expected);
  QCOMPARE(ZipEntryName(relative), expected);
}

void TestZipArchive::existingArchiveIsUpdatedNotRecreated() {
  TestEnv env;
  const QString zipPath = env.path("out.zip");
  writeFile(env.path("src/a.txt"), "first a");
  writeFile(env.path("src/b.txt"), "first b");
  {
    TZipArchive z;
    z.Open(zipPath);
    z.SetBaseFolder(env.path("src"));
    QVERIFY(z.AddFile("a.txt"));
    QVERIFY(z.AddFile("b.txt"));
    z.Save();
  }
  writeFile(env.path("src/b.txt"), "second b");
  writeFile(env.path("src/c.txt"), "third c");
  {
    TZipArchive z;
    z.Open(zipPath);
    QCOMPARE(z.EntryCount(), qint64(2));
    z.SetBaseFolder(env.path("src"));
    QVERIFY(z.AddFile("b.txt"));
    QVERIFY(z.AddFile("c.txt"));
    z.Save();
    // Adding the same name twice in one session keeps one entry.
    QVERIFY(z.AddFile("c.txt"));
    z.Save();
    QCOMPARE(z.EntryCount(), qint64(3));
  }
  const auto entries = readZip(zipPath);
  QCOMPARE(entries.keys(), QStringList({"a.txt", "b.txt", "c.txt"}));
  QCOMPARE(entries["a.txt"].data, QByteArray("first a"));
  QCOMPARE(entries["b.txt"].data, QByteArray("second b"));
  QCOMPARE(entries["c.txt"].data, QByteArray("third c"));
}

void TestZipArchive::nothingIsWrittenBeforeSave() {
  TestEnv env;
  const QString zipPath = env.path("out.zip");
  writeFile(env.path("a.txt"), "a");
  {
    TZipArchive z;
    z.Open(zipPath);
    QVERIFY(z.AddFileAs(env.path("a.txt"), "x/a.txt"));
    QCOMPARE(z.PendingCount(), 1);
    QVERIFY(!QFile::exists(zipPath));
  } // destroyed without a save: discarded
  QVERIFY(!QFile::exists(zipPath));
  // An archive without entries is never written.
  TZipArchive z;
  z.Open(zipPath);
  z.Save();
  QVERIFY(!QFile::exists(zipPath));
}

void TestZipArchive::missingFileAddsNothing() {
  TestEnv env;
  TZipArchive z;
  z.Open(env.path("out.zip"));
  z.SetBaseFolder(env.path());
  QVERIFY(!z.AddFile("missing.jpg"));
  writeFile(env.path("a.txt"), "a");
  QVERIFY(!z.AddFileAs(env.path("a.txt"), "/../"));
  QCOMPARE(z.PendingCount(), 0);
}

void TestZipArchive::incompressibleEntriesAreStored() {
  TestEnv env;
  QByteArray noise(64 * 1024, 0);
  quint32 x = 12345;
  for (char& c : noise) {
    x = x * 1664525u + 1013904223u;
    c = char(x >> 24);
  }
  writeFile(env.path("noise.bin"), noise);
  writeFile(env.path("text.txt"), QByteArray(64 * 1024, 'a'));
  TZipArchive z;
  z.Open(env.path("out.zip"));
  z.SetBaseFolder(env.path());
  z.AddFile("noise.bin");
  z.AddFile("text.txt");
  z.Save();
  const auto entries = readZip(env.path("out.zip"));
  QCOMPARE(entries["noise.bin"].method, int(ZIP_CM_STORE));
  QCOMPARE(entries["text.txt"].method, int(ZIP_CM_DEFLATE));
  QCOMPARE(entries["noise.bin"].data, noise);
}

void TestZipArchive::notAZipArchiveIsReported() {
  TestEnv env;
  writeFile(env.path("bad.zip"), "this is not a zip archive at all, just text");
  TZipArchive z;
  QVERIFY_THROWS_EXCEPTION(TZipError, z.Open(env.path("bad.zip")));
  // The file is left as it was.
  QFile f(env.path("bad.zip"));
  QVERIFY(f.open(QIODevice::ReadOnly));
  QCOMPARE(f.readAll(), QByteArray("this is not a zip archive at all, just text"));
  // A folder that does not exist is found out before any work.
  QVERIFY_THROWS_EXCEPTION(TZipError, z.Open(env.path("nowhere/out.zip")));
}

void TestZipArchive::failedSaveKeepsPreviousArchive() {
  TestEnv env;
  const QString folder = env.makeFolder("z");
  const QString zipPath = folder + "/out.zip";
  writeFile(env.path("a.txt"), "a");
  writeFile(env.path("b.txt"), "b");
  TZipArchive z;
  z.Open(zipPath);
  z.AddFileAs(env.path("a.txt"), "a.txt");
  z.Save();
  z.AddFileAs(env.path("b.txt"), "b.txt");
  // The file of a pending entry vanishes before the save: the save fails as a whole.
  QFile::remove(env.path("b.txt"));
  QVERIFY_THROWS_EXCEPTION(TZipError, z.Save());
  QVERIFY(!z.IsOpen());
  const auto entries = readZip(zipPath);
  QCOMPARE(entries.keys(), QStringList({"a.txt"}));
  QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList({"out.zip"}));
}

// Entries compressed ahead and entries compressed at the end follow one rule, and the archive
// reads back with the right bytes and methods, empty files included.
void TestZipArchive::builderStoresWhatDeflatingDoesNotShrink() {
  TestEnv env;
  QByteArray noise(64 * 1024, Qt::Uninitialized);
  QRandomGenerator random(3);
  for (char& c : noise)
    c = char(random.bounded(256));
  const QByteArray text = QByteArray("a line of text that repeats\n").repeated(500);
  const TCompressedEntry packedNoise = CompressForArchive(noise);
  QVERIFY(!packedNoise.Deflated);
  QCOMPARE(packedNoise.Data, noise);
  const TCompressedEntry packedText = CompressForArchive(text);
  QVERIFY(packedText.Deflated);
  QVERIFY(packedText.Data.size() < text.size() / 10);
  QCOMPARE(packedText.Crc,
           quint32(crc32(0, reinterpret_cast<const Bytef*>(text.constData()), uInt(text.size()))));
  QVERIFY(!CompressForArchive(QByteArray()).Deflated);

  writeFile(env.path("noise.bin"), noise);
  writeFile(env.path("text.txt"), text);
  writeFile(env.path("empty.txt"), QByteArray());
  const QString archive = env.path("out.zip");
  {
    TArchiveBuilder builder(archive);
    builder.Spool("ahead/text.txt", env.path("text.txt"), packedText);
    QVERIFY(builder.Want("ahead/text.txt", env.path("text.txt")));
    QVERIFY(builder.Want("later/noise.bin", env.path("noise.bin")));
    QVERIFY(builder.Want("later/text.txt", env.path("text.txt")));
    QVERIFY(builder.Want("empty.txt", env.path("empty.txt")));
    QVERIFY(!builder.Want("missing.txt", env.path("missing.txt")));
    builder.CompressRemaining(2);
    builder.Write();
  }
  const auto entries = readZip(archive);
  QCOMPARE(entries.keys(),
           QStringList({"ahead/text.txt", "empty.txt", "later/noise.bin", "later/text.txt"}));
  QCOMPARE(entries["ahead/text.txt"].data, text);
  QCOMPARE(entries["ahead/text.txt"].method, ZIP_CM_DEFLATE);
  QCOMPARE(entries["later/text.txt"].method, ZIP_CM_DEFLATE);
  QCOMPARE(entries["later/noise.bin"].data, noise);
  QCOMPARE(entries["later/noise.bin"].method, ZIP_CM_STORE);
  QCOMPARE(entries["empty.txt"].data, QByteArray());
  QVERIFY(TArchiveBuilder::Leftovers(archive).isEmpty());

  // Nothing wanted: the archive becomes an empty one, not the old one.
  {
    TArchiveBuilder builder(archive);
    builder.Write();
  }
  QVERIFY(QFile::exists(archive));
  QVERIFY(readZip(archive).isEmpty());
}

// What a killed run leaves (its spool, a partly written archive, the temporary file of an older
// version) goes; a user's files beside the archive stay, even with similar names.
void TestZipArchive::builderRemovesOnlyItsOwnLeftovers() {
  TestEnv env;
  qputenv("XDG_DATA_HOME", QFile::encodeName(env.makeFolder("data"))); // the trash
  const QString archive = env.makeFolder("site") + "/albums.zip";
  auto site = [&](const QString& name) { return env.path("site/" + name); };
  writeFile(site("albums.zip.lumenfold-spool"), "spool");
  writeFile(site("albums.zip.lumenfold-new.Ab12Cd"), "PK\x03\x04 partial");
  writeFile(site("albums.zip.X1y2Z3"), QByteArray("PK\x03\x04 partial"));
  writeFile(site("albums.zip.Q9w8E7"), QByteArray());
  // A finished archive of the user's with a name of the same shape stays.
  writeFile(site("albums.zip.backup"),
            QByteArray("PK\x03\x04 mine") + QByteArray("PK\x05\x06", 4) + QByteArray(18, 0));
  writeFile(site("albums.zip.notes1"), "my notes");
  writeFile(site("albums.zip.Zz9Yy8"), "text of mine");
  QCOMPARE(TArchiveBuilder::Leftovers(archive).size(), 4);
  { TArchiveBuilder builder(archive); }
  QStringList left = QDir(env.path("site")).entryList(QDir::Files | QDir::Hidden);
  left.sort();
  QCOMPARE(left, QStringList({"albums.zip.Zz9Yy8", "albums.zip.backup", "albums.zip.notes1"}));
}

void TestZipArchive::builderRefusesTwoFilesUnderOneName() {
  TestEnv env;
  writeFile(env.path("a/x.jpg"), "a");
  writeFile(env.path("b/X.JPG"), "b");
  TArchiveBuilder builder(env.path("out.zip"));
  QVERIFY(builder.Want("photos/x.jpg", env.path("a/x.jpg")));
  QVERIFY(builder.Want("photos\\x.jpg", env.path("a/x.jpg"))); // the same file again
  QCOMPARE(builder.WantedAs("PHOTOS/X.jpg"), QString("photos/x.jpg"));
  try {
    builder.Want("Photos/X.JPG", env.path("b/X.JPG"));
    QFAIL("two files under one name");
  } catch (const TZipError& e) {
    QVERIFY2(e.message().contains("photos/x.jpg") || e.message().contains("Photos/X.JPG"),
             qPrintable(e.message()));
  }
  QCOMPARE(builder.WantedCount(), 1);
}

QTEST_GUILESS_MAIN(TestZipArchive)
#include "test_ziparchive.moc"
