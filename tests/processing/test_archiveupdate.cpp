// The project's archive is updated where it lies: a run with nothing to do leaves it alone, a
// killed update leaves a sound archive, and entries that go leave nothing readable behind.
#include "processing/archive/archivebuilder.h"
#include "processing/archive/archiveupdate.h"
#include "testenv.h"
#include "util/programfolder.h"

#include <QDateTime>
#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QtTest>
#include <sys/stat.h>
#include <zlib.h>

namespace {

int cli(const QStringList& args, const QByteArray& fault = {}) {
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  if (!fault.isEmpty()) env.insert("LUMENFOLD_FAULT_KILL_ARCHIVE_UPDATE", fault);
  p.setProcessEnvironment(env);
  p.start(ProgramFolder() + "lumenfold-cli", args);
  p.waitForFinished(120000);
  return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// "unzip -t" accepts the archive; the names it holds.
QStringList testedEntries(const QString& archive) {
  QProcess test;
  test.start("unzip", {"-t", archive});
  test.waitForFinished(120000);
  const QString out = QString::fromLocal8Bit(test.readAllStandardOutput());
  if (test.exitCode() != 0) {
    qWarning().noquote() << out;
    return {"unzip -t failed"};
  }
  QStringList names;
  for (const QString& line : out.split('\n'))
    if (line.trimmed().startsWith("testing:")) names << line.trimmed().section(' ', 1, 1);
  names.sort();
  return names;
}

// The first column of a query on the site's database in the archive.
QStringList publicColumn(const QString& archive, const QString& sql) {
  QProcess unzip;
  const QString copy = archive + ".db";
  unzip.setStandardOutputFile(copy);
  unzip.start("unzip", {"-p", archive, "db.sqlite"});
  unzip.waitForFinished(120000);
  QStringList values;
  {
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "public");
    db.setDatabaseName(copy);
    QSqlQuery q(db);
    if (db.open() && q.exec(sql))
      while (q.next())
        values << q.value(0).toString();
  }
  QSqlDatabase::removeDatabase("public");
  QFile::remove(copy);
  return values;
}

// The site's pages and feeds in the archive, by entry.
QMap<QString, QByteArray> sitePages(const QString& archive) {
  QMap<QString, QByteArray> pages;
  for (const QString& name : testedEntries(archive))
    if (!name.contains('/') && (name.endsWith(".html") || name.endsWith(".xml"))) {
      QProcess unzip;
      unzip.start("unzip", {"-p", archive, name});
      unzip.waitForFinished(120000);
      pages.insert(name, unzip.readAllStandardOutput());
    }
  return pages;
}

// A project with an album "Trip" of two pictures, processed once into its archive.
struct Project {
  TestEnv env;
  QString album = env.makeFolder("photos");
  QString file = env.path("p.lumenfold");
  QString archive = env.path("site/albums.zip");
  bool make() {
    env.makeFolder("site");
    return WriteTestJpeg(album + "/a.jpg", 320, 240) && WriteTestJpeg(album + "/b.jpg", 240, 320) &&
           cli({"new", file}) == 0 && cli({"set", file, "ZipFileName=" + archive}) == 0 &&
           cli({"add-album", file, album, "--directory", "trip", "--short-name", "Trip"}) == 0 &&
           cli({"process", file, "--zip"}) == 0;
  }
};

} // namespace

class TestArchiveUpdate : public QObject {
  Q_OBJECT
private slots:
  void initTestCase() {
    if (!QFile::exists(ProgramFolder() + "lumenfold-cli")) QSKIP("lumenfold-cli is not built");
    if (QStandardPaths::findExecutable("unzip").isEmpty()) QSKIP("unzip is not installed");
  }
  void runWithNothingToDoLeavesTheArchiveAlone();
  void killedUpdateLeavesASoundArchive_data();
  void killedUpdateLeavesASoundArchive();
  void entriesThatGoLeaveNothingReadable();
  void journalOfTheFirstVersionStillUndoes();
  void siteDatabaseFollowsWhatItIsMadeFrom_data();
  void siteDatabaseFollowsWhatItIsMadeFrom();
  void pageChangesOnlyWhereItShows_data();
  void pageChangesOnlyWhereItShows();
  void siteDatabaseKeepsTextsNumbersAndWebSizes();
};

