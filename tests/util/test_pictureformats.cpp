// Originals in HEIF, PNG, TIFF and WebP: decoded through the same entry as JPEG originals, with
// 16-bit samples rounded, transparency over white, the first of several images, bounds and
// damaged files.
#include "testenv.h"
#include "testfiles.h"
#include "util/imaging/exif.h"
#include "util/imaging/imaging.h"
#include "util/imaging/outputmetadata.h"
#include "util/imaging/pictureformats.h"
#include "util/tracer.h"

#include <QColorSpace>
#include <QFile>
#include <QImageWriter>
#include <QProcess>
#include <QtTest>

namespace {

QImage Gradient(int w, int h) {
  QImage img(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      img.setPixel(x, y, qRgb(x * 255 / w, y * 255 / h, 128));
  return img;
}

bool Run(const QString& program, const QStringList& args) {
  QProcess p;
  p.start(program, args);
  return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// Writes the picture in the format of the path's extension (HEIC through heif-enc from a PNG).
bool WritePicture(const QString& path, const QImage& image) {
  if (!path.endsWith(".heic")) {
    QImageWriter writer(path);
    writer.setQuality(100); // lossless WebP
    return writer.write(image);
  }
  const QString png = path + ".png";
  return image.save(png) && Run("heif-enc", {"-q", "95", png, "-o", path}) && QFile::remove(png);
}

int MostDifference(const QImage& a, const QImage& b) {
  int most = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) {
      const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
      most = std::max({most, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                       std::abs(qBlue(p) - qBlue(q))});
    }
  return most;
}

} // namespace

class TestPictureFormats : public QObject {
  Q_OBJECT
  TestEnv env;

private slots:
  void initTestCase() { Tracer().KeepInMemory = true; }

  void decodesThroughTheOriginalEntry_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("tolerance");
    QTest::newRow("png") << "a.png" << 0;
    QTest::newRow("tiff") << "a.tif" << 0;
    QTest::newRow("webp") << "a.webp" << 0;
    QTest::newRow("heic") << "a.heic" << 12;
  }
  void decodesThroughTheOriginalEntry() {
    QFETCH(QString, name);
    QFETCH(int, tolerance);
    const QString path = env.path(name);
    const QImage source = Gradient(64, 48);
    QVERIFY(WritePicture(path, source));
    QCOMPARE(ReadPictureSize(path), QSize(64, 48));
    TOriginalRequest request;
    request.Orientation = 2; // a quarter turn clockwise
    request.Boxes = {QSize(16, 16)};
    const TLoadedOriginal loaded = LoadOriginal(path, request);
    QCOMPARE(loaded.OriginalSize, QSize(64, 48));
    QCOMPARE(loaded.Size, QSize(48, 64));
    QCOMPARE(loaded.Bitmap.size() * loaded.ScaleDenominator, QSize(48, 64));
    QImage expected = source;
    ApplyOrientation(expected, 2);
    expected = expected.scaled(loaded.Bitmap.size(), Qt::IgnoreAspectRatio,
                               Qt::SmoothTransformation);
    QVERIFY2(MostDifference(loaded.Bitmap, expected) <= tolerance, qPrintable(name));
    // The same from the bytes already read, as the processing run passes them.
    TLoadedOriginal fromBytes;
    LoadOriginal(path, ReadTestFile(path), request, fromBytes);
    QCOMPARE(fromBytes.Bitmap, loaded.Bitmap);
  }

  // 16-bit samples go to the nearest 8-bit value (32767 -> 127, 32768 -> 128); transparent
  // pixels are composed over white before that rounding.
  void roundsSixteenBitsAndComposesOverWhite() {
    QImage deep(4, 1, QImage::Format_RGBA64);
    deep.setPixelColor(0, 0, QColor::fromRgba64(32767, 32768, 65535, 65535));
    deep.setPixelColor(1, 0, QColor::fromRgba64(0, 0, 0, 0));
    deep.setPixelColor(2, 0, QColor::fromRgba64(0, 0, 0, 32768));
    deep.setPixelColor(3, 0, QColor::fromRgba64(65535, 0, 0, 16384));
    const QList<QRgb> expected{qRgb(127, 128, 255), qRgb(255, 255, 255), qRgb(127, 127, 127),
                               qRgb(255, 191, 191)};
    for (const QString name : {"deep.png", "deep.tif"}) {
      QVERIFY(deep.save(env.path(name)));
      const QImage image = DecodeOtherPicture(env.path(name));
      QCOMPARE(image.format(), QImage::Format_RGB32);
      for (int x = 0; x < 4; ++x)
        QVERIFY2(image.pixel(x, 0) == expected[x],
                 qPrintable(QString("%1 x=%2: %3").arg(name).arg(x).arg(image.pixel(x, 0), 0, 16)));
    }
    QImage shallow(1, 1, QImage::Format_ARGB32);
    shallow.setPixel(0, 0, qRgba(0, 0, 0, 128));
    QVERIFY(shallow.save(env.path("half.webp"), nullptr, 100));
    QCOMPARE(DecodeOtherPicture(env.path("half.webp")).pixel(0, 0), qRgb(127, 127, 127));
  }

  void appliesTheEmbeddedColourProfile() {
    QImage p3(2, 2, QImage::Format_RGB32);
    p3.fill(qRgb(200, 100, 50));
    p3.setColorSpace(QColorSpace::DisplayP3);
    QVERIFY(p3.save(env.path("p3.png")));
    const QRgb srgb = DecodeOtherPicture(env.path("p3.png")).pixel(0, 0);
    QVERIFY2(qRed(srgb) > 205 && qBlue(srgb) < 45, qPrintable(QString::number(srgb, 16)));
  }

