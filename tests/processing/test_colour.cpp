// Colour management: wide-gamut originals come out in sRGB (checked in Lab against the colour
// library), converters are made once per profile and shared by threads, outputs are tagged sRGB,
// and originals without a usable profile keep their pixels.
#include "exifbuilder.h"
#include "processing/picturework.h"
#include "testenv.h"
#include "testprofiles.h"
#include "util/imaging/colour.h"
#include "util/imaging/exif.h"
#include "util/imaging/jpegcodec.h"
#include "util/tracer.h"

#include <QFile>
#include <QtTest>
#include <cmath>
#include <cstdio>
#include <jpeglib.h>
#include <thread>
#include <vector>

namespace {

// CIE76 difference between an RGB triple in the given profile and one in sRGB.
double deltaE(const QByteArray& profile, QRgb source, QRgb srgb) {
  cmsHPROFILE in = cmsOpenProfileFromMem(profile.constData(), cmsUInt32Number(profile.size()));
  cmsHPROFILE out = cmsCreate_sRGBProfile();
  cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
  cmsHTRANSFORM a = cmsCreateTransform(in, TYPE_RGB_8, lab, TYPE_Lab_DBL,
                                       INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOCACHE);
  cmsHTRANSFORM b = cmsCreateTransform(out, TYPE_RGB_8, lab, TYPE_Lab_DBL,
                                       INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOCACHE);
  const uchar s[3] = {uchar(qRed(source)), uchar(qGreen(source)), uchar(qBlue(source))};
  const uchar d[3] = {uchar(qRed(srgb)), uchar(qGreen(srgb)), uchar(qBlue(srgb))};
  cmsCIELab la, lb;
  cmsDoTransform(a, s, &la, 1);
  cmsDoTransform(b, d, &lb, 1);
  cmsDeleteTransform(a);
  cmsDeleteTransform(b);
  cmsCloseProfile(in);
  cmsCloseProfile(out);
  cmsCloseProfile(lab);
  return cmsDeltaE(&la, &lb);
}

// Colours inside sRGB's gamut in both wide spaces (moderate saturation).
const QList<QRgb> kChart{qRgb(128, 128, 128), qRgb(180, 90, 80),   qRgb(90, 150, 100),
                         qRgb(80, 100, 170),  qRgb(220, 200, 150), qRgb(40, 40, 40),
                         qRgb(200, 160, 60),  qRgb(150, 110, 160)};

QImage chartImage() {
  QImage img(int(kChart.size()), 1, QImage::Format_RGB32);
  for (int i = 0; i < kChart.size(); ++i)
    img.setPixel(i, 0, kChart[i]);
  return img;
}

QImage flat(QRgb colour, int w = 64, int h = 48) {
  QImage img(w, h, QImage::Format_RGB32);
  img.fill(colour);
  return img;
}

bool writeFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QRgb centre(const QByteArray& jpeg) {
  const QImage img = DecodeJpegData(jpeg);
  return img.pixel(img.width() / 2, img.height() / 2);
}

int distance(QRgb a, QRgb b) {
  return std::max(
      {qAbs(qRed(a) - qRed(b)), qAbs(qGreen(a) - qGreen(b)), qAbs(qBlue(a) - qBlue(b))});
}

// A printer-like CMYK profile: inks darken as a simple model says, but cyan ink also takes some
// green and black leaves a warm tone, so converting through it differs from the plain formula.
cmsInt32Number cmykSampler(const cmsUInt16Number in[], cmsUInt16Number out[], void* cargo) {
  const double c = in[0] / 65535.0, m = in[1] / 65535.0, y = in[2] / 65535.0, k = in[3] / 65535.0;
  const double rgb[3] = {(1 - c) * (1 - k * 0.9), (1 - m) * (1 - c * 0.3) * (1 - k),
                         (1 - y) * (1 - k)};
  cmsCIELab lab;
  cmsDoTransform(static_cast<cmsHTRANSFORM>(cargo), rgb, &lab, 1);
  cmsFloat2LabEncoded(out, &lab);
  return TRUE;
}

QByteArray printerProfile() {
  cmsHPROFILE srgb = cmsCreate_sRGBProfile();
  cmsHPROFILE labProfile = cmsCreateLab4Profile(nullptr);
  cmsHTRANSFORM toLab = cmsCreateTransform(srgb, TYPE_RGB_DBL, labProfile, TYPE_Lab_DBL,
                                           INTENT_RELATIVE_COLORIMETRIC, 0);
  cmsHPROFILE h = cmsCreateProfilePlaceholder(nullptr);
  cmsSetProfileVersion(h, 4.3);
  cmsSetDeviceClass(h, cmsSigOutputClass);
  cmsSetColorSpace(h, cmsSigCmykData);
  cmsSetPCS(h, cmsSigLabData);
  cmsPipeline* pipe = cmsPipelineAlloc(nullptr, 4, 3);
  cmsStage* clut = cmsStageAllocCLut16bit(nullptr, 9, 4, 3, nullptr);
  cmsStageSampleCLut16bit(clut, cmykSampler, toLab, 0);
  // The A, CLUT, B form the version 4 table asks for (identity curves around the table).
  cmsPipelineInsertStage(pipe, cmsAT_END, cmsStageAllocToneCurves(nullptr, 4, nullptr));
  cmsPipelineInsertStage(pipe, cmsAT_END, clut);
  cmsPipelineInsertStage(pipe, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
  cmsWriteTag(h, cmsSigAToB0Tag, pipe);
  cmsWriteTag(h, cmsSigMediaWhitePointTag, cmsD50_XYZ());
  cmsMLU* text = cmsMLUalloc(nullptr, 1);
  cmsMLUsetASCII(text, "en", "US", "Printer CMYK test");
  cmsWriteTag(h, cmsSigProfileDescriptionTag, text);
  cmsUInt32Number size = 0;
  QByteArray bytes;
  if (cmsSaveProfileToMem(h, nullptr, &size)) {
    bytes.resize(size);
    cmsSaveProfileToMem(h, bytes.data(), &size);
  }
  cmsMLUfree(text);
  cmsPipelineFree(pipe);
  cmsCloseProfile(h);
  cmsDeleteTransform(toLab);
  cmsCloseProfile(srgb);
  cmsCloseProfile(labProfile);
  return bytes;
}

// A flat CMYK JPEG as image programs write it (Adobe marker, inverted samples: 255 = no ink).
QByteArray cmykJpeg(const uchar inverted[4], int w = 48, int h = 32) {
  jpeg_compress_struct c{};
  jpeg_error_mgr err{};
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &buffer, &size);
  c.image_width = JDIMENSION(w), c.image_height = JDIMENSION(h);
  c.input_components = 4;
  c.in_color_space = JCS_CMYK;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 98, TRUE);
  c.write_Adobe_marker = TRUE;
  jpeg_start_compress(&c, TRUE);
  std::vector<unsigned char> row(size_t(w) * 4);
  for (int x = 0; x < w; ++x)
    std::copy(inverted, inverted + 4, row.begin() + 4 * x);
  for (int y = 0; y < h; ++y) {
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&c, &r, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  QByteArray bytes(reinterpret_cast<const char*>(buffer), qsizetype(size));
  std::free(buffer);
  return bytes;
}

} // namespace

