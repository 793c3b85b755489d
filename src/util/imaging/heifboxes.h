#pragma once
// What an import needs of a HEIF file (the primary image's size and its EXIF and XMP blocks),
// read from the boxes that describe the images, without the coded pictures: a few seeks and
// small reads from the open file (the meta box, then each block's extents). Decoding stays with
// libheif.
//
// The reader is bounded: every box size, count, offset and length is checked against its
// container, the file's size and fixed limits before anything is read or allocated, and no
// structure is followed more than once, so a damaged or hostile file costs a few reads and
// raises EImageError ("Cannot read picture ..."). A file that uses something the reader does not
// know (a crop, data in another file, an unusual layout) is left to libheif: the result is then
// empty, and the caller reads the file through libheif.
//
// Threads: any thread; no shared state.
#include <QByteArray>
#include <QIODevice>
#include <QSize>
#include <QString>

#include <optional>

struct THeifBoxes {
  QSize Size; // the primary image's size after the turn the file asks for
  // The first EXIF item of the primary image as stored (four bytes giving the offset of the TIFF
  // header, then the EXIF data), and its first XMP packet; empty when there is none (or when
  // the blocks were not asked for).
  QByteArray Exif, Xmp;
};

// Blocks larger than this are left out (no real EXIF block or XMP packet comes near).
inline constexpr qint64 kMaxHeifBlockBytes = qint64(16) << 20;

// Reads the boxes of the HEIF file open in device (seekable; its position is left anywhere).
// blocks: read the EXIF and XMP blocks too, else only the size. Raises EImageError naming path
// when the file is damaged; empty when libheif has to read it.
std::optional<THeifBoxes> ReadHeifBoxes(QIODevice& device, const QString& path, bool blocks);
