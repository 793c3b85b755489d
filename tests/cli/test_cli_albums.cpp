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

  // fault: stops the program after that many file moves of a rename (see renameops.cpp).
  Result run(const QStringList& args, const QString& fault = {}) {
    QProcess p;
    p.setWorkingDirectory(env.path());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!fault.isEmpty()) environment.insert("LUMENFOLD_FAULT_STOP_AFTER_MOVES", fault);
    p.setProcessEnvironment(environment);
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
    const Result r = run({"info", project, "--json", "--pictures"});
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

  // A value of info --json as text: lists joined by ",", dates cut to the day.
  static QString text(const QJsonValue& v) {
    return (v.isArray() ? v.toVariant().toStringList().join(',') : v.toVariant().toString())
        .left(10);
  }

  QJsonObject picture(const QString& project, const QString& file) {
    for (const QJsonValue p : albums(project)[0].toObject()["Pictures"].toArray())
      if (p["FileName"].toString() == file) return p.toObject();
    return {};
  }

  QString categories(const QString& project) {
    QStringList titles;
    for (const QJsonValue c : QJsonDocument::fromJson(run({"info", project, "--json"}).out.toUtf8())
                                  .object()["Categories"]
                                  .toArray())
      titles << c["Title"].toString();
    return titles.join(',');
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

  // A site made by the command line alone from a captioned phone picture: the title in both
  // languages and the keyword as category; a title set by the user stays unless --overwrite.
  void heicSiteWithEditorCaptions() {
    const QString site = env.makeFolder("phone"), folder = env.makeFolder("phone/Phone");
    QVERIFY(WriteTestJpeg(site + "/shot.jpg", 64, 48));
    QCOMPARE(QProcess::execute("heif-enc", {site + "/shot.jpg", "-o", folder + "/IMG_1.HEIC"}), 0);
    QCOMPARE(QProcess::execute(
                 "exiftool", {"-q", "-overwrite_original", "-XMP-dc:Title-x-default=Harbour",
                              "-XMP-dc:Title-de=Hafen", "-XMP-lr:HierarchicalSubject=Places|Genoa",
                              folder + "/IMG_1.HEIC"}),
             0);
    const QString project = site + "/site.lumenfold";
    QCOMPARE(run({"new", project}).code, 0);
    QCOMPARE(run({"add-album", project, folder}).code, 0);
    Result r = run({"process", project});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QVERIFY(QFileInfo(folder + "/ps_medium/m_img_1.jpg").isFile());
    QCOMPARE(text(picture(project, "IMG_1.HEIC")["Title2"]), QString("Hafen"));
    QCOMPARE(categories(project), QString("Genoa"));
    QCOMPARE(run({"edit", project, "Phone", "IMG_1.HEIC", "--title", "Mine"}).code, 0);
    r = run({"read-captions", project, "Phone"});
    QVERIFY2(r.code == 0 && r.out.isEmpty() && r.err.contains("--overwrite"), qPrintable(r.err));
    r = run({"read-captions", project, "Phone", "--overwrite"});
    QCOMPARE(r.out, QString("IMG_1.HEIC\tTitle\tMine\tHarbour\n"));
    QCOMPARE(text(picture(project, "IMG_1.HEIC")["Title"]), QString("Harbour"));
  }

  // --no-captions imports the pictures without their titles and keywords; read-captions takes
  // them later, every keyword linked.
  void addAlbumWithoutCaptions() {
    const QString site = env.makeFolder("plain"), folder = env.makeFolder("plain/Trip");
    QVERIFY(WriteTestJpeg(folder + "/a.jpg", 64, 48));
    QCOMPARE(QProcess::execute("exiftool",
                               {"-q", "-overwrite_original", "-XMP-dc:Title-x-default=Harbour",
                                "-XMP-dc:Subject=Sea", "-XMP-dc:Subject=Boats",
                                "-XMP-dc:Subject=Dawn", folder + "/a.jpg"}),
             0);
    const QString project = site + "/site.lumenfold";
    QCOMPARE(run({"new", project}).code, 0);
    QCOMPARE(run({"add-album", project, folder, "--no-captions"}).code, 0);
    QCOMPARE(text(picture(project, "a.jpg")["Title"]), QString());
    QCOMPARE(categories(project), QString());
    QCOMPARE(run({"read-captions", project, "Trip"}).code, 0);
    QCOMPARE(text(picture(project, "a.jpg")["Title"]), QString("Harbour"));
    QCOMPARE(picture(project, "a.jpg")["Categories"].toVariant().toStringList(),
             QStringList({"Sea", "Boats", "Dawn"}));
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
  // The picture names the database gives, and what the folder holds: names (hidden ones too) and
  // contents.
  void expectConsistent(const QString& project, const QString& folder, const QStringList& names) {
    QStringList stored;
    for (const QJsonValue& p : albums(project)[0].toObject()["Pictures"].toArray())
      stored.append(p.toObject()["FileName"].toString());
    stored.sort();
    QCOMPARE(stored, names);
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name), names);
    QStringList contents;
    for (const QString& name : names)
      contents.append(QString::fromUtf8(ReadTestFile(folder + "/" + name)));
    contents.sort();
    QCOMPARE(contents, QStringList({"a.jpg", "b.jpg", "c.jpg"}));
    QVERIFY(!QFileInfo::exists(project + ".rename-journal"));
  }

  // A rename killed after any of its moves (1.jpg -> 2.jpg, 2.jpg -> 3.jpg, 3.jpg -> 4.jpg:
  // three moves to temporary names, three to the new ones), and a repair killed too, is undone
  // by the next command; a stop signal lets the rename finish.
  void interruptedRenameIsRepairedByTheNextCommand() {
    const QList<QPair<int, int>> cases = {{1, 0}, {2, 0}, {3, 0}, {4, 0},
                                          {5, 0}, {6, 0}, {4, 1}, {5, 3}}; // moves; repair moves
    for (const auto& [stop, repairStop] : cases) {
      QString folder;
      const QString project = makeSite(&folder);
      const QStringList shift = {"rename", project, "Trip", "--template", "%N0%.jpg", "--start"};
      QVERIFY(run(shift + QStringList{"1"}).code == 0);
      QCOMPARE(run(shift + QStringList{"2"}, QString::number(stop)).code, -1);
      if (repairStop > 0) QCOMPARE(run({"info", project}, QString::number(repairStop)).code, -1);
      const Result r = run({"info", project});
      QVERIFY2(r.code == 0 && r.err.contains("it has been undone (3 picture(s)"),
               qPrintable(r.err));
      expectConsistent(project, folder, {"1.jpg", "2.jpg", "3.jpg"});
      if (QTest::currentTestFailed()) return;

      const Result term = run(shift + QStringList{"2"}, QString::number(stop) + ",term");
      QVERIFY2(term.code == 0 && term.err.contains("finished first"), qPrintable(term.err));
      expectConsistent(project, folder, {"2.jpg", "3.jpg", "4.jpg"});
    }
  }

  // Only the record would move: the file, when it comes back, would be a new picture.
  void missingOriginalKeepsItsName() {
    QString folder;
    const QString project = makeSite(&folder);
    QVERIFY(QFile::remove(folder + "/b.jpg"));
    const Result r = run({"rename", project, "Trip", "--template", "r_%N0%.jpg"});
    QVERIFY2(r.code == 3 && r.err.contains("b.jpg: the original is missing"), qPrintable(r.err));
    QCOMPARE(r.lines(), QStringList({"a.jpg\tr_1.jpg", "c.jpg\tr_3.jpg"}));
    QStringList stored;
    for (const QJsonValue& p : albums(project)[0].toObject()["Pictures"].toArray())
      stored.append(p.toObject()["FileName"].toString());
    QCOMPARE(stored, QStringList({"r_1.jpg", "b.jpg", "r_3.jpg"}));
  }

  void noRemovalWhileTheFolderIsMissing() {
    QString folder;
    const QString project = makeSite(&folder);
    QVERIFY(QDir(folder).removeRecursively());
    const Result r = run({"sync", project, "--remove-missing-pictures"});
    QCOMPARE(r.code, 3);
    QVERIFY(!r.out.contains("removed\t"));
    QCOMPARE(albums(project)[0].toObject()["PictureCount"].toInt(), 3);
  }

  // An emptied folder (often a drive that is not mounted) keeps its records unless --yes says.
  void emptyFolderRemovesNothingWithoutYes() {
    QString folder;
    const QString project = makeSite(&folder);
    for (const QString& f : files(folder))
      QVERIFY(QFile::remove(folder + "/" + f));
    Result r = run({"sync", project, "--remove-missing-pictures"});
    QCOMPARE(r.code, 3);
    QVERIFY2(!r.out.contains("removed\t") && r.err.contains("answered no"), qPrintable(r.err));
    QCOMPARE(albums(project)[0].toObject()["PictureCount"].toInt(), 3);
    r = run({"sync", project, "--remove-missing-pictures", "--yes"});
    QVERIFY2(r.code == 0 && r.out.contains("removed=3"), qPrintable(r.out + r.err));
    QCOMPARE(albums(project)[0].toObject()["PictureCount"].toInt(), 0);
  }

  // Generated and preview folders are never an album's folder, nor a setting's target; an album
  // leaves the project without its files.
  void outputFoldersAreNoAlbumsAndRemoveAlbumKeepsFiles() {
    QString folder;
    const QString project = makeSite(&folder);
    expectFailure(run({"set", project, "ThumbFolder=PS_TMP", "ThumbPrefix=tmp_"}), 1, "ps_tmp");
    for (const char* sub : {"/ps_medium", "/ps_tmp"}) {
      QVERIFY(writeFile(folder + sub + "/x.jpg", "x"));
      expectFailure(run({"add-album", project, folder + sub}), 1, "generated images");
    }
    // A folder whose own thumbnail folder is an album.
    const QString up = QFileInfo(folder).absolutePath() + "/Up";
    QVERIFY(writeFile(up + "/ps_thumb/u.jpg", "u") && writeFile(up + "/v.jpg", "v"));
    QVERIFY(run({"add-album", project, up + "/ps_thumb", "--short-name", "Thumbs"}).code == 0);
    expectFailure(run({"add-album", project, up}), 1, "Thumbs");

    Result r = run({"remove-album", project, "Thumbs"});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QCOMPARE(albums(project).size(), 1);
    QCOMPARE(files(up + "/ps_thumb"), QStringList({"u.jpg"}));
    QVERIFY(run({"add-album", project, up}).code == 0);
    expectFailure(run({"remove-album", project, "Thumbs"}), 1, "Thumbs");
  }

  // Each row edits the pictures further, then one field of one picture is checked.
  void editPictures() {
    QString folder;
    const QString project = makeSite(&folder);
    QCOMPARE(run({"category", project, "add", "Birds"}).code, 0);
    struct Row {
      QStringList args;
      QString file, field, value;
    } rows[] = {
        {{"b.jpg", "--title", "Sunset", "--title2", "Abend"}, "b.jpg", "Title2", "Abend"},
        {{"[bc].jpg", "--private", "yes"}, "c.jpg", "IsPrivate", "true"},
        {{"--all", "--deleted", "YES"}, "a.jpg", "IsDeleted", "true"},
        {{"2", "--date", "2020-05-06"}, "b.jpg", "PictureDate", "2020-05-06"},
        {{"b.jpg", "--date", ""}, "b.jpg", "PictureDate", ""},
        {{"c.jpg", "--turn", "right"}, "c.jpg", "Orientation", "2"},
        {{"c.jpg", "--turn", "half"}, "c.jpg", "Orientation", "4"},
        {{"c.jpg", "--face"}, "a.jpg", "IsFace", "false"},
        {{"b.jpg", "c.jpg", "--category", "birds"}, "c.jpg", "Categories", "Birds"},
        {{"c.jpg", "--no-category", "1"}, "c.jpg", "Categories", ""},
    };
    for (const Row& row : rows) {
      const Result r = run(QStringList{"edit", project, "Trip"} + row.args);
      QVERIFY2(r.code == 0 && !r.out.isEmpty(), qPrintable(row.args.join(' ') + r.err));
      QCOMPARE(text(picture(project, row.file)[row.field]), row.value);
    }
    QCOMPARE(text(picture(project, "c.jpg")["IsFace"]), QString("true"));
    // An unknown name changes nothing, not even what the other options asked for.
    expectFailure(run({"edit", project, "Trip", "c.jpg", "--title", "X", "--category", "Sheep"}), 1,
                  "no category \"Sheep\"");
    expectFailure(run({"edit", project, "Trip", "x.jpg", "--title", "X"}), 1, "no picture");
    QCOMPARE(text(picture(project, "c.jpg")["Title"]), QString());
  }

  void editAlbum() {
    QString folder;
    const QString project = makeSite(&folder);
    const struct {
      QString album;
      QStringList args;
      QString field, value;
    } rows[] = {
        {"Trip", {"--short-name", "Voyage", "--long-name", "Long"}, "ShortName", "Voyage"},
        {"voyage", {"--date", "2019-01-02"}, "AlbumDate", "2019-01-02"},
        {"Voyage", {"--private", "yes"}, "IsPrivate", "true"},
        {"1", {"--long-name2", "Reise"}, "LongName2", "Reise"},
    };
    for (const auto& row : rows) {
      const Result r = run(QStringList{"album-edit", project, row.album} + row.args);
      QVERIFY2(r.code == 0 && !r.out.isEmpty(), qPrintable(r.err));
      QCOMPARE(text(albums(project)[0].toObject()[row.field]), row.value);
    }
    expectFailure(run({"album-edit", project, "Trip", "--private", "yes"}), 1, "no album");
    expectFailure(run({"album-edit", project, "Voyage", "--date", "2019-02-30"}), 2, "--date");
  }

  // Each row is one category command and the titles the project has afterwards.
  void categoryCommand() {
    QString folder;
    const QString project = makeSite(&folder);
    const struct {
      QStringList args;
      int code;
      QString titles;
    } rows[] = {
        {{"add", "Birds", "--title2", "Vögel"}, 0, "Birds"},
        {{"add", "Cows"}, 0, "Birds,Cows"},
        {{"add", "birds"}, 1, "Birds,Cows"},
        {{"rename", "cows", "Cattle"}, 0, "Birds,Cattle"},
        {{"rename", "Cattle", "BIRDS"}, 1, "Birds,Cattle"},
        {{"remove", "Sheep"}, 1, "Birds,Cattle"},
    };
    for (const auto& row : rows) {
      const Result r = run(QStringList{"category", project} + row.args);
      QVERIFY2(r.code == row.code, qPrintable(row.args.join(' ') + r.err));
      QCOMPARE(categories(project), row.titles);
    }
    // A removed category leaves the pictures that had it.
    QCOMPARE(run({"edit", project, "Trip", "a.jpg", "--category", "Birds"}).code, 0);
    QCOMPARE(run({"category", project, "remove", "Birds"}).code, 0);
    QCOMPARE(text(picture(project, "a.jpg")["Categories"]), QString());
    QCOMPARE(categories(project), QString("Cattle"));
  }
};

QTEST_GUILESS_MAIN(TestCliAlbums)
#include "test_cli_albums.moc"
