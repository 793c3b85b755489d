#include "util/imaging/exif.h"

#include "util/imaging/pictureformats.h"
#include "util/safefile.h"

#include <QFile>
#include <QMap>
#include <cstring>

namespace {

// ---- TIFF structure of the EXIF block ----------------------------------------------------

constexpr quint16 kTagOrientation = 0x0112;
constexpr quint16 kTagExifIfd = 0x8769;
constexpr quint16 kTagDateTimeOriginal = 0x9003;
constexpr quint16 kTagDateTimeDigitized = 0x9004;
constexpr quint16 kTagMake = 0x010F, kTagModel = 0x0110, kTagExposureTime = 0x829A,
                  kTagFNumber = 0x829D, kTagIso = 0x8827, kTagFocalLength = 0x920A,
                  kTagLensModel = 0xA434;
constexpr quint16 kTypeAscii = 2, kTypeShort = 3, kTypeLong = 4, kTypeRational = 5, kTypeIfd = 13;
// No directory of a real file comes near this; a larger count is damage.
constexpr quint32 kMaxIfdEntries = 1000;

class TTiffReader {
public:
  TTiffReader(const uchar* data, size_t size) : d_(data), n_(size) {}

  bool Header(quint32& ifd0) {
    if (n_ < 8) return fail(QStringLiteral("the EXIF block is too short"));
    if (d_[0] == 'I' && d_[1] == 'I')
      little_ = true;
    else if (d_[0] == 'M' && d_[1] == 'M')
      little_ = false;
    else
      return fail(QStringLiteral("the EXIF block has no byte order mark"));
    if (u16(2) != 42) return fail(QStringLiteral("the EXIF block has a wrong TIFF signature"));
    ifd0 = u32(4);
    return true;
  }

  // Calls entry(tag, type, count, offset of the entry) for each entry of the directory.
  template <typename F> bool Directory(quint32 offset, const char* what, F&& entry) {
    if (offset < 8 || !fits(offset, 2))
      return fail(QStringLiteral("the %1 directory offset %2 lies outside the block")
                      .arg(QLatin1String(what))
                      .arg(offset));
    const quint32 count = u16(offset);
    if (count > kMaxIfdEntries || !fits(size_t(offset) + 2, size_t(count) * 12))
      return fail(QStringLiteral("the %1 directory of %2 entries runs past the block")
                      .arg(QLatin1String(what))
                      .arg(count));
    for (quint32 i = 0; i < count; ++i) {
      const size_t at = size_t(offset) + 2 + size_t(i) * 12;
      if (!entry(u16(at), u16(at + 2), u32(at + 4), at)) return false;
    }
    return true;
  }

  // The bytes of an ASCII value: inline when up to 4 bytes, else at the offset in the entry.
  bool AsciiValue(size_t entry, quint32 count, const char*& text) {
    if (count <= 4) {
      text = reinterpret_cast<const char*>(d_ + entry + 8);
      return true;
    }
    const quint32 offset = u32(entry + 8);
    if (!fits(offset, count))
      return fail(QStringLiteral("a text of %1 bytes at offset %2 runs past the block")
                      .arg(count)
                      .arg(offset));
    text = reinterpret_cast<const char*>(d_ + offset);
    return true;
  }

  // A short text of the shot's details; empty when it lies outside the block (no failure: the
  // details are optional).
  QString Text(size_t entry, quint16 type, quint32 count) const {
    if (type != kTypeAscii || count == 0 || count > 256) return QString();
    const size_t offset = count <= 4 ? entry + 8 : u32(entry + 8);
    if (!fits(offset, count)) return QString();
    const char* text = reinterpret_cast<const char*>(d_ + offset);
    return QString::fromUtf8(text, qsizetype(strnlen(text, count))).simplified();
  }
  // An unsigned rational; false when it lies outside the block or is of another type.
  bool Rational(size_t entry, quint16 type, quint32 count, quint32& num, quint32& den) const {
    if (type != kTypeRational || count < 1) return false;
    const quint32 offset = u32(entry + 8);
    if (!fits(offset, 8)) return false;
    num = u32(offset);
    den = u32(offset + 4);
    return den != 0;
  }

  quint16 u16(size_t at) const {
    return little_ ? quint16(d_[at] | d_[at + 1] << 8) : quint16(d_[at] << 8 | d_[at + 1]);
  }
  quint32 u32(size_t at) const {
    const quint32 a = d_[at], b = d_[at + 1], c = d_[at + 2], e = d_[at + 3];
    return little_ ? (a | b << 8 | c << 16 | e << 24) : (a << 24 | b << 16 | c << 8 | e);
  }
  bool fits(size_t offset, size_t length) const { return offset <= n_ && length <= n_ - offset; }
  bool fail(const QString& problem) {
    Problem = problem;
    return false;
  }

