#pragma once
// Camera metadata of a JPEG original: the orientation and capture dates of its EXIF block and
// its embedded colour profile, read from the header segments only (the image data is never
// read).
//
// The reader is bounded: it walks at most kMaxHeaderSegments segments before the image data,
// follows only IFD0 and its EXIF sub-directory (never a chain), and checks every offset and count
// against the block before it reads, so a damaged or hostile file costs little, never allocates
// more than one segment (64 KB) at a time and never fails: it gives the defaults and says what
// was wrong in Problem.
//
// Threads: every function may be called from any thread; calls share no state.
#include <QByteArray>
#include <QDateTime>
#include <QString>

inline constexpr int kMaxHeaderSegments = 512;
// Colour profiles are split into APP2 chunks; a larger profile than this is ignored.
inline constexpr int kMaxColourProfileBytes = 4 * 1024 * 1024;

struct TCameraMetadata {
  bool HasExif = false;       // an EXIF block was found
  int ExifOrientation = 0;    // EXIF orientation 1..8; 0 when absent or invalid
  QDateTime DateTimeOriginal; // local time; invalid when absent or unreadable
  QDateTime DateTimeDigitized;
  QByteArray ColourProfile; // embedded ICC profile (chunks joined); empty when none or wanted
  int Components = 0;       // colour components of the frame (3 RGB, 4 CMYK); 0 when not seen
  QString Problem;          // what was damaged; empty when nothing was
  // What the camera recorded about the shot (empty or 0 when absent or unreadable). Positions
  // and serial numbers are never read.
  QString Camera;                           // make and model
  QString Lens;                             // lens model
  double FocalLength = 0;                   // millimetres
  double Aperture = 0;                      // f-number
  quint32 ExposureNum = 0, ExposureDen = 0; // exposure time in seconds, as a fraction
  int Iso = 0;
  // With TMetadataParts::ExifAndCaptions, for a JPEG file: its XMP packet and its Photoshop
  // block (which holds the IPTC record), as stored; for a HEIF file its XMP packet (HEIF files
  // carry no IPTC record). CaptionsRead tells that they were looked for.
  QByteArray XmpPacket, PhotoshopBlock;
  bool CaptionsRead = false;

  // DateTimeOriginal, else DateTimeDigitized, else an invalid date.
  QDateTime CaptureDate() const;
  // The picture orientation code (see ApplyOrientation in imaging.h) that shows the stored
  // pixels upright; 1 when the file has no valid orientation.
  int PictureOrientation() const;
};

// What to collect besides the EXIF block.
enum class TMetadataParts { ExifOnly, ExifAndColourProfile, ExifAndCaptions };

// Reads the header segments of a JPEG file. A file that cannot be read or is no JPEG gives the
// defaults (Problem says why); without the colour profile, a picture of another format (HEIF,
// PNG, TIFF, WebP) gives its dates and orientation (ReadOtherCameraMetadata), and no captions
// except from HEIF files.
TCameraMetadata ReadCameraMetadata(const QString& path,
                                   TMetadataParts parts = TMetadataParts::ExifOnly);
// The same from a JPEG file (or its beginning) already in memory.
TCameraMetadata ParseCameraMetadata(const QByteArray& jpeg,
                                    TMetadataParts parts = TMetadataParts::ExifAndColourProfile);
// The TIFF structure of an EXIF block (the APP1 payload after "Exif\0\0").
TCameraMetadata ParseExifBlock(const uchar* data, size_t size);

// EXIF orientation 1..8 to the picture orientation code: 1 → 1, 2 → -1, 3 → 3, 4 → -3, 5 → -2,
// 6 → 2, 7 → -4, 8 → 4; anything else → 1.
int OrientationFromExif(int exifOrientation);

// An EXIF date "YYYY:MM:DD HH:MM:SS" as local time; invalid when the text is no valid date
// (cameras without a set clock write blanks or zeros).
QDateTime ParseExifDate(const char* text, size_t length);
