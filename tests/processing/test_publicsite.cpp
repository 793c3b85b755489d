// Public static sites: the template manifest, which picture files are packed, the public copy of
// the database, and a run whose archive holds nothing private.
#include "core/album.h"
#include "core/picture.h"
#include "core/project.h"
#include "db/connectionstring.h"
#include "db/sqlaccess.h"
#include "processing/archive/archivebuilder.h"
#include "processing/processthread.h"
#include "processing/publicsite.h"
#include "testenv.h"
#include "testfiles.h"
#include "util/durablefiles.h"
#include "util/messages.h"
#include "util/programfolder.h"

#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <QtTest>

namespace {

// Runs statements on an SQLite file through a connection of the test's own.
class Db {
public:
  explicit Db(const QString& file) : name_(QUuid::createUuid().toString()) {
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", name_);
    db.setDatabaseName(file);
    db.open();
  }
  ~Db() {
    QSqlDatabase::database(name_, false).close();
    QSqlDatabase::removeDatabase(name_);
  }
  bool exec(const QString& sql) {
    QSqlQuery q(QSqlDatabase::database(name_, false));
    if (!q.exec(sql)) qWarning() << sql << q.lastError().text();
    return q.isActive();
  }
  QStringList column(const QString& sql) {
    QStringList out;
    QSqlQuery q(QSqlDatabase::database(name_, false));
    if (!q.exec(sql)) qWarning() << sql << q.lastError().text();
    while (q.next())
      out << q.value(0).toString();
    return out;
  }

private:
  QString name_;
};

// An album 1 (public) with pictures 11 (public), 12 (private), 13 (deleted); a private album 2
// with picture 21; categories linking all of them (one only the private picture 12); a
// signature; local folder paths.
void fillDatabase(const QString& file) {
  Db db(file);
  const char* const rows[] = {
      "INSERT INTO album (album_id, face_picture_id, short_name, is_private, directory, path) "
      "VALUES (1, 12, 'Open album', 0, 'open', '/home/me/LOCAL-PATH-open')",
      "INSERT INTO album (album_id, face_picture_id, short_name, is_private, directory, path) "
      "VALUES (2, 21, 'SECRET-ALBUM', 1, 'closed', '/home/me/LOCAL-PATH-closed')",
      "INSERT INTO picture (picture_id, album_id, title, thumb_filename) "
      "VALUES (11, 1, 'Shown picture', 'ps_thumb\\tn_a.jpg')",
      "INSERT INTO picture (picture_id, album_id, title, is_private) "
      "VALUES (12, 1, 'SECRET-PRIVATE', 1)",
      "INSERT INTO picture (picture_id, album_id, title, is_deleted) "
      "VALUES (13, 1, 'SECRET-DELETED', -1)",
      "INSERT INTO picture (picture_id, album_id, title) VALUES (21, 2, 'SECRET-IN-ALBUM')",
      "INSERT INTO category (category_id, title) VALUES (5, 'Sea')",
      "INSERT INTO picture_to_category VALUES (11, 5)",
      "INSERT INTO picture_to_category VALUES (12, 5)",
      "INSERT INTO picture_to_category VALUES (13, 5)",
      "INSERT INTO picture_to_category VALUES (21, 5)",
      // A category only private pictures use: its name is private too.
      "INSERT INTO category (category_id, title) VALUES (6, 'SECRET-CATEGORY')",
      "INSERT INTO picture_to_category VALUES (12, 6)",
      "INSERT INTO signature VALUES (1, 'SECRET-SIGNATURE')",
      "INSERT INTO signature_item (signature_item_id, signature_item_name, caption) "
      "VALUES (1, 'item', '(c) SECRET-CAPTION')",
      "INSERT INTO signature_map (signature_id, signature_item_id) VALUES (1, 1)",
  };
  for (const char* sql : rows)
    QVERIFY2(db.exec(QLatin1String(sql)), sql);
}

class Recorder : public QObject {
public:
  bool event(QEvent* e) override {
    if (TMessageEvent::Is(e, LF_MSG_PROGRESS)) return true;
    return QObject::event(e);
  }
};

} // namespace