  QString Problem;

private:
  const uchar* d_;
  size_t n_;
  bool little_ = true;
};

void addProblem(TCameraMetadata& m, const QString& problem) {
  if (!m.Problem.isEmpty()) m.Problem += QStringLiteral("; ");
  m.Problem += problem;
}

// ---- Header segments ------------------------------------------------------------------------

// Where the segments come from: a file (read segment by segment) or bytes in memory.
class TSegmentSource {
public:
  virtual ~TSegmentSource() = default;
  virtual bool Read(uchar* into, qint64 length) = 0;
  virtual bool Skip(qint64 length) = 0;
};

class TMemorySource final : public TSegmentSource {
public:
  explicit TMemorySource(const QByteArray& data) : data_(data) {}
  bool Read(uchar* into, qint64 length) override {
    if (length > data_.size() - at_) return false;
    std::memcpy(into, data_.constData() + at_, size_t(length));
    at_ += length;
    return true;
  }
  bool Skip(qint64 length) override {
    if (length > data_.size() - at_) return false;
    at_ += length;
    return true;
  }

private:
  const QByteArray& data_;
  qint64 at_ = 0;
};

class TFileSource final : public TSegmentSource {
public:
  explicit TFileSource(QFile& file) : file_(file) {}
  bool Read(uchar* into, qint64 length) override {
    return file_.read(reinterpret_cast<char*>(into), length) == length;
  }
  bool Skip(qint64 length) override {
    // A header's segments are short and lie in what the first read buffered: they are read
    // past there, where a seek would cost two system calls (the size and the position).
    if (length <= kReadPast) {
      char scratch[kReadPast];
      return file_.read(scratch, length) == length;
    }
    const qint64 to = file_.pos() + length;
    return to <= file_.size() && file_.seek(to);
  }

private:
  static constexpr qint64 kReadPast = 4096;
  QFile& file_;
};

constexpr uchar kSoi = 0xD8, kEoi = 0xD9, kSos = 0xDA, kApp1 = 0xE1, kApp2 = 0xE2, kApp13 = 0xED;
constexpr char kXmpSignature[] = "http://ns.adobe.com/xap/1.0/"; // and its terminating zero
constexpr char kPhotoshopSignature[] = "Photoshop 3.0";          // and its terminating zero

bool startsWith(const QByteArray& payload, const char* signature, int length) {
  return payload.size() >= length && std::memcmp(payload.constData(), signature, length) == 0;
}

TCameraMetadata walkSegments(TSegmentSource& source, TMetadataParts parts) {
  TCameraMetadata m;
  uchar soi[2];
  if (!source.Read(soi, 2) || soi[0] != 0xFF || soi[1] != kSoi) {
    m.Problem = QStringLiteral("the file is no JPEG file");
    return m;
  }
  const bool wantProfile = parts == TMetadataParts::ExifAndColourProfile;
  const bool wantCaptions = parts == TMetadataParts::ExifAndCaptions;
  m.CaptionsRead = wantCaptions;
  QMap<int, QByteArray> chunks; // ICC chunks by sequence number
  int chunkTotal = 0;
  qint64 chunkBytes = 0;
  bool profileBroken = false;
  QByteArray payload;
  for (int segment = 0; segment < kMaxHeaderSegments; ++segment) {
    uchar marker[2];
    if (!source.Read(marker, 2) || marker[0] != 0xFF) {
      addProblem(m, QStringLiteral("the header segments end in damaged data"));
      break;
    }
    // Fill bytes before the marker code; a real file has a few at most.
    for (int fill = 0; marker[1] == 0xFF && fill < 64; ++fill)
      if (!source.Read(marker + 1, 1)) break;
    if (marker[1] == 0xFF) {
      addProblem(m, QStringLiteral("the header segments end in fill bytes"));
      break;
    }
    const uchar type = marker[1];
    if (type == kSos || type == kEoi) break;
    uchar len[2];
    if (!source.Read(len, 2)) break;
    const int length = (len[0] << 8 | len[1]) - 2;
    if (length < 0) {
      addProblem(m, QStringLiteral("a header segment has a wrong length"));
      break;
    }
    const bool frame = type >= 0xC0 && type <= 0xCF && type != 0xC4 && type != 0xC8 &&
                       type != 0xCC; // start of frame: precision, height, width, components
    if (frame && wantProfile && length >= 6 && m.Components == 0) {
      uchar sof[6];
      if (!source.Read(sof, 6) || !source.Skip(length - 6)) break;
      m.Components = sof[5];
      continue;
    }
    const bool exif = type == kApp1 && !m.HasExif;
    const bool icc = type == kApp2 && wantProfile && !profileBroken;
    const bool captions = wantCaptions && (type == kApp1 || type == kApp13);
    if (!exif && !icc && !captions) {
      if (!source.Skip(length)) break;
      continue;
    }
    payload.resize(length);
    if (!source.Read(reinterpret_cast<uchar*>(payload.data()), length)) {
      addProblem(m, QStringLiteral("the file ends inside a header segment"));
      break;
    }
    if (exif && startsWith(payload, "Exif\0\0", 6)) {
      TCameraMetadata e = ParseExifBlock(reinterpret_cast<const uchar*>(payload.constData()) + 6,
                                         size_t(payload.size() - 6));
      m.HasExif = true;
      m.ExifOrientation = e.ExifOrientation;
      m.DateTimeOriginal = e.DateTimeOriginal;
      m.DateTimeDigitized = e.DateTimeDigitized;
      m.Camera = e.Camera;
      m.Lens = e.Lens;
      m.FocalLength = e.FocalLength;
      m.Aperture = e.Aperture;
      m.ExposureNum = e.ExposureNum;
      m.ExposureDen = e.ExposureDen;
      m.Iso = e.Iso;
      if (!e.Problem.isEmpty()) addProblem(m, e.Problem);
      if (!wantProfile && !wantCaptions) break; // all that was asked for
    } else if (captions && type == kApp1 && m.XmpPacket.isEmpty() &&
               startsWith(payload, kXmpSignature, sizeof kXmpSignature)) {
      m.XmpPacket = payload.mid(sizeof kXmpSignature);
    } else if (captions && type == kApp13 &&
               startsWith(payload, kPhotoshopSignature, sizeof kPhotoshopSignature)) {
      m.PhotoshopBlock += payload.mid(sizeof kPhotoshopSignature);
    } else if (icc && startsWith(payload, "ICC_PROFILE\0", 12) && payload.size() >= 14) {
      const int seq = uchar(payload[12]), total = uchar(payload[13]);
      chunkBytes += payload.size() - 14;
      if (seq < 1 || total < 1 || seq > total || (chunkTotal && total != chunkTotal) ||
          chunks.contains(seq) || chunkBytes > kMaxColourProfileBytes) {
        addProblem(m, QStringLiteral("the colour profile chunks are damaged"));
        profileBroken = true;
        chunks.clear();
      } else {
        chunkTotal = total;
        chunks.insert(seq, payload.mid(14));
      }
    }
  }
  if (!profileBroken && chunkTotal > 0) {
    if (chunks.size() != chunkTotal) {
      addProblem(m, QStringLiteral("%1 of %2 colour profile chunks are missing")
                        .arg(chunkTotal - chunks.size())
                        .arg(chunkTotal));
    } else {
      for (const QByteArray& c : std::as_const(chunks))
        m.ColourProfile += c;
    }
  }
  return m;
}

} // namespace

