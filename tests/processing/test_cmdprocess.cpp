// lumenfold-cli process as a person runs it: progress lines, the closing line and exit status.
#include "testenv.h"
#include "util/imaging/exif.h"
#include "util/imaging/jpegcodec.h"
#include "util/imaging/outputmetadata.h"
#include "util/programfolder.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

// The library's 0.27 interface hands images over in std::auto_ptr.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>
#pragma GCC diagnostic pop

namespace {

struct Result {
  int status = -1;
  QString out;
  QString err;
};

Result cli(const QStringList& args) {
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  p.setProcessEnvironment(env);
  p.start(ProgramFolder() + "lumenfold-cli", args);
  p.waitForFinished(120000);
  return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
          QString::fromLocal8Bit(p.readAllStandardOutput()),
          QString::fromLocal8Bit(p.readAllStandardError())};
}

} // namespace

class TestCmdProcess : public QObject {
  Q_OBJECT
private slots:
  void runReportsProgressAndOutcome();
  void captionsAreDrawnWithFonts();
  void allMeansEveryPictureAndMovedFoldersAreReported();
  void outputMetadataFollowsTheProjectChoice();
  void newProjectsAreSafeByDefault();
  void webImagesAreRepeatableAndFollowTheChromaSetting();
  void changedOriginalsAreMadeAgain_data();
  void changedOriginalsAreMadeAgain();
};

// A new project halves the colour of its images; the same original and settings give the same
// bytes in every run (each run a process of its own), so an upload can skip them.
void TestCmdProcess::webImagesAreRepeatableAndFollowTheChromaSetting() {
  if (!QFile::exists(ProgramFolder() + "lumenfold-cli")) QSKIP("lumenfold-cli is not built");
  TestEnv env;
  const QString album = env.makeFolder("photos");
  QVERIFY(WriteTestJpeg(album + "/a.jpg", 640, 480));
  const QString project = env.path("p.lumenfold");
  QCOMPARE(cli({"new", project}).status, 0);
  QCOMPARE(cli({"add-album", project, album, "--directory", "trip"}).status, 0);
  const QStringList outputs = {album + "/ps_medium/m_a.jpg", album + "/ps_thumb/tn_a.jpg"};
  QList<QByteArray> first;
  // 444 is what a project file without the setting says; the last run repeats the first.
  for (const char* chroma : {"", "444", "420"}) {
    if (*chroma) QCOMPARE(cli({"set", project, QString("ChromaSubsampling=") + chroma}).status, 0);
    QCOMPARE(cli({"process", project, "--all"}).status, 0);
    for (int i = 0; i < outputs.size(); ++i) {
      const QByteArray jpeg = ReadTestFile(outputs[i]);
      // The sampling factors of the first (luma) component in the frame header.
      const qsizetype sof = jpeg.indexOf(QByteArray("\xFF\xC0", 2));
      QCOMPARE(int(uchar(jpeg.at(sof + 11))), chroma == QLatin1String("444") ? 0x11 : 0x22);
      if (first.size() < outputs.size()) first << jpeg;
      QVERIFY2(jpeg == first[i] || chroma == QLatin1String("444"), qPrintable(outputs[i]));
    }
  }
  QVERIFY(cli({"set", project, "ChromaSubsampling=422"}).status != 0);
}

// A new project packs through the gallery template; a run with zip and no template says before
// the run what the archive will hold, and runs.
void TestCmdProcess::newProjectsAreSafeByDefault() {
  if (!QFile::exists(ProgramFolder() + "lumenfold-cli")) QSKIP("lumenfold-cli is not built");
  TestEnv env;
  const QString project = env.path("p.lumenfold");
  QCOMPARE(cli({"new", project}).status, 0);
  QVERIFY(cli({"info", project}).out.contains(QRegularExpression("SiteTemplate\\W+gallery")));
  QCOMPARE(cli({"set", project, "SiteTemplate="}).status, 0);
  const Result r = cli({"process", project, "--zip"});
  QCOMPARE(r.status, 0);
  QVERIFY2(r.err.startsWith("warning: No site template") && r.err.contains("private"),
           qPrintable(r.err));
}

