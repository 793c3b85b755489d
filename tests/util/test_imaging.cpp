// Imaging primitives: fitting, orientation, crop, resampling, JPEG decode/encode, fitted drawing.
#include "testenv.h"
#include "util/imaging/drawing.h"
#include "util/imaging/imaging.h"
#include "util/imaging/jpegcodec.h"
#include "util/tracer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QtTest>
#include <atomic>
#include <cmath>
#include <functional>
#include <thread>
#include <tuple>
#include <vector>

#include <cstdio>
#include <jpeglib.h>

namespace {

// Every pixel different: red = x, green = y, blue = x + 7y.
QImage Numbered(int w, int h) {
  QImage img(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      img.setPixel(x, y, qRgb(x, y, (x + 7 * y) & 255));
  return img;
}

// A smooth picture with some detail, as photographs have.
QImage Photo(int w, int h) {
  QImage img(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const double fx = double(x) / w, fy = double(y) / h;
      const int r = int(127 + 120 * std::sin(6.0 * fx + 2.0 * fy));
      const int g = int(127 + 120 * std::cos(5.0 * fy - 3.0 * fx));
      const int b = int(255 * fx * fy);
      img.setPixel(x, y, qRgb(r, g, b));
    }
  return img;
}

// Photo with sharp-edged squares: misplaced samples show at once.
QImage Detailed(int w, int h) {
  QImage img = Photo(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (((x / 53) + (y / 47)) % 2) {
        const QRgb p = img.pixel(x, y);
        img.setPixel(x, y, qRgb(255 - qRed(p), qGreen(p) / 2, 255 - qBlue(p)));
      }
  return img;
}

double Psnr(const QImage& a, const QImage& b) {
  if (a.size() != b.size()) return 0.0;
  double se = 0.0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) {
      const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
      const int dr = qRed(p) - qRed(q), dg = qGreen(p) - qGreen(q), db = qBlue(p) - qBlue(q);
      se += dr * dr + dg * dg + db * db;
    }
  const double mse = se / (3.0 * a.width() * a.height());
  return mse == 0.0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

QRgb Rgb(QRgb p) {
  return p & 0xffffffu;
}

// A CMYK JPEG as image programs write it (Adobe marker, inverted values): cyan on the left half,
// yellow + 50 % black on the right half.
void WriteCmykJpeg(const QString& path, int w, int h) {
  jpeg_compress_struct c{};
  jpeg_error_mgr err{};
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  FILE* f = std::fopen(QFile::encodeName(path).constData(), "wb");
  jpeg_stdio_dest(&c, f);
  c.image_width = JDIMENSION(w), c.image_height = JDIMENSION(h);
  c.input_components = 4;
  c.in_color_space = JCS_CMYK;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 95, TRUE);
  c.write_Adobe_marker = TRUE;
  jpeg_start_compress(&c, TRUE);
  std::vector<unsigned char> row(size_t(w) * 4);
  for (int x = 0; x < w; ++x) {
    unsigned char* p = row.data() + 4 * x; // inverted: 255 = no ink
    if (x < w / 2)
      p[0] = 0, p[1] = 255, p[2] = 255, p[3] = 255;
    else
      p[0] = 255, p[1] = 255, p[2] = 0, p[3] = 128;
  }
  for (int y = 0; y < h; ++y) {
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&c, &r, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  std::fclose(f);
}

// A progressive JPEG of the picture with the codec's usual script, or (coarse) one whose first
// scans keep only the top bits of the AC coefficients (Al = 3) and refine them three times.
QByteArray EncodeProgressive(const QImage& picture, bool coarse) {
  const QImage img = picture.convertToFormat(QImage::Format_RGB32);
  jpeg_compress_struct c{};
  jpeg_error_mgr err{};
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &buffer, &size);
  c.image_width = JDIMENSION(img.width()), c.image_height = JDIMENSION(img.height());
  c.input_components = 4;
  c.in_color_space = JCS_EXT_BGRX;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 92, TRUE);
  jpeg_simple_progression(&c);
  std::vector<jpeg_scan_info> scans;
  if (coarse) {
    scans.push_back({3, {0, 1, 2, 0}, 0, 0, 0, 0});
    for (int ah : {0, 3, 2, 1})
      for (int comp = 0; comp < 3; ++comp)
        scans.push_back({1, {comp, 0, 0, 0}, 1, 63, ah, ah == 0 ? 3 : ah - 1});
    c.scan_info = scans.data();
    c.num_scans = int(scans.size());
  }
  jpeg_start_compress(&c, TRUE);
  for (int y = 0; y < img.height(); ++y) {
    JSAMPROW row = const_cast<JSAMPROW>(img.constScanLine(y));
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  const QByteArray out(reinterpret_cast<const char*>(buffer), qsizetype(size));
  std::free(buffer);
  return out;
}

// The codec's own decode of every scan at 1/d of the size.
QImage DecodeAllScans(const QByteArray& data, int d) {
  jpeg_decompress_struct c{};
  jpeg_error_mgr err{};
  c.err = jpeg_std_error(&err);
  jpeg_create_decompress(&c);
  jpeg_mem_src(&c, reinterpret_cast<const unsigned char*>(data.constData()),
               static_cast<unsigned long>(data.size()));
  jpeg_read_header(&c, TRUE);
  c.scale_num = 1, c.scale_denom = unsigned(d);
  c.out_color_space = JCS_EXT_BGRA;
  c.dct_method = JDCT_ISLOW;
  jpeg_start_decompress(&c);
  QImage img(int(c.output_width), int(c.output_height), QImage::Format_RGB32);
  while (c.output_scanline < c.output_height) {
    JSAMPROW row = img.scanLine(int(c.output_scanline));
    jpeg_read_scanlines(&c, &row, 1);
  }
  jpeg_finish_decompress(&c);
  jpeg_destroy_decompress(&c);
  return img;
}

} // namespace

class TestImaging : public QObject {
  Q_OBJECT
  TestEnv env;