QDateTime TCameraMetadata::CaptureDate() const {
  return DateTimeOriginal.isValid() ? DateTimeOriginal : DateTimeDigitized;
}

int TCameraMetadata::PictureOrientation() const {
  return OrientationFromExif(ExifOrientation);
}

int OrientationFromExif(int exifOrientation) {
  // Each EXIF value names where the stored first row and column belong; the code is the turn
  // (then mirror) that brings them there.
  static constexpr int kCodes[9] = {1, 1, -1, 3, -3, -2, 2, -4, 4};
  return exifOrientation >= 1 && exifOrientation <= 8 ? kCodes[exifOrientation] : 1;
}

QDateTime ParseExifDate(const char* text, size_t length) {
  if (length < 19) return {};
  int v[6];
  static constexpr int kAt[6] = {0, 5, 8, 11, 14, 17};
  static constexpr int kDigits[6] = {4, 2, 2, 2, 2, 2};
  static constexpr char kSeparator[6] = {':', ':', ' ', ':', ':', 0};
  for (int i = 0; i < 6; ++i) {
    v[i] = 0;
    for (int k = 0; k < kDigits[i]; ++k) {
      const char c = text[kAt[i] + k];
      if (c < '0' || c > '9') return {};
      v[i] = v[i] * 10 + (c - '0');
    }
    if (kSeparator[i] && text[kAt[i] + kDigits[i]] != kSeparator[i]) return {};
  }
  const QDate date(v[0], v[1], v[2]);
  const QTime time(v[3], v[4], v[5]);
  if (v[0] < 1800 || !date.isValid() || !time.isValid()) return {};
  return QDateTime(date, time);
}

