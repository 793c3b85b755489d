#pragma once
// Originals that are not JPEG files: HEIF/HEIC (through libheif), PNG, TIFF and WebP (through
// Qt's image reader and its format plugins). They are decoded into the same RGB32 bitmaps as
// JPEG originals, so that everything after the decode treats every original alike:
//   - a picture with more than 8 bits per sample is reduced to 8 bits, each sample rounded to the
//     nearest 8-bit value;
//   - transparent pixels are composed over white (the page the pictures are shown on);
//   - a file with several images (animation, pages, a HEIF collection) gives its first (primary)
//     image, and the trace log says so;
//   - an embedded colour profile is applied, so the bitmap is sRGB.
// The size is read from the header before anything is decoded, so the pixel limit refuses a
// picture before its memory is taken; a damaged file raises EImageError naming it.
//
// Threads: every function may be called from any thread; calls share no state.
#include "util/imaging/exif.h"
#include "util/imaging/imageerror.h"

#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QSize>
#include <QString>

enum class TPictureFormat { Jpeg, Heif, Png, Tiff, Webp, Unknown };

// The format of a file from its first bytes (16 are enough).
TPictureFormat SniffPictureFormat(const QByteArray& head);
// The format of the file at path from its first bytes; Unknown when it cannot be read.
TPictureFormat SniffPictureFile(const QString& path);
// "HEIF", "PNG", ...
QString PictureFormatName(TPictureFormat format);

// Stored size of a picture of another format than JPEG, from its header (HEIF: the size after
// the turn the file asks for). data: the whole file, or empty to read the file at path. Raises
// EImageError.
QSize ReadOtherPictureSize(const QString& path, const QByteArray& data = QByteArray());

// Bytes a decode of such a picture of that size holds at its peak besides the final bitmap
// (the reader's own buffers, a 16-bit copy).
qint64 OtherPictureDecodeBytes(TPictureFormat format, QSize size);

// Decodes the picture into an sRGB RGB32 bitmap as described above. A picture with more than
// maxPixels pixels (0: no limit) is refused before decoding. data: the whole file, or empty to
// read the file at path. Raises EImageError.
// allowedDenominator 2 lets the decoder give half the width and height where that is cheaper
// (8-bit 4:2:0 HEIF pictures with even sides); *denominator says which it gave.
QImage DecodeOtherPicture(const QString& path, const QByteArray& data = QByteArray(),
                          qint64 maxPixels = 0, int allowedDenominator = 1,
                          int* denominator = nullptr);

// The camera metadata (capture dates, orientation) of a picture of another format than JPEG.
// For HEIF files the orientation is left out: the decoder applies the file's own turn; with
// captions, the same reading gives a HEIF file's XMP packet (XmpPacket, CaptionsRead). Never
// raises; Problem says what could not be read.
TCameraMetadata ReadOtherCameraMetadata(const QString& path, bool captions = false);

// The EXIF block and XMP packet of a HEIF file's primary image as the header of an otherwise
// empty JPEG file, for the metadata library, which reads HEIF files of this kind poorly. file
// holds the whole file. Raises EImageError when the file cannot be read as HEIF.
QByteArray HeifMetadataAsJpeg(const QByteArray& file, const QString& path);
// The XMP packet of a HEIF file's primary image (empty when it has none) from an open file,
// reading only the boxes and the block it needs. Raises EImageError when the file cannot be read
// as HEIF.
QByteArray ReadHeifXmpPacket(QFile& file, const QString& path);
