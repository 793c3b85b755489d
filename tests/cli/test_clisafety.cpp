// lumenfold-cli keeps the user's files safe: unsafe settings are refused where they are set and
// again by process, a project is processed by one program at a time, a damaged project file is
// never processed, and failures name their cause.
#include "testenv.h"
#include "util/imaging/jpegcodec.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLockFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QtTest>
#include <cstdio>
#include <unistd.h>

namespace {

struct Result {
  int code = -1;
  QString out, err;
};

} // namespace

class TestCliSafety : public QObject {
  Q_OBJECT
  TestEnv env;
  QString cli;

  Result run(const QStringList& args) {
    QProcess p;
    p.setWorkingDirectory(env.path());
    p.start(cli, args);
    if (!p.waitForStarted(30000) || !p.waitForFinished(180000)) return {};
    Result r;
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
  }

  // A project "name/site.lumenfold" with one album of two pictures.
  QString site(const QString& name) {
    const QString folder = env.makeFolder(name);
    const QString photos = env.makeFolder(name + "/photos");
    WriteTestJpeg(photos + "/a.jpg", 320, 240);
    WriteTestJpeg(photos + "/b.jpg", 240, 320);
    const QString file = folder + "/site.lumenfold";
    Result r = run({"new", file});
    if (r.code != 0) qWarning() << r.err;
    r = run({"add-album", file, photos});
    if (r.code != 0) qWarning() << r.err;
    return file;
  }

  static void expectRefused(const Result& r, const QString& fragment) {
    QVERIFY2(r.code > 0, qPrintable(QStringLiteral("exit %1 %2").arg(r.code).arg(r.err)));
    QVERIFY2(r.err.contains(fragment, Qt::CaseInsensitive), qPrintable(r.err));
  }

private slots:
  void initTestCase() {
    cli = QCoreApplication::applicationDirPath() + QStringLiteral("/lumenfold-cli");
    QVERIFY(QFileInfo(cli).isExecutable());
  }

  // ---- settings validation ----

  void setRefusesUnsafeSettingsAndChangesNothing() {
    const QString file = site("set");
    const QByteArray before = ReadTestFile(file);
    const QString folder = QFileInfo(file).absolutePath();
    const QList<QPair<QStringList, QString>> cases = {
        {{"MediumFolder=", "MediumPrefix="}, "MediumFolder"},
        {{"ThumbFolder=ps_medium", "ThumbPrefix=m_"}, "ThumbPrefix"},
        {{"MediumFolder=../../escaped"}, "MediumFolder"},
        {{"ThumbPrefix=../../../x_"}, "ThumbPrefix"},
        {{"ZipFileName=" + folder + "/db.sqlite"}, "database"},
        {{"ZipFileName=site.lumenfold"}, "project file"},
        {{"ZipFileName=" + folder + "/photos/a.jpg"}, "picture"},
        {{"MediumWidth=65535"}, "MediumWidth"},
    };
    for (const auto& [assignments, fragment] : cases) {
      const Result r = run(QStringList{"set", file} + assignments);
      expectRefused(r, fragment);
      QVERIFY2(r.out.isEmpty(), qPrintable(r.out)); // nothing is shown as changed
      QCOMPARE(ReadTestFile(file), before);
    }
    // A relative zip file name is taken beside the project file, not in the current folder.
    const Result r = run({"set", file, "ZipFileName=out/site.zip"});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QVERIFY2(r.out.contains(folder + "/out/site.zip"), qPrintable(r.out));
  }

  void processRefusesUnsafeProjectFiles() {
    // A project file written by another program (or an older version) with empty names: the
    // load warns, the run refuses, the originals stay as they are.
    const QString file = site("unsafe");
    const QString photos = QFileInfo(file).absolutePath() + "/photos";
    QVERIFY(run({"set", file, "MediumFolder=keep"}).code == 0);
    QByteArray bytes = ReadTestFile(file);
    const int at = bytes.indexOf(QByteArray("\x06\x04keep", 6));
    QVERIFY(at > 0);
    bytes.replace(at, 6, QByteArray("\x06\x00", 2));
    const int prefix = bytes.indexOf(QByteArray("\x06\x02m_", 4));
    QVERIFY(prefix > 0);
    bytes.replace(prefix, 4, QByteArray("\x06\x00", 2));
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    f.close();
    const QByteArray original = ReadTestFile(photos + "/a.jpg");
    const Result r = run({"process", file, "--zip"});
    expectRefused(r, "MediumFolder");
    QCOMPARE(ReadTestFile(photos + "/a.jpg"), original);
  }