void TestCmdProcess::runReportsProgressAndOutcome() {
  if (!QFile::exists(ProgramFolder() + "lumenfold-cli")) QSKIP("lumenfold-cli is not built");
  TestEnv env;
  const QString album = env.makeFolder("photos");
  QVERIFY(WriteTestJpeg(album + "/a.jpg", 320, 240));
  QFile bad(album + "/b.jpg");
  QVERIFY(bad.open(QIODevice::WriteOnly));
  bad.write("not a picture");
  bad.close();
  const QString project = env.path("p.lumenfold");
  QCOMPARE(cli({"new", project}).status, 0);
  QCOMPARE(cli({"add-album", project, album, "--directory", "trip"}).status, 0);

  // The undecodable file is skipped and counted: the run finishes with its own status.
  Result r = cli({"process", project, "--verbose", "--jobs", "1"});
  QCOMPARE(r.status, 3);
  QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
  QVERIFY2(lines.contains("1/2 0 getting hash and size of the file: " + album + "/a.jpg") ||
               lines.contains("2/2 0 getting hash and size of the file: " + album + "/a.jpg"),
           qPrintable(r.out));
  const int end = lines.indexOf("Processing finished successfully.");
  QVERIFY2(end >= 0 && end + 1 < lines.size(), qPrintable(r.out));
  QCOMPARE(lines.value(end + 1), "1 original picture could not be decoded and was skipped.");
  // The skipped file is named with the reason.
  QCOMPARE(lines.size(), end + 3);
  QVERIFY2(lines.value(end + 2).contains("/b.jpg"), qPrintable(r.out));
  QVERIFY(QFile::exists(album + "/ps_medium/m_a.jpg"));

  // Without the undecodable file the rest is processed and the run completes, zip included;
  // the picture whose file went away is reported.
  QVERIFY(QFile::remove(album + "/b.jpg"));
  r = cli({"process", project, "--zip", "--all", "--albums", "Photos"}); // a short name
  QCOMPARE(r.status, 3);
  QVERIFY2(r.out.contains("Processing finished successfully.\n"
                          "1 original picture was not found and was skipped.\n" +
                          QDir::toNativeSeparators(album + "/b.jpg") + "\nThe original \"" + album +
                          "/b.jpg\" of a published picture was not found"),
           qPrintable(r.out));
  QVERIFY(QFile::exists(album + "/ps_medium/m_a.jpg"));
  QVERIFY(QFile::exists(env.path("albums.zip")));

  // Wrong command lines are refused before any work.
  QCOMPARE(cli({"process", project, "--albums", "99"}).status, 2);
  QCOMPARE(cli({"process", project, "--jobs", "0"}).status, 2);
}

// A phone picture turned by its metadata, with its author and position: the medium image is
// upright and keeps the author but not the position by default, nothing once the project says
// so; the thumbnail never keeps anything.
void TestCmdProcess::outputMetadataFollowsTheProjectChoice() {
  if (!QFile::exists(ProgramFolder() + "lumenfold-cli")) QSKIP("lumenfold-cli is not built");
  TestEnv env;
  const QString album = env.makeFolder("photos");
  QImage pixels(120, 80, QImage::Format_RGB32);
  pixels.fill(qRgb(200, 120, 40));
  const QByteArray plain = EncodeJpeg(pixels, 90);
  {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(
        reinterpret_cast<const Exiv2::byte*>(plain.constData()), long(plain.size()));
    image->readMetadata();
    image->exifData()["Exif.Image.Artist"] = std::string("Ann Example");
    image->exifData()["Exif.Image.Orientation"] = uint16_t(6);
    image->exifData()["Exif.GPSInfo.GPSLatitudeRef"] = std::string("N");
    image->exifData()["Exif.Photo.BodySerialNumber"] = std::string("BODY1");
    image->writeMetadata();
    Exiv2::BasicIo& io = image->io();
    io.seek(0, Exiv2::BasicIo::beg);
    const Exiv2::DataBuf bytes = io.read(long(io.size()));
    QFile f(album + "/a.jpg");
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(reinterpret_cast<const char*>(bytes.pData_), bytes.size_);
#pragma GCC diagnostic pop
  }
  const QString project = env.path("p.lumenfold");
  QCOMPARE(cli({"new", project}).status, 0);
  QCOMPARE(cli({"add-album", project, album, "--directory", "trip"}).status, 0);
  QCOMPARE(cli({"process", project}).status, 0);
  const QByteArray medium = ReadTestFile(album + "/ps_medium/m_a.jpg");
  const QImage upright = DecodeJpegData(medium);
  QVERIFY(upright.height() > upright.width());
  auto entries = ReadMetadataEntries(medium);
  QCOMPARE(entries.value("Exif.Image.Artist"), QString("Ann Example"));
  QVERIFY(!entries.contains("Exif.Image.Orientation"));
  QVERIFY(!entries.contains("Exif.GPSInfo.GPSLatitudeRef"));
  QVERIFY(!entries.contains("Exif.Photo.BodySerialNumber"));
  QVERIFY(ReadMetadataEntries(ReadTestFile(album + "/ps_thumb/tn_a.jpg")).isEmpty());

  QCOMPARE(cli({"set", project, "OutputMetadata=1"}).status, 0);
  QCOMPARE(cli({"process", project, "--all"}).status, 0);
  entries = ReadMetadataEntries(ReadTestFile(album + "/ps_medium/m_a.jpg"));
  QCOMPARE(entries.value("Exif.Image.Orientation"), QString("1"));
  QCOMPARE(entries.value("Exif.Photo.BodySerialNumber"), QString("BODY1"));
  QVERIFY(ReadMetadataEntries(ReadTestFile(album + "/ps_thumb/tn_a.jpg")).isEmpty());

  QCOMPARE(cli({"set", project, "OutputMetadata=2"}).status, 0);
  QCOMPARE(cli({"process", project, "--all"}).status, 0);
  QVERIFY(ReadMetadataEntries(ReadTestFile(album + "/ps_medium/m_a.jpg")).isEmpty());
  QCOMPARE(ParseCameraMetadata(ReadTestFile(album + "/ps_medium/m_a.jpg")).ColourProfile.isEmpty(),
           false);
}