  QStringList traced(const std::function<void()>& f) {
    const qsizetype before = Tracer().Lines().size();
    f();
    return Tracer().Lines().mid(before);
  }

private slots:
  void initTestCase() { Tracer().KeepInMemory = true; }

  void fitIntoBoxSizes() {
    QCOMPARE(FitIntoBox({4000, 3000}, 200, 150, false).Size, QSize(200, 150));
    QCOMPARE(FitIntoBox({3000, 4000}, 800, 768, false).Size, QSize(576, 768));
    QCOMPARE(FitIntoBox({3000, 2000}, 800, 768, false).Size, QSize(800, 533));
    QCOMPARE(FitIntoBox({3000, 2000}, 200, 150, false).Size, QSize(200, 133));
    QCOMPARE(FitIntoBox({640, 480}, 800, 768, true).Size, QSize(640, 480));
    QCOMPARE(FitIntoBox({640, 480}, 800, 768, false).Size, QSize(800, 600));
    // Halves go to the even neighbour: 5 x 0.5 = 2.5 -> 2, 7 x 0.5 = 3.5 -> 4.
    QCOMPARE(FitIntoBox({10, 5}, 5, 5, false).Size, QSize(5, 2));
    QCOMPARE(FitIntoBox({10, 7}, 5, 5, false).Size, QSize(5, 4));
    // A needle of a picture keeps one pixel; a box of no size fits nothing.
    QCOMPARE(FitIntoBox({10000, 10}, 200, 150, false).Size, QSize(200, 1));
    QVERIFY(FitIntoBox({100, 100}, 0, 150, false).Size.isEmpty());
  }

  // A decode inside a progress scope reports rising thousandths; outside any scope, or inside
  // an inner scope without a report, nothing is reported.
  void decodeReportsItsProgress() {
    const QByteArray jpeg = EncodeJpeg(Photo(320, 2400), 90);
    QList<int> reports;
    {
      TJpegDecodeProgress scope([&](int permille) { reports.append(permille); });
      QCOMPARE(DecodeJpegData(jpeg).size(), QSize(320, 2400));
      {
        TJpegDecodeProgress quiet({});
        DecodeJpegData(jpeg);
      }
    }
    QVERIFY2(reports.size() >= 10, qPrintable(QString::number(reports.size())));
    for (qsizetype i = 1; i < reports.size(); ++i)
      QVERIFY(reports[i] >= reports[i - 1] + 10);
    QVERIFY(reports.first() > 0);
    QVERIFY(reports.last() >= 900 && reports.last() <= 1000);
    reports.clear();
    DecodeJpegData(jpeg);
    QVERIFY(reports.isEmpty());
  }

  void scaleBitmapTracesUpscaling() {
    const QImage small = Photo(640, 480);
    QImage out;
    QStringList lines =
        traced([&] { ScaleBitmap("/a/p.jpg", small, out, 800, 768, true, rfLanczos); });
    QCOMPARE(out.size(), QSize(640, 480));
    QCOMPARE(out, small); // same-size copy
    QCOMPARE(lines, QStringList{"Original picture is smaller than desired size. No scale will be "
                                "done. /a/p.jpg."});
    lines = traced([&] { ScaleBitmap("/a/p.jpg", small, out, 800, 768, false, rfLanczos); });
    QCOMPARE(out.size(), QSize(800, 600));
    QCOMPARE(lines, QStringList{"Original picture is smaller than desired size. Picture will be "
                                "upscaled anyway. /a/p.jpg."});
    // Exactly the box size: a copy and no note.
    lines = traced([&] { ScaleBitmap("/a/p.jpg", small, out, 640, 480, false, rfSpline); });
    QVERIFY(lines.isEmpty());
    QCOMPARE(out, small);
    // Scaling into itself works.
    QImage self = Photo(300, 200);
    ScaleBitmap("x", self, self, 200, 150, false, rfMitchell);
    QCOMPARE(self.size(), QSize(200, 133));
  }

