// Camera metadata and colour benchmarks' helper (bench/run-camera.sh).
//
//   bench_camera prepare <source folder> <out folder> <count> <denominator>
//     Writes <out>/plain, <out>/exif and <out>/tagged/NNNN.jpg from the JPEG files of the source
//     folder (taken in turn until count files are made; decoded at 1/denominator and encoded
//     again when the denominator is above 1). "plain" files keep no segment but the first JFIF
//     one; "exif" files are the same bytes with a camera's EXIF block (dates, author, position,
//     serial numbers, a thumbnail); "tagged" files have an Adobe RGB (1998) profile as well.
//   bench_camera chart [quality]
//     A chart of colour patches tagged Adobe RGB (1998) and Display P3 goes through the
//     processing of one picture; its large (full size) and medium (half size) images are compared
//     with the colour library's own conversion of the whole decoded original to sRGB: average and
//     largest CIE76 difference over the patch centres, before encoding and as written.
#include "processing/picturework.h"
#include "util/imaging/jpegcodec.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <cstdio>
#include <lcms2.h>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>

namespace {

QTextStream out(stdout);

QByteArray saveProfile(cmsHPROFILE h) {
  cmsUInt32Number size = 0;
  QByteArray bytes;
  if (cmsSaveProfileToMem(h, nullptr, &size)) {
    bytes.resize(size);
    cmsSaveProfileToMem(h, bytes.data(), &size);
  }
  return bytes;
}

// An RGB profile with a D65 white, the given primaries and either a pure gamma or (gamma 0) the
// sRGB tone curve: Adobe RGB (1998) and Display P3 as their standards define them.
QByteArray rgbProfile(const char* description, cmsCIExyYTRIPLE primaries, double gamma) {
  const cmsCIExyY white{0.3127, 0.3290, 1.0};
  cmsToneCurve* curve = nullptr;
  if (gamma > 0) {
    curve = cmsBuildGamma(nullptr, gamma);
  } else {
    const double p[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
    curve = cmsBuildParametricToneCurve(nullptr, 4, p);
  }
  cmsToneCurve* curves[3] = {curve, curve, curve};
  cmsHPROFILE h = cmsCreateRGBProfile(&white, &primaries, curves);
  cmsMLU* text = cmsMLUalloc(nullptr, 1);
  cmsMLUsetASCII(text, "en", "US", description);
  cmsWriteTag(h, cmsSigProfileDescriptionTag, text);
  cmsMLUfree(text);
  const QByteArray bytes = saveProfile(h);
  cmsCloseProfile(h);
  cmsFreeToneCurve(curve);
  return bytes;
}

QByteArray adobeRgb() {
  return rgbProfile("Adobe RGB (1998)", {{0.64, 0.33, 1}, {0.21, 0.71, 1}, {0.15, 0.06, 1}},
                    563.0 / 256.0);
}
QByteArray displayP3() {
  return rgbProfile("Display P3", {{0.680, 0.320, 1}, {0.265, 0.690, 1}, {0.150, 0.060, 1}}, 0);
}

QByteArray segment(int marker, const QByteArray& payload) {
  QByteArray s;
  s.append(char(0xFF));
  s.append(char(marker));
  const int length = int(payload.size()) + 2;
  s.append(char(length >> 8));
  s.append(char(length & 0xFF));
  return s + payload;
}

QByteArray profileSegments(const QByteArray& profile) {
  constexpr int chunk = 65519;
  QByteArray segments;
  const int total = int((profile.size() + chunk - 1) / chunk);
  for (int i = 0; i < total; ++i) {
    QByteArray payload("ICC_PROFILE\0", 12);
    payload.append(char(i + 1));
    payload.append(char(total));
    payload += profile.mid(qsizetype(i) * chunk, chunk);
    segments += segment(0xE2, payload);
  }
  return segments;
}

// The file without its APPn (but a first JFIF) and comment segments; the image data unchanged.
QByteArray stripped(const QByteArray& jpeg) {
  QByteArray kept = jpeg.left(2);
  qsizetype at = 2;
  while (at + 4 <= jpeg.size() && uchar(jpeg[at]) == 0xFF) {
    const uchar marker = uchar(jpeg[at + 1]);
    if (marker == 0xDA) break;
    const int length = uchar(jpeg[at + 2]) << 8 | uchar(jpeg[at + 3]);
    const bool drop = (marker >= 0xE1 && marker <= 0xEF) || marker == 0xFE ||
                      (marker == 0xE0 && kept.size() != 2);
    if (!drop) kept += jpeg.mid(at, 2 + length);
    at += 2 + length;
  }
  return kept + jpeg.mid(at);
}

// After the JFIF segment, an EXIF block like a camera's and (when asked) the profile.
QByteArray tagged(const QByteArray& plain, int index, bool withProfile) {
  Exiv2::ExifData exif;
  exif["Exif.Image.Make"] = std::string("Camera Maker");
  exif["Exif.Image.Model"] = std::string("Model 7");
  exif["Exif.Image.Orientation"] = uint16_t(1);
  exif["Exif.Image.Artist"] = std::string("Ann Example");
  exif["Exif.Image.Copyright"] = std::string("(c) 2024 Ann Example");
  exif["Exif.Image.DateTime"] = std::string("2024:05:06 10:00:00");
  const std::string date = QStringLiteral("2024:05:06 07:%1:%2")
                               .arg(index / 60 % 60, 2, 10, QLatin1Char('0'))
                               .arg(index % 60, 2, 10, QLatin1Char('0'))
                               .toStdString();
  exif["Exif.Photo.DateTimeOriginal"] = date;
  exif["Exif.Photo.DateTimeDigitized"] = date;
  exif["Exif.Photo.ExposureTime"] = std::string("1/250");
  exif["Exif.Photo.FNumber"] = std::string("56/10");
  exif["Exif.Photo.ISOSpeedRatings"] = uint16_t(200);
  exif["Exif.Photo.BodySerialNumber"] = std::string("BODY12345");
  exif["Exif.Photo.LensSerialNumber"] = std::string("LENS67890");
  exif["Exif.Photo.ColorSpace"] = uint16_t(0xFFFF);
  exif["Exif.GPSInfo.GPSLatitudeRef"] = std::string("N");
  exif["Exif.GPSInfo.GPSLatitude"] = std::string("48/1 51/1 30/1");
  exif["Exif.GPSInfo.GPSLongitudeRef"] = std::string("E");
  exif["Exif.GPSInfo.GPSLongitude"] = std::string("2/1 21/1 8/1");
  const QByteArray thumb = EncodeJpeg(DecodeJpegData(plain, 8).scaled(160, 120), 75);
  Exiv2::ExifThumb(exif).setJpegThumbnail(reinterpret_cast<const Exiv2::byte*>(thumb.constData()),
                                          long(thumb.size()));
  Exiv2::Blob blob;
  Exiv2::ExifParser::encode(blob, Exiv2::littleEndian, exif);
  const QByteArray block = segment(
      0xE1, QByteArray("Exif\0\0", 6) +
                QByteArray(reinterpret_cast<const char*>(blob.data()), qsizetype(blob.size())));
  static const QByteArray profile = profileSegments(adobeRgb());
  qsizetype insertAt = 2;
  if (plain.size() > 4 && uchar(plain[2]) == 0xFF && uchar(plain[3]) == 0xE0)
    insertAt = 4 + (uchar(plain[4]) << 8 | uchar(plain[5]));
  return plain.left(insertAt) + block + (withProfile ? profile : QByteArray()) +
         plain.mid(insertAt);
}

bool writeFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

int prepare(const QString& source, const QString& target, int count, int denominator) {
  QStringList files;
  for (const QString& name :
       QDir(source).entryList({"*.jpg", "*.jpeg", "*.JPG"}, QDir::Files, QDir::Name))
    files << QDir(source).filePath(name);
  if (files.isEmpty()) {
    std::fprintf(stderr, "no JPEG files in %s\n", qPrintable(source));
    return 1;
  }
  QDir().mkpath(target + "/plain");
  QDir().mkpath(target + "/tagged");
  QDir().mkpath(target + "/exif");
  for (int i = 0; i < count; ++i) {
    QFile f(files[i % files.size()]);
    if (!f.open(QIODevice::ReadOnly)) return 1;
    QByteArray bytes = f.readAll();
    if (denominator > 1) bytes = EncodeJpeg(DecodeJpegData(bytes, denominator), 90 - i % 7);
    const QByteArray plain = stripped(bytes);
    const QString name = QStringLiteral("%1.jpg").arg(i, 4, 10, QLatin1Char('0'));
    if (!writeFile(target + "/plain/" + name, plain) ||
        !writeFile(target + "/exif/" + name, tagged(plain, i, false)) ||
        !writeFile(target + "/tagged/" + name, tagged(plain, i, true)))
      return 1;
  }
  return 0;
}

// ---- colour accuracy ----

constexpr int kPatch = 24, kColumns = 16, kRows = 15;

// 6 x 6 x 6 levels of the cube, then a grey ramp.
QImage chart() {
  QImage img(kPatch * kColumns, kPatch * kRows, QImage::Format_RGB32);
  QList<QRgb> colours;
  const int levels[6] = {0, 51, 102, 153, 204, 255};
  for (int r : levels)
    for (int g : levels)
      for (int b : levels)
        colours << qRgb(r, g, b);
  while (colours.size() < kColumns * kRows) {
    const int v = int(colours.size() - 216) * 255 / (kColumns * kRows - 217);
    colours << qRgb(v, v, v);
  }
  for (int i = 0; i < colours.size(); ++i) {
    const int x = i % kColumns * kPatch, y = i / kColumns * kPatch;
    for (int dy = 0; dy < kPatch; ++dy)
      for (int dx = 0; dx < kPatch; ++dx)
        img.setPixel(x + dx, y + dy, colours[i]);
  }
  return img;
}

struct TDifference {
  double Average = 0, Largest = 0;
};

// CIE76 between two sRGB bitmaps at the patch centres (the second scaled to the first's size).
TDifference compare(const QImage& reference, const QImage& ours) {
  cmsHPROFILE srgb = cmsCreate_sRGBProfile();
  cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
  cmsHTRANSFORM toLab =
      cmsCreateTransform(srgb, TYPE_RGB_8, lab, TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC, 0);
  TDifference d;
  int n = 0;
  for (int row = 0; row < kRows; ++row)
    for (int col = 0; col < kColumns; ++col) {
      const int x = col * kPatch + kPatch / 2, y = row * kPatch + kPatch / 2;
      const QRgb a = reference.pixel(x, y);
      const QRgb b =
          ours.pixel(x * ours.width() / reference.width(), y * ours.height() / reference.height());
      const uchar pa[3] = {uchar(qRed(a)), uchar(qGreen(a)), uchar(qBlue(a))};
      const uchar pb[3] = {uchar(qRed(b)), uchar(qGreen(b)), uchar(qBlue(b))};
      cmsCIELab la, lb;
      cmsDoTransform(toLab, pa, &la, 1);
      cmsDoTransform(toLab, pb, &lb, 1);
      const double e = cmsDeltaE(&la, &lb);
      d.Average += e;
      d.Largest = std::max(d.Largest, e);
      ++n;
    }
  d.Average /= std::max(1, n);
  cmsDeleteTransform(toLab);
  cmsCloseProfile(srgb);
  cmsCloseProfile(lab);
  return d;
}

// The library's own conversion of the whole decoded original, in 16 bits, rounded once.
QImage referenceConversion(const QImage& decoded, const QByteArray& profile) {
  cmsHPROFILE in = cmsOpenProfileFromMem(profile.constData(), cmsUInt32Number(profile.size()));
  cmsHPROFILE srgb = cmsCreate_sRGBProfile();
  cmsHTRANSFORM t = cmsCreateTransform(in, TYPE_RGB_16, srgb, TYPE_RGB_16,
                                       INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_HIGHRESPRECALC);
  QImage result(decoded.size(), QImage::Format_RGB32);
  std::vector<quint16> line(size_t(decoded.width()) * 3), converted(line.size());
  for (int y = 0; y < decoded.height(); ++y) {
    for (int x = 0; x < decoded.width(); ++x) {
      const QRgb c = decoded.pixel(x, y);
      line[size_t(x) * 3] = quint16(qRed(c) * 257);
      line[size_t(x) * 3 + 1] = quint16(qGreen(c) * 257);
      line[size_t(x) * 3 + 2] = quint16(qBlue(c) * 257);
    }
    cmsDoTransform(t, line.data(), converted.data(), cmsUInt32Number(decoded.width()));
    for (int x = 0; x < decoded.width(); ++x)
      result.setPixel(x, y,
                      qRgb((converted[size_t(x) * 3] + 128) / 257,
                           (converted[size_t(x) * 3 + 1] + 128) / 257,
                           (converted[size_t(x) * 3 + 2] + 128) / 257));
  }
  cmsDeleteTransform(t);
  cmsCloseProfile(in);
  cmsCloseProfile(srgb);
  return result;
}

int colourChart(int quality) {
  QTemporaryDir work;
  const QImage pixels = chart();
  bool fine = true;
  out << "chart: " << kColumns * kRows << " patches of " << kPatch << " px, original at quality 95"
      << ", outputs at quality " << quality << "; CIE76 at the patch centres against the colour "
      << "library's conversion of the whole decoded original (target: average <= 2)\n";
  for (const auto& [name, profile] : {std::pair{QStringLiteral("Adobe RGB (1998)"), adobeRgb()},
                                      std::pair{QStringLiteral("Display P3"), displayP3()}}) {
    const QByteArray plain = EncodeJpeg(pixels, 95);
    const QByteArray original = plain.left(20) + profileSegments(profile) + plain.mid(20);
    const QString path = work.filePath("chart.jpg");
    if (!writeFile(path, original)) return 1;
    const QImage reference = referenceConversion(DecodeJpegData(original), profile);
    const QImage unconverted = DecodeJpegData(original);

    TPictureWork job;
    job.OriginalPath = path;
    job.Render = true;
    job.Outputs[okLarge].Enabled = true;
    job.Outputs[okMedium].Enabled = true;
    job.Outputs[okMedium].Box = pixels.size() / 2;
    for (int k : {okLarge, okMedium})
      job.Outputs[k].Quality = quality;
    const TPictureResult written = ProducePicture(job);
    for (int k : {okLarge, okMedium})
      job.Outputs[k].SignLater = true; // leaves the bitmaps unencoded
    const TPictureResult bitmaps = ProducePicture(job);

    const TDifference none = compare(reference, unconverted);
    out << name << ":\n  unconverted original: average " << none.Average << ", largest "
        << none.Largest << "  (what no conversion would cost)\n";
    for (int k : {okLarge, okMedium}) {
      const char* title = k == okLarge ? "large (full size)" : "medium (half size)";
      const TDifference before = compare(reference, bitmaps.Outputs[k].Bitmap);
      const TDifference file = compare(reference, DecodeJpegData(written.Outputs[k].Jpeg));
      out << "  " << title << ": before encoding average " << before.Average << ", largest "
          << before.Largest << "; written file average " << file.Average << ", largest "
          << file.Largest << (file.Average <= 2 ? "  [ok]" : "  [MISSED]") << "\n";
      fine = fine && file.Average <= 2;
    }
  }
  out.flush();
  return fine ? 0 : 3;
}

} // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments();
  if (args.size() >= 6 && args[1] == "prepare")
    return prepare(args[2], args[3], args[4].toInt(), std::max(1, args[5].toInt()));
  if (args.size() >= 2 && args[1] == "chart")
    return colourChart(args.size() > 2 ? std::clamp(args[2].toInt(), 1, 100) : 90);
  std::fprintf(stderr, "usage: bench_camera prepare <source> <out> <count> <denominator>\n"
                       "       bench_camera chart [quality]\n");
  return 2;
}

#pragma GCC diagnostic pop
