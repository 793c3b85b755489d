// Metadata of the generated images: the safe choice keeps the photographer's name, copyright and
// capture date and drops position, serial numbers and the embedded thumbnail; "all" keeps the
// rest too but never an orientation other than 1; "none" and thumbnails keep nothing; damaged
// blocks give plain, valid images and a note naming the file.
#include "exifbuilder.h"
#include "processing/picturework.h"
#include "testenv.h"
#include "util/imaging/colour.h"
#include "util/imaging/exif.h"
#include "util/imaging/jpegcodec.h"
#include "util/imaging/outputmetadata.h"
#include "util/tracer.h"

#include <QFile>
#include <QtTest>

// The library's 0.27 interface hands images over in std::auto_ptr.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>

namespace {

QImage testImage(int w, int h) {
  QImage img(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      img.setPixel(x, y, qRgb(x * 255 / w, y * 255 / h, 128));
  return img;
}

// A camera original: author, copyright and dates, but also a position, serial numbers, a maker,
// an orientation, an uncalibrated colour space and an embedded thumbnail, in EXIF, IPTC and XMP.
QByteArray cameraOriginal() {
  const QByteArray plain = EncodeJpeg(testImage(96, 64), 90);
  const QByteArray thumb = EncodeJpeg(testImage(24, 16), 70);
  Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(
      reinterpret_cast<const Exiv2::byte*>(plain.constData()), long(plain.size()));
  image->readMetadata();
  Exiv2::ExifData& exif = image->exifData();
  exif["Exif.Image.Artist"] = std::string("Ann Example");
  exif["Exif.Image.Copyright"] = std::string("(c) 2024 Ann Example");
  exif["Exif.Image.Make"] = std::string("Camera Maker");
  exif["Exif.Image.Orientation"] = uint16_t(6);
  exif["Exif.Photo.DateTimeOriginal"] = std::string("2024:05:06 07:08:09");
  exif["Exif.Photo.DateTimeDigitized"] = std::string("2024:05:06 07:08:10");
  exif["Exif.Photo.BodySerialNumber"] = std::string("BODY12345");
  exif["Exif.Photo.LensSerialNumber"] = std::string("LENS67890");
  exif["Exif.Photo.ColorSpace"] = uint16_t(0xFFFF);
  exif["Exif.Photo.PixelXDimension"] = uint32_t(96);
  exif["Exif.GPSInfo.GPSLatitudeRef"] = std::string("N");
  exif["Exif.GPSInfo.GPSLatitude"] = std::string("48/1 51/1 30/1");
  Exiv2::ExifThumb(exif).setJpegThumbnail(reinterpret_cast<const Exiv2::byte*>(thumb.constData()),
                                          long(thumb.size()));
  image->iptcData()["Iptc.Application2.Byline"] = std::string("Ann Example");
  image->iptcData()["Iptc.Application2.City"] = std::string("Paris");
  image->xmpData()["Xmp.dc.creator"] = std::string("Ann Example");
  image->xmpData()["Xmp.exif.GPSLatitude"] = std::string("48,51.5N");
  image->xmpData()["Xmp.tiff.Orientation"] = std::string("6");
  image->writeMetadata();
  Exiv2::BasicIo& io = image->io();
  io.seek(0, Exiv2::BasicIo::beg);
  const Exiv2::DataBuf bytes = io.read(long(io.size()));
  return QByteArray(reinterpret_cast<const char*>(bytes.pData_), int(bytes.size_));
}

bool writeFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

TPictureWork workFor(const QString& path, TMetadataKeep keep) {
  TPictureWork work;
  work.OriginalPath = path;
  work.Render = true;
  work.Metadata = keep;
  work.Outputs[okLarge].Enabled = true;
  work.Outputs[okMedium].Enabled = true;
  work.Outputs[okMedium].Box = QSize(48, 48);
  work.Outputs[okThumb].Enabled = true;
  work.Outputs[okThumb].Box = QSize(24, 24);
  return work;
}

QStringList keysLike(const QMap<QString, QString>& entries, const QString& part) {
  QStringList keys;
  for (auto it = entries.begin(); it != entries.end(); ++it)
    if (it.key().contains(part, Qt::CaseInsensitive)) keys << it.key();
  return keys;
}

// Every output decodes, says sRGB and, when it has an orientation, says 1.
void checkValidOutputs(const TPictureResult& result) {
  for (int k = 0; k < kOutputKinds; ++k) {
    const QByteArray& jpeg = result.Outputs[k].Jpeg;
    QVERIFY2(result.Outputs[k].Error.isEmpty(), qPrintable(result.Outputs[k].Error));
    QVERIFY(!DecodeJpegData(jpeg).isNull());
    const TCameraMetadata m = ParseCameraMetadata(jpeg);
    QVERIFY2(m.Problem.isEmpty(), qPrintable(m.Problem));
    QCOMPARE(m.ColourProfile, SrgbProfile());
    QVERIFY(m.ExifOrientation == 0 || m.ExifOrientation == 1);
    QCOMPARE(jpeg.mid(2, 2), QByteArray("\xFF\xE0", 2)); // JFIF stays first
  }
  QVERIFY(ReadMetadataEntries(result.Outputs[okThumb].Jpeg).isEmpty());
}

} // namespace

class TestOutputMetadata : public QObject {
  Q_OBJECT
  TestEnv env;
  QString original_;

private slots:
  void initTestCase() {
    Tracer().KeepInMemory = true;
    original_ = env.path("camera.jpg");
    QVERIFY(writeFile(original_, cameraOriginal()));
    const auto entries = ReadMetadataEntries(ReadTestFile(original_));
    QVERIFY(entries.contains("Exif.Photo.BodySerialNumber"));
    QVERIFY(entries.contains("Exif.Thumbnail.JPEGInterchangeFormat"));
  }

