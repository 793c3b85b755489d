// lumenfold-cli end to end: the program is run as a separate process on projects in a temporary
// folder, and what it stored is checked by running it again.
#include "db/sqlaccess.h"
#include "exifbuilder.h"
#include "testenv.h"
#include "testprofiles.h"
#include "util/imaging/jpegcodec.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

namespace {

struct Result {
  int code = -1;
  QString out, err;
};

const QString kAllPages = QStringLiteral("WelcomePath selectionAlbum detailThumbnailsFace "
                                         "selectionRenameSignatureCategorySummary");

} // namespace

class TestCli : public QObject {
  Q_OBJECT
  TestEnv env;
  QString cli;
  QString photos, more;

  Result run(const QStringList& args) {
    QProcess p;
    p.setWorkingDirectory(env.path());
    p.start(cli, args);
    if (!p.waitForStarted(30000) || !p.waitForFinished(120000)) return {};
    Result r;
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
  }

  QJsonObject info(const QString& project) {
    const Result r = run({"info", project, "--json"});
    if (r.code != 0) {
      qWarning() << "info failed:" << r.err;
      return {};
    }
    QJsonParseError e;
    const QJsonDocument doc = QJsonDocument::fromJson(r.out.toUtf8(), &e);
    if (e.error != QJsonParseError::NoError) qWarning() << "bad JSON:" << e.errorString() << r.out;
    return doc.object();
  }

  // A failed command: non-zero status and exactly one line on standard error naming the problem.
  static void expectFailure(const Result& r, const QString& fragment) {
    QVERIFY2(r.code > 0, qPrintable(QStringLiteral("exit %1, stderr %2").arg(r.code).arg(r.err)));
    const QStringList lines = r.err.trimmed().split(QLatin1Char('\n'));
    QVERIFY2(lines.size() == 1, qPrintable(r.err));
    QVERIFY2(lines.first().contains(fragment, Qt::CaseInsensitive), qPrintable(r.err));
  }

  QString newProject(const QString& name) {
    const QString file = env.makeFolder(name) + QStringLiteral("/site.lumenfold");
    const Result r = run({"new", file});
    if (r.code != 0) qWarning() << r.err;
    return file;
  }

private slots:
  void initTestCase() {
    cli = QCoreApplication::applicationDirPath() + QStringLiteral("/lumenfold-cli");
    QVERIFY2(QFileInfo(cli).isExecutable(), qPrintable(cli));
    photos = env.makeFolder(QStringLiteral("photos/Léto 2024"));
    QVERIFY(WriteTestJpeg(photos + "/b.jpg", 64, 48));
    QVERIFY(WriteTestJpeg(photos + "/a.JPG", 48, 64));
    QVERIFY(WriteTestJpeg(photos + "/c.jpeg", 32, 32));
    QVERIFY(MakeTestImage(8, 8).save(photos + "/not-a-picture.bmp"));
    env.makeFolder(QStringLiteral("photos/Léto 2024/folder.jpg"));
    more = env.makeFolder(QStringLiteral("photos/more"));
    QVERIFY(WriteTestJpeg(more + "/x.jpg", 40, 30));
  }

  void infoListsPicturesWithCameraMetadata() {
    const QString folder = env.makeFolder(QStringLiteral("camera %1 roll"));
    TestExif turned;
    turned.Orientation = 8;
    turned.DateTimeOriginal = "2023:08:09 10:11:12";
    const QByteArray jpeg = EncodeJpeg(MakeTestImage(40, 30), 90);
    auto write = [&](const QString& name, const QByteArray& bytes) {
      QFile f(folder + "/" + name);
      return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    };
    QVERIFY(write("p1.jpg", WithSegments(jpeg, ExifSegment(BuildExifTiff(turned)) +
                                                   ColourProfileSegments(AdobeRgbLikeProfile()))));
    QVERIFY(write("p2 %1.jpg", jpeg));
    const QString file = newProject(QStringLiteral("site-camera"));
    Result r = run({"add-album", file, folder});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    r = run({"info", file, "--pictures", "--json"});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    const QJsonObject album =
        QJsonDocument::fromJson(r.out.toUtf8()).object()["Albums"].toArray()[0].toObject();
    QCOMPARE(album["AlbumDate"].toString().left(10), QString("2023-08-09"));
    const QJsonArray pictures = album["Pictures"].toArray();
    QCOMPARE(pictures.size(), 2);
    const QJsonObject p1 = pictures[0].toObject(), p2 = pictures[1].toObject();
    QCOMPARE(p1["FileName"].toString(), QString("p1.jpg"));
    QCOMPARE(p1["Orientation"].toInt(), 4);
    // The database keeps the day of a picture's date.
    QCOMPARE(p1["PictureDate"].toString().left(10), QString("2023-08-09"));
    QCOMPARE(p1["ColourProfile"].toString(), QString("Wide RGB 1998 test"));
    QCOMPARE(p1["FileSize"].toInt(), int(QFileInfo(folder + "/p1.jpg").size()));
    QCOMPARE(p2["Orientation"].toInt(), 1);
    QCOMPARE(p2["ColourProfile"].toString(), QString("sRGB (none embedded)"));
    QVERIFY(p2["PictureDate"].isString());

    r = run({"info", file, "--pictures"});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    const QString lines = r.out.split('\n').filter(".jpg:").join('\n');
    QVERIFY2(lines.contains("p1.jpg: orientation 4, date 2023-08-09"), qPrintable(lines));
    QVERIFY2(lines.contains("colour Wide RGB 1998 test, size not known yet"), qPrintable(lines));
    QVERIFY2(lines.contains("p2 %1.jpg: orientation 1"), qPrintable(lines));
    // Without --pictures the listing stays as it was.
    QVERIFY(!run({"info", file}).out.contains("p1.jpg:"));
  }

