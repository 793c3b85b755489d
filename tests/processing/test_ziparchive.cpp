// The archive builder: entry names, the rule between deflating and storing, leftovers of a run
// that died, names that clash, an existing file that is no archive, and the stamps of files
// read from their folder's listing.
#include "processing/archive/archivebuilder.h"
#include "processing/archive/archivefiles.h"
#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QRandomGenerator>
#include <QtTest>
#include <zlib.h>

namespace {

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
  void notAZipArchiveIsReported();
  void builderStoresWhatDeflatingDoesNotShrink();
  void jpegFilesAreStoredUnlessDeflatingSavesEnough_data();
  void jpegFilesAreStoredUnlessDeflatingSavesEnough();
  void builderRemovesOnlyItsOwnLeftovers();
  void builderRefusesTwoFilesUnderOneName();
  void keepingPreviousEntriesIsAllOrNothing();
  void folderStampsAnswerAsEachFileAlone();
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
  QTest::newRow("trailing separator") << "a/b/"
                                      << "a/b";
  QTest::newRow("last part dots") << "a/.."
                                  << "a";
  QTest::newRow("one letter and colon") << "c:"
                                        << "";
}

void TestZipArchive::entryNamesStayInsideTheArchive() {
  QFETCH(QString, relative);
  QFETCH(QString, expected);
  QCOMPARE(ZipEntryName(relative), expected);
}

void TestZipArchive::notAZipArchiveIsReported() {
  TestEnv env;
  writeFile(env.path("bad.zip"), "this is not a zip archive at all, just text");
  QVERIFY_THROWS_EXCEPTION(TZipError, TArchiveBuilder(env.path("bad.zip")));
  // The file is left as it was.
  QFile f(env.path("bad.zip"));
  QVERIFY(f.open(QIODevice::ReadOnly));
  QCOMPARE(f.readAll(), QByteArray("this is not a zip archive at all, just text"));
  // A folder that does not exist is found out before any work.
  QVERIFY_THROWS_EXCEPTION(TZipError, TArchiveBuilder(env.path("nowhere/out.zip")));
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
  const auto entries = ReadTestZip(archive);
  QCOMPARE(entries.keys(),
           QStringList({"ahead/text.txt", "empty.txt", "later/noise.bin", "later/text.txt"}));
  QCOMPARE(entries["ahead/text.txt"].Data, text);
  QCOMPARE(entries["ahead/text.txt"].Header.Method, kZipDeflated);
  QCOMPARE(entries["later/text.txt"].Header.Method, kZipDeflated);
  QCOMPARE(entries["later/noise.bin"].Data, noise);
  QCOMPARE(entries["later/noise.bin"].Header.Method, kZipStored);
  QCOMPARE(entries["empty.txt"].Data, QByteArray());
  QVERIFY(TArchiveBuilder::Leftovers(archive).isEmpty());

  // Nothing wanted: the archive becomes an empty one, not the old one.
  {
    TArchiveBuilder builder(archive);
    builder.Write();
  }
  QVERIFY(QFile::exists(archive));
  QVERIFY(ReadTestZip(archive).isEmpty());
}

void TestZipArchive::jpegFilesAreStoredUnlessDeflatingSavesEnough_data() {
  QTest::addColumn<QByteArray>("bytes");
  QTest::addColumn<bool>("deflated");
  auto noise = [](qsizetype size, quint32 seed) { // size: a multiple of 4
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator(seed).fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
    return bytes;
  };
  // Segments of metadata (APP1, up to 60000 bytes each), the scan header, then the scan data.
  auto jpeg = [](const QByteArray& metadata, const QByteArray& scan) {
    QByteArray b("\xff\xd8", 2);
    for (qsizetype at = 0; at < metadata.size(); at += 60000) {
      const QByteArray part = metadata.mid(at, 60000);
      b += QByteArray("\xff\xe1", 2) + char((part.size() + 2) >> 8) + char(part.size() + 2);
      b += part;
    }
    return b + QByteArray("\xff\xda\x00\x02", 4) + scan + QByteArray("\xff\xd9", 2);
  };
  const QByteArray photo = noise(3 << 20, 1);
  QTest::newRow("photo") << jpeg({}, photo) << false;
  QTest::newRow("thumbnail") << jpeg({}, noise(20000, 2)) << false;
  QTest::newRow("saves 3 %") << jpeg({}, noise(1 << 20, 3) + QByteArray(32000, 'x')) << false;
  // Metadata that shrinks to nothing, but is a small part of the file.
  QTest::newRow("large metadata") << jpeg(QByteArray(100000, 'm'), photo) << false;
  QTest::newRow("saves 8 %") << jpeg({}, noise(1 << 20, 4) + QByteArray(90000, 'x')) << true;
  QTest::newRow("flat picture") << jpeg({}, QByteArray("\x12\x34\x56").repeated(400000)) << true;
  QTest::newRow("small flat picture") << jpeg({}, QByteArray(5000, 'x')) << true;
  // Not JPEG data: deflated whenever that makes it smaller.
  QTest::newRow("other, saves 3 %") << noise(1 << 20, 5) + QByteArray(32000, 'x') << true;
  QTest::newRow("other, saves nothing") << noise(1 << 20, 6) << false;
}