  void safeKeepsAuthorCopyrightAndDateOnly() {
    const TPictureResult result = ProducePicture(workFor(original_, TMetadataKeep::Safe));
    checkValidOutputs(result);
    for (int k : {okLarge, okMedium}) {
      const auto e = ReadMetadataEntries(result.Outputs[k].Jpeg);
      QCOMPARE(e.value("Exif.Image.Artist"), QString("Ann Example"));
      QCOMPARE(e.value("Exif.Image.Copyright"), QString("(c) 2024 Ann Example"));
      QCOMPARE(e.value("Exif.Photo.DateTimeOriginal"), QString("2024:05:06 07:08:09"));
      QCOMPARE(e.value("Exif.Photo.DateTimeDigitized"), QString("2024:05:06 07:08:10"));
      QCOMPARE(e.value("Iptc.Application2.Byline"), QString("Ann Example"));
      QVERIFY(e.value("Xmp.dc.creator").contains("Ann Example"));
      QVERIFY2(keysLike(e, "GPS").isEmpty(), qPrintable(keysLike(e, "GPS").join(' ')));
      QVERIFY(keysLike(e, "Serial").isEmpty());
      QVERIFY(keysLike(e, "Thumbnail").isEmpty());
      QVERIFY(keysLike(e, "Orientation").isEmpty());
      QVERIFY(!e.contains("Exif.Image.Make"));
      QVERIFY(!e.contains("Iptc.Application2.City"));
      // The capture date is still found by the program's own reader.
      QCOMPARE(ParseCameraMetadata(result.Outputs[k].Jpeg).DateTimeOriginal,
               QDateTime(QDate(2024, 5, 6), QTime(7, 8, 9)));
    }
  }

  void allKeepsEverythingButTheThumbnailAndTheTurn() {
    const TPictureResult result = ProducePicture(workFor(original_, TMetadataKeep::All));
    checkValidOutputs(result);
    for (int k : {okLarge, okMedium}) {
      const auto e = ReadMetadataEntries(result.Outputs[k].Jpeg);
      QCOMPARE(e.value("Exif.Image.Artist"), QString("Ann Example"));
      QCOMPARE(e.value("Exif.Image.Make"), QString("Camera Maker"));
      QCOMPARE(e.value("Exif.Photo.BodySerialNumber"), QString("BODY12345"));
      QVERIFY(e.contains("Exif.GPSInfo.GPSLatitude"));
      QVERIFY(e.contains("Iptc.Application2.City"));
      QVERIFY(e.contains("Xmp.exif.GPSLatitude"));
      // The pixels are upright and sRGB, at the output's own size.
      QCOMPARE(e.value("Exif.Image.Orientation"), QString("1"));
      QCOMPARE(e.value("Xmp.tiff.Orientation"), QString("1"));
      QCOMPARE(e.value("Exif.Photo.ColorSpace"), QString("1"));
      const QSize size = DecodeJpegData(result.Outputs[k].Jpeg).size();
      QCOMPARE(e.value("Exif.Photo.PixelXDimension") + "x" + e.value("Exif.Photo.PixelYDimension"),
               QString("%1x%2").arg(size.width()).arg(size.height()));
      QVERIFY(keysLike(e, "Thumbnail").isEmpty());
      QCOMPARE(ParseCameraMetadata(result.Outputs[k].Jpeg).ExifOrientation, 1);
    }
  }

  void noneKeepsNothing() {
    const TPictureResult result = ProducePicture(workFor(original_, TMetadataKeep::None));
    checkValidOutputs(result);
    for (int k = 0; k < kOutputKinds; ++k)
      QVERIFY(ReadMetadataEntries(result.Outputs[k].Jpeg).isEmpty());
    QCOMPARE(MetadataKeepFromProject(2), TMetadataKeep::None);
    QCOMPARE(MetadataKeepFromProject(1), TMetadataKeep::All);
    QCOMPARE(MetadataKeepFromProject(77), TMetadataKeep::Safe);
  }