// The program starts without fonts; a project that stamps a caption makes it start them and run
// the command again, which must give the same result as a single run: the caption drawn, the
// run reported once, and nothing of the first attempt left behind.
void TestCmdProcess::captionsAreDrawnWithFonts() {
  if (!QFile::exists(ProgramFolder() + "lumenfold-cli")) QSKIP("lumenfold-cli is not built");
  TestEnv env;
  const QString album = env.makeFolder("photos");
  QVERIFY(WriteTestJpeg(album + "/a.jpg", 640, 480));
  QVERIFY(QFile::copy(album + "/a.jpg", album + "/b.jpg"));
  const QString project = env.path("p.lumenfold");
  QCOMPARE(cli({"new", project}).status, 0);
  QCOMPARE(cli({"add-album", project, album, "--directory", "trip"}).status, 0);
  const QStringList dbs = QDir(env.path()).entryList({"*.sqlite", "*.db"}, QDir::Files);
  QVERIFY2(!dbs.isEmpty(), qPrintable(QDir(env.path()).entryList().join(' ')));
  {
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "caption");
    db.setDatabaseName(env.path(dbs.first()));
    QVERIFY(db.open());
    QSqlQuery q(db);
    QVERIFY(q.exec("INSERT INTO signature_item (signature_item_id, signature_item_name, caption, "
                   "font_name, font_size, font_style, font_color) "
                   "VALUES (1, 'by', 'Photo by me', 'DejaVu Sans', 28, '', 255)"));
    QVERIFY(q.exec("INSERT INTO signature (signature_id, signature_name) VALUES (1, 'by')"));
    QVERIFY(q.exec("INSERT INTO signature_map (signature_id, signature_item_id, location, "
                   "sign_order, offset_x, offset_y) VALUES (1, 1, 5, 0, 0, 0)"));
    QVERIFY(q.exec("UPDATE picture SET medium_signature_id = 1 WHERE original_filename = 'a.jpg'"));
    QCOMPARE(q.numRowsAffected(), 1);
    db.close();
  }
  QSqlDatabase::removeDatabase("caption");

  const Result r = cli({"process", project, "--verbose", "--jobs", "2"});
  QVERIFY2(r.status == 0, qPrintable(r.out));
  QCOMPARE(r.out.count("Processing finished successfully."), 1);
  QCOMPARE(r.out.count("loading picture: " + album + "/a.jpg"), 1);
  QImage a(album + "/ps_medium/m_a.jpg"), b(album + "/ps_medium/m_b.jpg");
  QVERIFY(!a.isNull() && !b.isNull());
  QCOMPARE(a.size(), b.size());
  // The caption is drawn in blue around the middle of a (b has no signature).
  int changed = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) {
      const QRgb pa = a.pixel(x, y), pb = b.pixel(x, y);
      if (qAbs(qBlue(pa) - qBlue(pb)) + qAbs(qRed(pa) - qRed(pb)) > 60) ++changed;
    }
  QVERIFY2(changed > 200, qPrintable(QString::number(changed)));
  QVERIFY(QDir(album + "/ps_medium").entryList({"*.jpg.*"}, QDir::Files).isEmpty());
}