class TestPublicSite : public QObject {
  Q_OBJECT
private slots:
  void manifest_data();
  void manifest();
  void webSizesFromManifest_data();
  void webSizesFromManifest();
  void webSizeEdgesNeverEnlarge_data();
  void webSizeEdgesNeverEnlarge();
  void templateNameLeadingElsewhereHasNoManifest();
  void packedPictureFiles();
  void publicCopyHoldsNothingPrivate();
  void publicCopyBlanksDefaultTexts();
  void publicCopyRefusesToOverwriteAndCleansUp();
  void runPacksOnlyWhatIsPublic();
  void runWithBrokenManifestEndsWithItsReason();
  void publishedPictureWithoutOriginal();
  void webSizesAskedForLaterAreMadeByANormalRun();
  void imageDetailsFollowTheFilesOfEachAlbum();
  void killedRunsLeftoversGoLiveOnesStay();
};

void TestPublicSite::manifest_data() {
  QTest::addColumn<QByteArray>("text"); // empty: no file
  QTest::addColumn<bool>("ok");
  QTest::addColumn<bool>("isPublic");
  QTest::addColumn<bool>("originals");
  QTest::newRow("no file") << QByteArray() << true << false << true;
  QTest::newRow("public, originals left out by default")
      << QByteArray(R"({"publicStaticSite": true})") << true << true << false;
  QTest::newRow("public with originals")
      << QByteArray(R"({"publicStaticSite": true, "includeOriginals": true})") << true << true
      << true;
  QTest::newRow("not public") << QByteArray(R"({"publicStaticSite": false})") << true << false
                              << true;
  QTest::newRow("unknown keys ignored") << QByteArray(R"({"name": "x"})") << true << false << true;
  QTest::newRow("not JSON") << QByteArray("publicStaticSite = true") << false << false << true;
  QTest::newRow("array") << QByteArray("[true]") << false << false << true;
  QTest::newRow("flag as text") << QByteArray(R"({"publicStaticSite": "yes"})") << false << false
                                << true;
}

void TestPublicSite::manifest() {
  QFETCH(QByteArray, text);
  QFETCH(bool, ok);
  QFETCH(bool, isPublic);
  QFETCH(bool, originals);
  TestEnv env;
  const QString folder = env.makeFolder("templates/site");
  if (!text.isEmpty()) writeBytes(folder + "/template.json", text);
  TSiteManifest manifest;
  manifest.PublicStaticSite = true; // reading starts afresh
  QString error;
  QCOMPARE(ReadSiteManifest(folder, manifest, &error), ok);
  QCOMPARE(error.isEmpty(), ok);
  if (!ok) QVERIFY2(error.contains("template.json"), qPrintable(error));
  QCOMPARE(manifest.PublicStaticSite, isPublic);
  QCOMPARE(manifest.IncludeOriginals, originals);
}

void TestPublicSite::webSizesFromManifest_data() {
  QTest::addColumn<QByteArray>("sizes");
  QTest::addColumn<bool>("ok");
  QTest::addColumn<QList<int>>("read");
  QTest::newRow("sorted, repeats once")
      << QByteArray("[2560, 1600, 2560]") << true << QList<int>{1600, 2560};
  QTest::newRow("bounds") << QByteArray("[200, 8192]") << true << QList<int>{200, 8192};
  QTest::newRow("below") << QByteArray("[199]") << false << QList<int>{};
  QTest::newRow("above") << QByteArray("[8193]") << false << QList<int>{};
  QTest::newRow("fraction") << QByteArray("[1600.5]") << false << QList<int>{};
  QTest::newRow("text") << QByteArray(R"(["1600"])") << false << QList<int>{};
  QTest::newRow("no list") << QByteArray("1600") << false << QList<int>{};
  QTest::newRow("five") << QByteArray("[300, 400, 500, 600, 700]") << false << QList<int>{};
}

