#pragma once
// Builds EXIF blocks (TIFF structure) and puts them into JPEG files, for the tests of the camera
// metadata reader and of the imports that use it. Header-only.
#include <QByteArray>
#include <QList>

struct TestExif {
  bool BigEndian = false;
  int Orientation = 0;                            // 0: no orientation entry
  QByteArray DateTimeOriginal, DateTimeDigitized; // empty: no entry
};

class TiffWriter {
public:
  explicit TiffWriter(bool bigEndian) : big_(bigEndian) {}
  void u16(QByteArray& b, quint16 v) const {
    if (big_) {
      b.append(char(v >> 8));
      b.append(char(v));
    } else {
      b.append(char(v));
      b.append(char(v >> 8));
    }
  }
  void u32(QByteArray& b, quint32 v) const {
    if (big_) {
      u16(b, quint16(v >> 16));
      u16(b, quint16(v));
    } else {
      u16(b, quint16(v));
      u16(b, quint16(v >> 16));
    }
  }

private:
  bool big_;
};

// IFD0 at offset 8 (orientation and, when a date is given, the EXIF pointer), then the EXIF
// directory, then the date texts.
inline QByteArray BuildExifTiff(const TestExif& e) {
  const TiffWriter w(e.BigEndian);
  QByteArray b = e.BigEndian ? QByteArray("MM") : QByteArray("II");
  w.u16(b, 42);
  w.u32(b, 8);
  const bool hasDates = !e.DateTimeOriginal.isEmpty() || !e.DateTimeDigitized.isEmpty();
  const int ifd0Count = (e.Orientation ? 1 : 0) + (hasDates ? 1 : 0);
  const quint32 exifAt = 8 + 2 + 12 * ifd0Count + 4;
  QList<QByteArray> texts;
  if (!e.DateTimeOriginal.isEmpty()) texts << e.DateTimeOriginal;
  if (!e.DateTimeDigitized.isEmpty()) texts << e.DateTimeDigitized;
  const quint32 textsAt = exifAt + 2 + 12 * quint32(texts.size()) + 4;
  w.u16(b, quint16(ifd0Count));
  if (e.Orientation) {
    w.u16(b, 0x0112);
    w.u16(b, 3);
    w.u32(b, 1);
    w.u16(b, quint16(e.Orientation));
    w.u16(b, 0);
  }
  if (hasDates) {
    w.u16(b, 0x8769);
    w.u16(b, 4);
    w.u32(b, 1);
    w.u32(b, exifAt);
  }
  w.u32(b, 0); // no next directory
  if (hasDates) {
    w.u16(b, quint16(texts.size()));
    quint32 at = textsAt;
    if (!e.DateTimeOriginal.isEmpty()) {
      w.u16(b, 0x9003);
      w.u16(b, 2);
      w.u32(b, quint32(e.DateTimeOriginal.size() + 1));
      w.u32(b, at);
      at += quint32(e.DateTimeOriginal.size() + 1);
    }
    if (!e.DateTimeDigitized.isEmpty()) {
      w.u16(b, 0x9004);
      w.u16(b, 2);
      w.u32(b, quint32(e.DateTimeDigitized.size() + 1));
      w.u32(b, at);
    }
    w.u32(b, 0);
    for (const QByteArray& t : texts) {
      b += t;
      b.append('\0');
    }
  }
  return b;
}

// An APPn segment (marker, length, payload).
inline QByteArray JpegSegment(int marker, const QByteArray& payload) {
  QByteArray s;
  s.append(char(0xFF));
  s.append(char(marker));
  const int length = int(payload.size()) + 2;
  s.append(char(length >> 8));
  s.append(char(length));
  return s + payload;
}

// The JPEG with the segments inserted right after its start marker.
inline QByteArray WithSegments(const QByteArray& jpeg, const QByteArray& segments) {
  return jpeg.left(2) + segments + jpeg.mid(2);
}

inline QByteArray ExifSegment(const QByteArray& tiff) {
  return JpegSegment(0xE1, QByteArray("Exif\0\0", 6) + tiff);
}

// The profile split into APP2 chunks of at most chunkSize bytes.
inline QByteArray ColourProfileSegments(const QByteArray& profile, int chunkSize = 65519) {
  QByteArray out;
  const int total = int((profile.size() + chunkSize - 1) / chunkSize);
  for (int i = 0; i < total; ++i) {
    QByteArray payload("ICC_PROFILE\0", 12);
    payload.append(char(i + 1));
    payload.append(char(total));
    payload += profile.mid(qsizetype(i) * chunkSize, chunkSize);
    out += JpegSegment(0xE2, payload);
  }
  return out;
}
