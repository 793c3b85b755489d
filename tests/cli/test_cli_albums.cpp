// lumenfold-cli rename, import-new and sync, run as a separate process on projects in a temporary
// folder; what they changed is checked on disk and through the info command.
#include "testenv.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

namespace {

struct Result {
  int code = -1;
  QString out, err;
  QStringList lines() const { return out.split('\n', Qt::SkipEmptyParts); }
};

bool writeFile(const QString& path, const QByteArray& content) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
}

QStringList files(const QString& folder) {
  return QDir(folder).entryList(QDir::Files, QDir::Name);
}

} // namespace

class TestCliAlbums : public QObject {
  Q_OBJECT
  TestEnv env;
  QString cli;
  int sites = 0;

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

  static void expectFailure(const Result& r, int code, const QString& fragment) {
    QVERIFY2(r.code == code,
             qPrintable(QStringLiteral("exit %1, stderr %2").arg(r.code).arg(r.err)));
    const QStringList lines = r.err.trimmed().split(QLatin1Char('\n'));
    QVERIFY2(lines.size() == 1, qPrintable(r.err));
    QVERIFY2(lines.first().contains(fragment, Qt::CaseInsensitive), qPrintable(r.err));
  }

  QJsonArray albums(const QString& project) {
    const Result r = run({"info", project, "--json"});
    return QJsonDocument::fromJson(r.out.toUtf8()).object()["Albums"].toArray();
  }

  // A project with one album "Trip" of a.jpg, b.jpg, c.jpg (each file holds its own name).
  QString makeSite(QString* folder) {
    const QString site = env.makeFolder(QStringLiteral("site%1").arg(++sites));
    const QString project = site + "/site.lumenfold";
    *folder = site + "/Trip";
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"})
      writeFile(*folder + "/" + name, name);
    Result r = run({"new", project});
    if (r.code != 0) qWarning() << r.err;
    r = run({"add-album", project, *folder});
    if (r.code != 0) qWarning() << r.err;
    return project;
  }

private slots:
  void initTestCase() {
    cli = QCoreApplication::applicationDirPath() + QStringLiteral("/lumenfold-cli");
    QVERIFY2(QFileInfo(cli).isExecutable(), qPrintable(cli));
  }

  void helpAndUsage() {
    const Result help = run({"--help"});
    for (const char* c : {"rename", "import-new", "sync"})
      QVERIFY(help.out.contains(c));
    Result r = run({"rename", "--help"});
    QCOMPARE(r.code, 0);
    QVERIFY(r.out.contains("--dry-run"));
    QVERIFY(run({"sync", "--help"}).out.contains("--remove-missing-pictures"));
    expectFailure(run({"rename", "x.lumenfold"}), 2, "usage");
    expectFailure(run({"import-new"}), 2, "usage");
  }

  void renameDryRunThenForReal() {
    QString folder;
    const QString project = makeSite(&folder);
    Result r = run({"rename", project, "Trip", "--template", "%SHORT_ALBUM_NAME% %N00%.jpg",
                    "--case", "upper", "--special", "--dry-run"});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QCOMPARE(r.lines(),
             QStringList({"a.jpg\tTRIP_01.JPG", "b.jpg\tTRIP_02.JPG", "c.jpg\tTRIP_03.JPG"}));
    QCOMPARE(files(folder), QStringList({"a.jpg", "b.jpg", "c.jpg"}));

    const QString id = QString::number(albums(project)[0].toObject()["Id"].toInt());
    r = run(
        {"rename", project, id, "--template", "trip_%N0%.jpg", "--start", "5", "--case", "first"});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QCOMPARE(r.lines().size(), 3);
    QCOMPARE(files(folder), QStringList({"Trip_5.jpg", "Trip_6.jpg", "Trip_7.jpg"}));
    QCOMPARE(ReadTestFile(folder + "/Trip_6.jpg"), QByteArray("b.jpg"));
    // The database names the new files; the project's settings are unchanged.
    const QJsonObject album = albums(project)[0].toObject();
    QCOMPARE(album["Face"].toString(), QString("Trip_5.jpg"));
    const QJsonObject settings =
        QJsonDocument::fromJson(run({"info", project, "--json"}).out.toUtf8()).object();
    QCOMPARE(settings["RenameTemplate"].toString(), QString("%SHORT_ALBUM_NAME%_%N000%.jpg"));
  }