void TestPublicSite::webSizesFromManifest() {
  QFETCH(QByteArray, sizes);
  QFETCH(bool, ok);
  QFETCH(QList<int>, read);
  TestEnv env;
  const QString folder = env.makeFolder("templates/site");
  writeBytes(folder + "/template.json", R"({"publicStaticSite": true, "webSizes": )" + sizes + "}");
  TSiteManifest manifest;
  QString error;
  QCOMPARE(ReadSiteManifest(folder, manifest, &error), ok);
  if (!ok) QVERIFY2(error.contains("webSizes"), qPrintable(error));
  QCOMPARE(manifest.WebSizes, read);
  QCOMPARE(TemplateWebSizes(env.path("templates"), "site"), read);
}

void TestPublicSite::webSizeEdgesNeverEnlarge_data() {
  QTest::addColumn<QSize>("picture");
  QTest::addColumn<int>("medium");
  QTest::addColumn<QList<int>>("edges");
  QTest::newRow("large photo") << QSize(5640, 3172) << 800 << QList<int>{700, 1600, 2560};
  QTest::newRow("portrait") << QSize(2000, 3000) << 768 << QList<int>{700, 1600, 2560};
  QTest::newRow("between the sizes") << QSize(2000, 1333) << 800 << QList<int>{700, 1600, 2000};
  QTest::newRow("exactly the first") << QSize(1600, 1067) << 800 << QList<int>{700, 1600, 0};
  QTest::newRow("one above the medium") << QSize(801, 600) << 800 << QList<int>{700, 801, 0};
  QTest::newRow("the medium's size") << QSize(800, 600) << 800 << QList<int>{700, 0, 0};
  // The size below the medium image (the covers') is never the medium's nor enlarged.
  QTest::newRow("the cover's size") << QSize(700, 500) << 700 << QList<int>{0, 0, 0};
  QTest::newRow("small, medium enlarged") << QSize(600, 400) << 800 << QList<int>{600, 0, 0};
  QTest::newRow("no medium image") << QSize(2000, 1333) << 0 << QList<int>{700, 1600, 2000};
}

void TestPublicSite::webSizeEdgesNeverEnlarge() {
  QFETCH(QSize, picture);
  QFETCH(int, medium);
  QFETCH(QList<int>, edges);
  QCOMPARE(WebSizeEdges({700, 1600, 2560}, picture, medium), edges);
}

void TestPublicSite::templateNameLeadingElsewhereHasNoManifest() {
  TestEnv env;
  writeBytes(env.path("templates/ok/template.json"), R"({"publicStaticSite": true})");
  writeBytes(env.path("outside/template.json"), R"({"publicStaticSite": true})");
  TSitePacking packing;
  QString error;
  QVERIFY(packing.LoadTemplate(env.path("templates"), "ok", &error));
  QVERIFY(packing.Manifest().PublicStaticSite);
  for (const QString& name : {QString("../outside"), QString(".."), QString(""), QString("a\\b")}) {
    QVERIFY(packing.LoadTemplate(env.path("templates"), name, &error));
    QVERIFY2(!packing.Manifest().PublicStaticSite, qPrintable(name));
  }
}

