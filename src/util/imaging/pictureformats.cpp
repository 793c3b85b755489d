#include "util/imaging/pictureformats.h"

#include "util/helpers.h"
#include "util/imaging/formatsupport.h"
#include "util/imaging/heifformat.h"
#include "util/imaging/imaging.h"
#include "util/imaging/outputmetadata.h"
#include "util/lumenfolderror.h"
#include "util/safefile.h"

#include <QBuffer>
#include <QColorSpace>
#include <QFile>
#include <QImageReader>
#include <QList>

#include <exiv2/exiv2.hpp>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace {

// ---- Reading the file -------------------------------------------------------------------------

// Opens the file through the safe opening (regular files of their folder only).
void openPicture(QFile& file, const QString& path) {
  QString problem;
  if (!OpenRegularFile(file, path, &problem)) throw EImageError(problem);
}

// The rest of an open file.
QByteArray readRest(QFile& file, const QString& path) {
  QByteArray bytes = file.readAll();
  if (bytes.isEmpty() && file.size() > 0)
    throw EImageError(
        QStringLiteral("Cannot read picture \"%1\": %2.").arg(path, file.errorString()));
  return bytes;
}

QByteArray readAll(const QString& path) {
  QFile file;
  openPicture(file, path);
  return readRest(file, path);
}

QByteArray bytesOf(const QString& path, const QByteArray& data) {
  return data.isEmpty() ? readAll(path) : data;
}

// ---- PNG, TIFF, WebP through the image reader ------------------------------------------------

const char* readerFormat(TPictureFormat format) {
  switch (format) {
  case TPictureFormat::Png:
    return "png";
  case TPictureFormat::Tiff:
    return "tiff";
  case TPictureFormat::Webp:
    return "webp";
  default:
    return "";
  }
}

void allowLargePictures() {
  // The reader's own limit (256 MB) would refuse a 16-bit picture of 35 megapixels; the pixel
  // limit and the run's memory budget bound the decode instead.
  static std::once_flag once;
  std::call_once(once, [] { QImageReader::setAllocationLimit(4096); });
}

QImage decodeWithReader(const QByteArray& data, TPictureFormat format, const QString& path,
                        qint64 maxPixels) {
  allowLargePictures();
  QBuffer buffer;
  buffer.setData(data);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer, readerFormat(format));
  reader.setAutoTransform(false); // the orientation is the picture's own setting
  const QSize size = reader.size();
  if (!size.isValid())
    throw EImageError(QStringLiteral("Cannot read picture \"%1\": damaged or unsupported %2 file "
                                     "(%3).")
                          .arg(path, PictureFormatName(format), reader.errorString()));
  CheckPicturePixels(path, size, maxPixels);
  if (const int count = reader.imageCount(); count > 1)
    TracePictureNote(QStringLiteral("%1 holds %2 images; the first is used.").arg(path).arg(count));
  QImage image = reader.read();
  if (image.isNull())
    throw EImageError(QStringLiteral("Cannot read picture \"%1\": damaged or unsupported %2 file "
                                     "(%3).")
                          .arg(path, PictureFormatName(format), reader.errorString()));
  if (image.size() != size)
    throw EImageError(QStringLiteral("Cannot read picture \"%1\": its image is not the size its "
                                     "header gives.")
                          .arg(path));
  const QByteArray profile = image.colorSpace().iccProfile();
  QImage out = ToOpaqueRgb32(std::move(image), path);
  ApplyPictureProfile(out, profile, path);
  return out;
}

} // namespace

// ---- Public functions -------------------------------------------------------------------------

TPictureFormat SniffPictureFormat(const QByteArray& head) {
  const auto* p = reinterpret_cast<const uchar*>(head.constData());
  const qsizetype n = head.size();
  if (n >= 2 && p[0] == 0xff && p[1] == 0xd8) return TPictureFormat::Jpeg;
  if (n >= 8 && std::memcmp(p, "\x89PNG\r\n\x1a\n", 8) == 0) return TPictureFormat::Png;
  if (n >= 4 && (std::memcmp(p, "II*\0", 4) == 0 || std::memcmp(p, "MM\0*", 4) == 0))
    return TPictureFormat::Tiff;
  if (n >= 12 && std::memcmp(p, "RIFF", 4) == 0 && std::memcmp(p + 8, "WEBP", 4) == 0)
    return TPictureFormat::Webp;
  if (n >= 12 && std::memcmp(p + 4, "ftyp", 4) == 0) {
    static const char* const kBrands[] = {"heic", "heix", "hevc", "hevx", "heim",
                                          "heis", "hevm", "hevs", "mif1", "msf1"};
    for (const char* brand : kBrands)
      if (std::memcmp(p + 8, brand, 4) == 0) return TPictureFormat::Heif;
  }
  return TPictureFormat::Unknown;
}

TPictureFormat SniffPictureFile(const QString& path) {
  QFile file;
  if (!OpenRegularFile(file, path)) return TPictureFormat::Unknown;
  return SniffPictureFormat(file.read(16));
}