void TestArchiveUpdate::runWithNothingToDoLeavesTheArchiveAlone() {
  Project p;
  QVERIFY(p.make());
  const QByteArray before = ReadTestFile(p.archive);
  const QDateTime written = QFileInfo(p.archive).lastModified();
  QCOMPARE(cli({"process", p.file, "--zip"}), 0);
  QCOMPARE(ReadTestFile(p.archive), before);
  QCOMPARE(QFileInfo(p.archive).lastModified(), written);
}

void TestArchiveUpdate::killedUpdateLeavesASoundArchive_data() {
  QTest::addColumn<QByteArray>("fault");
  QTest::addColumn<bool>("newContent");    // what the archive holds once repaired
  QTest::addColumn<bool>("updatedBefore"); // the archive has places cleared by an update
  QTest::newRow("while new entries are written") << QByteArray("1") << false << false;
  QTest::newRow("while new entries fill cleared places") << QByteArray("1") << false << true;
  QTest::newRow("before gone entries are cleared") << QByteArray("committed") << true << false;
  QTest::newRow("while gone entries are cleared") << QByteArray("clearing") << true << true;
}

// Killed at either point, the archive is repaired at the next command's start (here: the repair
// itself) into the old or the new archive; the next run then finishes the work.
void TestArchiveUpdate::killedUpdateLeavesASoundArchive() {
  QFETCH(QByteArray, fault);
  QFETCH(bool, newContent);
  QFETCH(bool, updatedBefore);
  Project p;
  QVERIFY(p.make());
  if (updatedBefore)
    QVERIFY(cli({"edit", p.file, "Trip", "b.jpg", "--title", "Harbour"}) == 0 &&
            cli({"process", p.file, "--zip"}) == 0);
  const QByteArray before = ReadTestFile(p.archive);
  const QStringList oldEntries = testedEntries(p.archive);
  QVERIFY(oldEntries.contains("trip/ps_medium/m_a.jpg"));
  QVERIFY(WriteTestJpeg(p.album + "/c.jpg", 300, 200));
  QCOMPARE(cli({"import-new", p.file, "Trip"}), 0);
  QCOMPARE(cli({"process", p.file, "--zip"}, fault), -1);
  QVERIFY(QFile::exists(ArchiveJournalPath(p.archive)));
  RecoverArchive(p.archive);
  QVERIFY(!QFile::exists(ArchiveJournalPath(p.archive)));
  const QStringList repaired = testedEntries(p.archive);
  QCOMPARE(repaired.contains("trip/ps_medium/m_c.jpg"), newContent);
  if (!newContent) QCOMPARE(ReadTestFile(p.archive), before);
  QCOMPARE(cli({"process", p.file, "--zip"}), 0);
  const QStringList after = testedEntries(p.archive);
  QVERIFY(after.contains("trip/ps_medium/m_c.jpg"));
  QVERIFY(after.contains("trip/ps_medium/m_a.jpg"));
}

// An archive that loses entries (its first among them) and gains one is updated where it lies;
// the bytes of the entries that went are nowhere in the file, and it still reads as an archive.
void TestArchiveUpdate::entriesThatGoLeaveNothingReadable() {
  TestEnv env;
  const QString archive = env.path("albums.zip");
  auto write = [&](const QStringList& names) {
    TArchiveBuilder builder(archive);
    for (const QString& name : names) {
      const QString file = env.path(name);
      QFile out(file);
      if (!out.exists() && out.open(QIODevice::WriteOnly))
        out.write("content of " + name.toUtf8() + "-marker");
      out.close();
      if (!builder.Unchanged(name, file))
        builder.Spool(name, file, CompressForArchive(ReadTestFile(file)));
      builder.Want(name, file);
    }
    builder.Write();
    return builder.UpdatedInPlace();
  };
  QVERIFY(!write({"gone1.txt", "stays1.txt", "gone2.txt", "stays2.txt", "stays3.txt"}));
  QTest::qWait(1100); // the archive is newer than its files
  QVERIFY(write({"stays1.txt", "stays2.txt", "stays3.txt", "new.txt"}));
  const QByteArray bytes = ReadTestFile(archive);
  QVERIFY(!bytes.contains("gone1.txt") && !bytes.contains("gone2.txt"));
  QVERIFY(bytes.contains("content of stays1.txt-marker") && bytes.startsWith("PK\x03\x04"));
  QCOMPARE(testedEntries(archive),
           QStringList({"new.txt", "stays1.txt", "stays2.txt", "stays3.txt"}));
}

