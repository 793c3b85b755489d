// A run after a complete run with nothing changed ends at once; each kind of change after it is
// seen by the next run, which then looks at the whole project again.
#include "core/album.h"
#include "core/picture.h"
#include "core/project.h"
#include "core/signature.h"
#include "db/sqlaccess.h"
#include "processing/processingjob.h"
#include "testenv.h"
#include "testfiles.h"
#include "util/programfolder.h"

#include <QtTest>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>

namespace {

// A saved project of two pictures with a site template and a signature image of its own.
struct Project {
  TestEnv env;
  RecordingPrompt prompt;
  QObject receiver;
  TLumenfoldProject project;
  TLumenfoldAlbum* album = nullptr;

  Project() {
    project.Reset();
    project.ConnectionString = env.useNewDatabase();
    SetProgramFolder(env.path());
    project.FileName = env.path("p.lumenfold");
    project.ZipFileName = env.makeFolder("site") + "/albums.zip";
    project.SiteTemplate = "mine";
    writeBytes(env.path("templates/mine/index.html"), "<html></html>");
    MakeTestImage(16, 16).save(env.path("logo.png"));
    auto* logo = new TLumenfoldSignatureItem("logo");
    logo->SetImageName(env.path("logo.png"));
    project.SignatureItems.Add(QStringLiteral("logo"), logo);
    album = new TLumenfoldAlbum(&project);
    album->Path = env.makeFolder("photos");
    album->Directory = "trip";
    album->ShortName = "Trip";
    album->Loaded = true;
    album->SetDirty(true);
    project.Albums.Add(album->ShortName, album);
    for (const char* name : {"a.jpg", "b.jpg"}) {
      WriteTestJpeg(album->Path + "/" + name, 64, 48);
      auto* p = new TLumenfoldPicture(album);
      p->OriginalFileName = name;
      p->UpdateFileNames();
      album->Pictures.Add(QString(), p);
      p->SetDirty(true);
      p->SetModified(true);
    }
  }
  ~Project() {
    SetCurrentConnectionString(QString());
    SetProgramFolder(QString());
  }
  TLumenfoldPicture* picture(int i) const { return album->Pictures.Pictures(i); }

  // One complete run of the modified pictures with zip, saved as lumenfold-cli saves it;
  // whether it found nothing to do, or -1 when it failed.
  int run(const std::function<void()>& midway = {}) {
    TProcessingRequest request;
    request.Zip = true;
    request.CompareHash = true;
    // What the last run wrote is older than this run: what changes during a run is not recorded.
    QThread::msleep(50);
    TProcessingJob job(&project, request, &receiver);
    if (!job.Prepare()) return qWarning() << job.Reason() << prompt.errors(), -1;
    if (midway) midway();
    job.Start();
    job.WaitForEnd();
    if (!job.Completed() || (project.Modified && !project.SaveToFile()))
      return qWarning() << job.Reason() << prompt.errors(), -1;
    job.RecordIdleState();
    return job.NothingToDo() ? 1 : 0;
  }
};

using Change = std::function<void(Project&)>;

// Other pixels under the same name, size and modification time: another inode and change time.
void replaceOriginal(Project& f) {
  const QString path = f.picture(0)->OriginalPath();
  struct stat old {};
  QVERIFY(stat(qPrintable(path), &old) == 0);
  QByteArray bytes = ReadTestFile(path);
  // Another horizontal density in the JFIF segment: the same picture, another checksum.
  QVERIFY(bytes.mid(2, 2) == "\xFF\xE0" && bytes.mid(6, 4) == "JFIF");
  bytes[15] = char(bytes[15] ^ 1);
  writeBytes(path + ".new", bytes);
  const timespec times[2] = {old.st_atim, old.st_mtim};
  QVERIFY(utimensat(AT_FDCWD, qPrintable(path + ".new"), times, 0) == 0);
  QVERIFY(std::rename(qPrintable(path + ".new"), qPrintable(path)) == 0);
}

} // namespace

class TestIdleStamp : public QObject {
  Q_OBJECT
private slots:
  void everyChangeAfterAnIdleRunIsSeen_data();
  void everyChangeAfterAnIdleRunIsSeen();
  void aChangeDuringTheRunIsNotRecorded();
};

void TestIdleStamp::everyChangeAfterAnIdleRunIsSeen_data() {
  QTest::addColumn<Change>("change");
  QTest::addColumn<bool>("seen");
  QTest::newRow("nothing") << Change([](Project&) {}) << false;
  // Other pixels under the same name, size and modification time: another inode and change time.
  QTest::newRow("original replaced") << Change(replaceOriginal) << true;
  QTest::newRow("output deleted") << Change([](Project& f) {
    QVERIFY(QFile::remove(f.picture(1)->MediumPath()));
  }) << true;
  QTest::newRow("edit saved") << Change([](Project& f) {
    f.picture(1)->Title = "Harbour";
    f.picture(1)->SetDirty(true);
    QVERIFY(f.project.SaveAlbums());
  }) << true;
  QTest::newRow("signature file changed")
      << Change([](Project& f) { MakeTestImage(17, 16).save(f.env.path("logo.png")); }) << true;
  QTest::newRow("template file changed") << Change([](Project& f) {
    writeBytes(f.env.path("templates/mine/index.html"), "<html>2</html>");
  }) << true;
  QTest::newRow("template file added")
      << Change([](Project& f) { writeBytes(f.env.path("templates/mine/css/site.css"), "body{}"); })
      << true;
}

void TestIdleStamp::everyChangeAfterAnIdleRunIsSeen() {
  QFETCH(Change, change);
  QFETCH(bool, seen);
  Project f;
  QCOMPARE(f.run(), 0);
  QCOMPARE(f.run(), 0); // nothing to do: recorded
  QCOMPARE(f.run(), 1);
  change(f);
  if (QTest::currentTestFailed()) return;
  QCOMPARE(f.run(), seen ? 0 : 1);
  // Once the change is dealt with, a run with nothing to do records the state again.
  QVERIFY(f.run() >= 0);
  QCOMPARE(f.run(), 1);
  QVERIFY(QFile::exists(f.picture(1)->MediumPath()));
}

// The original changes after the run with nothing to do has looked at it: that run may not record
// the new state as done.
void TestIdleStamp::aChangeDuringTheRunIsNotRecorded() {
  Project f;
  QCOMPARE(f.run(), 0);
  QCOMPARE(f.run([&f] { replaceOriginal(f); }), 0);
  QCOMPARE(f.run(), 0);
  QCOMPARE(f.run(), 0);
  QCOMPARE(f.run(), 1);
}

QTEST_MAIN(TestIdleStamp)
#include "test_idlestamp.moc"