  void usage() {
    const Result help = run({"--help"});
    QCOMPARE(help.code, 0);
    for (const char* c : {"new", "info", "set", "add-album"})
      QVERIFY(help.out.contains(c));
    const Result none = run({});
    QVERIFY(none.code != 0);
    QVERIFY(none.err.contains("usage"));
    expectFailure(run({"frobnicate"}), "frobnicate");
  }

  void newAddAlbumInfoSet() {
    const QString folder = env.makeFolder(QStringLiteral("site1"));
    const QString file = folder + "/site.lumenfold";
    Result r = run({"new", file});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QVERIFY(QFileInfo(folder + "/db.sqlite").isFile());

    QJsonObject o = info(file);
    QCOMPARE(o["Complete"].toBool(), true);
    QCOMPARE(o["Modified"].toBool(), false);
    QCOMPARE(o["FileName"].toString(), file);
    QCOMPARE(o["ConnectionString"].toString(),
             QString("Provider=SQLite;Data Source=" + folder + "/db.sqlite"));
    QCOMPARE(o["ZipEnabled"].toBool(), true);
    QCOMPARE(o["ZipFileName"].toString(), QString(folder + "/albums.zip"));
    QCOMPARE(o["ThumbWidth"].toInt(), 200);
    QCOMPARE(o["MediumHeight"].toInt(), 768);
    QCOMPARE(o["ResizeMethod"].toInt(), 3);
    QCOMPARE(o["RenameTemplate"].toString(), QString("%SHORT_ALBUM_NAME%_%N000%.jpg"));
    QCOMPARE(o["WizardPages"].toString(), kAllPages);
    QCOMPARE(o["Albums"].toArray().size(), 0);

    // Two .jpg/.jpeg files and one .JPG count; the .bmp and the folder named like a picture
    // do not.
    r = run({"add-album", file, photos});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    r = run({"add-album", file, more, "--directory", "2024/more", "--short-name", "More", "--face",
             "x.jpg"});
    QVERIFY2(r.code == 0, qPrintable(r.err));

    o = info(file);
    QCOMPARE(o["Modified"].toBool(), false);
    const QJsonArray albums = o["Albums"].toArray();
    QCOMPARE(albums.size(), 2);
    // The newest album is first.
    const QJsonObject top = albums[0].toObject(), second = albums[1].toObject();
    QCOMPARE(top["ShortName"].toString(), QString("More"));
    QCOMPARE(top["Directory"].toString(), QString("2024/more"));
    QCOMPARE(top["PictureCount"].toInt(), 1);
    QCOMPARE(second["ShortName"].toString(), QString("Léto 2024"));
    QCOMPARE(second["Directory"].toString(), QString("Léto 2024"));
    QCOMPARE(second["Path"].toString(), photos);
    QCOMPARE(second["PictureCount"].toInt(), 3);
    QCOMPARE(second["ModifiedCount"].toInt(), 3);
    // The face is the first picture by name unless one is named.
    QCOMPARE(second["Face"].toString(), QString("a.JPG"));
    QCOMPARE(top["Face"].toString(), QString("x.jpg"));
    QVERIFY(top["Id"].toInt() > 0 && second["Id"].toInt() > 0);
    QVERIFY(top["Id"].toInt() != second["Id"].toInt());

    r = run({"set", file, "ThumbWidth=320", "ZipEnabled=false", "WizardPages=Welcome,Summary",
             "ThumbFolder=náhledy", "RenameStart=-5", "MaxMegapixels=450", "OutputMetadata=1"});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    o = info(file);
    QCOMPARE(o["ThumbWidth"].toInt(), 320);
    QCOMPARE(o["ZipEnabled"].toBool(), false);
    QCOMPARE(o["WizardPages"].toString(), QString("WelcomeSummary"));
    QCOMPARE(o["ThumbFolder"].toString(), QString("náhledy"));
    QCOMPARE(o["RenameStart"].toInt(), -5);
    QCOMPARE(o["MaxMegapixels"].toInt(), 450);
    QCOMPARE(o["OutputMetadata"].toInt(), 1);
    QCOMPARE(o["ThumbHeight"].toInt(), 150);   // untouched settings stay
    QCOMPARE(o["Albums"].toArray().size(), 2); // the albums survive a settings change

    r = run({"set", file, "ZipEnabled=1", "WizardPages=511"});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    r = run({"info", file});
    QCOMPARE(r.code, 0);
    QVERIFY2(r.out.contains("ZipEnabled = true"), qPrintable(r.out));
    QVERIFY(r.out.contains("WizardPages = " + kAllPages));
    QVERIFY(r.out.contains("pictures: 3, to be processed: 3"));

    // Once processed, a loaded album holds only its face picture; the counts still cover every
    // picture of the album.
    const QString cs = "Provider=SQLite;Data Source=" + folder + "/db.sqlite";
    QVERIFY(ExecSQL(cs, "UPDATE picture SET modified=0") > 0);
    CloseThreadConnections();
    o = info(file);
    const QJsonObject processed = o["Albums"].toArray()[1].toObject();
    QCOMPARE(processed["PictureCount"].toInt(), 3);
    QCOMPARE(processed["ModifiedCount"].toInt(), 0);
    QCOMPARE(processed["Face"].toString(), QString("a.JPG"));
  }