  void signedLaterOutputsGetTheSameMetadata() {
    // The run thread encodes outputs whose signature needs the picture: same segments.
    TPictureResult result = ProducePicture(workFor(original_, TMetadataKeep::Safe));
    TOutputWork output;
    const QByteArray large =
        SignAndEncode(testImage(40, 30), output, nullptr, OutputMetadataFor(result, okLarge));
    QCOMPARE(ReadMetadataEntries(large).value("Exif.Image.Artist"), QString("Ann Example"));
    const QByteArray thumb =
        SignAndEncode(testImage(20, 15), output, nullptr, OutputMetadataFor(result, okThumb));
    QVERIFY(ReadMetadataEntries(thumb).isEmpty());
  }

  void damagedBlocksGiveValidImagesWithoutMetadata_data() {
    QTest::addColumn<QByteArray>("segment");
    QTest::addColumn<bool>("named"); // the library says it is damaged
    QByteArray loop("II*\0\x08\0\0\0\x01\0\x69\x87\x04\0\x01\0\0\0\x08\0\0\0\0\0\0\0", 26);
    QByteArray hugeCount("II*\0\x08\0\0\0\x01\0\x3b\x01\x02\0\xff\xff\xff\x0f\x20\0\0\0\0\0\0\0",
                         26);
    QByteArray outside("II*\0\xf0\xff\xff\x7f", 8);
    QTest::newRow("sub-directory pointing at itself") << ExifSegment(loop) << true;
    QTest::newRow("huge count") << ExifSegment(hugeCount) << true;
    QTest::newRow("directory outside the block") << ExifSegment(outside) << true;
    QTest::newRow("truncated header") << ExifSegment(QByteArray("MM\0", 3)) << true;
    QTest::newRow("broken XMP")
        << JpegSegment(0xE1, QByteArray("http://ns.adobe.com/xap/1.0/\0<x:xmpmeta><rdf", 36))
        << true;
    QTest::newRow("broken IPTC")
        << JpegSegment(0xED, QByteArray("Photoshop 3.0\08BIM\x04\x04\0\0\xff\xff\xff\xff", 26))
        << false;
  }

  void damagedBlocksGiveValidImagesWithoutMetadata() {
    QFETCH(QByteArray, segment);
    QFETCH(bool, named);
    const QByteArray plain = EncodeJpeg(testImage(64, 48), 90);
    const QString path = env.path(QStringLiteral("damaged-%1.jpg").arg(QTest::currentDataTag()));
    QVERIFY(writeFile(path, WithSegments(plain, segment)));
    for (TMetadataKeep keep : {TMetadataKeep::Safe, TMetadataKeep::All}) {
      const qsizetype notes = Tracer().Lines().size();
      const TPictureResult result = ProducePicture(workFor(path, keep));
      if (named) {
        QCOMPARE(Tracer().Lines().size(), notes + 1);
        QVERIFY(Tracer().LastMessage().contains(path));
      }
      QVERIFY(result.LoadError.isEmpty());
      checkValidOutputs(result);
      // Whatever the library made of it: nothing that names a person or a place.
      const auto e = ReadMetadataEntries(result.Outputs[okLarge].Jpeg);
      QVERIFY(keysLike(e, "GPS").isEmpty());
    }
  }

  void damagedXmpLeavesExifAndIptc() {
    // The camera original with a packet the XMP parser refuses: an element closed wrongly.
    QByteArray camera = cameraOriginal();
    const qsizetype at = camera.indexOf("</rdf:RDF>");
    QVERIFY(at > 0);
    camera.replace(at, 10, "</rdf:RXF>");
    const QString path = env.path("damaged-xmp.jpg");
    QVERIFY(writeFile(path, camera));
    for (TMetadataKeep keep : {TMetadataKeep::Safe, TMetadataKeep::All}) {
      const TPictureResult result = ProducePicture(workFor(path, keep));
      checkValidOutputs(result);
      QVERIFY(Tracer().LastMessage().contains(path));
      const auto e = ReadMetadataEntries(result.Outputs[okMedium].Jpeg);
      QCOMPARE(e.value("Exif.Image.Copyright"), QString("(c) 2024 Ann Example"));
      QCOMPARE(e.value("Exif.Photo.DateTimeOriginal"), QString("2024:05:06 07:08:09"));
      QCOMPARE(e.value("Iptc.Application2.Byline"), QString("Ann Example"));
      QVERIFY(keysLike(e, "Xmp.").isEmpty());
    }
  }

  void unreadableMetadataIsNamedInTheTrace() {
    // Metadata the library refuses: the images are written without, the trace says which file.
    Tracer().KeepInMemory = true;
    QVERIFY(
        OutputMetadataSegments(QByteArray("not a picture"), "/photos/odd.jpg", TMetadataKeep::Safe)
            .isEmpty());
    QVERIFY(Tracer().LastMessage().contains("/photos/odd.jpg"));
  }
};

#pragma GCC diagnostic pop

QTEST_GUILESS_MAIN(TestOutputMetadata)
#include "test_outputmetadata.moc"