// --all without --albums processes every picture of every album, even when none is modified; a
// moved album folder is reported, not "finished successfully" alone; a template that does not
// exist ends the run with its name.
void TestCmdProcess::allMeansEveryPictureAndMovedFoldersAreReported() {
  if (!QFile::exists(ProgramFolder() + "lumenfold-cli")) QSKIP("lumenfold-cli is not built");
  TestEnv env;
  const QString one = env.makeFolder("one/pics"), two = env.makeFolder("two/shots");
  QVERIFY(WriteTestJpeg(one + "/a.jpg", 320, 240));
  QVERIFY(WriteTestJpeg(two + "/b.jpg", 320, 240));
  const QString project = env.path("p.lumenfold");
  QCOMPARE(cli({"new", project}).status, 0);
  QCOMPARE(cli({"add-album", project, one, "--directory", "one"}).status, 0);
  QCOMPARE(cli({"add-album", project, two, "--directory", "two"}).status, 0);
  QCOMPARE(cli({"process", project}).status, 0);
  // Nothing is modified now; --all still makes every picture's images again.
  Result r = cli({"process", project, "--all", "--verbose"});
  QVERIFY2(r.status == 0, qPrintable(r.out));
  QVERIFY2(r.out.contains("loading picture: " + one + "/a.jpg"), qPrintable(r.out));
  QVERIFY2(r.out.contains("loading picture: " + two + "/b.jpg"), qPrintable(r.out));

  // The album folder moves away: the run says what it could not do.
  QVERIFY(QDir().rename(env.path("two"), env.path("moved")));
  r = cli({"process", project, "--all", "--zip"});
  QCOMPARE(r.status, 3);
  QVERIFY2(r.out.contains("Processing finished successfully.\n"
                          "1 original picture was not found and was skipped."),
           qPrintable(r.out));

  QCOMPARE(cli({"set", project, "SiteTemplate=nosuchtemplate"}).status, 0);
  r = cli({"process", project, "--zip"});
  QCOMPARE(r.status, 1);
  QVERIFY2(r.out.contains("Processing was terminated and finished."), qPrintable(r.out));
  QVERIFY2(r.out.contains("\"nosuchtemplate\" does not exist"), qPrintable(r.out));

  QProcess help;
  help.start(ProgramFolder() + "lumenfold-cli", {"--help"});
  QVERIFY(help.waitForFinished(30000));
  QVERIFY(QString::fromLocal8Bit(help.readAllStandardOutput()).contains("3 finished but"));
}

void TestCmdProcess::changedOriginalsAreMadeAgain_data() {
  QTest::addColumn<bool>("newPixels");
  QTest::addColumn<bool>("hash");
  QTest::newRow("edited") << true << false;
  QTest::newRow("edited, checksum") << true << true;
  QTest::newRow("touched") << false << false;
  QTest::newRow("touched, checksum") << false << true;
}

// An original edited elsewhere after its outputs were made: sync and process count it alike and
// process makes its outputs again; with --hash a file only touched is not changed.
void TestCmdProcess::changedOriginalsAreMadeAgain() {
  if (!QFile::exists(ProgramFolder() + "lumenfold-cli")) QSKIP("lumenfold-cli is not built");
  QFETCH(bool, newPixels);
  QFETCH(bool, hash);
  const bool remade = newPixels || !hash;
  TestEnv env;
  const QString album = env.makeFolder("photos"), original = album + "/a.jpg";
  const QString project = env.path("p.lumenfold"), medium = album + "/ps_medium/m_a.jpg";
  QVERIFY(WriteTestJpeg(original, 320, 240));
  QCOMPARE(cli({"new", project}).status, 0);
  QCOMPARE(cli({"add-album", project, album, "--directory", "trip"}).status, 0);
  QCOMPARE(cli({"process", project}).status, 0);
  auto setTime = [](const QString& path, const QDateTime& time) {
    QFile file(path);
    return file.open(QIODevice::ReadWrite) && file.setFileTime(time, QFile::FileModificationTime);
  };
  const QDateTime old(QDate(2001, 1, 1), QTime(12, 0));
  QVERIFY(setTime(medium, old));
  if (newPixels) QVERIFY(WriteTestJpeg(original, 240, 320));
  QVERIFY(setTime(original, QFileInfo(original).lastModified().addSecs(3600)));

  const QStringList extra = hash ? QStringList{"--hash"} : QStringList();
  const QString count = QStringLiteral("changed=%1").arg(remade ? 1 : 0);
  QVERIFY(cli(QStringList{"sync", project} + extra).out.contains(count));
  const Result r = cli(QStringList{"process", project} + extra);
  QVERIFY2(r.status == 0 && r.out.contains("changed=1\n") == remade, qPrintable(r.out));
  QCOMPARE(QFileInfo(medium).lastModified() != old, remade);
  if (newPixels) QVERIFY(QImage(medium).height() > QImage(medium).width());
  // The new facts are recorded: the picture is not found changed again.
  QVERIFY(cli(QStringList{"sync", project} + extra).out.contains("changed=0"));
}

QTEST_GUILESS_MAIN(TestCmdProcess)
#include "test_cmdprocess.moc"