void TestPublicSite::packedPictureFiles() {
  TLumenfoldProject project;
  TLumenfoldAlbum open(&project), closed(&project);
  closed.IsPrivate = true;
  struct Case {
    TLumenfoldAlbum* album;
    bool isPrivate, isDeleted, isPublic;
  };
  const Case cases[] = {
      {&open, false, false, true},    {&open, true, false, false},   {&open, false, true, false},
      {&closed, false, false, false}, {nullptr, false, false, true},
  };
  TSiteManifest plain, publicSite, withOriginals;
  publicSite.PublicStaticSite = withOriginals.PublicStaticSite = true;
  publicSite.IncludeOriginals = false;
  for (const Case& c : cases) {
    TLumenfoldPicture p(c.album);
    p.IsPrivate = c.isPrivate;
    p.IsDeleted = c.isDeleted;
    QCOMPARE(PictureIsPublic(p), c.isPublic);
    // Without a manifest everything is packed as before.
    QVERIFY(PacksPictureFile(plain, p, TPictureFile::Original));
    QVERIFY(PacksPictureFile(plain, p, TPictureFile::Generated));
    QCOMPARE(PacksPictureFile(publicSite, p, TPictureFile::Generated), c.isPublic);
    QVERIFY(!PacksPictureFile(publicSite, p, TPictureFile::Original));
    QCOMPARE(PacksPictureFile(withOriginals, p, TPictureFile::Original), c.isPublic);
  }
}

void TestPublicSite::publicCopyHoldsNothingPrivate() {
  TestEnv env;
  const QString source = GetConnectionDataSource(env.newDatabase());
  fillDatabase(source);
  const QByteArray before = ReadTestFile(source);
  const QString target = env.path("public.sqlite");
  QString error;
  QVERIFY2(WritePublicDatabase(source, target, &error), qPrintable(error));
  QCOMPARE(ReadTestFile(source), before); // the working database is only read

  {
    Db db(target);
    QCOMPARE(db.column("SELECT album_id FROM album"), QStringList({"1"}));
    QCOMPARE(db.column("SELECT picture_id FROM picture"), QStringList({"11"}));
    QCOMPARE(db.column("SELECT picture_id FROM picture_to_category"), QStringList({"11"}));
    QCOMPARE(db.column("SELECT category_id FROM category"), QStringList({"5"}));
    QCOMPARE(db.column("SELECT COALESCE(path, '') FROM album"), QStringList({""}));
    // The face picture was private: the album has none in the copy.
    QCOMPARE(db.column("SELECT face_picture_id FROM album"), QStringList({"-1"}));
    QCOMPARE(db.column("SELECT thumb_filename FROM picture"), QStringList({"ps_thumb\\tn_a.jpg"}));
    QCOMPARE(db.column("SELECT COUNT(*) FROM signature"), QStringList({"0"}));
    QCOMPARE(db.column("SELECT COUNT(*) FROM signature_item"), QStringList({"0"}));
    QCOMPARE(db.column("SELECT COUNT(*) FROM signature_map"), QStringList({"0"}));
    QCOMPARE(db.column("PRAGMA journal_mode"), QStringList({"delete"}));
    // The site's queries keep the project's indexes.
    QCOMPARE(db.column("SELECT name FROM sqlite_master WHERE type = 'index' ORDER BY 1"),
             Db(source).column("SELECT name FROM sqlite_master WHERE type = 'index' ORDER BY 1"));
    QCOMPARE(db.column("PRAGMA integrity_check"), QStringList({"ok"}));
  }
  // Not even the free pages of the file hold a removed text.
  const QByteArray bytes = ReadTestFile(target);
  QVERIFY(!bytes.isEmpty());
  for (const char* secret : {"SECRET", "LOCAL-PATH"})
    QVERIFY2(!bytes.contains(secret), secret);
  QVERIFY(bytes.size() <= before.size());
  QVERIFY(!QFile::exists(target + "-journal"));
  QVERIFY(!QFile::exists(target + "-wal"));
}