  // Each picture takes the name another one has now: possible only through temporary names.
  void shiftedAndSwappedNames() {
    QString folder;
    const QString project = makeSite(&folder);
    QVERIFY(run({"rename", project, "Trip", "--template", "%N0%.jpg", "--start", "1"}).code == 0);
    Result r = run({"rename", project, "Trip", "--template", "%N0%.jpg", "--start", "2"});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QCOMPARE(r.lines(), QStringList({"1.jpg\t2.jpg", "2.jpg\t3.jpg", "3.jpg\t4.jpg"}));
    QCOMPARE(ReadTestFile(folder + "/2.jpg"), QByteArray("a.jpg"));
    QCOMPARE(ReadTestFile(folder + "/4.jpg"), QByteArray("c.jpg"));
    // Back down again, the other way round.
    QVERIFY(run({"rename", project, "Trip", "--template", "%N0%.jpg", "--start", "1"}).code == 0);
    QCOMPARE(files(folder), QStringList({"1.jpg", "2.jpg", "3.jpg"}));
    QCOMPARE(ReadTestFile(folder + "/1.jpg"), QByteArray("a.jpg"));
  }

  void collisionsAndBadNamesChangeNothing() {
    QString folder;
    const QString project = makeSite(&folder);
    QVERIFY(writeFile(folder + "/X_2.JPG", "stranger"));
    const QStringList before = files(folder);
    expectFailure(run({"rename", project, "Trip", "--template", "same.jpg"}), 1, "both");
    // Taken by that file exactly once the case is converted.
    expectFailure(run({"rename", project, "Trip", "--template", "x_%N0%.jpg", "--case", "upper"}),
                  1, "X_2.JPG");
    // Taken by a file of the folder that is no picture of the album, in another letter case.
    expectFailure(run({"rename", project, "Trip", "--template", "x_%N0%.jpg"}), 1, "x_2.jpg");
    expectFailure(run({"rename", project, "Trip", "--template", "../%N0%.jpg"}), 1, "separator");
    expectFailure(run({"rename", project, "Trip", "--case", "title"}), 2, "--case");
    expectFailure(run({"rename", project, "Trip", "--start", "-1"}), 2, "--start");
    expectFailure(run({"rename", project, "Nowhere"}), 1, "Nowhere");
    QCOMPARE(files(folder), before);
    QCOMPARE(albums(project)[0].toObject()["Face"].toString(), QString("a.jpg"));
  }

  void importNewFiles() {
    QString folder;
    const QString project = makeSite(&folder);
    QVERIFY(writeFile(folder + "/d.JPEG", "d"));
    QVERIFY(writeFile(folder + "/notes.txt", "n"));
    Result r = run({"import-new", project, "trip"});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QCOMPARE(r.lines().size(), 1);
    QVERIFY2(r.lines().first().endsWith("\td.JPEG"), qPrintable(r.out));
    QCOMPARE(albums(project)[0].toObject()["PictureCount"].toInt(), 4);
    r = run({"import-new", project, "Trip"});
    QCOMPARE(r.code, 0);
    QCOMPARE(r.out, QString());
    QCOMPARE(albums(project)[0].toObject()["PictureCount"].toInt(), 4);
  }

