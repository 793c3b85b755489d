#include "util/imaging/outputmetadata.h"

#include "util/imaging/imageerror.h"
#include "util/lumenfolderror.h"
#include "util/imaging/pictureformats.h"
#include "util/safefile.h"
#include "util/tracer.h"

#include <QFile>
#include <algorithm>
#include <cstring>
#include <exception>
#include <mutex>
#include <string>

// The library's 0.27 interface hands images over in std::auto_ptr; it stays inside this file.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>

namespace {

// Room for a segment's payload: 65535 less the two length bytes.
constexpr size_t kMostSegmentPayload = 65533;
constexpr char kExifHeader[] = "Exif\0\0"; // 6 bytes
constexpr char kXmpHeader[] = "http://ns.adobe.com/xap/1.0/";
constexpr char kPhotoshopHeader[] = "Photoshop 3.0";

// The library reports damage through a process-wide handler; the first error met by the calling
// thread's current read is kept here and reported with the file's name.
thread_local std::string t_libraryError;

void keepLibraryError(int level, const char* message) {
  if (level >= Exiv2::LogMsg::error && t_libraryError.empty())
    t_libraryError = message ? message : "error";
}

std::mutex g_xmpLock;
void lockXmp(void*, bool lock) {
  if (lock)
    g_xmpLock.lock();
  else
    g_xmpLock.unlock();
}

} // namespace

void InitialiseMetadataLibrary() {
  static std::once_flag once;
  std::call_once(once, [] {
    Exiv2::LogMsg::setLevel(Exiv2::LogMsg::error);
    Exiv2::LogMsg::setHandler(keepLibraryError);
    // Namespaces of XMP blocks are registered as they are met, by any worker.
    Exiv2::XmpParser::initialize(lockXmp, nullptr);
    // HEIF originals carry their metadata in the ISO base media file format.
    Exiv2::enableBMFF(true);
  });
}

namespace {

// The key without an array index or structure field: "Xmp.dc.creator[1]" → "Xmp.dc.creator".
std::string baseKey(const std::string& key) {
  const size_t cut = key.find_first_of("[/", 0);
  return cut == std::string::npos ? key : key.substr(0, cut);
}

bool isSafeExif(const std::string& key) {
  static const char* const kKeys[] = {
      "Exif.Image.Copyright",          "Exif.Image.Artist",
      "Exif.Photo.DateTimeOriginal",   "Exif.Photo.DateTimeDigitized",
      "Exif.Photo.SubSecTimeOriginal", "Exif.Photo.SubSecTimeDigitized",
      "Exif.Photo.OffsetTimeOriginal", "Exif.Photo.OffsetTimeDigitized"};
  for (const char* k : kKeys)
    if (key == k) return true;
  return false;
}

bool isSafeIptc(const std::string& key) {
  static const char* const kKeys[] = {
      "Iptc.Envelope.CharacterSet", "Iptc.Application2.Byline", "Iptc.Application2.Copyright",
      "Iptc.Application2.DateCreated", "Iptc.Application2.TimeCreated"};
  for (const char* k : kKeys)
    if (key == k) return true;
  return false;
}

bool isSafeXmp(const std::string& key) {
  const std::string base = baseKey(key);
  static const char* const kKeys[] = {"Xmp.dc.creator",
                                      "Xmp.dc.rights",
                                      "Xmp.photoshop.DateCreated",
                                      "Xmp.xmp.CreateDate",
                                      "Xmp.exif.DateTimeOriginal",
                                      "Xmp.exif.DateTimeDigitized"};
  for (const char* k : kKeys)
    if (base == k) return true;
  return base.rfind("Xmp.xmpRights.", 0) == 0;
}

template <class Data, class Keep> void keepOnly(Data& data, Keep keep) {
  for (auto it = data.begin(); it != data.end();)
    if (keep(it->key()))
      ++it;
    else
      it = data.erase(it);
}

// Everything of the original but its thumbnail, told that the pixels are upright and sRGB, at
// the output's own size.
void fitAllForOutput(Exiv2::ExifData& exif, Exiv2::XmpData& xmp) {
  Exiv2::ExifThumb(exif).erase();
  for (auto it = exif.begin(); it != exif.end();) {
    const std::string name = it->tagName();
    const std::string key = it->key();
    if (key == "Exif.Photo.PixelXDimension" || key == "Exif.Photo.PixelYDimension" ||
        key == "Exif.Image.ImageWidth" || key == "Exif.Image.ImageLength") {
      it = exif.erase(it);
      continue;
    }
    if (name == "Orientation")
      it->setValue("1");
    else if (key == "Exif.Photo.ColorSpace")
      it->setValue("1");
    else if (key == "Exif.Iop.InteroperabilityIndex")
      it->setValue("R98");
    ++it;
  }
  for (auto it = xmp.begin(); it != xmp.end();) {
    const std::string key = baseKey(it->key());
    if (key == "Xmp.photoshop.ICCProfile" || key == "Xmp.exif.PixelXDimension" ||
        key == "Xmp.exif.PixelYDimension" || key == "Xmp.tiff.ImageWidth" ||
        key == "Xmp.tiff.ImageLength") {
      it = xmp.erase(it);
      continue;
    }
    if (key == it->key() && (key == "Xmp.tiff.Orientation" || key == "Xmp.exif.ColorSpace"))
      it->setValue("1");
    ++it;
  }
}

void appendSegment(QByteArray& out, uchar marker, const char* header, size_t headerSize,
                   const void* data, size_t size) {
  const size_t length = 2 + headerSize + size;
  out.append(char(0xFF));
  out.append(char(marker));
  out.append(char(length >> 8));
  out.append(char(length & 0xFF));
  out.append(header, qsizetype(headerSize));
  out.append(static_cast<const char*>(data), qsizetype(size));
}

// The EXIF block as a segment; a block too large for one segment loses the maker's notes, and
// then everything.
void appendExif(QByteArray& out, Exiv2::ExifData& exif, Exiv2::ByteOrder order) {
  if (exif.empty()) return;
  for (int attempt = 0; attempt < 2; ++attempt) {
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, order, exif);
    if (!blob.empty() && blob.size() + 6 <= kMostSegmentPayload) {
      appendSegment(out, 0xE1, kExifHeader, 6, blob.data(), blob.size());
      return;
    }
    for (auto it = exif.begin(); it != exif.end();)
      if (Exiv2::ExifTags::isMakerGroup(it->groupName()) || it->key() == "Exif.Photo.MakerNote")
        it = exif.erase(it);
      else
        ++it;
  }
}