// Texts a new album or category starts with are no titles for visitors; written ones stay, also
// those that merely contain such a text. The project keeps them all.
void TestPublicSite::publicCopyBlanksDefaultTexts() {
  TestEnv env;
  const QString source = GetConnectionDataSource(env.newDatabase()), target = env.path("p.sqlite");
  QVERIFY(Db(source).exec("INSERT INTO album (album_id, short_name, long_name, long_name2, "
                          "description, is_private) VALUES (1, 'Trip', '<Long Name>', '<title2>', "
                          "'My <Long Name>', 0)"));
  QVERIFY(Db(source).exec("INSERT INTO category VALUES (5, '<title>', 'Leaves', '<description>', "
                          "'<description 2>')"));
  QVERIFY(WritePublicDatabase(source, target, nullptr));
  const QString album = "SELECT short_name||'|'||long_name||'|'||long_name2||'|'||description "
                        "FROM album";
  QCOMPARE(Db(target).column(album), QStringList({"Trip|||My <Long Name>"}));
  QCOMPARE(Db(target).column("SELECT title||'|'||title2||'|'||description||'|'||description2 "
                             "FROM category"),
           QStringList({"|Leaves||"}));
  QCOMPARE(Db(source).column(album), QStringList({"Trip|<Long Name>|<title2>|My <Long Name>"}));
}

void TestPublicSite::publicCopyRefusesToOverwriteAndCleansUp() {
  TestEnv env;
  const QString source = GetConnectionDataSource(env.newDatabase());
  QString error;
  // An existing target is never replaced.
  writeBytes(env.path("taken.sqlite"), "keep me");
  QVERIFY(!WritePublicDatabase(source, env.path("taken.sqlite"), &error));
  QVERIFY(!error.isEmpty());
  QCOMPARE(ReadTestFile(env.path("taken.sqlite")), QByteArray("keep me"));
  // A missing source or one that is no database fails and leaves no file behind.
  error.clear();
  QVERIFY(!WritePublicDatabase(env.path("missing.sqlite"), env.path("a.sqlite"), &error));
  QVERIFY(!error.isEmpty());
  QVERIFY(!QFile::exists(env.path("a.sqlite")));
  writeBytes(env.path("text.sqlite"), QByteArray(4096, 'x'));
  error.clear();
  QVERIFY(!WritePublicDatabase(env.path("text.sqlite"), env.path("b.sqlite"), &error));
  QVERIFY(!error.isEmpty());
  QVERIFY(!QFile::exists(env.path("b.sqlite")));
  // A database without the project's tables cannot be made public.
  {
    Db db(env.path("other.sqlite"));
    QVERIFY(db.exec("CREATE TABLE notes (text TEXT)"));
  }
  error.clear();
  QVERIFY(!WritePublicDatabase(env.path("other.sqlite"), env.path("c.sqlite"), &error));
  QVERIFY(!error.isEmpty());
  QVERIFY(!QFile::exists(env.path("c.sqlite")));
}

namespace {

// A project whose database and album folders live in the test's folder, which also serves as
// the program folder (templates/pub is a public static site, templates/plain is not).
struct RunFixture {
  TestEnv env;
  RecordingPrompt prompt;
  TLumenfoldProject project;
  Recorder recorder;
  QString connection;
  QStringList lines; // the report of the last run

  RunFixture() {
    connection = env.newDatabase();
    SetCurrentConnectionString(connection);
    SetProgramFolder(env.path());
    project.Reset();
    project.ConnectionString = connection;
    project.ZipFileName = env.makeFolder("site") + "/albums.zip";
    project.ZipDatabase = true;
    for (const char* t : {"templates/pub", "templates/plain"}) {
      writeBytes(env.path(t) + "/preview_small.jpg", "small");
      writeBytes(env.path(t) + "/preview_big.jpg", "big");
    }
    writeBytes(env.path("templates/pub/template.json"), R"({"publicStaticSite": true})");
  }
  ~RunFixture() {
    SetCurrentConnectionString(QString());
    SetProgramFolder(QString());
  }

  TLumenfoldAlbum* addAlbum(const QString& directory, bool isPrivate) {
    auto* album = new TLumenfoldAlbum(&project);
    album->Path = env.makeFolder("photos/" + directory);
    album->Directory = directory;
    album->ShortName = directory;
    album->IsPrivate = isPrivate;
    album->Loaded = true;
    project.Albums.Add(album->ShortName, album);
    return album;
  }