  void orientationCodes() {
    const QImage src = Numbered(5, 3); // W = 5, H = 3
    const int W = 5, H = 3;
    for (int code : {1, -1, 2, -2, 3, -3, 4, -4, 0, 5, -5}) {
      QImage img = src;
      ApplyOrientation(img, code);
      const int m = std::abs(code);
      const bool quarter = m == 2 || m == 4;
      QCOMPARE(img.size(), quarter ? QSize(H, W) : QSize(W, H));
      QCOMPARE(OrientedSize(src.size(), code), img.size());
      for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
          int u = x, v = y;
          if (m == 2) u = H - 1 - y, v = x;
          if (m == 3) u = W - 1 - x, v = H - 1 - y;
          if (m == 4) u = y, v = W - 1 - x;
          if (code < 0) u = img.width() - 1 - u;
          QCOMPARE(img.pixel(u, v), src.pixel(x, y));
        }
    }
    // Quadrant picture: a quarter turn clockwise brings the bottom-left (blue) quadrant to the
    // top-left corner; -1 only mirrors.
    QImage q = MakeTestImage(40, 20);
    ApplyOrientation(q, 2);
    QCOMPARE(Rgb(q.pixel(0, 0)), Rgb(qRgb(0, 0, 255)));
    QImage mirrored = MakeTestImage(40, 20);
    ApplyOrientation(mirrored, -1);
    QCOMPARE(Rgb(mirrored.pixel(0, 0)), Rgb(qRgb(0, 255, 0)));
    QCOMPARE(mirrored.size(), QSize(40, 20));
  }

  void cropCorners() {
    QImage img = Numbered(50, 40);
    CropBitmap(img, {30, 25}, {10, 5}, rfLanczos); // corners in the "wrong" order
    QCOMPARE(img.size(), QSize(20, 20));
    QCOMPARE(img.pixel(0, 0), Numbered(50, 40).pixel(10, 5));
    // Corners beyond the picture keep only the picture's part (no black border).
    QImage img2 = Numbered(50, 40);
    CropBitmap(img2, {40, 30}, {80, 90}, rfLanczos);
    QCOMPARE(img2.size(), QSize(10, 10));
    QCOMPARE(img2.pixel(9, 9), Numbered(50, 40).pixel(49, 39));
    // Nothing left: a clear error and the bitmap unchanged.
    QImage img3 = Numbered(50, 40);
    QVERIFY_THROWS_EXCEPTION(EImageError, CropBitmap(img3, {10, 10}, {10, 30}, rfLanczos));
    QVERIFY_THROWS_EXCEPTION(EImageError, CropBitmap(img3, {60, 60}, {70, 70}, rfLanczos));
    QCOMPARE(img3.size(), QSize(50, 40));
    QVERIFY(CropIsSet(-1, -1, 5, -1));
    QVERIFY(!CropIsSet(-1, -1, -1, -1));
  }