  void removeZipDeletesOnlyAnArchive() {
    const QString file = site("removezip");
    const QString folder = QFileInfo(file).absolutePath();
    const QString notes = folder + "/notes.txt";
    QFile f(notes);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("precious");
    f.close();
    QVERIFY(run({"set", file, "ZipFileName=notes.txt"}).code == 0);
    expectRefused(run({"process", file, "--remove-zip"}), "not a zip archive");
    QCOMPARE(ReadTestFile(notes), QByteArray("precious"));
    // A real archive is replaced.
    QVERIFY(run({"set", file, "ZipFileName=albums.zip"}).code == 0);
    Result r = run({"process", file, "--zip"});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QVERIFY(QFile::exists(folder + "/albums.zip"));
    r = run({"process", file, "--zip", "--remove-zip", "--all"});
    QVERIFY2(r.code == 0, qPrintable(r.err));
  }

  // ---- damaged project files ----

  void truncatedProjectIsNeverProcessedOrSaved() {
    const QString file = site("truncated");
    const QByteArray good = ReadTestFile(file);
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(good.left(good.size() / 2));
    f.close();
    const QByteArray cut = ReadTestFile(file);
    for (const QStringList& args :
         {QStringList{"process", file, "--zip"}, QStringList{"set", file, "ThumbQuality=80"}}) {
      const Result r = run(args);
      expectRefused(r, "incomplete");
      QVERIFY2(!r.err.contains("database"), qPrintable(r.err)); // the file is to blame
      QCOMPARE(ReadTestFile(file), cut);
    }
    QVERIFY(!QFile::exists(QCoreApplication::applicationDirPath() + "/albums.zip"));
  }

  // ---- locking ----

  void secondRunIsRefusedNamingTheHolder() {
    const QString file = site("locked");
    QLockFile lock(file + ".lock");
    QVERIFY(lock.tryLock(0));
    Result r = run({"process", file});
    expectRefused(r, "in use");
    QVERIFY2(r.err.contains(QString::number(QCoreApplication::applicationPid())),
             qPrintable(r.err));
    expectRefused(run({"set", file, "ThumbQuality=80"}), "in use");
    QVERIFY(run({"info", file}).code == 0); // looking is fine
    lock.unlock();
    r = run({"process", file});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QVERIFY(!QFile::exists(file + ".lock")); // released at the end
  }

  void staleLockIsTakenOver() {
    const QString file = site("stale");
    // A process that has ended tells its id.
    QProcess gone;
    gone.start("sh", {"-c", "echo $$"});
    QVERIFY(gone.waitForFinished());
    const QByteArray pid = gone.readAllStandardOutput().trimmed();
    QVERIFY(pid.toLongLong() > 0);
    QFile lock(file + ".lock");
    QVERIFY(lock.open(QIODevice::WriteOnly));
    lock.write(pid + "\nlumenfold-cli\n" + QSysInfo::machineHostName().toUtf8() + "\n");
    lock.close();
    const Result r = run({"process", file});
    QVERIFY2(r.code == 0, qPrintable(r.err));
  }

  // ---- limits ----

  void decompressionBombIsRefusedByName() {
    const QString file = site("bomb");
    const QString photos = QFileInfo(file).absolutePath() + "/photos";
    QByteArray data = EncodeJpeg(MakeTestImage(16, 16), 50);
    const int sof = data.indexOf(QByteArray("\xFF\xC0", 2));
    QVERIFY(sof > 0);
    data[sof + 5] = char(65000 >> 8), data[sof + 6] = char(65000 & 0xFF);
    data[sof + 7] = char(65000 >> 8), data[sof + 8] = char(65000 & 0xFF);
    QVERIFY(data.size() < 1000);
    QFile f(photos + "/a.jpg");
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(data);
    f.close();
    QVERIFY(run({"set", file, "LargeEnabled=true"}).code == 0);
    const Result r = run({"process", file, "--jobs", "256"});
    QVERIFY(r.code > 0);
    QVERIFY2(r.out.contains("a.jpg") && r.out.contains("65000"), qPrintable(r.out + r.err));
  }

  // ---- messages ----

