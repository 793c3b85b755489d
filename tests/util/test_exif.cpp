// The camera metadata reader: orientation and dates in both byte orders, the colour profile
// chunks, and damaged or hostile blocks that must give the defaults quickly.
#include "exifbuilder.h"
#include "testenv.h"
#include "util/imaging/exif.h"
#include "util/imaging/jpegcodec.h"

#include <QFile>
#include <QRandomGenerator>
#include <QtTest>
#include <functional>

namespace {

QByteArray plainJpeg() {
  static const QByteArray jpeg = EncodeJpeg(MakeTestImage(16, 8), 90);
  return jpeg;
}

TCameraMetadata parseTiff(const QByteArray& tiff) {
  return ParseExifBlock(reinterpret_cast<const uchar*>(tiff.constData()), size_t(tiff.size()));
}

// Overwrites bytes of the block (little-endian 16 or 32 bit value at an offset).
void poke16(QByteArray& b, int at, quint16 v) {
  b[at] = char(v);
  b[at + 1] = char(v >> 8);
}
void poke32(QByteArray& b, int at, quint32 v) {
  poke16(b, at, quint16(v));
  poke16(b, at + 2, quint16(v >> 16));
}

} // namespace

class TestExifReader : public QObject {
  Q_OBJECT
  TestEnv env;

private slots:
  void readsOrientationAndDatesInBothByteOrders() {
    for (bool big : {false, true}) {
      TestExif e;
      e.BigEndian = big;
      e.Orientation = 6;
      e.DateTimeOriginal = "2021:07:14 09:30:05";
      e.DateTimeDigitized = "2021:07:15 10:00:00";
      const QByteArray jpeg = WithSegments(plainJpeg(), ExifSegment(BuildExifTiff(e)));
      const TCameraMetadata m = ParseCameraMetadata(jpeg);
      QVERIFY2(m.Problem.isEmpty(), qPrintable(m.Problem));
      QVERIFY(m.HasExif);
      QCOMPARE(m.ExifOrientation, 6);
      QCOMPARE(m.PictureOrientation(), 2);
      QCOMPARE(m.CaptureDate(), QDateTime(QDate(2021, 7, 14), QTime(9, 30, 5)));
      QCOMPARE(m.DateTimeDigitized, QDateTime(QDate(2021, 7, 15), QTime(10, 0, 0)));

      // The same through the file reader, behind an APP0 segment.
      const QString path = env.path(big ? "big.jpg" : "little.jpg");
      QFile f(path);
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write(WithSegments(plainJpeg(),
                           JpegSegment(0xE0, QByteArray(40, 'j')) + ExifSegment(BuildExifTiff(e))));
      f.close();
      const TCameraMetadata fromFile = ReadCameraMetadata(path);
      QCOMPARE(fromFile.ExifOrientation, 6);
      QCOMPARE(fromFile.CaptureDate(), m.CaptureDate());
    }
  }

  void dateFallsBackToDigitizedAndIgnoresBlankClocks() {
    TestExif e;
    e.DateTimeOriginal = "0000:00:00 00:00:00";
    e.DateTimeDigitized = "2019:02:28 23:59:59";
    TCameraMetadata m = parseTiff(BuildExifTiff(e));
    QVERIFY(!m.DateTimeOriginal.isValid());
    QCOMPARE(m.CaptureDate(), QDateTime(QDate(2019, 2, 28), QTime(23, 59, 59)));

    for (const char* bad : {"    :  :     :  :  ", "2019:02:30 10:00:00", "2019-02-01 10:00:00",
                            "2019:02:01 25:00:00", "2019:02"})
      QVERIFY2(!ParseExifDate(bad, strlen(bad)).isValid(), bad);
    QVERIFY(!parseTiff(BuildExifTiff(TestExif{})).CaptureDate().isValid());
  }

