// Runs that would destroy the user's files are refused; memory stays bounded whatever the
// pictures claim (limits); failures say what happened (messages).
#include "core/album.h"
#include "core/picture.h"
#include "core/project.h"
#include "db/sqlaccess.h"
#include "processing/picturework.h"
#include "processing/processthread.h"
#include "testenv.h"
#include "testfiles.h"
#include "util/imaging/imageerror.h"
#include "util/imaging/imaging.h"
#include "util/imaging/jpegcodec.h"
#include "util/imaging/memorytuning.h"
#include "util/programfolder.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QtTest>

namespace {

class Sink : public QObject {};

// A JPEG of the given size whose frame header then claims another size (the data stay those of
// the small picture).
QByteArray jpegClaiming(int width, int height, int claimWidth, int claimHeight) {
  QByteArray data = EncodeJpeg(MakeTestImage(width, height), 50);
  for (int i = 2; i + 9 < data.size(); ++i) {
    if (uchar(data[i]) == 0xFF && (uchar(data[i + 1]) == 0xC0 || uchar(data[i + 1]) == 0xC2)) {
      data[i + 5] = char(claimHeight >> 8);
      data[i + 6] = char(claimHeight & 0xFF);
      data[i + 7] = char(claimWidth >> 8);
      data[i + 8] = char(claimWidth & 0xFF);
      break;
    }
  }
  return data;
}

} // namespace

class TestProcessSafety : public QObject {
  Q_OBJECT
  TestEnv env;
  RecordingPrompt prompt;

  struct Site {
    TLumenfoldProject project;
    TLumenfoldAlbum* album = nullptr;
    Sink sink;
    Site(const TestEnv& env, const QString& name) {
      const QString folder = env.makeFolder(name);
      const QString connection = env.newDatabase(name + "/db.sqlite");
      SetCurrentConnectionString(connection);
      project.Reset();
      project.FileName = folder + "/site.lumenfold";
      project.ConnectionString = connection;
      project.ZipFileName = folder + "/albums.zip";
      album = new TLumenfoldAlbum(&project);
      album->Path = env.makeFolder(name + "/photos");
      album->Directory = "photos";
      album->ShortName = "Photos";
      album->Loaded = true;
      project.Albums.Add(album->ShortName, album);
    }
    ~Site() { CloseThreadConnections(); }
    TLumenfoldPicture* add(const QString& name, int w = 64, int h = 48) {
      if (w > 0) WriteTestJpeg(album->Path + "/" + name, w, h);
      auto* p = new TLumenfoldPicture(album);
      p->OriginalFileName = name;
      p->UpdateFileNames();
      p->SortOrder = album->Pictures.Count() + 1;
      album->Pictures.Add(QString(), p);
      p->SetDirty(true);
      p->SetModified(true);
      return p;
    }
    // Runs over every picture; returns the reason of a run that did not complete (empty when
    // it completed).
    QString run(bool zip = false) {
      QList<TLumenfoldPicture*> list;
      for (int i = 0; i < album->Pictures.Count(); ++i)
        list << album->Pictures.Pictures(i);
      TProcessThread thread(&project, zip, false, &sink);
      thread.WorkList = list;
      thread.Jobs = 2;
      QSignalSpy ended(&thread, &TProcessThread::RunEnded);
      thread.start();
      thread.WaitForEnd(); // RunEnded reaches the spy on the run's thread
      if (ended.isEmpty()) return "no end";
      // A finished run that skipped pictures reports why in its closing lines.
      return ended.first().at(0).toBool() ? thread.Report().Lines().join('\n')
                                          : ended.first().at(1).toString();
    }
  };

private slots:
  // ---- settings validation ----

  void runRefusesToOverwriteOriginals() {
    Site s(env, "overwrite");
    s.add("a.jpg", 1200, 900);
    const QByteArray before = ReadTestFile(s.album->Path + "/a.jpg");
    s.project.MediumFolder.clear();
    s.project.MediumPrefix.clear();
    const QString reason = s.run();
    QVERIFY2(reason.contains("MediumFolder"), qPrintable(reason));
    QCOMPARE(ReadTestFile(s.album->Path + "/a.jpg"), before);
    QVERIFY(!QDir(s.album->Path + "/ps_thumb").exists()); // nothing was written at all
  }

