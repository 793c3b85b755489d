#pragma once
// What the decoders of other formats than JPEG share: samples of 8 or 16 bits (with or without
// alpha) reduced to opaque 8-bit RGB32 over white, the bitmap they are written into, the pixel
// limit, the embedded colour profile and notes for the trace log. Every function that fails raises
// EImageError naming the picture.
//
// Threads: any thread; no shared state.
#include "util/imaging/imageerror.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

#include <vector>

// A line for the trace log; a log that cannot be written is ignored.
void TracePictureNote(const QString& text);

// The 8-bit value nearest to sample / max, for every sample up to max.
std::vector<uchar> ReductionTable(quint32 max);
// Interleaved samples (3 or 4 a pixel, 8 or 16 bits each, native byte order for 16) into RGB32;
// a fourth sample is alpha, composed over white.
void PackLine(const uchar* in, int samplesPerPixel, bool wide, quint32 max,
              const std::vector<uchar>& table, quint32* out, int width);
// An RGB32 bitmap of that size; raises when there is no memory for it.
QImage NewBitmap(QSize size, const QString& path);
// Any bitmap the image reader gives, as opaque 8-bit RGB32 over white.
QImage ToOpaqueRgb32(QImage image, const QString& path);
// Converts the bitmap from the embedded profile (none: left as it is) to sRGB.
void ApplyPictureProfile(QImage& bitmap, const QByteArray& profile, const QString& path);
// Refuses a picture without pixels or with more than maxPixels (0: no limit).
void CheckPicturePixels(const QString& path, QSize size, qint64 maxPixels);