  TLumenfoldPicture* addPicture(TLumenfoldAlbum* album, const QString& name, const QString& title,
                                bool isPrivate = false, bool isDeleted = false) {
    WriteTestJpeg(album->Path + "/" + name, 64, 48);
    auto* p = new TLumenfoldPicture(album);
    p->OriginalFileName = name;
    p->Title = title;
    p->IsPrivate = isPrivate;
    p->IsDeleted = isDeleted;
    p->UpdateFileNames();
    p->SortOrder = album->Pictures.Count() + 1;
    album->Pictures.Add(QString(), p);
    p->SetDirty(true);
    p->SetModified(true);
    return p;
  }

  QMap<QString, QByteArray> readEntries() const { return readZip(project.ZipFileName); }

  bool run(QString* reason, bool all = true) {
    TProcessThread thread(&project, true, all, &recorder);
    for (int i = 0; i < project.Albums.Count(); ++i)
      for (int j = 0; j < project.Albums[i]->Pictures.Count(); ++j)
        thread.WorkList.append(project.Albums[i]->Pictures[j]);
    thread.Jobs = 2;
    QSignalSpy ended(&thread, &TProcessThread::RunEnded);
    thread.start();
    [&] { QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 120000); }();
    thread.wait();
    QCoreApplication::sendPostedEvents(&recorder);
    if (ended.isEmpty()) return false;
    lines = thread.Report().Lines();
    *reason = ended.first().at(1).toString();
    return ended.first().at(0).toBool();
  }
};

} // namespace

void TestPublicSite::runPacksOnlyWhatIsPublic() {
  RunFixture f;
  TLumenfoldAlbum* open = f.addAlbum("open", false);
  TLumenfoldAlbum* closed = f.addAlbum("closed", true);
  f.addPicture(open, "shown.jpg", "Shown");
  f.addPicture(open, "private.jpg", "SECRET-PRIVATE", true);
  f.addPicture(open, "deleted.jpg", "SECRET-DELETED", false, true);
  f.addPicture(closed, "inside.jpg", "SECRET-IN-ALBUM");

  f.project.SiteTemplate = "pub";
  QString reason;
  QVERIFY2(f.run(&reason), qPrintable(reason));
  auto entries = f.readEntries();
  // The template's previews and manifest describe it in the options; they are not the site.
  QCOMPARE(entries.keys(), QStringList({"db.sqlite", "open/ps_medium/m_shown.jpg",
                                        "open/ps_thumb/tn_shown.jpg", "site.json"}));
  QVERIFY(!entries.value("db.sqlite").contains("SECRET"));
  QCOMPARE(QJsonDocument::fromJson(entries.value("site.json")).object().value("database"),
           QJsonValue("db.sqlite"));
  // The working database keeps everything.
  Db working(GetConnectionDataSource(f.connection));
  QCOMPARE(working.column("SELECT title FROM picture WHERE is_private <> 0"),
           QStringList({"SECRET-PRIVATE"}));

  // The same project with a template without manifest packs as before: originals, the files of
  // every picture not marked deleted, the working database, no site.json.
  QFile::remove(f.project.ZipFileName);
  f.project.SiteTemplate = "plain";
  QVERIFY2(f.run(&reason), qPrintable(reason));
  entries = f.readEntries();
  for (const char* name : {"open/shown.jpg", "open/private.jpg", "closed/inside.jpg",
                           "open/ps_thumb/tn_private.jpg", "closed/ps_medium/m_inside.jpg"})
    QVERIFY2(entries.contains(name), name);
  QVERIFY(!entries.contains("open/deleted.jpg"));
  QVERIFY(!entries.contains("site.json"));
  QVERIFY(entries.value("db.sqlite").contains("SECRET-PRIVATE"));
}