  void newNeverReplacesExistingFiles() {
    const QString file = newProject("site2");
    QVERIFY(QFile::exists(file));
    const QString db = QFileInfo(file).absolutePath() + "/db.sqlite";
    QVERIFY(run({"add-album", file, more}).code == 0);

    // A second project on the same database sees its album.
    const QString other = env.makeFolder("site2b") + "/other.lumenfold";
    Result r = run({"new", other, "--db", db});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QCOMPARE(info(other)["Albums"].toArray().size(), 1);
    QVERIFY(!QFile::exists(env.path("site2b/db.sqlite")));

    // An existing project file is refused and left as it was.
    const QByteArray before = ReadTestFile(file);
    expectFailure(run({"new", file}), "exists");
    QCOMPARE(ReadTestFile(file), before);
    QCOMPARE(info(file)["Albums"].toArray().size(), 1);
  }

  // A database that is the project file or its lock is refused; missing folders are made.
  void newRefusesUnusableDatabasesAndMakesFolders() {
    const QString file = env.path("nowhere/deep/site.lumenfold");
    for (const QString& db : {file, file + ".lock"})
      expectFailure(run({"new", file, "--db", db}), "lock file");
    QVERIFY(!QFile::exists(env.path("nowhere")));
    const Result r = run({"new", file});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QVERIFY(QFileInfo(env.path("nowhere/deep/db.sqlite")).isFile());
    QCOMPARE(info(file)["FileName"].toString(), file);
  }

  // db.sqlite holding another project's albums is left to it unless --db names it.
  void secondProjectGetsADatabaseOfItsOwn() {
    const QString first = newProject("site7");
    QVERIFY(run({"add-album", first, more}).code == 0);
    const QString second = env.path("site7/trip 2.lumenfold");
    const Result r = run({"new", second});
    QVERIFY2(r.code == 0 && r.out.contains(env.path("site7/trip 2.sqlite")), qPrintable(r.out));
    QCOMPARE(info(second)["Albums"].toArray().size(), 0);
    QCOMPARE(info(first)["Albums"].toArray().size(), 1);
  }