  void runRefusesAnOutputThatIsAnotherOriginal() {
    Site s(env, "collide");
    s.project.MediumFolder.clear(); // m_<name> beside the originals
    s.add("a.jpg");
    s.add("m_a.jpg");
    const QByteArray before = ReadTestFile(s.album->Path + "/m_a.jpg");
    const QString reason = s.run();
    QVERIFY2(reason.contains("replace an original"), qPrintable(reason));
    QCOMPARE(ReadTestFile(s.album->Path + "/m_a.jpg"), before);
  }

  void zipOnTheDatabaseIsRefusedBeforeOpening() {
    Site s(env, "zipdb");
    s.add("a.jpg");
    const QString db = QFileInfo(s.project.FileName).absolutePath() + "/db.sqlite";
    const QByteArray before = ReadTestFile(db);
    s.project.ZipFileName = "db.sqlite"; // relative: beside the project file
    const QString reason = s.run(true);
    QVERIFY2(reason.contains("database"), qPrintable(reason));
    QCOMPARE(ReadTestFile(db), before);
  }

  void relativeZipNameLandsBesideTheProjectFile() {
    Site s(env, "relzip");
    s.add("a.jpg");
    s.project.ZipFileName = "out.zip";
    QCOMPARE(s.run(true), QString());
    QVERIFY(QFile::exists(QFileInfo(s.project.FileName).absolutePath() + "/out.zip"));
    QVERIFY(!QFile::exists(QDir::current().filePath("out.zip")));
  }

  // ---- limits ----

  void headerPromisingMoreThanItsDataIsRefused() {
    const QByteArray bomb = jpegClaiming(16, 16, 65000, 65000);
    QVERIFY(bomb.size() < 1000);
    try {
      ReadJpegSize(bomb, "bomb.jpg");
      QFAIL("the header was accepted");
    } catch (const EImageError& e) {
      QVERIFY2(e.Text().contains("far more than"), qPrintable(e.Text()));
    }
    // The rule: one byte holds at most 4096 pixels; real files are far denser.
    QVERIFY(JpegSizeFitsData(QSize(6000, 4000), 6000 * 4000 / 4096 + 1));
    QVERIFY(!JpegSizeFitsData(QSize(65000, 65000), 690));
    QVERIFY(JpegSizeFitsData(QSize(16, 16), 1));
    // A plain white 24-megapixel picture stays well within the rule.
    QImage white(6000, 4000, QImage::Format_RGB32);
    white.fill(Qt::white);
    const QByteArray plain = EncodeJpeg(white, 50);
    QVERIFY(qint64(plain.size()) * 8 > qint64(6000) * 4000 / 64);
    QCOMPARE(ReadJpegSize(plain), QSize(6000, 4000));
  }

  void runEndsOnABombWithItsReason() {
    Site s(env, "bomb");
    s.project.LargeEnabled = true;
    s.add("bomb.jpg", 0, 0);
    writeBytes(s.album->Path + "/bomb.jpg", jpegClaiming(16, 16, 65000, 65000));
    const QString reason = s.run();
    QVERIFY2(reason.contains("bomb.jpg") && reason.contains("65000"), qPrintable(reason));
  }

  void pixelLimitRefusesLargerOriginals() {
    Site s(env, "pixels");
    s.add("big.jpg", 1200, 1000);
    s.project.MaxMegapixels = 1;
    const QString reason = s.run();
    QVERIFY2(reason.contains("big.jpg") && reason.contains("megapixels"), qPrintable(reason));
    QVERIFY(!QFile::exists(s.album->Path + "/ps_medium/m_big.jpg"));
    s.project.MaxMegapixels = 2;
    QCOMPARE(s.run(), QString());
    // Other formats are measured before they are decoded too.
    TOriginalRequest request;
    request.MaxPixels = 100;
    const QString png = s.album->Path + "/p.png";
    QVERIFY(MakeTestImage(20, 20).save(png));
    QVERIFY_THROWS_EXCEPTION(EImageError, LoadOriginal(png, request));
    request.MaxPixels = 400;
    QCOMPARE(LoadOriginal(png, request).Size, QSize(20, 20));
  }