void TestPublicSite::runWithBrokenManifestEndsWithItsReason() {
  RunFixture f;
  f.addPicture(f.addAlbum("open", false), "shown.jpg", "Shown");
  writeBytes(f.env.path("templates/pub/template.json"), "{ broken");
  f.project.SiteTemplate = "pub";
  QString reason;
  QVERIFY(!f.run(&reason));
  QVERIFY2(reason.contains("template.json") && reason.contains("\"pub\""), qPrintable(reason));
  QVERIFY(!QFile::exists(f.project.ZipFileName)); // nothing was packed
}

// Its images stay in the archive, or without any it leaves the site; named in the report. A
// site that reads the database is not packed without it.
void TestPublicSite::publishedPictureWithoutOriginal() {
  RunFixture f;
  TLumenfoldAlbum* open = f.addAlbum("open", false);
  TLumenfoldPicture* kept = f.addPicture(open, "kept.jpg", "Kept");
  TLumenfoldPicture* gone = f.addPicture(open, "gone.jpg", "Gone");
  f.project.SiteTemplate = "pub";
  QString reason;
  QVERIFY2(f.run(&reason), qPrintable(reason));
  // Both originals go; kept's medium image stays on disk, its thumbnail only in the archive;
  // gone's images are nowhere.
  for (const QString& file : {kept->OriginalPath(), kept->ThumbPath(), gone->OriginalPath(),
                              gone->MediumPath(), gone->ThumbPath()})
    QVERIFY(QFile::remove(file));
  {
    // The archive again without gone's images.
    const auto packed = f.readEntries();
    TArchiveBuilder again(f.project.ZipFileName);
    for (auto it = packed.cbegin(); it != packed.cend(); ++it) {
      if (it.key().contains("_gone.")) continue;
      writeBytes(f.env.path("again/" + it.key()), it.value());
      QVERIFY(again.Want(it.key(), f.env.path("again/" + it.key())));
    }
    again.CompressRemaining(1);
    again.Write();
  }
  const QByteArray thumb = f.readEntries().value("open/ps_thumb/tn_kept.jpg");

  QVERIFY2(f.run(&reason), qPrintable(reason));
  const auto entries = f.readEntries();
  QVERIFY(entries.contains("open/ps_medium/m_kept.jpg"));
  QCOMPARE(entries.value("open/ps_thumb/tn_kept.jpg"), thumb);
  QVERIFY(!entries.contains("open/ps_thumb/tn_gone.jpg"));
  writeBytes(f.env.path("packed.sqlite"), entries.value("db.sqlite"));
  QCOMPARE(Db(f.env.path("packed.sqlite")).column("SELECT title FROM picture"),
           QStringList({"Kept"}));
  QCOMPARE(f.lines.first(), "2 original pictures were not found and were skipped.");
  QVERIFY(f.lines.join('\n').contains(kept->OriginalPath()));
  QVERIFY(f.lines.join('\n').contains(gone->OriginalPath()));

  f.project.ZipDatabase = false;
  QVERIFY(!f.run(&reason));
  QVERIFY2(reason.contains("ZipDatabase"), qPrintable(reason));
}

// A template that asks for web sizes after the pictures were made: a run of the modified
// pictures makes those a picture gets, and then finds nothing due (a small one gets none).
void TestPublicSite::webSizesAskedForLaterAreMadeByANormalRun() {
  RunFixture f;
  TLumenfoldAlbum* open = f.addAlbum("open", false);
  TLumenfoldPicture* big = f.addPicture(open, "big.jpg", "Big");
  TLumenfoldPicture* small = f.addPicture(open, "small.jpg", "Small");
  QVERIFY(WriteTestJpeg(big->OriginalPath(), 1000, 700));
  f.project.SiteTemplate = "plain";
  QString reason;
  QVERIFY2(f.run(&reason), qPrintable(reason));
  const QString web = open->Path + "/ps_w900/m_big.jpg";
  QVERIFY(!QFile::exists(web));
  QVERIFY(!big->NeedsProcessing() && !small->NeedsProcessing());

  writeBytes(f.env.path("templates/pub/template.json"),
             R"({"publicStaticSite": true, "webSizes": [900]})");
  f.project.SiteTemplate = "pub";
  QVERIFY(!WebSizesCurrent(*big, {900}));
  QVERIFY(WebSizesCurrent(*small, {900}));
  QVERIFY2(f.run(&reason, false), qPrintable(reason));
  QCOMPARE(QImageReader(web).size(), QSize(900, 630));
  QVERIFY(WebSizesCurrent(*big, {900}));
  QCOMPARE(QDir(open->Path + "/ps_w900").entryList(QDir::Files), QStringList({"m_big.jpg"}));
  QVERIFY(f.readEntries().contains("open/ps_w900/m_big.jpg"));
  // Nothing is due now: the next run leaves the image as it is.
  const QDateTime made = QFileInfo(web).lastModified();
  QVERIFY2(f.run(&reason, false), qPrintable(reason));
  QCOMPARE(QFileInfo(web).lastModified(), made);
}