class TestColour : public QObject {
  Q_OBJECT
  TestEnv env;

private slots:
  void initTestCase() { Tracer().KeepInMemory = true; }

  void wideGamutColoursKeepTheirAppearanceInSrgb() {
    for (const QByteArray& profile : {AdobeRgbLikeProfile(), DisplayP3LikeProfile()}) {
      const TColourPlan plan = ColourPlanFor(profile);
      QVERIFY(plan.Converter);
      QVERIFY(plan.Note.isEmpty());
      QImage img = chartImage();
      ConvertToSrgb(img, plan);
      double sum = 0;
      bool changed = false;
      for (int i = 0; i < kChart.size(); ++i) {
        const double e = deltaE(profile, kChart[i], img.pixel(i, 0));
        QVERIFY2(e < 2.0, qPrintable(QString("colour %1: dE %2").arg(i).arg(e)));
        sum += e;
        changed |= img.pixel(i, 0) != kChart[i];
        QCOMPARE(qAlpha(img.pixel(i, 0)), 255);
      }
      QVERIFY(sum / kChart.size() < 1.0);
      QVERIFY(changed); // the numbers do change: the spaces differ
    }
  }

  void convertersAreMadeOncePerProfileAndShared() {
    const QByteArray profile =
        MakeRgbProfile("shared test", {{0.66, 0.33, 1}, {0.22, 0.70, 1}, {0.15, 0.07, 1}}, 2.0);
    const int before = ColourConvertersMade();
    const TColourPlan a = ColourPlanFor(profile);
    const TColourPlan b = ColourPlanFor(QByteArray(profile)); // equal bytes, another array
    QCOMPARE(ColourConvertersMade(), before + 1);
    QCOMPARE(a.Converter.get(), b.Converter.get());

    QImage reference = MakeTestImage(300, 200);
    ConvertToSrgb(reference, a);
    std::vector<QImage> results(4, MakeTestImage(300, 200));
    std::vector<std::thread> threads;
    for (QImage& img : results)
      threads.emplace_back([&img, &profile] {
        for (int i = 0; i < 20; ++i) {
          QImage copy = MakeTestImage(300, 200);
          ConvertToSrgb(copy, ColourPlanFor(profile));
          if (i == 19) img = copy;
        }
      });
    for (std::thread& t : threads)
      t.join();
    for (const QImage& img : results)
      QCOMPARE(img, reference);
    QCOMPARE(ColourConvertersMade(), before + 1);
  }