  void usesTheFirstOfSeveralImagesAndSaysSo() {
    QVERIFY(Gradient(40, 30).save(env.path("one.png")));
    QVERIFY(Gradient(20, 10).save(env.path("two.png")));
    const QString path = env.path("two.heic");
    QVERIFY(Run("heif-enc", {env.path("one.png"), env.path("two.png"), "-o", path}));
    QCOMPARE(DecodeOtherPicture(path).size(), QSize(40, 30));
    QVERIFY(Tracer().Lines().join('\n').contains(path + " holds 2 images"));
  }

  // Damage and oversize give a clear error naming the file, never a crash or a huge allocation.
  void refusesDamagedAndOversizedFiles() {
    for (const QString name : {"d.png", "d.tif", "d.webp", "d.heic"}) {
      const QString path = env.path(name);
      QVERIFY(WritePicture(path, Gradient(64, 48)));
      try {
        DecodeOtherPicture(path, QByteArray(), 64 * 47);
        QFAIL(qPrintable(name + " above the pixel limit was decoded"));
      } catch (const EImageError& e) {
        QVERIFY2(e.Text().contains("megapixels") && e.Text().contains(path), qPrintable(e.Text()));
      }
      QByteArray bytes = ReadTestFile(path);
      for (const QByteArray& damaged : {bytes.left(bytes.size() / 3), bytes.left(24)}) {
        writeBytes(path, damaged);
        try {
          const QImage image = DecodeOtherPicture(path);
          // A reader may give the part it could read; never more than the header promised.
          QVERIFY2(image.size() == QSize(64, 48), qPrintable(name));
        } catch (const EImageError& e) {
          QVERIFY2(e.Text().contains(path), qPrintable(e.Text()));
        }
      }
    }
  }

  // Capture dates come from the EXIF block of a HEIF file; its turn is applied by the decoder.
  // A half-size HEIF decode (taken as stored and converted here) agrees with the library's own
  // full conversion averaged over 2 x 2 blocks, for each matrix and range; odd sides stay whole.
  void decodesHeifAtHalfSize_data() {
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("denominator");
    QTest::newRow("601 full") << QSize(96, 64) << QStringList() << 2;
    QTest::newRow("709 limited") << QSize(96, 64)
                                 << QStringList{"--matrix_coefficients", "1", "--full_range_flag",
                                                "0"}
                                 << 2;
    QTest::newRow("odd sides") << QSize(97, 65) << QStringList() << 1;
  }
  void decodesHeifAtHalfSize() {
    QFETCH(QSize, size);
    QFETCH(QStringList, options);
    QFETCH(int, denominator);
    const QString png = env.path("half.png"), heic = env.path("half.heic");
    QImage source = Gradient(size.width(), size.height());
    for (int y = 0; y < size.height(); ++y) // saturated corners test the clamping
      for (int x = 0; x < size.width() / 4; ++x)
        source.setPixel(x, y, y < size.height() / 2 ? qRgb(255, 0, 0) : qRgb(0, 0, 255));
    QVERIFY(source.save(png));
    QVERIFY(Run("heif-enc", options + QStringList{"-q", "90", png, "-o", heic}));
    const QImage full = DecodeOtherPicture(heic);
    int d = 0;
    const QImage half = DecodeOtherPicture(heic, QByteArray(), 0, 2, &d);
    QCOMPARE(d, denominator);
    QCOMPARE(half.size(), size / d);
    QImage expected = full;
    if (d == 2) {
      expected = QImage(size / 2, QImage::Format_RGB32);
      for (int y = 0; y < expected.height(); ++y)
        for (int x = 0; x < expected.width(); ++x) {
          int sum[3] = {0, 0, 0};
          for (const QPoint& o : {QPoint(0, 0), QPoint(1, 0), QPoint(0, 1), QPoint(1, 1)}) {
            const QRgb p = full.pixel(2 * x + o.x(), 2 * y + o.y());
            sum[0] += qRed(p), sum[1] += qGreen(p), sum[2] += qBlue(p);
          }
          expected.setPixel(x, y, qRgb((sum[0] + 2) / 4, (sum[1] + 2) / 4, (sum[2] + 2) / 4));
        }
    }
    QVERIFY2(MostDifference(half, expected) <= 3,
             qPrintable(QString::number(MostDifference(half, expected))));
  }

  void readsTheCameraMetadataOfHeifFiles() {
    const QString jpeg = env.path("camera.jpg"), heic = env.path("camera.heic");
    QVERIFY(WriteTestJpeg(jpeg, 64, 48));
    QVERIFY(Run("exiftool", {"-q", "-overwrite_original", "-DateTimeOriginal=2024:05:06 07:08:09",
                             "-Orientation#=6", "-Artist=Ann Example", jpeg}));
    QVERIFY(Run("heif-enc", {"-q", "60", jpeg, "-o", heic}));
    const TCameraMetadata m = ReadCameraMetadata(heic);
    QVERIFY2(m.Problem.isEmpty(), qPrintable(m.Problem));
    QCOMPARE(m.DateTimeOriginal, QDateTime(QDate(2024, 5, 6), QTime(7, 8, 9)));
    QCOMPARE(m.PictureOrientation(), 1);
    // The outputs keep the photographer's name, as from a JPEG original.
    QVERIFY(OutputMetadataSegments(ReadTestFile(heic), heic, TMetadataKeep::Safe)
                .contains("Ann Example"));
  }
};

QTEST_MAIN(TestPictureFormats)
#include "test_pictureformats.moc"