  // A moved project finds the database beside it, and one whose database is gone can be given
  // another (named relative to the project).
  void movedProjectFindsItsDatabase() {
    QVERIFY(run({"add-album", newProject("site8"), more}).code == 0);
    QVERIFY(QDir().rename(env.path("site8"), env.path("site8 moved")));
    const QString moved = env.path("site8 moved/site.lumenfold");
    const QJsonObject o = info(moved);
    QCOMPARE(o["ConnectionString"].toString(),
             "Provider=SQLite;Data Source=" + env.path("site8 moved/db.sqlite"));
    QCOMPARE(o["Albums"].toArray().size(), 1);
    QVERIFY(QFile::rename(env.path("site8 moved/db.sqlite"), env.path("site8 moved/kept.sqlite")));
    const Result r =
        run({"set", moved, "ConnectionString=Provider=SQLite;Data Source=kept.sqlite"});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QCOMPARE(info(moved)["Albums"].toArray().size(), 1);
  }

  void errorsLeaveTheProjectUnchanged() {
    const QString file = newProject("site3");
    QVERIFY(run({"add-album", file, photos}).code == 0);
    const QByteArray before = ReadTestFile(file);

    expectFailure(run({"info", env.path("site3/missing.lumenfold")}), "missing.lumenfold");
    expectFailure(run({"set", env.path("site3/missing.lumenfold"), "ThumbWidth=1"}), "not found");

    // Names are exact; one bad assignment saves none of the others.
    Result r = run({"set", file, "ThumbWidth=300", "thumbwidth=400"});
    expectFailure(r, "thumbwidth");
    QVERIFY(r.err.contains("ThumbWidth"));
    QCOMPARE(r.code, 2);
    expectFailure(run({"set", file, "ThumbWidth=300", "NoSuchSetting=1"}), "NoSuchSetting");
    expectFailure(run({"set", file, "ThumbQuality=abc"}), "ThumbQuality");
    expectFailure(run({"set", file, "ThumbQuality=101"}), "ThumbQuality");
    expectFailure(run({"set", file, "ThumbWidth=99999999999"}), "ThumbWidth");
    expectFailure(run({"set", file, "ZipEnabled=maybe"}), "ZipEnabled");
    expectFailure(run({"set", file, "MaxMegapixels=0"}), "MaxMegapixels");
    expectFailure(run({"set", file, "OutputMetadata=3"}), "OutputMetadata");
    expectFailure(run({"set", file, "WizardPages=Nothing"}), "WizardPages");
    expectFailure(run({"set", file, "ThumbWidth"}), "NAME=VALUE");
    expectFailure(run({"set", file}), "usage");
    // A connection string whose database cannot be opened would lock the project out.
    expectFailure(
        run({"set", file,
             "ConnectionString=Provider=SQLite;Data Source=" + env.path("site3/none.sqlite")}),
        "ConnectionString");
    QVERIFY(!QFile::exists(env.path("site3/none.sqlite")));
    QCOMPARE(ReadTestFile(file), before);

    expectFailure(run({"add-album", file, env.path("photos/absent")}), "absent");
    // The same folder again, also written differently, is refused.
    expectFailure(run({"add-album", file, photos}), "already");
    expectFailure(run({"add-album", file, photos + "/"}), "already");
    expectFailure(run({"add-album", file, env.path("photos/./Léto 2024")}), "already");
    expectFailure(run({"add-album", file, more, "--bogus"}), "--bogus");
    expectFailure(run({"add-album", file, more, "--face", "X.JPG"}), "X.JPG");
    expectFailure(run({"add-album", file, more, "--directory"}), "directory");
    QCOMPARE(ReadTestFile(file), before);
    QCOMPARE(info(file)["Albums"].toArray().size(), 1);
  }

  void damagedProjectFile() {
    const QString file = newProject("site4");
    QVERIFY(run({"set", file, "SiteTemplate=classic"}).code == 0);
    QByteArray bytes = ReadTestFile(file);
    QVERIFY(bytes.size() > 40);
    bytes.chop(20);
    {
      QFile f(file);
      QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
      f.write(bytes);
    }
    // Shown, marked incomplete; never saved over.
    const QJsonObject o = info(file);
    QCOMPARE(o["Complete"].toBool(), false);
    QCOMPARE(o["Modified"].toBool(), true);
    QCOMPARE(o["ThumbWidth"].toInt(), 200);
    expectFailure(run({"set", file, "ThumbWidth=100"}), "incomplete");
    expectFailure(run({"add-album", file, more}), "incomplete");
    QCOMPARE(ReadTestFile(file), bytes);

    // A project whose database has gone.
    const QString file2 = newProject("site5");
    QVERIFY(QFile::remove(env.path("site5/db.sqlite")));
    expectFailure(run({"info", file2}), "db.sqlite");
    expectFailure(run({"add-album", file2, more}), "db.sqlite");
  }
};

QTEST_GUILESS_MAIN(TestCli)
#include "test_cli.moc"