  void mapsEveryExifOrientation() {
    // Pixel checks of the same mapping run in the import tests (test_cameraimport).
    const int expected[] = {1, 1, -1, 3, -3, -2, 2, -4, 4};
    for (int v = 0; v <= 8; ++v)
      QCOMPARE(OrientationFromExif(v), expected[v]);
    QCOMPARE(OrientationFromExif(9), 1);
    QCOMPARE(OrientationFromExif(-6), 1);

    TestExif e;
    e.Orientation = 9;
    const TCameraMetadata m = parseTiff(BuildExifTiff(e));
    QCOMPARE(m.ExifOrientation, 0);
    QCOMPARE(m.PictureOrientation(), 1);
    QVERIFY(m.Problem.contains("orientation 9"));
  }

  void damagedStructuresGiveDefaults() {
    TestExif e;
    e.Orientation = 8;
    e.DateTimeOriginal = "2020:01:01 12:00:00";
    const QByteArray good = BuildExifTiff(e);
    QCOMPARE(parseTiff(good).ExifOrientation, 8);

    struct Case {
      const char* name;
      std::function<void(QByteArray&)> damage;
    };
    const QList<Case> cases{
        {"IFD0 offset past the end", [](QByteArray& b) { poke32(b, 4, 0xFFFFFFF0u); }},
        {"IFD0 offset inside the header", [](QByteArray& b) { poke32(b, 4, 2); }},
        {"huge entry count", [](QByteArray& b) { poke16(b, 8, 0xFFFF); }},
        {"count just past the block", [](QByteArray& b) { poke16(b, 8, 6); }},
        {"EXIF directory loops to IFD0", [](QByteArray& b) { poke32(b, 8 + 2 + 12 + 8, 8); }},
        {"EXIF directory past the end", [](QByteArray& b) { poke32(b, 8 + 2 + 12 + 8, 1u << 31); }},
        {"date text offset past the end",
         [](QByteArray& b) { poke32(b, 8 + 2 + 24 + 4 + 2 + 8, 0xFFFFFFFFu); }},
        {"huge date length", [](QByteArray& b) { poke32(b, 8 + 2 + 24 + 4 + 2 + 4, 0x7FFFFFFF); }},
        {"no byte order", [](QByteArray& b) { b[0] = 'X'; }},
        {"wrong signature", [](QByteArray& b) { poke16(b, 2, 43); }},
        {"truncated", [](QByteArray& b) { b.truncate(20); }},
        {"empty", [](QByteArray& b) { b.clear(); }},
    };
    for (const Case& c : cases) {
      QByteArray b = good;
      c.damage(b);
      const TCameraMetadata m = parseTiff(b);
      QVERIFY2(!m.Problem.isEmpty(), c.name);
      QVERIFY2(m.ExifOrientation == 0 && !m.CaptureDate().isValid(), c.name);
      // Through the segment walker too.
      const TCameraMetadata inJpeg = ParseCameraMetadata(WithSegments(plainJpeg(), ExifSegment(b)));
      QVERIFY2(!inJpeg.Problem.isEmpty() && inJpeg.PictureOrientation() == 1, c.name);
    }
  }

  void damagedSegmentsEndTheWalk() {
    // A segment length that runs past the file, a length below 2, and endless tiny segments.
    QByteArray past = plainJpeg().left(2) + QByteArray("\xFF\xE1\xFF\xF0"
                                                       "Exif",
                                                       8);
    QVERIFY(!ParseCameraMetadata(past).Problem.isEmpty());
    QByteArray tiny = plainJpeg().left(2) + QByteArray("\xFF\xE1\x00\x01", 4);
    QVERIFY(!ParseCameraMetadata(tiny).Problem.isEmpty());
    QByteArray many = plainJpeg().left(2);
    for (int i = 0; i < 100000; ++i)
      many += QByteArray("\xFF\xE5\x00\x02", 4);
    const TCameraMetadata m = ParseCameraMetadata(many);
    QVERIFY(!m.HasExif);
    // Endless fill bytes stop the walk early.
    QByteArray fill = plainJpeg().left(2) + QByteArray(1 << 20, '\xFF');
    QVERIFY(ParseCameraMetadata(fill).Problem.contains("fill bytes"));
    QVERIFY(!ParseCameraMetadata(QByteArray("not a jpeg")).Problem.isEmpty());
    QVERIFY(!ReadCameraMetadata(env.path("missing.jpg")).Problem.isEmpty());
  }