  void filtersKeepFlatColourAndRamps() {
    QImage flat(37, 23, QImage::Format_RGB32);
    flat.fill(qRgb(200, 13, 77));
    for (int f = rfNearest; f <= rfMitchell; ++f)
      for (QSize size : {QSize(11, 7), QSize(90, 61), QSize(37, 5)}) {
        const QImage out =
            ResampleBitmap(flat, QRectF(0.3, 1.7, 30.2, 19.9), size, TResizeFilter(f));
        QCOMPARE(out.size(), size);
        QCOMPARE(out.format(), QImage::Format_RGB32);
        for (int y = 0; y < size.height(); ++y)
          for (int x = 0; x < size.width(); ++x)
            QCOMPARE(out.pixel(x, y), qRgb(200, 13, 77));
      }
    // A horizontal ramp halved keeps its values at the output pixel centres (no half-pixel
    // shift), for every smooth filter.
    QImage ramp(200, 4, QImage::Format_RGB32);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 200; ++x)
        ramp.setPixel(x, y, qRgb(x, x, x));
    for (int f = rfLinear; f <= rfMitchell; ++f) {
      const QImage out =
          ResampleBitmap(ramp, QRectF(0, 0, 200, 4), QSize(100, 2), TResizeFilter(f));
      for (int x = 5; x < 95; ++x)
        QVERIFY(std::abs(qRed(out.pixel(x, 1)) - (2 * x + 0.5)) <= 1.0);
    }
    // Large reductions average blocks first; values must still sit at the right places, also
    // with part blocks at the edges.
    QImage wide(1605, 203, QImage::Format_RGB32);
    for (int y = 0; y < 203; ++y)
      for (int x = 0; x < 1605; ++x)
        wide.setPixel(x, y, qRgb(x / 8, y, 0));
    for (int f = rfLinear; f <= rfMitchell; ++f) {
      const QImage out =
          ResampleBitmap(wide, QRectF(0, 0, 1605, 203), QSize(107, 13), TResizeFilter(f));
      const QImage exact =
          ResampleBitmap(wide, QRectF(0, 0, 1605, 203), QSize(107, 13), TResizeFilter(f), true);
      for (int x = 3; x < 104; ++x)
        QVERIFY(std::abs(qRed(out.pixel(x, 6)) - qRed(exact.pixel(x, 6))) <= 1);
      for (int y = 1; y < 12; ++y)
        QVERIFY(std::abs(qGreen(out.pixel(50, y)) - qGreen(exact.pixel(50, y))) <= 1);
    }
    QCOMPARE(ResizeFilterFromCode(7), rfLanczos);
    QCOMPARE(ResizeFilterFromCode(0), rfNearest);
  }

  // Every vector path this processor may take and the portable path keep flat colours and
  // ramps, and they agree to a grey level on a detailed picture, for every kernel and for odd
  // tap counts.
  void widePathMatchesPortablePath() {
    const QImage detailed = Detailed(331, 217);
    const bool wide = AllowWideResampling(true);
    AllowWideResampling(false);
    filtersKeepFlatColourAndRamps();
    for (TResampleVectors vectors : {TResampleVectors::Avx2, TResampleVectors::Avx512})
      for (int f = rfNearest; f <= rfMitchell; ++f)
        for (QSize size : {QSize(97, 61), QSize(200, 150), QSize(29, 13), QSize(500, 330),
                           QSize(301, 195), QSize(206, 134), QSize(158, 103)}) {
          if (LimitResampleVectors(vectors) != vectors) continue; // not on this processor
          AllowWideResampling(false);
          const QImage portable =
              ResampleBitmap(detailed, QRectF(0.5, 1.25, 329, 214.5), size, TResizeFilter(f));
          LimitResampleVectors(vectors);
          const QImage vector =
              ResampleBitmap(detailed, QRectF(0.5, 1.25, 329, 214.5), size, TResizeFilter(f));
          int worst = 0;
          for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x) {
              const QRgb a = portable.pixel(x, y), b = vector.pixel(x, y);
              worst = std::max({worst, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                                std::abs(qBlue(a) - qBlue(b))});
            }
          QVERIFY2(worst <= 1, qPrintable(QString("vectors %5, filter %1, %2 x %3: %4 levels")
                                              .arg(f)
                                              .arg(size.width())
                                              .arg(size.height())
                                              .arg(worst)
                                              .arg(int(vectors))));
        }
    AllowWideResampling(true);
    if (!wide) qInfo("this processor has no AVX2/FMA: only the portable path ran");
  }

  // Kept weight tables serve a call only when its filter, window, size and edges are the same.
  void keptWeightsServeOnlyTheirOwnCall() {
    const QImage a = Detailed(331, 217), narrower = Detailed(300, 217);
    const std::tuple<const QImage*, QRectF, QSize, TResizeFilter> calls[] = {
        {&a, {0, 0, 300, 217}, {150, 90}, rfLanczos},
        {&a, {0, 0, 300, 217}, {150, 90}, rfMitchell},
        {&a, {0, 0, 300, 217}, {149, 90}, rfLanczos},
        {&a, {0, 0, 300, 217}, {150, 91}, rfLanczos},
        {&a, {0.5, 0, 300, 217}, {150, 90}, rfLanczos},
        {&a, {10, 0, 320, 217}, {150, 90}, rfLanczos},
        {&narrower, {10, 0, 320, 217}, {150, 90}, rfLanczos},
        {&a, {0, 0, 300, 217}, {150, 91}, rfLanczos}};
    for (bool wide : {true, false}) {
      AllowWideResampling(wide);
      for (const auto& [source, window, size, filter] : calls) {
        const QImage kept = ResampleBitmap(*source, window, size, filter);
        ReleaseResampleScratch();
        QCOMPARE(kept, ResampleBitmap(*source, window, size, filter));
      }
    }
    AllowWideResampling(true);
  }

  void blockAveragingStaysCloseToTheKernel() {
    const QImage big = Detailed(2000, 1500);
    const QRectF all(0, 0, 2000, 1500);
    for (QSize size : {QSize(400, 300), QSize(200, 150), QSize(97, 73)}) {
      const QImage fast = ResampleBitmap(big, all, size, rfLanczos);
      const QImage exact = ResampleBitmap(big, all, size, rfLanczos, true);
      QVERIFY2(Psnr(fast, exact) > 40.0, qPrintable(QString::number(Psnr(fast, exact))));
    }
    QImage flat(1000, 999, QImage::Format_RGB32);
    flat.fill(qRgb(1, 128, 254));
    const QImage out = ResampleBitmap(flat, QRectF(0, 0, 1000, 999), QSize(33, 31), rfSpline);
    for (int y = 0; y < 31; ++y)
      for (int x = 0; x < 33; ++x)
        QCOMPARE(out.pixel(x, y), qRgb(1, 128, 254));
  }

  void jpegRoundTripAndErrors() {
    const QImage src = Photo(64, 48);
    const QByteArray data = EncodeJpeg(src, 95);
    QVERIFY(data.startsWith("\xff\xd8"));
    QSize full;
    const QImage back = DecodeJpegData(data, 1, &full);
    QCOMPARE(full, QSize(64, 48));
    QCOMPARE(back.format(), QImage::Format_RGB32);
    QVERIFY(Psnr(src, back) > 35.0);
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 64; ++x)
        QCOMPARE(qAlpha(back.pixel(x, y)), 255);
    QCOMPARE(DecodeJpegData(data, 2).size(), QSize(32, 24));
    QCOMPARE(DecodeJpegData(data, 8).size(), QSize(8, 6));
    // Colour at full resolution from quality 90 on, halved both ways below it.
    auto lumaSampling = [](const QByteArray& jpeg) {
      const int sof = jpeg.indexOf("\xff\xc0");
      return sof < 0 ? -1 : int(uchar(jpeg[sof + 11])); // first component: H << 4 | V
    };
    QCOMPARE(lumaSampling(data), 0x11);
    QCOMPARE(lumaSampling(EncodeJpeg(src, 90)), 0x11);
    QCOMPARE(lumaSampling(EncodeJpeg(src, 89)), 0x22);
    QCOMPARE(JpegScaledSize({5184, 3457}, 8), QSize(648, 433));
    // Every eighth the codec offers comes out at the size the viewer plans with (odd sides
    // round up), turned when asked.
    QImage oddSource(61, 43, QImage::Format_RGB32);
    oddSource.fill(Qt::gray);
    const QByteArray odd = EncodeJpeg(oddSource, 80);
    for (int m = 1; m <= 8; ++m) {
      QCOMPARE(DecodeJpegDataEighths(odd, "odd", m, 1).size(), JpegEighthsScaledSize({61, 43}, m));
      QCOMPARE(DecodeJpegDataEighths(odd, "odd", m, -4).size(),
               JpegEighthsScaledSize({61, 43}, m).transposed());
    }
    QCOMPARE(JpegScaleForMinimumSize({4000, 3000}, 800, 600), 4);
    QCOMPARE(JpegScaleForMinimumSize({4000, 3000}, 1001, 600), 2);
    QCOMPARE(JpegScaleForMinimumPixels({5184, 3456}, 2 * 800 * 533), 4);
    QCOMPARE(JpegScaleForMinimumPixels({800, 533}, 2 * 800 * 533), 1);

    const QString bad = env.path("bad.jpg");
    QFile f(bad);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("this is no picture at all");
    f.close();
    try {
      DecodeJpegFile(bad);
      QFAIL("decoded garbage");
    } catch (const EImageError& e) {
      QVERIFY2(e.Text().contains("not a JPEG file or corrupt data"), qPrintable(e.Text()));
      QVERIFY(e.Text().contains(bad));
    }
    try {
      ReadJpegSize(env.path("missing.jpg"));
      QFAIL("read a missing file");
    } catch (const EImageError& e) {
      QVERIFY2(e.Text().startsWith("File not found"), qPrintable(e.Text()));
    }
    // A file cut short still decodes (the lost part is grey) instead of failing the album.
    const QString cut = env.path("cut.jpg");
    QFile c(cut);
    QVERIFY(c.open(QIODevice::WriteOnly));
    const QByteArray big = EncodeJpeg(Photo(300, 200), 90);
    c.write(big.left(big.size() / 2));
    c.close();
    QCOMPARE(DecodeJpegFile(cut).size(), QSize(300, 200));
    // Truncated inside the header: an error, not a crash.
    QVERIFY_THROWS_EXCEPTION(EImageError, DecodeJpegData(big.left(20)));
  }

  // The encoder writes into a buffer of about a byte per pixel that its thread keeps. Noise at
  // quality 100 needs far more: the file comes out whole from the codec's own grown buffer, the
  // same every time, and the kept buffer still serves the next image.
  void encodedFileLargerThanTheKeptBuffer() {
    QImage noise(320, 240, QImage::Format_RGB32);
    quint32 seed = 12345;
    for (int y = 0; y < noise.height(); ++y)
      for (int x = 0; x < noise.width(); ++x) {
        seed = seed * 1664525u + 1013904223u;
        noise.setPixel(x, y, 0xff000000u | (seed >> 8));
      }
    const QByteArray big = EncodeJpeg(noise, 100, TJpegChroma::Full);
    QVERIFY2(big.size() > 320 * 240 + 64 * 1024, qPrintable(QString::number(big.size())));
    QVERIFY(big.endsWith("\xff\xd9"));
    QVERIFY(Psnr(noise, DecodeJpegData(big)) > 40.0);
    QCOMPARE(EncodeJpeg(noise, 100, TJpegChroma::Full), big);
    const QImage small = Photo(64, 48);
    QVERIFY(Psnr(small, DecodeJpegData(EncodeJpeg(small, 95))) > 35.0);
  }

  // At a quarter of the size or less a progressive file is read to the end of its first scans:
  // close to the whole file, and turns and crops give the same pixels as on the plain decode.
  // First scans that are too coarse, half-size and full-size decodes read every scan.
  void progressiveFilesAtReducedSizes() {
    const QImage src = Detailed(803, 611);
    const QByteArray fine = EncodeProgressive(src, false), coarse = EncodeProgressive(src, true);
    for (int d : {1, 2})
      QCOMPARE(DecodeJpegData(fine, d), DecodeAllScans(fine, d));
    for (int d : {4, 8}) {
      const QImage part = DecodeJpegData(fine, d), whole = DecodeAllScans(fine, d);
      QCOMPARE(part.size(), whole.size());
      QVERIFY(part != whole); // the refinement scans were left out
      QVERIFY2(Psnr(part, whole) > 40.0,
               qPrintable(QString("1/%1: %2 dB").arg(d).arg(Psnr(part, whole))));
      QCOMPARE(DecodeJpegData(coarse, d), DecodeAllScans(coarse, d));
    }
    const QString path = env.path("progressive.jpg");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(fine);
    f.close();
    for (int code : {1, -1, 2, 3, -4}) {
      QImage plain = DecodeJpegFile(path, 4);
      ApplyOrientation(plain, code);
      const QRect crop(13, 7, plain.width() - 30, plain.height() - 20);
      QSize stored;
      QCOMPARE(DecodeJpegFileTransformed(path, 4, code, crop, &stored), plain.copy(crop));
      QCOMPARE(stored, QSize(803, 611));
    }
  }

  // A progressive file keeps every coefficient while it decodes, at any scale: two bytes each,
  // three components at 4:2:0 make three bytes a pixel. The memory estimate counts them.
  void memoryEstimateCountsProgressiveCoefficients() {
    const QString plain = env.path("estimate.jpg"), progressive = env.path("estimate-p.jpg");
    QVERIFY(WriteTestJpeg(plain, 800, 608));
    QFile f(progressive);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(EncodeProgressive(Detailed(800, 608), false));
    f.close();
    QCOMPARE(ReadJpegLayout(plain).CoefficientBytes, qint64(0));
    QCOMPARE(ReadJpegLayout(progressive).CoefficientBytes, qint64(800 * 608 * 3));
    TOriginalRequest request;
    request.Boxes = {QSize(80, 60)}; // decoded at 1/8
    auto need = [&](const QString& path) {
      return EstimateOriginalMemory(path, request) - QFileInfo(path).size();
    };
    QCOMPARE(need(progressive) - need(plain), qint64(800 * 608 * 3));
    request.FullResolution = true;
    QVERIFY(need(plain) >= 800 * 608 * 4);
    request.MaxPixels = 800 * 607; // refused before decoding
    QCOMPARE(need(plain), qint64(0));
  }

  void cmykPictures() {
    const QString path = env.path("cmyk.jpg");
    WriteCmykJpeg(path, 64, 40);
    const QImage img = DecodeJpegFile(path);
    QCOMPARE(img.size(), QSize(64, 40));
    auto near = [](QRgb p, QRgb q) {
      return std::abs(qRed(p) - qRed(q)) <= 6 && std::abs(qGreen(p) - qGreen(q)) <= 6 &&
             std::abs(qBlue(p) - qBlue(q)) <= 6 && qAlpha(p) == 255;
    };
    QVERIFY(near(img.pixel(5, 5), qRgb(0, 255, 255)));
    QVERIFY(near(img.pixel(60, 30), qRgb(128, 128, 0)));
    // Turned and cropped on the way in, as the processing run loads originals.
    const QImage turned = DecodeJpegFileTransformed(path, 1, -2, QRect(3, 4, 30, 50));
    QImage expect = img;
    ApplyOrientation(expect, -2);
    QCOMPARE(turned, expect.copy(QRect(3, 4, 30, 50)));
  }

  void saveChecksQualityBeforeWriting() {
    const QString path = env.path("q.jpg");
    const QImage img = Photo(40, 30);
    for (int q : {0, 101, -5}) {
      QVERIFY_THROWS_EXCEPTION(EImageRangeError, SaveBitmapAsJpeg(img, q, path));
      QVERIFY(!QFile::exists(path));
    }
    SaveBitmapAsJpeg(img, 1, path);
    const qint64 low = QFileInfo(path).size();
    SaveBitmapAsJpeg(img, 100, path); // replaces the file
    QVERIFY(QFileInfo(path).size() > low);
    QCOMPARE(ReadJpegSize(path), QSize(40, 30));
    // A failed write leaves the old file as it was and no temporary behind.
    QVERIFY_THROWS_EXCEPTION(EImageRangeError, SaveBitmapAsJpeg(img, 0, path));
    QCOMPARE(ReadJpegSize(path), QSize(40, 30));
    QVERIFY_THROWS_EXCEPTION(EImageError, SaveBitmapAsJpeg(img, 90, env.path("no/such/dir/x.jpg")));
    QCOMPARE(QDir(env.path()).entryList({"*q.jpg*"}, QDir::Files), QStringList{"q.jpg"});
    // Unwritable target folder.
    QVERIFY_THROWS_EXCEPTION(EImageError, SaveBitmapAsJpeg(QImage(), 90, env.path("empty.jpg")));
    QVERIFY(!QFile::exists(env.path("empty.jpg")));
  }

  void transformedDecodeMatchesSeparateSteps() {
    const QString path = env.path("odd.jpg");
    EncodeJpegFile(Photo(203, 117), 92, path);
    const QImage full = DecodeJpegFile(path);
    for (int code : {1, -1, 2, -2, 3, -3, 4, -4}) {
      QImage expect = full;
      ApplyOrientation(expect, code);
      QSize stored;
      QCOMPARE(DecodeJpegFileTransformed(path, 1, code, QRect(), &stored), expect);
      QCOMPARE(stored, QSize(203, 117));
      const QRect crop(QPoint(13, 21), QPoint(expect.width() - 30, expect.height() - 9));
      QCOMPARE(DecodeJpegFileTransformed(path, 1, code, crop), expect.copy(crop));
      // At a reduced scale the same holds for the scaled picture.
      QImage half = DecodeJpegFile(path, 2);
      ApplyOrientation(half, code);
      const QRect hc(3, 5, half.width() - 10, half.height() - 7);
      QCOMPARE(DecodeJpegFileTransformed(path, 2, code, hc), half.copy(hc));
    }
  }

  void reducedDecodeMatchesFullPipeline() {
    // A big picture with odd dimensions, so that the scaled decode covers part pixels at the
    // edges: orientation and crop must still line up with a full-resolution pipeline.
    const QString path = env.path("big.jpg");
    EncodeJpegFile(Detailed(2401, 1597), 95, path);
    for (int code : {1, -1, 2, -2, 3, -3, 4, -4}) {
      for (bool crop : {false, true}) {
        TOriginalRequest req;
        req.Orientation = code;
        req.Crop = crop;
        req.CropTopLeft = {1100, 76};
        req.CropBottomRight = {204, 1004}; // 897 x 926, corners swapped
        req.Boxes = {QSize(200, 150), QSize(300, 288)};
        const TLoadedOriginal o = LoadOriginal(path, req);
        QCOMPARE(o.OriginalSize, QSize(2401, 1597));
        QVERIFY(o.ScaleDenominator > 1);
        // The file's bytes read beforehand give the very same pixels.
        TLoadedOriginal fromBytes;
        LoadOriginal(path, ReadTestFile(path), req, fromBytes);
        QCOMPARE(fromBytes.Bitmap, o.Bitmap);
        QCOMPARE(fromBytes.Window, o.Window);
        QCOMPARE(fromBytes.OriginalSize, o.OriginalSize);
        QImage ref = DecodeJpegFile(path);
        ApplyOrientation(ref, code);
        if (crop) CropBitmap(ref, req.CropTopLeft, req.CropBottomRight, rfLanczos);
        QCOMPARE(o.Size, ref.size());
        for (QSize box : req.Boxes) {
          QImage mine, theirs;
          ScaleLoadedOriginal("big", o, mine, box.width(), box.height(), false, rfLanczos);
          ScaleBitmap("big", ref, theirs, box.width(), box.height(), false, rfLanczos);
          QCOMPARE(mine.size(), theirs.size());
          const double psnr = Psnr(mine, theirs);
          QVERIFY2(psnr > 35.0, qPrintable(QString("orientation %1 crop %2 box %3: %4 dB")
                                               .arg(code)
                                               .arg(crop)
                                               .arg(box.width())
                                               .arg(psnr)));
        }
      }
    }
    // The large image needs the full picture; upscaling needs it too.
    TOriginalRequest req;
    req.FullResolution = true;
    req.Boxes = {QSize(200, 150)};
    TLoadedOriginal o = LoadOriginal(path, req);
    QVERIFY(o.IsFullResolution());
    QCOMPARE(o.Bitmap.size(), QSize(2401, 1597));
    req.FullResolution = false;
    req.Boxes = {QSize(3000, 3000)};
    QCOMPARE(LoadOriginal(path, req).ScaleDenominator, 1);
    // A web size needs the decode only to cover it (whole pixels); the boxes still get twice
    // their pixels.
    for (auto [cover, want] : {std::pair{600, 4}, {601, 2}, {1200, 2}, {1201, 1}}) {
      req.Boxes = {QSize(300, 288)};
      req.CoverBoxes = {QSize(cover, cover)};
      QCOMPARE(LoadOriginal(path, req).ScaleDenominator, want);
    }
    req.Crop = true;
    req.CropTopLeft = {5000, 5000};
    req.CropBottomRight = {6000, 6000};
    QVERIFY_THROWS_EXCEPTION(EImageError, LoadOriginal(path, req));
    // Damaged bytes: the error names the file they came from.
    QByteArray damaged = ReadTestFile(path).left(600);
    damaged[300] = char(0xff);
    damaged[301] = char(0xd9);
    TLoadedOriginal o2;
    try {
      LoadOriginal("/photos/damaged.jpg", damaged, TOriginalRequest(), o2);
      QFAIL("damaged bytes decoded");
    } catch (const EImageError& e) {
      QVERIFY2(e.Text().contains("/photos/damaged.jpg"), qPrintable(e.Text()));
    }
  }

  void loadIntoReusesOnlyUnsharedMemory() {
    const QString a = env.path("a.jpg"), b = env.path("b.jpg");
    EncodeJpegFile(Photo(640, 480), 90, a);
    EncodeJpegFile(Detailed(640, 480), 90, b);
    TOriginalRequest req;
    req.FullResolution = true;
    TLoadedOriginal o;
    LoadOriginal(a, req, o);
    const QImage kept = o.Bitmap; // shared: must survive the next load untouched
    const QImage keptCopy = kept.copy();
    LoadOriginal(b, req, o);
    QCOMPARE(kept, keptCopy);
    QCOMPARE(o.Bitmap, DecodeJpegFile(b));
    const uchar* bits = o.Bitmap.constBits();
    LoadOriginal(a, req, o); // same size, not shared: decoded into the same memory
    QCOMPARE(o.Bitmap.constBits(), bits);
    QCOMPARE(o.Bitmap, keptCopy);
    req.Orientation = 2; // another size: a new bitmap
    LoadOriginal(a, req, o);
    QCOMPARE(o.Bitmap.size(), QSize(480, 640));
    QCOMPARE(o.OriginalSize, QSize(640, 480));
  }

  void workersDoNotShareScratch() {
    // The processing run and the thumbnail loader scale at the same time on their own threads.
    QStringList sources;
    for (int i = 0; i < 2; ++i) {
      sources << env.path(QString("w%1.jpg").arg(i));
      EncodeJpegFile(i ? Detailed(900, 700) : Photo(1200, 800), 90, sources.last());
    }
    QList<QByteArray> expected;
    SaveBitmapAsJpeg(Photo(8, 8), 90, env.path("q90.jpg")); // previews use the thread's quality
    for (int i = 0; i < 2; ++i) {
      const QString out = env.path(QString("w%1_single.jpg").arg(i));
      ScalePictureFile(sources[i], out, 160, 120, true, i ? rfLanczos : rfNearest);
      QFile f(out);
      QVERIFY(f.open(QIODevice::ReadOnly));
      expected << f.readAll();
    }
    // Another quality on this thread leaves the workers' quality (90 by default) alone.
    SaveBitmapAsJpeg(Photo(8, 8), 40, env.path("q40.jpg"));
    std::atomic<int> failures{0};
    auto work = [&](int i) {
      for (int n = 0; n < 6; ++n) {
        const QString out = env.path(QString("w%1_%2.jpg").arg(i).arg(n));
        ScalePictureFile(sources[i], out, 160, 120, true, i ? rfLanczos : rfNearest);
        QImage m;
        ScaleBitmap("x", Photo(300 + 50 * i, 200), m, 100, 100, false, rfMitchell);
        QFile f(out);
        if (!f.open(QIODevice::ReadOnly) || f.readAll() != expected[i] || m.width() != 100)
          ++failures;
      }
      ReleaseImagingScratch();
    };
    std::thread t0(work, 0), t1(work, 1);
    t0.join();
    t1.join();
    QCOMPARE(failures.load(), 0);
  }

  void scalePictureFile() {
    const QString src = env.path("orig.jpg");
    const QString dst = env.path("tmp_orig.jpg");
    EncodeJpegFile(Photo(1600, 1200), 90, src);
    QStringList lines;
    lines = traced([&] {
      QCOMPARE(ScalePictureFile(src, dst, 160, 120, true, rfNearest), QSize(1600, 1200));
    });
    QVERIFY(lines.isEmpty());
    QCOMPARE(ReadJpegSize(dst), QSize(160, 120));
    QVERIFY(Psnr(DecodeJpegFile(dst), ResampleBitmap(Photo(1600, 1200), QRectF(0, 0, 1600, 1200),
                                                     QSize(160, 120), rfLanczos)) > 30.0);
    const QString tiny = env.path("tiny.jpg");
    QVERIFY(WriteTestJpeg(tiny, 120, 90));
    lines = traced(
        [&] { QCOMPARE(ScalePictureFile(tiny, dst, 160, 120, true, rfNearest), QSize(120, 90)); });
    QCOMPARE(ReadJpegSize(dst), QSize(120, 90));
    QCOMPARE(lines, QStringList{"Original picture is smaller than desired size. No scale will be "
                                "done. " +
                                tiny + "->" + dst + "."});
    QVERIFY_THROWS_EXCEPTION(EImageError,
                             ScalePictureFile(env.path("gone.jpg"), dst, 160, 120, true, 0));
    // A PNG under a .jpg name is still a picture.
    const QString png = env.path("png.jpg");
    QVERIFY(Photo(320, 240).save(png, "PNG"));
    QCOMPARE(ScalePictureFile(png, dst, 160, 120, true, rfNearest), QSize(320, 240));
    QCOMPARE(ReadJpegSize(dst), QSize(160, 120));
    ReleaseImagingScratch();
  }

  void drawBitmapFitted() {
    QCOMPARE(FittedDestination(160, 120, QRect(0, 0, 140, 140)), QRect(0, 17, 140, 105));
    // The height limits (also on equality): centred horizontally.
    QCOMPARE(FittedDestination(120, 160, QRect(10, 20, 140, 140)), QRect(27, 20, 105, 140));
    QCOMPARE(FittedDestination(100, 100, QRect(0, 0, 50, 50)), QRect(0, 0, 50, 50));
    QVERIFY(FittedDestination(0, 10, QRect(0, 0, 50, 50)).isEmpty());
    QVERIFY(FittedDestination(10, 10, QRect(0, 0, 0, 50)).isEmpty());

    QImage canvas(140, 140, QImage::Format_RGB32);
    canvas.fill(Qt::white);
    QImage red(160, 120, QImage::Format_RGB32);
    red.fill(qRgb(255, 0, 0));
    {
      QPainter p(&canvas);
      DrawBitmapFitted(red, p, QRect(0, 0, 140, 140));
    }
    QCOMPARE(canvas.pixel(70, 16), qRgb(255, 255, 255));
    QCOMPARE(canvas.pixel(70, 17), qRgb(255, 0, 0));
    QCOMPARE(canvas.pixel(0, 121), qRgb(255, 0, 0));
    QCOMPARE(canvas.pixel(139, 121), qRgb(255, 0, 0));
    QCOMPARE(canvas.pixel(70, 122), qRgb(255, 255, 255));
  }
};

QTEST_MAIN(TestImaging)
#include "test_imaging.moc"