  void workersAreCappedByMemory() {
    const qint64 mb = 1 << 20;
    QCOMPARE(WorkersForMemory(8, 100 * mb, 0), 8);           // unknown memory
    QCOMPARE(WorkersForMemory(8, 0, 1000 * mb), 8);          // nothing to decode
    QCOMPARE(WorkersForMemory(256, 100 * mb, 1500 * mb), 5); // 750 MB / 150 MB
    QCOMPARE(WorkersForMemory(4, 4000 * mb, 1000 * mb), 1);  // never less than one
    QCOMPARE(WorkersForMemory(0, 10 * mb, 1000 * mb), 1);
    QVERIFY(AvailableMemoryBytes() > 0);

    const QString folder = env.makeFolder("sizes");
    QVERIFY(WriteTestJpeg(folder + "/a.jpg", 300, 200));
    QVERIFY(WriteTestJpeg(folder + "/b.jpg", 100, 100));
    writeBytes(folder + "/broken.jpg", "not a picture");
    const QStringList files = {folder + "/a.jpg", folder + "/b.jpg", folder + "/broken.jpg",
                               folder + "/missing.jpg"};
    QCOMPARE(LargestDecodedBytes(files, 0), qint64(300 * 200 * 4));
    QCOMPARE(LargestDecodedBytes(files, 1000), qint64(1000 * 4)); // refused above the limit
  }

  // ---- names and files the run must not use ----

  // Stored names that would lead out of the album folder skip their picture; the run goes on.
  void storedNamesNeverLeaveTheAlbumFolder() {
    Site s(env, "names");
    s.project.MediumPrefix.clear(); // "ps_medium/../x.jpg" would be the album's foreign x.jpg
    s.add("ok.jpg");
    WriteTestJpeg(s.album->Path + "/../x.jpg", 64, 48);
    writeBytes(s.album->Path + "/x.jpg", "foreign");
    const QStringList bad{"../x.jpg", s.album->Path + "/../x.jpg", "..", "a\x01.jpg", "s\\x.jpg"};
    for (const QString& name : bad)
      s.add(name, 0);
    const QString lines = s.run();
    QVERIFY2(lines.contains("5 pictures were skipped"), qPrintable(lines));
    for (const QString& name : bad)
      QVERIFY2(lines.contains('"' + name + '"'), qPrintable(name));
    QCOMPARE(ReadTestFile(s.album->Path + "/x.jpg"), QByteArray("foreign"));
    QVERIFY(QFileInfo(s.album->Path + "/ps_medium/ok.jpg").isFile());
  }

  // Two pictures whose images would be one file: the run refuses before writing anything.
  void runRefusesPicturesSharingAnImage() {
    Site s(env, "shared");
    s.add("a.jpg");
    s.add("A.JPG");
    const QString reason = s.run();
    QVERIFY2(reason.contains("\"a.jpg\" and \"A.JPG\""), qPrintable(reason));
    QVERIFY(!QDir(s.album->Path + "/ps_medium").exists());
  }

  // An image name too long for the file system skips that picture only.
  void tooLongImageNameSkipsItsPicture() {
    Site s(env, "long");
    s.add(QString(250, 'n') + ".jpg");
    s.add("ok.jpg");
    const QString lines = s.run();
    QVERIFY2(lines.contains("1 picture was skipped") && lines.contains("longer than"),
             qPrintable(lines));
    QVERIFY(QFileInfo(s.album->Path + "/ps_medium/m_ok.jpg").isFile());
  }

  // ---- messages ----

  void unwritableFolderSaysPermissionDenied() {
    if (QFileInfo(QDir::rootPath()).isWritable()) {
      // Running as the superuser: permissions do not stop writes; check the text of the
      // error through a file in place of the folder instead.
      Site s(env, "blocked");
      s.add("a.jpg");
      writeBytes(s.album->Path + "/ps_medium", "a file where the folder belongs");
      const QString reason = s.run();
      QVERIFY2(reason.contains("ps_medium"), qPrintable(reason));
      QVERIFY2(!reason.contains("Unknown error", Qt::CaseInsensitive), qPrintable(reason));
      return;
    }
    Site s(env, "readonly");
    s.add("a.jpg");
    QVERIFY(QFile::setPermissions(s.album->Path, QFile::ReadOwner | QFile::ExeOwner));
    const QString reason = s.run();
    QFile::setPermissions(s.album->Path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY2(reason.contains("ermission denied"), qPrintable(reason));
  }
};

QTEST_MAIN(TestProcessSafety)
#include "test_processsafety.moc"