QString PictureFormatName(TPictureFormat format) {
  switch (format) {
  case TPictureFormat::Jpeg:
    return QStringLiteral("JPEG");
  case TPictureFormat::Heif:
    return QStringLiteral("HEIF");
  case TPictureFormat::Png:
    return QStringLiteral("PNG");
  case TPictureFormat::Tiff:
    return QStringLiteral("TIFF");
  case TPictureFormat::Webp:
    return QStringLiteral("WebP");
  case TPictureFormat::Unknown:
    break;
  }
  return QStringLiteral("unknown");
}

QSize ReadOtherPictureSize(const QString& path, const QByteArray& data) {
  // The image reader needs the header only; a HEIF file is read whole (its boxes may lie
  // anywhere).
  QFile file;
  QBuffer buffer;
  QIODevice* device = &buffer;
  if (data.isEmpty()) {
    QString problem;
    if (!OpenRegularFile(file, path, &problem)) throw EImageError(problem);
    device = &file;
  } else {
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
  }
  const TPictureFormat format = SniffPictureFormat(device->peek(16));
  if (format == TPictureFormat::Heif)
    return data.isEmpty() ? ReadHeifSize(file, path) : ReadHeifSize(data, path);
  if (format == TPictureFormat::Unknown || format == TPictureFormat::Jpeg)
    throw EImageError(
        QStringLiteral("Cannot read picture \"%1\": not a picture file of a known format.")
            .arg(path));
  QImageReader reader(device, readerFormat(format));
  const QSize size = reader.size();
  if (!size.isValid())
    throw EImageError(QStringLiteral("Cannot read picture \"%1\": damaged or unsupported %2 file "
                                     "(%3).")
                          .arg(path, PictureFormatName(format), reader.errorString()));
  return size;
}

qint64 OtherPictureDecodeBytes(TPictureFormat format, QSize size) {
  const qint64 pixels = qint64(std::max(0, size.width())) * std::max(0, size.height());
  // The decoder's image (up to 16 bits in four samples) and a converted copy beside the result.
  switch (format) {
  case TPictureFormat::Heif:
    return pixels * 8 + pixels * 3; // the decoded planes and the interleaved image
  default:
    return pixels * 8 * 2;
  }
}

QImage DecodeOtherPicture(const QString& path, const QByteArray& data, qint64 maxPixels,
                          int allowedDenominator, int* denominator) {
  if (denominator) *denominator = 1;
  const QByteArray bytes = bytesOf(path, data);
  const TPictureFormat format = SniffPictureFormat(bytes.left(16));
  switch (format) {
  case TPictureFormat::Heif:
    return DecodeHeif(bytes, path, maxPixels, allowedDenominator, denominator);
  case TPictureFormat::Png:
  case TPictureFormat::Tiff:
  case TPictureFormat::Webp:
    return decodeWithReader(bytes, format, path, maxPixels);
  default:
    throw EImageError(
        QStringLiteral("Cannot read picture \"%1\": not a picture file of a known format.")
            .arg(path));
  }
}

TCameraMetadata ReadOtherCameraMetadata(const QString& path, bool captions) {
  TCameraMetadata m;
  QFile file;
  QByteArray bytes;
  try {
    openPicture(file, path);
    // A HEIF file's metadata lies in a few boxes: the coded pictures are not read.
    if (SniffPictureFormat(file.peek(16)) == TPictureFormat::Heif)
      return ReadHeifCameraMetadata(file, path, captions);
    bytes = readRest(file, path);
  } catch (const EImageError& e) {
    m.Problem = e.Text();
    return m;
  }
  const TPictureFormat format = SniffPictureFormat(bytes.left(16));
  if (format == TPictureFormat::Unknown) {
    m.Problem = QStringLiteral("the file is not a picture of a known format");
    return m;
  }
  try {
    InitialiseMetadataLibrary();
    auto image = Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(bytes.constData()),
                                           long(bytes.size()));
    if (!image.get()) return m;
    image->readMetadata();
    const Exiv2::ExifData& exif = image->exifData();
    if (exif.empty()) return m;
    m.HasExif = true;
    auto orientation = exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
    if (orientation != exif.end() && orientation->count() > 0) {
      const long v = orientation->toLong();
      if (v >= 1 && v <= 8) m.ExifOrientation = int(v);
    }
    auto date = [&](const char* key) {
      auto it = exif.findKey(Exiv2::ExifKey(key));
      if (it == exif.end()) return QDateTime();
      const std::string text = it->toString();
      return ParseExifDate(text.c_str(), text.size());
    };
    m.DateTimeOriginal = date("Exif.Photo.DateTimeOriginal");
    m.DateTimeDigitized = date("Exif.Photo.DateTimeDigitized");
  } catch (const std::exception& e) {
    m.Problem = TextOf(e);
  }
  return m;
}
