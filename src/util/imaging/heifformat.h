#pragma once
// HEIF/HEIC originals through libheif, for the decoders of other formats (pictureformats.h says
// what they promise). data holds the whole file; functions raise EImageError naming the picture,
// except the camera metadata, which says its problem.
//
// Threads: any thread; no shared state.
#include "util/imaging/exif.h"
#include "util/imaging/heifboxes.h"
#include "util/imaging/imageerror.h"

#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QSize>
#include <QString>

// The primary image's size after the turn the file asks for.
QSize ReadHeifSize(const QByteArray& data, const QString& path);
// The same from an open file, reading only the boxes that describe the images (heifboxes.h).
QSize ReadHeifSize(QFile& file, const QString& path);
// The primary image as an sRGB RGB32 bitmap; see DecodeOtherPicture.
QImage DecodeHeif(const QByteArray& data, const QString& path, qint64 maxPixels,
                  int allowedDenominator, int* denominator);
// The capture dates of the primary image's EXIF block; the orientation is left out (the
// decoder applies the file's own turn).
// From an open file in one reading of its boxes; with captions, its XMP packet too
// (TCameraMetadata::XmpPacket, CaptionsRead).
TCameraMetadata ReadHeifCameraMetadata(QFile& file, const QString& path, bool captions);
// The size, EXIF block and XMP packet as libheif reads them from the whole file: for files the
// box reader leaves to libheif.
THeifBoxes ReadHeifBoxesWithLibrary(const QByteArray& data, const QString& path);
