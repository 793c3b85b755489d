// Folder imports take orientation and date from the camera metadata: every EXIF orientation
// comes out upright through the processing decode, dates fall back in order, the album date is
// the oldest capture, damaged metadata imports with defaults and a trace note.
#include "core/album.h"
#include "core/project.h"
#include "exifbuilder.h"
#include "testenv.h"
#include "util/helpers.h"
#include "util/imaging/imaging.h"
#include "util/imaging/jpegcodec.h"
#include "util/tracer.h"

#include <QDir>
#include <QFile>
#include <QtTest>

namespace {

// Where the stored first row and first column belong in the upright picture, per EXIF value
// (the tag's own definition): T top, B bottom, L left, R right.
struct TStoredSides {
  char Row0, Col0;
};
constexpr TStoredSides kSides[9] = {{'T', 'L'}, {'T', 'L'}, {'T', 'R'}, {'B', 'R'}, {'B', 'L'},
                                    {'L', 'T'}, {'R', 'T'}, {'R', 'B'}, {'L', 'B'}};

// The pixels a camera stores for an upright picture under the given EXIF orientation.
QImage storedFor(const QImage& upright, int exif) {
  const int w = upright.width(), h = upright.height();
  const TStoredSides s = kSides[exif];
  const bool transposed = exif >= 5;
  QImage stored(transposed ? h : w, transposed ? w : h, QImage::Format_RGB32);
  for (int ys = 0; ys < stored.height(); ++ys)
    for (int xs = 0; xs < stored.width(); ++xs) {
      int x, y;
      if (!transposed) {
        x = s.Col0 == 'L' ? xs : w - 1 - xs;
        y = s.Row0 == 'T' ? ys : h - 1 - ys;
      } else {
        x = s.Row0 == 'L' ? ys : w - 1 - ys;
        y = s.Col0 == 'T' ? xs : h - 1 - xs;
      }
      stored.setPixel(xs, ys, upright.pixel(x, y));
    }
  return stored;
}

bool near(QRgb a, QRgb b) {
  return qAbs(qRed(a) - qRed(b)) < 40 && qAbs(qGreen(a) - qGreen(b)) < 40 &&
         qAbs(qBlue(a) - qBlue(b)) < 40;
}

bool writeFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray jpegWith(const TestExif& e, const QImage& image = MakeTestImage(16, 8)) {
  return WithSegments(EncodeJpeg(image, 95), ExifSegment(BuildExifTiff(e)));
}

} // namespace

class TestCameraImport : public QObject {
  Q_OBJECT
  TestEnv env;
  RecordingPrompt prompt;

private slots:
  void initTestCase() { Tracer().KeepInMemory = true; }

  void everyOrientationComesOutUpright() {
    const QString folder = env.makeFolder("turned");
    const QImage upright = MakeTestImage(64, 32); // red | green over blue | yellow
    for (int exif = 1; exif <= 8; ++exif) {
      TestExif e;
      e.Orientation = exif;
      e.BigEndian = exif % 2 == 0;
      QVERIFY(
          writeFile(folder + QString("/o%1.jpg").arg(exif), jpegWith(e, storedFor(upright, exif))));
    }
    TLumenfoldProject project;
    TLumenfoldAlbum album(&project);
    album.Path = folder;
    QVERIFY(album.ImportFolder(folder));
    QCOMPARE(album.Pictures.Count(), 8);
    for (int i = 0; i < 8; ++i) {
      const TLumenfoldPicture* p = album.Pictures[i];
      TOriginalRequest request;
      request.Orientation = p->Orientation;
      request.FullResolution = true;
      const TLoadedOriginal loaded = LoadOriginal(p->OriginalPath(), request);
      const QImage& img = loaded.Bitmap;
      const QString what = p->OriginalFileName + " code " + QString::number(p->Orientation);
      QCOMPARE(img.size(), upright.size());
      QVERIFY2(near(img.pixel(4, 4), qRgb(255, 0, 0)), qPrintable(what));
      QVERIFY2(near(img.pixel(59, 4), qRgb(0, 255, 0)), qPrintable(what));
      QVERIFY2(near(img.pixel(4, 27), qRgb(0, 0, 255)), qPrintable(what));
      QVERIFY2(near(img.pixel(59, 27), qRgb(255, 255, 0)), qPrintable(what));
    }
  }