  void profilesThatNeedNoConversionOrCannotBeUsed() {
    QVERIFY(!ColourPlanFor(QByteArray()).Converter);
    QVERIFY(ColourPlanFor(QByteArray()).Note.isEmpty());
    QVERIFY(!ColourPlanFor(SrgbNamedProfile()).Converter);
    const TColourPlan damaged = ColourPlanFor(QByteArray(500, 'x'));
    QVERIFY(!damaged.Converter);
    QVERIFY(damaged.Note.contains("damaged"));
    const TColourPlan cmyk = ColourPlanFor(CmykProfile(), 4);
    QVERIFY(!cmyk.Converter);
    QVERIFY(cmyk.Note.contains("CMYK"));
    QVERIFY(ColourPlanFor(QByteArray(), 4).Note.contains("without a colour profile"));
    QCOMPARE(ColourProfileDescription(AdobeRgbLikeProfile()), QString("Wide RGB 1998 test"));
    QCOMPARE(ColourProfileDescription(QByteArray(30, 'y')), QString("damaged profile"));
  }

  void outputsAreTaggedSrgbOnce() {
    const QByteArray plain = EncodeJpeg(MakeTestImage(32, 16), 90);
    const QByteArray tagged = TagJpegAsSrgb(plain);
    QVERIFY(tagged.size() > plain.size());
    QVERIFY(tagged.mid(2, 2) == plain.mid(2, 2)); // JFIF stays the first segment
    const TCameraMetadata m = ParseCameraMetadata(tagged);
    QVERIFY2(m.Problem.isEmpty(), qPrintable(m.Problem));
    QCOMPARE(m.ColourProfile, SrgbProfile());
    QVERIFY(ColourProfileDescription(m.ColourProfile).startsWith("sRGB"));
    QCOMPARE(TagJpegAsSrgb(tagged), tagged);
    QCOMPARE(DecodeJpegData(tagged), DecodeJpegData(plain));
  }

  void processedOutputsAreSrgb() {
    // A flat Adobe-RGB-like original: every output shows the sRGB colour the library computes;
    // the same original without its profile keeps its numbers.
    const QRgb colour = qRgb(90, 150, 100);
    const QByteArray profile = AdobeRgbLikeProfile();
    const QByteArray jpeg = EncodeJpeg(flat(colour), 95);
    QVERIFY(writeFile(env.path("wide.jpg"), WithSegments(jpeg, ColourProfileSegments(profile))));
    QVERIFY(writeFile(env.path("plain.jpg"), jpeg));
    QImage expected = flat(centre(jpeg), 1, 1);
    ConvertToSrgb(expected, ColourPlanFor(profile));

    TPictureWork work;
    work.Render = true;
    work.Outputs[okLarge].Enabled = true;
    work.Outputs[okMedium].Enabled = true;
    work.Outputs[okMedium].Box = QSize(32, 32);
    work.Outputs[okThumb].Enabled = true;
    work.Outputs[okThumb].Box = QSize(16, 16);
    work.OriginalPath = env.path("wide.jpg");
    const TPictureResult wide = ProducePicture(work);
    work.OriginalPath = env.path("plain.jpg");
    const TPictureResult plain = ProducePicture(work);
    for (int k = 0; k < kOutputKinds; ++k) {
      QVERIFY2(wide.Outputs[k].Error.isEmpty(), qPrintable(wide.Outputs[k].Error));
      QVERIFY(distance(centre(wide.Outputs[k].Jpeg), expected.pixel(0, 0)) <= 3);
      QVERIFY(distance(centre(wide.Outputs[k].Jpeg), colour) > 8);
      QVERIFY(distance(centre(plain.Outputs[k].Jpeg), colour) <= 3);
      for (const TPictureResult* r : {&wide, &plain}) {
        const TCameraMetadata m = ParseCameraMetadata(r->Outputs[k].Jpeg);
        QCOMPARE(m.ColourProfile, SrgbProfile());
        QVERIFY(!m.HasExif);
      }
    }
  }