  // A full disk: the album folder lies on a small memory file system, filled up after import.
  // The run must say that the disk is full, leave the originals alone and leave no partial
  // output behind. It needs a private mount (a user and mount namespace via unshare); without
  // one the test is skipped. The disk fills before a write or in the middle of one (the room
  // left is less than a file), of an image or, once the images are there, of the archive.
  void fullDiskSaysSo_data() {
    QTest::addColumn<int>("free"); // bytes left on the disk
    QTest::addColumn<QString>("zip");
    QTest::newRow("full") << 0 << "";
    QTest::newRow("image cut short") << 12288 << "";
    QTest::newRow("archive cut short") << 12288 << "--zip";
  }
  void fullDiskSaysSo() {
    QFETCH(int, free);
    QFETCH(QString, zip);
    if (QStandardPaths::findExecutable("unshare").isEmpty() ||
        QProcess::execute("unshare", {"-rm", "true"}) != 0)
      QSKIP("no private mount namespace on this machine");
    const QString folder = env.makeFolder(QTest::currentDataTag());
    const QString photos = env.makeFolder(QTest::currentDataTag() + QStringLiteral("/photos"));
    const QString source = env.makeFolder("full-source");
    // Noise: pictures larger than the room left.
    QImage noise(400, 300, QImage::Format_RGB32);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(noise.bits()), 400 * 300);
    QVERIFY(noise.save(source + "/a.jpg", "JPEG", 75) && noise.save(source + "/b.jpg", "JPEG", 75));
    const QString file = folder + "/site.lumenfold";
    QVERIFY(run({"new", file}).code == 0);
    QVERIFY(run({"set", file, "ZipFileName=" + photos + "/site.zip"}).code == 0);
    const QString script = QStringLiteral(R"(
set -e
mount -t tmpfs -o size=1m tmpfs "$PHOTOS"
cp "$SOURCE/a.jpg" "$SOURCE/b.jpg" "$PHOTOS/"
"$CLI" add-album "$FILE" "$PHOTOS" >/dev/null
if [ -n "$ZIP" ]; then "$CLI" process "$FILE" >/dev/null; fi
head -c "$FREE" /dev/zero >"$PHOTOS/spare"
dd if=/dev/zero of="$PHOTOS/filler" bs=4096 2>/dev/null || true
rm "$PHOTOS/spare"
set +e
"$CLI" process "$FILE" $ZIP >"$OUT/out.txt" 2>"$OUT/err.txt"
echo $? >"$OUT/code.txt"
cmp -s "$SOURCE/a.jpg" "$PHOTOS/a.jpg" && cmp -s "$SOURCE/b.jpg" "$PHOTOS/b.jpg" && echo same >"$OUT/originals.txt"
cd "$PHOTOS" && find . -type f ! -name filler | sort >"$OUT/files.txt"
mkdir "$OUT/left" && xargs -a "$OUT/files.txt" cp --parents -t "$OUT/left"
)");
    QProcess p;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.insert("PHOTOS", photos);
    e.insert("SOURCE", source);
    e.insert("CLI", cli);
    e.insert("FILE", file);
    e.insert("OUT", folder);
    e.insert("FREE", QString::number(free));
    e.insert("ZIP", zip);
    p.setProcessEnvironment(e);
    p.start("unshare", {"-rm", "sh", "-c", script});
    QVERIFY(p.waitForFinished(180000));
    QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
    const QString out = QString::fromLocal8Bit(ReadTestFile(folder + "/out.txt") +
                                               ReadTestFile(folder + "/err.txt"));
    QVERIFY2(ReadTestFile(folder + "/code.txt").trimmed() != "0", qPrintable(out));
    QVERIFY2(out.contains("No space left on device", Qt::CaseInsensitive), qPrintable(out));
    QVERIFY2(!out.contains("Unknown error", Qt::CaseInsensitive), qPrintable(out));
    QCOMPARE(ReadTestFile(folder + "/originals.txt").trimmed(), QByteArray("same"));
    // Only the originals and complete outputs: no temporary, cut or archive files.
    for (const QByteArray& name : ReadTestFile(folder + "/files.txt").split('\n')) {
      if (name.isEmpty() || name == "./a.jpg" || name == "./b.jpg") continue;
      QImage image;
      QVERIFY2(image.loadFromData(ReadTestFile(folder + "/left/" + QString::fromLocal8Bit(name))),
               name.constData());
    }
  }

  // Each skipped original is named with its own reason; beyond ten the rest are counted.
  void skippedOriginalsAreNamedByReason_data() {
    QTest::addColumn<QStringList>("c"); // what is done to the originals, count line, reason
    QTest::newRow("undecodable") << QStringList{"garbage", "could not be decoded", "Cannot read"};
    QTest::newRow("unreadable") << QStringList{"unreadable", "cannot be read", "Permission denied"};
    QTest::newRow("device") << QStringList{"device", "are not regular files", "not a regular"};
  }
  void skippedOriginalsAreNamedByReason() {
    QFETCH(QStringList, c);
    const QString folder = env.makeFolder(c[0]), photos = env.makeFolder(c[0] + "/photos");
    const QString file = folder + "/site.lumenfold";
    for (int i = 0; i < 12; ++i)
      WriteTestJpeg(photos + QStringLiteral("/p%1.jpg").arg(i), 32, 32);
    QVERIFY(run({"new", file}).code == 0 && run({"add-album", file, photos}).code == 0);
    for (int i = 0; i < 12; ++i) {
      QFile f(photos + QStringLiteral("/p%1.jpg").arg(i));
      QVERIFY(f.remove() && (c[0] == "device" ? QFile::link("/dev/null", f.fileName())
                                              : f.open(QIODevice::WriteOnly) && f.write("x") == 1));
      if (c[0] == "unreadable") QVERIFY(f.setPermissions({}));
    }
    // Root reads every file: here it runs without that power.
    QStringList args{"setpriv", "--bounding-set", "-dac_override,-dac_read_search", cli, "process"};
    args = (::geteuid() == 0 ? args : args.mid(3)) << file;
    QProcess p;
    p.start(args[0], args.mid(1));
    QVERIFY(p.waitForFinished(180000));
    const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
    QCOMPARE(p.exitCode(), 3);
    QVERIFY2(out.contains("12 original pictures " + c[1]) && out.count(c[2]) == 10,
             qPrintable(out));
    QVERIFY2(out.endsWith("\nand 2 more.\n") && out.count('\n') == 13, qPrintable(out));
  }

  // Names with control characters: every line stays one line, and nothing reaches a terminal.
  void controlCharactersInNamesAreWrittenOut() {
    const QString folder = env.makeFolder("controls"), file = folder + "/site.lumenfold";
    const QString photos = env.makeFolder("controls/new\nline\x1b[31m");
    WriteTestJpeg(photos + "/a.jpg", 32, 32);
    QVERIFY(run({"new", file}).code == 0);
    QVERIFY(run({"add-album", file, photos, "--directory", "odd"}).code == 0);
    WriteTestJpeg(photos + "/tab\tbell\a.jpg", 32, 32);
    QString all;
    for (const QStringList& args : QList<QStringList>{{"info", file, "--pictures"},
                                                      {"import-new", file, "1"},
                                                      {"process", file, "--verbose"}}) {
      const Result r = run(args);
      all += r.out + r.err;
    }
    QVERIFY2(!all.contains('\x1b') && !all.contains('\a') &&
                 all.count("new\\nline\\x1b[31m") >= 3 && all.contains("tab\\tbell\\x07.jpg"),
             qPrintable(all));
  }

  // The database's own error text is said once.
  void databaseErrorIsSaidOnce() {
    const QString file = site("dbonce");
    {
      QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "refuse");
      db.setDatabaseName(QFileInfo(file).path() + "/db.sqlite");
      QVERIFY(db.open() && QSqlQuery(db).exec("CREATE TRIGGER refuse BEFORE UPDATE ON picture "
                                              "BEGIN SELECT RAISE(ABORT, 'no writes today'); END"));
    }
    QSqlDatabase::removeDatabase("refuse");
    const Result r = run({"process", file});
    QVERIFY2(r.code == 1 && (r.out + r.err).count("no writes today") == 1,
             qPrintable(r.out + r.err));
  }

  void oddNamesAreReportedAtImport() {
    const QString folder = env.makeFolder("odd");
    const QString photos = env.makeFolder("odd/photos");
    WriteTestJpeg(photos + "/fine.jpg", 32, 32);
    WriteTestJpeg(photos + "/back\\slash.jpg", 32, 32);
    // A name whose bytes are not valid UTF-8.
    const QByteArray raw = QFile::encodeName(photos) + "/bad\xff\xfe.jpg";
    std::FILE* out = std::fopen(raw.constData(), "wb");
    QVERIFY(out);
    const QByteArray jpeg = ReadTestFile(photos + "/fine.jpg");
    std::fwrite(jpeg.constData(), 1, size_t(jpeg.size()), out);
    std::fclose(out);
    const QString file = folder + "/site.lumenfold";
    QVERIFY(run({"new", file}).code == 0);
    const Result r = run({"add-album", file, photos});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QVERIFY2(r.err.contains("back\\slash.jpg"), qPrintable(r.err));
    QVERIFY2(r.err.contains("bad"), qPrintable(r.err));
    QVERIFY2(r.err.contains("2 picture"), qPrintable(r.err));
  }
};

QTEST_GUILESS_MAIN(TestCliSafety)
#include "test_clisafety.moc"