// A journal of the first version (a copy of the old directory, which the new entries overwrote)
// left by a killed update still puts the old archive back.
void TestArchiveUpdate::journalOfTheFirstVersionStillUndoes() {
  Project p;
  QVERIFY(p.make());
  const QByteArray before = ReadTestFile(p.archive);
  const qsizetype end = before.lastIndexOf("PK\x05\x06");
  QVERIFY(end > 0);
  qint64 directory = 0;
  for (int i = 3; i >= 0; --i)
    directory = directory * 256 + quint8(before[end + 16 + i]);
  struct stat info;
  QVERIFY(::stat(QFile::encodeName(p.archive).constData(), &info) == 0);
  QByteArray journal;
  {
    QDataStream out(&journal, QIODevice::WriteOnly);
    out.writeRawData("LumenFold archive journal 1", 28);
    out << quint64(info.st_dev) << quint64(info.st_ino) << qint64(before.size()) << directory
        << before.mid(directory) << qint64(before.size() + 9000) << qint64(before.size() + 8000)
        << quint32(1) << quint64(0);
  }
  QDataStream(&journal, QIODevice::Append)
      << quint32(crc32(0, reinterpret_cast<const Bytef*>(journal.constData()), journal.size()));
  QFile saved(ArchiveJournalPath(p.archive));
  QVERIFY(saved.open(QIODevice::WriteOnly) && saved.write(journal) == journal.size());
  saved.close();
  QFile file(p.archive); // killed while the new entries were written over the old directory
  QVERIFY(file.open(QIODevice::ReadWrite) && file.seek(directory));
  QVERIFY(file.write(QByteArray(before.size() - directory + 5000, 'x')) > 0);
  file.close();
  RecoverArchive(p.archive);
  QVERIFY(!QFile::exists(ArchiveJournalPath(p.archive)));
  QCOMPARE(ReadTestFile(p.archive), before);
}

void TestArchiveUpdate::siteDatabaseFollowsWhatItIsMadeFrom_data() {
  QTest::addColumn<QString>("change");
  QTest::addColumn<QString>("query");
  QTest::addColumn<QStringList>("before");
  QTest::addColumn<QStringList>("after");
  const QString privateA = "SELECT original_filename FROM picture ORDER BY 1";
  QTest::newRow("a picture made private (the database changes)")
      << "private" << privateA << QStringList{"a.jpg", "b.jpg"} << QStringList{"b.jpg"};
  // Only the file changes: the project's database stays as it was.
  QTest::newRow("a thumbnail replaced by one of another size")
      << "thumbnail"
      << "SELECT thumb_width FROM picture WHERE original_filename = 'a.jpg'" << QStringList{"200"}
      << QStringList{"50"};
}

// A run whose site inputs are those of the archive keeps the archive's site database; any change
// of them makes it anew.
void TestArchiveUpdate::siteDatabaseFollowsWhatItIsMadeFrom() {
  QFETCH(QString, change);
  QFETCH(QString, query);
  QFETCH(QStringList, before);
  QFETCH(QStringList, after);
  Project p;
  QVERIFY(p.make());
  QCOMPARE(cli({"process", p.file, "--zip"}), 0);
  QCOMPARE(publicColumn(p.archive, query), before);
  if (change == "private")
    QCOMPARE(cli({"edit", p.file, "Trip", "a.jpg", "--private", "yes"}), 0);
  else
    QVERIFY(WriteTestJpeg(p.album + "/ps_thumb/tn_a.jpg", 50, 38));
  QCOMPARE(cli({"process", p.file, "--zip"}), 0);
  QCOMPARE(publicColumn(p.archive, query), after);
}

void TestArchiveUpdate::pageChangesOnlyWhereItShows_data() {
  QTest::addColumn<QStringList>("edit");
  // "album" (Trip's page), "index", "feed" or a picture's file
  QTest::addColumn<QStringList>("changed");
  QTest::newRow("a title changed")
      << QStringList{"b.jpg", "--title", "Harbour at dawn"} << QStringList{"album", "b.jpg"};
  // Its neighbour loses the link to it and counts one picture less in its untitled name; the
  // home page and the feed count the album's pictures.
  QTest::newRow("a picture made private")
      << QStringList{"a.jpg", "--private", "yes"}
      << QStringList{"album", "index", "feed", "a.jpg", "b.jpg"};
}