  void datesComeFromTheCameraThenTheFile() {
    const QString folder = env.makeFolder("dated");
    TestExif both, digitizedOnly, none;
    both.DateTimeOriginal = "2018:05:06 07:08:09";
    both.DateTimeDigitized = "2018:05:07 00:00:00";
    digitizedOnly.DateTimeDigitized = "2016:01:02 03:04:05";
    QVERIFY(writeFile(folder + "/a.jpg", jpegWith(both)));
    QVERIFY(writeFile(folder + "/b.jpg", jpegWith(digitizedOnly)));
    QVERIFY(writeFile(folder + "/c.jpg", jpegWith(none)));
    TLumenfoldProject project;
    TLumenfoldAlbum album(&project);
    album.ReadFolderDate(folder);
    QVERIFY(album.ImportFolder(folder));
    QCOMPARE(album.Pictures[0]->PictureDate, QDateTime(QDate(2018, 5, 6), QTime(7, 8, 9)));
    QCOMPARE(album.Pictures[1]->PictureDate, QDateTime(QDate(2016, 1, 2), QTime(3, 4, 5)));
    QCOMPARE(album.Pictures[2]->PictureDate,
             DosDateTimeToDateTime(FileDosDateTime(folder + "/c.jpg")));
    QCOMPARE(album.Pictures[0]->Orientation, 1);
    // The album is dated by its oldest capture, not by the first file.
    QCOMPARE(album.AlbumDate, QDateTime(QDate(2016, 1, 2), QTime(3, 4, 5)));

    // Without any camera date the first file's time dates the album, as before.
    const QString plain = env.makeFolder("plain");
    QVERIFY(WriteTestJpeg(plain + "/x.jpg", 8, 8));
    TLumenfoldAlbum other(&project);
    other.ReadFolderDate(plain);
    QCOMPARE(other.AlbumDate, QFileInfo(plain + "/x.jpg").lastModified());
  }

  void newFilesGetMetadataAndKnownPicturesKeepTheirs() {
    const QString folder = env.makeFolder("grow");
    TestExif turned;
    turned.Orientation = 6;
    QVERIFY(writeFile(folder + "/a.jpg", jpegWith(turned)));
    TLumenfoldProject project;
    TLumenfoldAlbum album(&project);
    QVERIFY(album.ImportFolder(folder));
    album.Pictures[0]->Orientation = -3; // the user's own turn
    turned.Orientation = 8;
    QVERIFY(writeFile(folder + "/b.jpg", jpegWith(turned)));
    QVERIFY(album.ImportNewFiles(folder));
    QCOMPARE(album.Pictures.Count(), 2);
    QCOMPARE(album.Pictures[0]->Orientation, -3);
    QCOMPARE(album.Pictures[1]->Orientation, 4);
  }

  void damagedMetadataImportsWithDefaultsAndANote() {
    const QString folder = env.makeFolder("hostile");
    TestExif e;
    e.Orientation = 6;
    e.DateTimeOriginal = "2018:05:06 07:08:09";
    QByteArray tiff = BuildExifTiff(e);
    tiff[4] = char(0xF0); // IFD0 offset far past the block
    QVERIFY(writeFile(folder + "/bad.jpg",
                      WithSegments(EncodeJpeg(MakeTestImage(8, 8), 90), ExifSegment(tiff))));
    TLumenfoldProject project;
    TLumenfoldAlbum album(&project);
    QVERIFY(album.ImportFolder(folder));
    QCOMPARE(album.Pictures.Count(), 1);
    QCOMPARE(album.Pictures[0]->Orientation, 1);
    QCOMPARE(album.Pictures[0]->PictureDate,
             DosDateTimeToDateTime(FileDosDateTime(folder + "/bad.jpg")));
    const QString note = Tracer().LastMessage();
    QVERIFY2(note.contains(QDir::toNativeSeparators(folder + "/bad.jpg")) &&
                 note.contains("damaged"),
             qPrintable(note));
  }
};

QTEST_GUILESS_MAIN(TestCameraImport)
#include "test_cameraimport.moc"