// An album whose files changed since the last run has its image sizes read again; the others
// keep theirs from the previous public copy.
void TestPublicSite::imageDetailsFollowTheFilesOfEachAlbum() {
  RunFixture f;
  TLumenfoldPicture* same = f.addPicture(f.addAlbum("same", false), "a.jpg", "A");
  TLumenfoldPicture* changed = f.addPicture(f.addAlbum("changed", false), "b.jpg", "B");
  f.project.SiteTemplate = "pub";
  QString reason;
  auto mediumSizes = [&] {
    writeBytes(f.env.path("packed.sqlite"), f.readEntries().value("db.sqlite"));
    return Db(f.env.path("packed.sqlite"))
        .column("SELECT title || medium_width || 'x' || medium_height FROM picture ORDER BY title");
  };
  QVERIFY2(f.run(&reason), qPrintable(reason));
  const QStringList made = mediumSizes();
  QCOMPARE(made.size(), 2);
  QVERIFY(made[0] != "A-1x-1" && made[1] != "B-1x-1");
  // Nothing changed, then only the second album's medium image.
  QVERIFY2(f.run(&reason, false), qPrintable(reason));
  QCOMPARE(mediumSizes(), made);
  QVERIFY(QFile::exists(same->MediumPath()) && WriteTestJpeg(changed->MediumPath(), 30, 20));
  QVERIFY2(f.run(&reason, false), qPrintable(reason));
  QCOMPARE(mediumSizes(), QStringList({made[0], "B30x20"}));
}

// Temporary folders and the archive's spool of a run that is gone go; those of a live run stay.
void TestPublicSite::killedRunsLeftoversGoLiveOnesStay() {
  TestEnv env;
  const QString tmp = env.makeFolder("tmp");
  for (const char* name :
       {"lumenfold-cli-Dead01", "lumenfold-cli-Live01", "lumenfold-cli-Old001", "other-Dead01"})
    writeBytes(tmp + "/" + name + "/site.json", "{}");
  writeBytes(tmp + "/lumenfold-cli-Dead01/owner.lock", "");
  writeBytes(tmp + "/other-Dead01/owner.lock", "");
  TFileLock live(tmp + "/lumenfold-cli-Live01/owner.lock", false);
  QCOMPARE(TSitePacking::RemoveAbandonedFolders(tmp), 1);
  QCOMPARE(QDir(tmp).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
           QStringList({"lumenfold-cli-Live01", "lumenfold-cli-Old001", "other-Dead01"}));

  const QString archive = env.path("albums.zip");
  writeBytes(archive + ".lumenfold-spool", "dead run");
  TArchiveBuilder first(archive);
  QVERIFY(!QFile::exists(archive + ".lumenfold-spool"));
  first.Spool("a.txt", archive, CompressForArchive("live run"));
  QVERIFY_THROWS_EXCEPTION(TZipError, TArchiveBuilder{archive});
  QVERIFY(QFile::exists(archive + ".lumenfold-spool"));
}

QTEST_MAIN(TestPublicSite)
#include "test_publicsite.moc"