void appendXmp(QByteArray& out, const Exiv2::XmpData& xmp) {
  if (xmp.empty()) return;
  std::string packet;
  if (Exiv2::XmpParser::encode(packet, xmp, Exiv2::XmpParser::useCompactFormat) != 0) return;
  if (packet.empty() || packet.size() + sizeof kXmpHeader > kMostSegmentPayload) return;
  appendSegment(out, 0xE1, kXmpHeader, sizeof kXmpHeader, packet.data(), packet.size());
}

void appendIptc(QByteArray& out, const Exiv2::IptcData& iptc) {
  if (iptc.empty()) return;
  const Exiv2::DataBuf irb = Exiv2::Photoshop::setIptcIrb(nullptr, 0, iptc);
  if (irb.size_ <= 0 || size_t(irb.size_) + sizeof kPhotoshopHeader > kMostSegmentPayload) return;
  appendSegment(out, 0xED, kPhotoshopHeader, sizeof kPhotoshopHeader, irb.pData_,
                size_t(irb.size_));
}

QByteArray readHeif(const QString& path) {
  QFile file;
  QString problem;
  if (!OpenRegularFile(file, path, &problem)) throw EImageError(problem);
  return file.readAll();
}

// The library reads the bytes where they lie, without a copy: they must outlive the image. held
// keeps the header made for a HEIF original; the caller declares it before the image.
Exiv2::Image::AutoPtr openImage(const QByteArray& original, const QString& path, QByteArray& held) {
  // A HEIF original's metadata comes through libheif, as the header of a JPEG file.
  const bool heif = SniffPictureFormat(original.isEmpty() ? QByteArray() : original.left(16)) ==
                        TPictureFormat::Heif ||
                    (original.isEmpty() && SniffPictureFile(path) == TPictureFormat::Heif);
  if (heif) held = HeifMetadataAsJpeg(original.isEmpty() ? readHeif(path) : original, path);
  const QByteArray& bytes = heif ? held : original;
  if (!bytes.isEmpty())
    return Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(bytes.constData()),
                                     long(bytes.size()));
  // The library opens the file itself: it must be a regular file of its folder, or it could
  // wait for ever on a FIFO.
  QString problem;
  if (CheckRegularFile(path, &problem) != TFileRefusal::None) throw EImageError(problem);
  return Exiv2::ImageFactory::open(std::string(QFile::encodeName(path).constData()));
}