  void randomDamageNeverBreaksTheReader() {
    TestExif e;
    e.Orientation = 5;
    e.DateTimeOriginal = "2020:01:01 12:00:00";
    e.DateTimeDigitized = "2020:01:02 12:00:00";
    const QByteArray good =
        ExifSegment(BuildExifTiff(e)) + ColourProfileSegments(QByteArray(300, 'p'), 100);
    QRandomGenerator random(13);
    for (int round = 0; round < 3000; ++round) {
      QByteArray b = good;
      const int flips = 1 + int(random.bounded(6));
      for (int i = 0; i < flips; ++i)
        b[int(random.bounded(int(b.size())))] = char(random.bounded(256));
      const TCameraMetadata m = ParseCameraMetadata(WithSegments(plainJpeg(), b));
      QVERIFY(m.ExifOrientation >= 0 && m.ExifOrientation <= 8);
      QVERIFY(m.ColourProfile.size() <= good.size());
    }
  }

  void joinsColourProfileChunksInOrder() {
    QByteArray profile;
    for (int i = 0; i < 1000; ++i)
      profile.append(char(i * 7));
    // Chunks stored out of order are put back in sequence order.
    QByteArray chunks = ColourProfileSegments(profile, 300);
    const int chunkLength = 4 + 14 + 300;
    chunks = chunks.mid(chunkLength, chunkLength) + chunks.left(chunkLength) +
             chunks.mid(2 * chunkLength);
    TCameraMetadata m = ParseCameraMetadata(WithSegments(plainJpeg(), chunks));
    QCOMPARE(m.ColourProfile, profile);
    QVERIFY(m.Problem.isEmpty());
    // A missing chunk drops the profile (and says so); the file reader skips it unless asked.
    m = ParseCameraMetadata(
        WithSegments(plainJpeg(), ColourProfileSegments(profile, 300).mid(chunkLength)));
    QVERIFY(m.ColourProfile.isEmpty());
    QVERIFY(m.Problem.contains("missing"));
    const QString path = env.path("profile.jpg");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(WithSegments(plainJpeg(), ColourProfileSegments(profile, 300)));
    f.close();
    QVERIFY(ReadCameraMetadata(path).ColourProfile.isEmpty());
    QCOMPARE(ReadCameraMetadata(path, TMetadataParts::ExifAndColourProfile).ColourProfile, profile);
  }

  void profileChunksNumberedBeyondTheirTotalGiveNoProfile() {
    // Two chunks of two, numbered 1 and 3: as many as promised, but not the ones promised.
    QByteArray chunks = ColourProfileSegments(QByteArray(600, 'p'), 300);
    chunks[4 + 14 + 300 + 16] = 3; // the second segment's sequence number
    const TCameraMetadata m = ParseCameraMetadata(WithSegments(plainJpeg(), chunks));
    QVERIFY(m.ColourProfile.isEmpty());
    QVERIFY(!m.Problem.isEmpty());
  }

  void encodedOutputsCarryNoOrientation() {
    // Outputs are written upright by their pixels; a browser must find nothing to turn.
    const TCameraMetadata m = ParseCameraMetadata(EncodeJpeg(MakeTestImage(40, 30), 85));
    QVERIFY(m.Problem.isEmpty());
    QVERIFY(!m.HasExif);
    QCOMPARE(m.ExifOrientation, 0);
  }
};

QTEST_GUILESS_MAIN(TestExifReader)
#include "test_exif.moc"