void TestZipArchive::jpegFilesAreStoredUnlessDeflatingSavesEnough() {
  QFETCH(QByteArray, bytes);
  QFETCH(bool, deflated);
  const TCompressedEntry entry = CompressForArchive(bytes);
  QCOMPARE(entry.Deflated, deflated);
  QCOMPARE(entry.Crc, quint32(crc32(0, reinterpret_cast<const Bytef*>(bytes.constData()),
                                    uInt(bytes.size()))));
  // Deflated data reads back in builderStoresWhatDeflatingDoesNotShrink.
  if (!deflated) QCOMPARE(entry.Data, bytes);
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
    QVERIFY2(e.Text().contains("photos/x.jpg") || e.Text().contains("Photos/X.JPG"),
             qPrintable(e.Text()));
  }
  QCOMPARE(builder.WantedCount(), 1);
}

void TestZipArchive::keepingPreviousEntriesIsAllOrNothing() {
  TestEnv env;
  const QString archive = env.path("out.zip");
  {
    TArchiveBuilder builder(archive);
    for (const char* name : {"a.html", "b.html", "c.html"}) {
      writeFile(env.path(name), name);
      QVERIFY(builder.Want(name, env.path(name)));
    }
    builder.CompressRemaining(1);
    builder.Write();
  }
  writeFile(env.path("b2.html"), "new b");
  TArchiveBuilder builder(archive);
  QVERIFY(builder.Want("B.html", env.path("b2.html")));
  // A name wanted already (in any case) or missing: none is kept. A name twice is kept once.
  QVERIFY(!builder.KeepAllPrevious({"a.html", "b.html"}));
  QVERIFY(!builder.KeepAllPrevious({"a.html", "c.html", "gone.html"}));
  QVERIFY(builder.KeepAllPrevious({"a.html", "a.html"}));
  QVERIFY(!builder.KeepAllPrevious({"c.html", "a.html"}));
  QCOMPARE(builder.WantedCount(), 2);
  builder.CompressRemaining(1);
  builder.Write();
  const auto entries = ReadTestZip(archive);
  QCOMPARE(entries.keys(), QStringList({"B.html", "a.html"}));
  QCOMPARE(entries["a.html"].Data, QByteArray("a.html"));
}

void TestZipArchive::folderStampsAnswerAsEachFileAlone() {
  // Links are not followed, a folder that is missing holds nothing, and a name the listing has
  // is looked at on its own: every answer is the one of OwnFileStamp.
  TestEnv env;
  writeFile(env.path("album/a.jpg"), "12345");
  writeFile(env.path("album/ps_medium/m_a.jpg"), "123");
  QVERIFY(QFile::link(env.path("album/a.jpg"), env.path("album/link.jpg")));
  QVERIFY(QFile::link(env.path("album/gone.jpg"), env.path("album/dangling.jpg")));
  QVERIFY(QDir().mkpath(env.path("album/sub.jpg")));
  QStringList names{"a.jpg",   "ps_medium/m_a.jpg", "link.jpg",         "dangling.jpg",
                    "sub.jpg", "none.jpg",          "ps_large/l_a.jpg", "a.jpg/x"};
  for (int f = 0; f < 10; ++f) // more folders than the stamps keep at hand, some missing
    if (names << QStringLiteral("ps_w%1/w.jpg").arg(f); f % 3 != 0)
      writeFile(env.path("album/" + names.last()), QByteArray(f + 1, 'w'));
  names += names; // each folder visited again after the others
  TFolderStamps stamps;
  for (const QString& name : std::as_const(names)) {
    const QString path = env.path(QStringLiteral("album/") + name);
    bool exists = false, listedExists = true;
    const TFileStamp alone = OwnFileStamp(path, exists);
    const TFileStamp listed = stamps.Own(path, listedExists);
    QVERIFY2(listedExists == exists && listed.IsFile == alone.IsFile && listed.Size == alone.Size &&
                 listed.MTime.tv_sec == alone.MTime.tv_sec &&
                 listed.MTime.tv_nsec == alone.MTime.tv_nsec,
             qPrintable(name));
  }
}

QTEST_GUILESS_MAIN(TestZipArchive)
#include "test_ziparchive.moc"