  void syncReportsAndChangesOnlyWhatIsNamed() {
    QString folder;
    const QString project = makeSite(&folder);
    const QString second = env.path(QStringLiteral("site%1/Other").arg(sites));
    QVERIFY(writeFile(second + "/o.jpg", "o"));
    QVERIFY(run({"add-album", project, second}).code == 0);
    QVERIFY(QFile::remove(folder + "/b.jpg"));
    QVERIFY(writeFile(folder + "/c.jpg", "changed and longer"));
    const QString moved = env.path(QStringLiteral("site%1/Moved").arg(sites));
    QVERIFY(QDir().rename(second, moved));

    const QByteArray projectBytes = ReadTestFile(project);
    Result r = run({"sync", project});
    QCOMPARE(r.code, 3);
    QVERIFY2(r.err.isEmpty(), qPrintable(r.err));
    const QStringList lines = r.lines();
    QCOMPARE(lines.size(), 4);
    QVERIFY2(lines[0].startsWith("missing-folder\t") && lines[0].contains("\tOther\t"),
             qPrintable(lines[0]));
    QVERIFY2(lines[1].startsWith("missing\t") && lines[1].endsWith("\tb.jpg"),
             qPrintable(lines[1]));
    QVERIFY2(lines[2].startsWith("changed\t") && lines[2].endsWith("\tc.jpg"),
             qPrintable(lines[2]));
    QVERIFY2(lines[3].startsWith("summary\t") && lines[3].contains("missing=1") &&
                 lines[3].contains("changed=1") && lines[3].contains("missing-folders=1"),
             qPrintable(lines[3]));
    // A report changes nothing.
    QCOMPARE(ReadTestFile(project), projectBytes);
    QCOMPARE(albums(project)[1].toObject()["PictureCount"].toInt(), 3);

    // Relocation to a folder that does not exist, or twice, is refused before anything changes.
    expectFailure(run({"sync", project, "--relocate", "Other=" + env.path("none")}), 1, "none");
    expectFailure(run({"sync", project, "--relocate", "Other"}), 2, "ALBUM=FOLDER");
    expectFailure(run({"sync", project, "--relocate", "Other=" + folder}), 1, "already");

    r = run({"sync", project, "--relocate", "Other=" + moved, "--remove-missing-pictures"});
    QCOMPARE(r.code, 3); // c.jpg is still changed
    QVERIFY2(r.out.contains("relocated\t"), qPrintable(r.out));
    QVERIFY2(r.out.contains("removed\t") && r.out.contains("\tb.jpg"), qPrintable(r.out));
    QVERIFY(!r.out.contains("missing-folder\t"));
    QVERIFY(r.out.contains("missing-folders=0"));
    const QJsonArray after = albums(project);
    QCOMPARE(after[0].toObject()["Path"].toString(), moved);
    QCOMPARE(after[1].toObject()["PictureCount"].toInt(), 2);
    // The file that was gone is not re-created or touched; the others are still there.
    QCOMPARE(files(folder), QStringList({"a.jpg", "c.jpg"}));
  }

  void removedPicturesAreNoLongerCountedMissing() {
    QString folder;
    const QString project = makeSite(&folder);
    QVERIFY(QFile::remove(folder + "/b.jpg"));
    QVERIFY(QFile::remove(folder + "/c.jpg"));
    const Result r = run({"sync", project, "--remove-missing-pictures"});
    QCOMPARE(r.code, 0);
    QVERIFY2(r.lines().last().contains("\tmissing=0") && r.lines().last().contains("\tremoved=2"),
             qPrintable(r.out));
  }

  // Missing pictures of an album whose folder is gone are never removed.
  void noRemovalWhileTheFolderIsMissing() {
    QString folder;
    const QString project = makeSite(&folder);
    QVERIFY(QDir(folder).removeRecursively());
    const Result r = run({"sync", project, "--remove-missing-pictures"});
    QCOMPARE(r.code, 3);
    QVERIFY(!r.out.contains("removed\t"));
    QCOMPARE(albums(project)[0].toObject()["PictureCount"].toInt(), 3);
  }
};

QTEST_GUILESS_MAIN(TestCliAlbums)
#include "test_cli_albums.moc"