void traceUnreadable(const QString& path, const QString& reason) {
  try {
    Tracer().Write(QStringLiteral("Metadata of %1 cannot be read (%2); its images carry none.")
                       .arg(path, reason));
  } catch (const std::exception&) {
    // The trace log is a diagnostic aid only.
  }
}

// Whether the JPEG segment at at (marker and length bytes included) is an XMP packet or a part
// of an extended one.
bool isXmpSegment(const QByteArray& jpeg, qsizetype at, int length) {
  static const QByteArray kXmp(kXmpHeader, sizeof kXmpHeader);
  static const QByteArray kExtended("http://ns.adobe.com/xmp/extension/\0", 35);
  if (uchar(jpeg[at + 1]) != 0xE1) return false;
  const QByteArray payload = jpeg.mid(at + 4, std::min<qsizetype>(length - 2, 64));
  return payload.startsWith(kXmp) || payload.startsWith(kExtended);
}

// The JPEG's header segments without the XMP ones, then the rest as it is; empty when it is no
// JPEG or holds no XMP segment.
QByteArray withoutXmp(const QByteArray& jpeg) {
  if (jpeg.size() < 4 || uchar(jpeg[0]) != 0xFF || uchar(jpeg[1]) != 0xD8) return {};
  QByteArray out = jpeg.left(2);
  qsizetype at = 2;
  bool dropped = false;
  while (at + 4 <= jpeg.size() && uchar(jpeg[at]) == 0xFF) {
    const uchar marker = uchar(jpeg[at + 1]);
    if (marker == 0xDA || marker == 0xD9) break;
    const int length = uchar(jpeg[at + 2]) << 8 | uchar(jpeg[at + 3]);
    if (length < 2 || at + 2 + length > jpeg.size()) break;
    if (isXmpSegment(jpeg, at, length))
      dropped = true;
    else
      out.append(jpeg.constData() + at, 2 + length);
    at += 2 + length;
  }
  if (!dropped) return {};
  out.append(jpeg.constData() + at, jpeg.size() - at);
  return out;
}

// The file's header, for an original too large to hold: its segments end long before this.
constexpr qint64 kMostHeaderBytes = 16 << 20;

QByteArray readHeader(const QString& path) {
  QString problem;
  if (CheckRegularFile(path, &problem) != TFileRefusal::None) return {};
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.read(kMostHeaderBytes);
}

void filterForOutput(Exiv2::Image& image, TMetadataKeep keep, QByteArray& out) {
  Exiv2::ExifData& exif = image.exifData();
  Exiv2::IptcData& iptc = image.iptcData();
  Exiv2::XmpData& xmp = image.xmpData();
  if (keep == TMetadataKeep::Safe) {
    keepOnly(exif, isSafeExif);
    keepOnly(iptc, isSafeIptc);
    keepOnly(xmp, isSafeXmp);
    // A character set alone says nothing.
    if (iptc.count() == 1 && iptc.begin()->key() == "Iptc.Envelope.CharacterSet") iptc.clear();
  } else {
    fitAllForOutput(exif, xmp);
  }
  appendExif(out, exif,
             image.byteOrder() == Exiv2::bigEndian ? Exiv2::bigEndian : Exiv2::littleEndian);
  appendXmp(out, xmp);
  appendIptc(out, iptc);
}

// The outputs' segments of a JPEG whose XMP packet is damaged: its other blocks, when they read
// cleanly without the packet. Empty otherwise.
QByteArray segmentsWithoutXmp(const QByteArray& original, const QString& path, TMetadataKeep keep) {
  const QByteArray stripped = withoutXmp(original.isEmpty() ? readHeader(path) : original);
  if (stripped.isEmpty()) return {};
  const std::string xmpError = t_libraryError;
  t_libraryError.clear();
  QByteArray held;
  Exiv2::Image::AutoPtr image = openImage(stripped, path, held);
  QByteArray out;
  if (image.get()) {
    image->readMetadata();
    if (t_libraryError.empty()) filterForOutput(*image, keep, out);
  }
  if (!t_libraryError.empty()) return {};
  try {
    Tracer().Write(QStringLiteral("The XMP metadata of %1 is damaged (%2); its images keep the "
                                  "rest of its metadata.")
                       .arg(path, QString::fromStdString(xmpError).trimmed()));
  } catch (const std::exception&) {
    // The trace log is a diagnostic aid only.
  }
  return out;
}