  void cmykOriginalsConvertThroughTheirProfile() {
    // Cyan with some black: decoded through the embedded profile, as the colour library converts
    // the same samples; without the profile the plain formula gives another colour.
    const uchar samples[4] = {255 - 200, 255 - 40, 255 - 30, 255 - 60};
    const QByteArray profile = printerProfile();
    QVERIFY2(!profile.isEmpty(), "no profile");
    const QByteArray plain = cmykJpeg(samples);
    const QByteArray tagged = WithSegments(plain, ColourProfileSegments(profile));
    cmsHPROFILE in = cmsOpenProfileFromMem(profile.constData(), cmsUInt32Number(profile.size()));
    QVERIFY(in);
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHTRANSFORM t =
        cmsCreateTransform(in, TYPE_CMYK_8_REV, srgb, TYPE_RGB_8, INTENT_RELATIVE_COLORIMETRIC,
                           cmsFLAGS_NOCACHE | cmsFLAGS_BLACKPOINTCOMPENSATION);
    QVERIFY(t);
    uchar rgb[3] = {};
    cmsDoTransform(t, samples, rgb, 1);
    cmsDeleteTransform(t);
    cmsCloseProfile(in);
    cmsCloseProfile(srgb);
    const QRgb expected = qRgb(rgb[0], rgb[1], rgb[2]);

    QVERIFY(distance(centre(tagged), expected) <= 4);
    QVERIFY(distance(centre(plain), expected) > 12);
    QCOMPARE(qAlpha(DecodeJpegData(tagged).pixel(0, 0)), 255);
    // Every scale and turn goes the same way.
    const QImage small = DecodeJpegDataTransformed(tagged, "cmyk.jpg", 4, 2, QRect());
    QVERIFY(distance(small.pixel(small.width() / 2, small.height() / 2), expected) <= 4);
    // The decoder did the work: no converter and nothing to note for the outputs.
    const TColourPlan plan = ColourPlanForJpeg(tagged, "/photos/print.jpg");
    QVERIFY(!plan.Converter);
    QVERIFY(plan.Note.isEmpty());
    QVERIFY(CmykConverterFor(profile, true));
    QVERIFY(!CmykConverterFor(AdobeRgbLikeProfile(), true));
  }

  void cmykConvertersOfOneProfileKeepInvertedApart() {
    const QByteArray profile = printerProfile();
    const auto inverted = CmykConverterFor(profile, true), plain = CmykConverterFor(profile, false);
    QVERIFY(inverted && plain);
    const uchar stored[4] = {55, 215, 225, 195}, flipped[4] = {200, 40, 30, 60};
    quint32 a = 0, b = 0, c = 0;
    inverted->ConvertLine(stored, &a, 1);
    plain->ConvertLine(stored, &b, 1);
    plain->ConvertLine(flipped, &c, 1);
    QVERIFY(distance(a, b) > 12);
    QCOMPARE(a, c);
  }

  void cmykWithoutProfileIsNoted() {
    // A frame of four components: the header says so, and the trace names the file.
    QByteArray sof("\xFF\xC0\x00\x14\x08\x00\x10\x00\x10\x04", 10);
    sof += QByteArray(12, '\x11');
    const QByteArray header = QByteArray("\xFF\xD8", 2) + sof + QByteArray("\xFF\xDA", 2);
    TCameraMetadata m = ParseCameraMetadata(header);
    QCOMPARE(m.Components, 4);
    const TColourPlan plan = ColourPlanForJpeg(header, "/photos/print.jpg");
    QVERIFY(!plan.Converter);
    QVERIFY(Tracer().LastMessage().contains("/photos/print.jpg"));
    QVERIFY(Tracer().LastMessage().contains("CMYK"));
  }
};

QTEST_GUILESS_MAIN(TestColour)
#include "test_colour.moc"