// A change of one picture makes again the pages that show it; every other page, those of
// another album among them, keeps the bytes it had.
void TestArchiveUpdate::pageChangesOnlyWhereItShows() {
  QFETCH(QStringList, edit);
  QFETCH(QStringList, changed);
  Project p;
  QVERIFY(p.make());
  const QString hills = p.env.makeFolder("hills");
  QVERIFY(WriteTestJpeg(hills + "/c.jpg", 320, 240) && WriteTestJpeg(hills + "/d.jpg", 320, 240));
  QCOMPARE(cli({"add-album", p.file, hills, "--directory", "hills", "--short-name", "Hills"}), 0);
  QCOMPARE(cli({"process", p.file, "--zip"}), 0);
  QMap<QString, QString> entry{{"index", "index.html"}, {"feed", "feed.xml"}};
  entry["album"] =
      "album-" +
      publicColumn(p.archive, "SELECT album_id FROM album WHERE short_name = 'Trip'").value(0) +
      ".html";
  for (const QString file : {"a.jpg", "b.jpg"})
    entry[file] = "photo-" +
                  publicColumn(p.archive, "SELECT picture_id FROM picture WHERE "
                                          "original_filename = '" +
                                              file + "'")
                      .value(0) +
                  ".html";
  QStringList expected;
  for (const QString& what : changed)
    expected << entry[what];
  expected.sort();
  const QMap<QString, QByteArray> before = sitePages(p.archive);
  QVERIFY(before.size() >= 8 && before.contains(entry["a.jpg"]) && before.contains(entry["b.jpg"]));
  QCOMPARE(cli(QStringList{"edit", p.file, "Trip"} + edit), 0);
  QCOMPARE(cli({"process", p.file, "--zip"}), 0);
  const QMap<QString, QByteArray> after = sitePages(p.archive);
  QStringList differ;
  for (auto page = before.cbegin(); page != before.cend(); ++page)
    if (after.value(page.key()) != page.value()) differ << page.key();
  QCOMPARE(differ, expected);
  if (edit.contains("--private")) {
    QVERIFY(!after.contains(entry["a.jpg"]));
    for (const QByteArray& page : after) // no page links the private picture any more
      QVERIFY(!page.contains(entry["a.jpg"].toUtf8()));
  } else {
    QVERIFY(after[entry["b.jpg"]].contains("Harbour at dawn"));
    QVERIFY(after[entry["album"]].contains("Harbour at dawn"));
  }
}

// The shot's details and the web sizes reach the site's database with their types, and texts
// with quotes and backslashes unchanged; a web size changed by hand is seen by the next run.
void TestArchiveUpdate::siteDatabaseKeepsTextsNumbersAndWebSizes() {
  if (QStandardPaths::findExecutable("exiftool").isEmpty()) QSKIP("exiftool is not installed");
  TestEnv env;
  const QString album = env.makeFolder("photos"), file = env.path("p.lumenfold"),
                archive = env.path("albums.zip");
  QVERIFY(WriteTestJpeg(album + "/a.jpg", 2000, 1500));
  QCOMPARE(QProcess::execute("exiftool",
                             {"-q", "-overwrite_original", "-Make=", "-Model=Cam \"7\" \\ x",
                              "-FNumber=2.8", "-FocalLength=50", "-ISO=200", album + "/a.jpg"}),
           0);
  QVERIFY(cli({"new", file}) == 0 && cli({"set", file, "ZipFileName=" + archive}) == 0 &&
          cli({"set", file, "SiteCameraDetails=true"}) == 0 &&
          cli({"add-album", file, album, "--directory", "trip"}) == 0);
  QCOMPARE(cli({"process", file, "--zip"}), 0);
  QCOMPARE(publicColumn(archive, "SELECT camera||'|'||typeof(focal_length)||focal_length||'|'||"
                                 "aperture||'|'||typeof(iso)||iso||'|'||medium_width||'x'||"
                                 "medium_height||'|'||web_images FROM picture"),
           QStringList{"Cam \"7\" \\ x|real50.0|2.8|integer200|800x600|[[700,525,"
                       "\"ps_w700/m_a.jpg\"],[1600,1200,\"ps_w1600/m_a.jpg\"],[2000,1500,"
                       "\"ps_w2560/m_a.jpg\"]]"});
  QVERIFY(WriteTestJpeg(album + "/ps_w2560/m_a.jpg", 1800, 1350));
  QCOMPARE(cli({"process", file, "--zip"}), 0);
  QCOMPARE(publicColumn(archive, "SELECT web_images FROM picture"),
           QStringList{R"([[700,525,"ps_w700/m_a.jpg"],[1600,1200,"ps_w1600/m_a.jpg"],)"
                       R"([1800,1350,"ps_w2560/m_a.jpg"]])"});
}

QTEST_GUILESS_MAIN(TestArchiveUpdate)
#include "test_archiveupdate.moc"