TCameraMetadata ParseExifBlock(const uchar* data, size_t size) {
  TCameraMetadata m;
  m.HasExif = true;
  TTiffReader tiff(data, size);
  quint32 ifd0 = 0;
  quint32 exifIfd = 0;
  int orientation = 0;
  const char* original = nullptr;
  const char* digitized = nullptr;
  quint32 originalLength = 0, digitizedLength = 0;
  QString make, model;
  bool ok = tiff.Header(ifd0) &&
            tiff.Directory(ifd0, "IFD0", [&](quint16 tag, quint16 type, quint32 count, size_t at) {
              if (tag == kTagOrientation && type == kTypeShort && count >= 1)
                orientation = tiff.u16(at + 8);
              else if (tag == kTagExifIfd && (type == kTypeLong || type == kTypeIfd) && count == 1)
                exifIfd = tiff.u32(at + 8);
              else if (tag == kTagMake)
                make = tiff.Text(at, type, count);
              else if (tag == kTagModel)
                model = tiff.Text(at, type, count);
              return true;
            });
  if (ok && exifIfd != 0) {
    if (exifIfd == ifd0)
      ok = tiff.fail(QStringLiteral("the EXIF directory points back at IFD0"));
    else
      ok =
          tiff.Directory(exifIfd, "EXIF", [&](quint16 tag, quint16 type, quint32 count, size_t at) {
            quint32 num = 0, den = 0;
            if (tag == kTagLensModel) m.Lens = tiff.Text(at, type, count);
            if (tag == kTagIso && type == kTypeShort && count >= 1) m.Iso = tiff.u16(at + 8);
            if (tag == kTagIso && type == kTypeLong && count >= 1) m.Iso = int(tiff.u32(at + 8));
            if (tag == kTagExposureTime && tiff.Rational(at, type, count, num, den)) {
              m.ExposureNum = num;
              m.ExposureDen = den;
            }
            if (tag == kTagFNumber && tiff.Rational(at, type, count, num, den))
              m.Aperture = double(num) / den;
            if (tag == kTagFocalLength && tiff.Rational(at, type, count, num, den))
              m.FocalLength = double(num) / den;
            if (type != kTypeAscii) return true;
            if (tag == kTagDateTimeOriginal) {
              originalLength = count;
              return tiff.AsciiValue(at, count, original);
            }
            if (tag == kTagDateTimeDigitized) {
              digitizedLength = count;
              return tiff.AsciiValue(at, count, digitized);
            }
            return true;
          });
  }
  if (!ok) {
    TCameraMetadata damaged;
    damaged.HasExif = true;
    damaged.Problem = tiff.Problem;
    return damaged; // a damaged structure: nothing of it is trusted
  }
  // Many makers repeat their name at the start of the model.
  m.Camera = model.startsWith(make, Qt::CaseInsensitive) || make.isEmpty()
                 ? model
                 : (model.isEmpty() ? make : make + QLatin1Char(' ') + model);
  if (orientation >= 1 && orientation <= 8)
    m.ExifOrientation = orientation;
  else if (orientation != 0)
    addProblem(m, QStringLiteral("the orientation %1 is no valid value").arg(orientation));
  if (original) m.DateTimeOriginal = ParseExifDate(original, originalLength);
  if (digitized) m.DateTimeDigitized = ParseExifDate(digitized, digitizedLength);
  return m;
}

TCameraMetadata ReadCameraMetadata(const QString& path, TMetadataParts parts) {
  QFile file;
  QString problem;
  if (!OpenRegularFile(file, path, &problem)) {
    TCameraMetadata m;
    m.Problem = problem;
    return m;
  }
  const TPictureFormat format = SniffPictureFormat(file.peek(16));
  if (format != TPictureFormat::Jpeg && format != TPictureFormat::Unknown &&
      parts != TMetadataParts::ExifAndColourProfile) {
    file.close();
    return ReadOtherCameraMetadata(path, parts == TMetadataParts::ExifAndCaptions);
  }
  TFileSource source(file);
  return walkSegments(source, parts);
}

TCameraMetadata ParseCameraMetadata(const QByteArray& jpeg, TMetadataParts parts) {
  TMemorySource source(jpeg);
  return walkSegments(source, parts);
}
