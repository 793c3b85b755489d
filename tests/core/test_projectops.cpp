// Project operations shared by the desktop program and lumenfold-cli: the database from the
// template, a new project on it, the base-path change and the refresh of the originals.
#include "core/album.h"
#include "core/picture.h"
#include "core/project.h"
#include "core/projectops.h"
#include "db/sqlaccess.h"
#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

namespace {

bool writeFile(const QString& path, const QByteArray& content) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
}

} // namespace

class TestProjectOps : public QObject {
  Q_OBJECT
  TestEnv env;
  RecordingPrompt prompt;

  TLumenfoldAlbum* addAlbum(TLumenfoldProject& project, const QString& name, const QString& path) {
    auto* album = new TLumenfoldAlbum(&project);
    album->Path = path;
    album->ShortName = name;
    album->Loaded = true;
    project.Albums.Add(name, album);
    return album;
  }

private slots:
  void init() {
    CloseThreadConnections();
    SetCurrentConnectionString(env.newDatabase());
  }

  void templateCopyNeverTouchesAnExistingFile() {
    // A new file in a missing folder: made, writable, a real database.
    const QString fresh = env.path("copy/deep/new.sqlite");
    TDatabaseCopy copy = CopyTemplateDatabase(fresh);
    QVERIFY2(copy.ok, qPrintable(copy.error));
    QVERIFY(copy.created);
    QVERIFY(QFileInfo(fresh).isWritable());
    QVERIFY(QFileInfo(fresh).size() > 0);

    // An existing file is kept byte for byte.
    const QString existing = env.path("copy/existing.sqlite");
    QVERIFY(writeFile(existing, "not replaced"));
    copy = CopyTemplateDatabase(existing);
    QVERIFY(copy.ok);
    QVERIFY(!copy.created);
    QCOMPARE(ReadTestFile(existing), QByteArray("not replaced"));

    // A folder in the way and an empty name are errors with a reason, and nothing is made.
    const QString folder = env.makeFolder("copy/isfolder");
    copy = CopyTemplateDatabase(folder);
    QVERIFY(!copy.ok);
    QVERIFY(copy.error.contains(folder));
    QVERIFY(QFileInfo(folder).isDir());
    copy = CopyTemplateDatabase(QStringLiteral("  "));
    QVERIFY(!copy.ok);
    QVERIFY(!copy.error.isEmpty());
  }

  void newProjectSitsOnItsDatabase() {
    const QString db = env.path("newproject/db.sqlite");
    QVERIFY(CopyTemplateDatabase(db).ok);
    TLumenfoldProject project;
    project.Reset();
    project.FileName = env.path("newproject/site.lumenfold");
    project.ConnectionString = QStringLiteral("Provider=SQLite;Data Source=") + db;
    QVERIFY(OpenNewProject(project));
    QVERIFY(project.ZipEnabled);
    QCOMPARE(QFileInfo(project.ZipFileName).absoluteFilePath(),
             QFileInfo(env.path("newproject/albums.zip")).absoluteFilePath());
    QVERIFY(project.Modified);
    QCOMPARE(CurrentConnectionString(), project.ConnectionString);
    QVERIFY(prompt.errors().isEmpty());
  }

  void baseChangeTouchesOnlyMatchingAlbums() {
    TLumenfoldProject project;
    project.Reset();
    TLumenfoldAlbum* a = addAlbum(project, "a", "/old/base/a");
    TLumenfoldAlbum* b = addAlbum(project, "b", "/elsewhere/b");
    TLumenfoldAlbum* c = addAlbum(project, "c", "/old/base/c/old/base");
    project.Modified = false;

    // An empty search text would insert the replacement everywhere: it changes nothing.
    QCOMPARE(ChangeBasePath(project, QString(), QStringLiteral("/x")), 0);
    QCOMPARE(a->Path, QStringLiteral("/old/base/a"));
    QVERIFY(!project.Modified);

    // Case matters; every occurrence is replaced; albums without a match stay clean.
    QCOMPARE(ChangeBasePath(project, QStringLiteral("/OLD/base"), QStringLiteral("/new")), 0);
    QCOMPARE(ChangeBasePath(project, QStringLiteral("/old/base"), QStringLiteral("/new")), 2);
    QCOMPARE(a->Path, QStringLiteral("/new/a"));
    QCOMPARE(b->Path, QStringLiteral("/elsewhere/b"));
    QCOMPARE(c->Path, QStringLiteral("/new/c/new"));
    QVERIFY(a->Dirty && c->Dirty && !b->Dirty);
    QVERIFY(project.Modified);
  }

  void refreshReadsOriginalsAgainAndStops() {
    TLumenfoldProject project;
    project.Reset();
    const QString folder = env.makeFolder("refresh/one");
    QVERIFY(writeFile(folder + "/p1.jpg", "1234"));
    QVERIFY(writeFile(folder + "/p2.jpg", "12345"));
    TLumenfoldAlbum* album = addAlbum(project, "one", folder);
    QVERIFY(album->ImportFolder(folder));
    QCOMPARE(album->Pictures.Count(), 2);
    addAlbum(project, "two", env.makeFolder("refresh/two"));

    // The originals change on disk; the refresh picks up the new sizes.
    QVERIFY(writeFile(folder + "/p1.jpg", "123456789"));
    QVERIFY(writeFile(folder + "/p2.jpg", "12"));
    QList<int> seen;
    QVERIFY(RefreshOriginals(project, [&](int done, int total) {
      seen << done;
      return total == 2;
    }));
    QCOMPARE(album->Pictures.Pictures(0)->OriginalSize, 9);
    QCOMPARE(album->Pictures.Pictures(1)->OriginalSize, 2);
    QCOMPARE(seen.last(), 2);

    // Stopped at once: nothing is read and the answer says so.
    QVERIFY(writeFile(folder + "/p1.jpg", "1"));
    QVERIFY(!RefreshOriginals(project, [](int, int) { return false; }));
    QCOMPARE(album->Pictures.Pictures(0)->OriginalSize, 9);
  }
};

QTEST_GUILESS_MAIN(TestProjectOps)
#include "test_projectops.moc"
