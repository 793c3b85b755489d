#include "util/imaging/formatsupport.h"

#include "util/imaging/colour.h"
#include "util/imaging/imaging.h"
#include "util/tracer.h"

#include <algorithm>
#include <cstring>
#include <exception>

namespace {

// The 8-bit value nearest to the sample composed over white: (c·a + max·(max − a)) / max².
inline uchar overWhite(quint64 c, quint64 a, quint64 max) {
  const quint64 square = max * max;
  return uchar(((c * a + max * (max - a)) * 255 + square / 2) / square);
}

} // namespace

void TracePictureNote(const QString& text) {
  try {
    Tracer().Write(text);
  } catch (const std::exception&) {
    // The trace log is a diagnostic aid only.
  }
}

// The 8-bit value nearest to sample / max.
std::vector<uchar> ReductionTable(quint32 max) {
  std::vector<uchar> table(size_t(max) + 1);
  for (quint32 v = 0; v <= max; ++v)
    table[v] = uchar((quint64(v) * 255 + max / 2) / max);
  return table;
}

// Interleaved samples (3 or 4 a pixel, 8 or 16 bits each, native byte order for 16) into RGB32.
void PackLine(const uchar* in, int samplesPerPixel, bool wide, quint32 max,
              const std::vector<uchar>& table, quint32* out, int width) {
  const bool alpha = samplesPerPixel == 4;
  for (int x = 0; x < width; ++x) {
    quint32 s[4];
    for (int k = 0; k < samplesPerPixel; ++k) {
      if (wide) {
        quint16 v;
        std::memcpy(&v, in + (size_t(x) * samplesPerPixel + k) * 2, 2);
        s[k] = std::min<quint32>(v, max);
      } else {
        s[k] = in[size_t(x) * samplesPerPixel + k];
      }
    }
    uchar r, g, b;
    if (alpha && s[3] < max) {
      r = overWhite(s[0], s[3], max), g = overWhite(s[1], s[3], max),
      b = overWhite(s[2], s[3], max);
    } else {
      r = table[s[0]], g = table[s[1]], b = table[s[2]];
    }
    out[x] = 0xff000000u | quint32(r) << 16 | quint32(g) << 8 | b;
  }
}

QImage NewBitmap(QSize size, const QString& path) {
  QImage out(size, QImage::Format_RGB32);
  if (out.isNull())
    throw EImageError(QStringLiteral("Not enough memory for the %1 x %2 picture \"%3\".")
                          .arg(size.width())
                          .arg(size.height())
                          .arg(path));
  return out;
}

// Any bitmap the image reader gives, as opaque 8-bit RGB32 over white.
QImage ToOpaqueRgb32(QImage image, const QString& path) {
  if (image.format() == QImage::Format_RGB32) return image;
  const bool wide = image.depth() > 32 || image.format() == QImage::Format_Grayscale16;
  if (!wide && !image.hasAlphaChannel()) {
    QImage out = image.convertToFormat(QImage::Format_RGB32);
    if (out.isNull()) NewBitmap(image.size(), path); // raises
    return out;
  }
  // Straight (not premultiplied) samples, so that composing and rounding happen once.
  image = image.convertToFormat(wide ? QImage::Format_RGBA64 : QImage::Format_RGBA8888);
  if (image.isNull())
    throw EImageError(QStringLiteral("Not enough memory to convert the picture \"%1\".").arg(path));
  const quint32 max = wide ? 65535 : 255;
  const std::vector<uchar> table = ReductionTable(max);
  QImage out = NewBitmap(image.size(), path);
  for (int y = 0; y < image.height(); ++y)
    PackLine(image.constScanLine(y), 4, wide, max, table,
             reinterpret_cast<quint32*>(out.scanLine(y)), image.width());
  return out;
}

void ApplyPictureProfile(QImage& bitmap, const QByteArray& profile, const QString& path) {
  if (profile.isEmpty()) return;
  const TColourPlan plan = ColourPlanFor(profile);
  if (!plan.Note.isEmpty())
    TracePictureNote(QStringLiteral("Colour profile of %1 not used: %2.").arg(path, plan.Note));
  ConvertToSrgb(bitmap, plan);
}

void CheckPicturePixels(const QString& path, QSize size, qint64 maxPixels) {
  if (size.isEmpty())
    throw EImageError(QStringLiteral("Cannot read picture \"%1\": it holds no pixels.").arg(path));
  CheckPixelLimit(path, size, maxPixels);
}