// Empty and t_libraryError set when the metadata cannot be read; the segments otherwise (empty
// when nothing is kept).
QByteArray makeSegments(const QByteArray& original, const QString& path, TMetadataKeep keep) {
  QByteArray held;
  Exiv2::Image::AutoPtr image = openImage(original, path, held);
  if (!image.get()) return {};
  image->readMetadata();
  if (!t_libraryError.empty()) {
    // Only the XMP packet may be at fault: it is decoded alone to find out.
    const std::string packet = image->xmpPacket();
    const std::string error = t_libraryError;
    t_libraryError.clear();
    Exiv2::XmpData probe;
    const bool xmpDamaged = !packet.empty() && (Exiv2::XmpParser::decode(probe, packet) != 0 ||
                                                !t_libraryError.empty());
    t_libraryError = error;
    if (!xmpDamaged) return {};
    return segmentsWithoutXmp(original, path, keep);
  }
  QByteArray out;
  filterForOutput(*image, keep, out);
  if (!t_libraryError.empty()) return {};
  return out;
}

} // namespace

QByteArray OutputMetadataSegments(const QByteArray& original, const QString& path,
                                  TMetadataKeep keep) {
  if (keep == TMetadataKeep::None) return {};
  InitialiseMetadataLibrary();
  t_libraryError.clear();
  QString reason;
  try {
    QByteArray segments = makeSegments(original, path, keep);
    if (t_libraryError.empty()) return segments;
    reason = QString::fromStdString(t_libraryError).trimmed();
  } catch (const Exiv2::AnyError& e) {
    reason = QString::fromStdString(e.what());
  } catch (const std::exception& e) {
    reason = TextOf(e);
  } catch (...) {
    reason = QStringLiteral("unknown error");
  }
  t_libraryError.clear();
  traceUnreadable(path, reason);
  return {};
}

QByteArray MetadataForOutputSize(const QByteArray& segments, QSize size) {
  if (segments.isEmpty() || size.isEmpty()) return segments;
  InitialiseMetadataLibrary();
  // The segments as OutputMetadataSegments made them: one after another, EXIF first.
  qsizetype at = 0;
  while (at + 4 <= segments.size() && uchar(segments[at]) == 0xFF) {
    const int length = uchar(segments[at + 2]) << 8 | uchar(segments[at + 3]);
    if (length < 2 || at + 2 + length > segments.size()) break;
    const qsizetype payload = at + 4 + 6;
    if (uchar(segments[at + 1]) == 0xE1 && length >= 2 + 6 &&
        std::memcmp(segments.constData() + at + 4, kExifHeader, 6) == 0) {
      t_libraryError.clear();
      try {
        Exiv2::ExifData exif;
        const Exiv2::ByteOrder order = Exiv2::ExifParser::decode(
            exif, reinterpret_cast<const Exiv2::byte*>(segments.constData() + payload),
            uint32_t(length - 2 - 6));
        if (!t_libraryError.empty() || exif.empty()) break;
        exif["Exif.Photo.PixelXDimension"] = uint32_t(size.width());
        exif["Exif.Photo.PixelYDimension"] = uint32_t(size.height());
        QByteArray block;
        appendExif(block, exif, order == Exiv2::bigEndian ? Exiv2::bigEndian : Exiv2::littleEndian);
        if (!t_libraryError.empty() || block.isEmpty()) break;
        t_libraryError.clear();
        return segments.left(at) + block + segments.mid(at + 2 + length);
      } catch (const std::exception&) {
        break;
      }
    }
    at += 2 + length;
  }
  t_libraryError.clear();
  return segments;
}

QMap<QString, QString> ReadMetadataEntries(const QByteArray& file) {
  QMap<QString, QString> entries;
  if (file.isEmpty()) return entries;
  InitialiseMetadataLibrary();
  t_libraryError.clear();
  try {
    QByteArray held;
    Exiv2::Image::AutoPtr image = openImage(file, QString(), held);
    if (!image.get()) return entries;
    image->readMetadata();
    auto add = [&](const std::string& key, const std::string& value) {
      QString& text = entries[QString::fromStdString(key)];
      if (!text.isEmpty()) text += QLatin1Char('\n');
      text += QString::fromStdString(value);
    };
    for (const auto& d : image->exifData())
      add(d.key(), d.toString());
    for (const auto& d : image->iptcData())
      add(d.key(), d.toString());
    for (const auto& d : image->xmpData())
      add(d.key(), d.toString());
  } catch (const std::exception&) {
    entries.clear();
  }
  t_libraryError.clear();
  return entries;
}

#pragma GCC diagnostic pop
