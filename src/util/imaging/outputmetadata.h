#pragma once
// The metadata that generated images carry from their original (EXIF, IPTC, XMP), read and
// written with Exiv2.
//
// The metadata of one original is read and filtered once, into ready JPEG segments; each
// encoded output then only gets those bytes spliced in after its first segment, before the file
// is written. What is kept:
//   Safe  the photographer's copyright and name and the capture date (EXIF Copyright, Artist,
//         DateTimeOriginal, DateTimeDigitized with their sub-seconds and time offsets; IPTC
//         By-line, Copyright Notice, Date/Time Created; XMP dc:creator, dc:rights, xmpRights:*,
//         photoshop:DateCreated, xmp:CreateDate, exif:DateTimeOriginal/Digitized);
//   All   everything but the embedded thumbnail;
//   None  nothing.
// The pixels of an output are upright and sRGB, so any orientation tag kept says 1, a colour
// space tag says sRGB, and sizes of the original (PixelXDimension, ...) are left out; with All,
// MetadataForOutputSize then gives each output's EXIF block its own pixel size.
//
// A damaged XMP packet costs only the XMP: the EXIF and IPTC blocks are kept when they read
// cleanly without it. Any other block the library cannot read, or reads only with errors, gives
// no metadata at all (never an exception). The trace log names the file either way.
//
// Threads: every function may be called from any thread; calls share no state.
#include <QByteArray>
#include <QMap>
#include <QSize>
#include <QString>

enum class TMetadataKeep { Safe, All, None };

// The JPEG segments (APP1 EXIF, APP1 XMP, APP13 IPTC) with the metadata of the original that its
// outputs keep; empty when there is nothing to keep. original holds the whole file (or at least
// all of its header segments); when it is empty, the file at path is read.
QByteArray OutputMetadataSegments(const QByteArray& original, const QString& path,
                                  TMetadataKeep keep);

// The segments with the EXIF block's pixel size (PixelXDimension, PixelYDimension) set to size;
// segments without an EXIF block, or one that cannot be read, are returned as they are.
QByteArray MetadataForOutputSize(const QByteArray& segments, QSize size);

// Every metadata entry of a JPEG file (or other picture format the library knows) as
// "Exif.Image.Artist" → its text, for listings and tests; empty when there is none or it cannot
// be read.
QMap<QString, QString> ReadMetadataEntries(const QByteArray& file);

// Sets the metadata library up for use from any thread (its error reports, the XMP parser's
// lock); every reader calls it before its first use of the library. Idempotent.
void InitialiseMetadataLibrary();
