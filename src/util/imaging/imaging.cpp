#include "util/imaging/imaging.h"

#include "util/helpers.h"
#include "util/imaging/colour.h"
#include "util/imaging/jpegcodec.h"
#include "util/imaging/pictureformats.h"
#include "util/safefile.h"
#include "util/tracer.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Scratch bitmaps of the file-to-file scaling, one set per thread.
struct ImagingScratch {
  QImage decoded;
  QImage fitted;
  int quality = 90; // last quality given to SaveBitmapAsJpeg on this thread
};

thread_local ImagingScratch t_imaging;

// The start of a file, or all of it: JPEG unless it clearly is something else (too short to
// tell counts as JPEG, so that the decoder reports the problem).
bool StartsLikeJpeg(const QByteArray& head) {
  return head.size() < 3 || (uchar(head[0]) == 0xff && uchar(head[1]) == 0xd8);
}

bool IsJpegFile(const QString& path) {
  QFile f;
  if (!OpenRegularFile(f, path)) return true; // let the decoder report the problem
  return StartsLikeJpeg(f.read(3));
}

// Originals of other formats (HEIF, PNG, TIFF, WebP) as sRGB RGB32 bitmaps.
QImage ReadOtherPicture(const QString& path, const QByteArray& contents = QByteArray(),
                        qint64 maxPixels = 0) {
  return DecodeOtherPicture(path, contents, maxPixels);
}

void CheckExists(const QString& path) {
  const QFileInfo info(path);
  if (!info.exists()) throw EImageError(QStringLiteral("File not found: \"%1\".").arg(path));
  if (!info.isFile())
    throw EImageError(
        QStringLiteral("Cannot read picture \"%1\": it is not a regular file.").arg(path));
}

// Rotates a quarter turn (clockwise when cw) into a new bitmap, in tiles so that both reads and
// writes stay within a few cache lines.
QImage RotateQuarter(const QImage& src, bool cw) {
  const int w = src.width(), h = src.height();
  QImage dst(h, w, QImage::Format_RGB32);
  if (dst.isNull())
    throw EImageError(
        QStringLiteral("Not enough memory for a picture of %1 x %2 pixels.").arg(h).arg(w));
  const ptrdiff_t ss = src.bytesPerLine() / 4, ds = dst.bytesPerLine() / 4;
  const quint32* s = reinterpret_cast<const quint32*>(src.constBits());
  quint32* d = reinterpret_cast<quint32*>(dst.bits());
  constexpr int T = 32;
  for (int y0 = 0; y0 < h; y0 += T)
    for (int x0 = 0; x0 < w; x0 += T) {
      const int y1 = std::min(h, y0 + T), x1 = std::min(w, x0 + T);
      for (int x = x0; x < x1; ++x) {
        // Source column x becomes target line x (cw) or w-1-x (ccw).
        quint32* dl = d + ptrdiff_t(cw ? x : w - 1 - x) * ds;
        for (int y = y0; y < y1; ++y)
          dl[cw ? h - 1 - y : y] = s[ptrdiff_t(y) * ss + x];
      }
    }
  return dst;
}

void MirrorInPlace(QImage& img) {
  const int w = img.width();
  for (int y = 0; y < img.height(); ++y) {
    quint32* l = reinterpret_cast<quint32*>(img.scanLine(y));
    std::reverse(l, l + w);
  }
}

void HalfTurnInPlace(QImage& img) {
  const int w = img.width(), h = img.height();
  for (int y = 0; y < (h + 1) / 2; ++y) {
    quint32* a = reinterpret_cast<quint32*>(img.scanLine(y));
    quint32* b = reinterpret_cast<quint32*>(img.scanLine(h - 1 - y));
    if (a == b) {
      std::reverse(a, a + w);
      break;
    }
    for (int x = 0; x < w; ++x)
      std::swap(a[x], b[w - 1 - x]);
  }
}

QString SmallerText(bool noUpscale) {
  return noUpscale ? QStringLiteral(
                         "Original picture is smaller than desired size. No scale will be done. ")
                   : QStringLiteral("Original picture is smaller than desired size. Picture will "
                                    "be upscaled anyway. ");
}

} // namespace

QSize ReadPictureSize(const QString& path) {
  if (IsJpegFile(path)) return ReadJpegSize(path);
  return ReadOtherPictureSize(path);
}

void CheckPixelLimit(const QString& path, QSize size, qint64 maxPixels) {
  const qint64 pixels = qint64(size.width()) * size.height();
  if (maxPixels > 0 && pixels > maxPixels)
    throw EImageError(QStringLiteral("The picture \"%1\" has %2 x %3 pixels, more than the "
                                     "limit of %4 megapixels.")
                          .arg(path)
                          .arg(size.width())
                          .arg(size.height())
                          .arg(double(maxPixels) / 1e6, 0, 'g', 4));
}

// ---- Fitting ----------------------------------------------------------------------------------

TFitResult FitIntoBox(QSize source, int boxWidth, int boxHeight, bool noUpscale) {
  TFitResult r;
  const int w = source.width(), h = source.height();
  if (boxWidth <= 0 || boxHeight <= 0 || w <= 0 || h <= 0) {
    r.Size = QSize(0, 0);
    r.Scale = 0.0;
    return r;
  }
  double s = double(boxWidth) / double(boxHeight) > double(w) / double(h)
                 ? double(boxHeight) / double(h)
                 : double(boxWidth) / double(w);
  if (s > 1.0) {
    r.Smaller = true;
    if (noUpscale) s = 1.0;
  }
  r.Scale = s;
  // A very long, thin picture keeps at least one pixel across.
  r.Size = QSize(std::max(1, RoundHalfEven(w * s)), std::max(1, RoundHalfEven(h * s)));
  return r;
}

TFitResult FitIntoBoxTraced(QSize source, int boxWidth, int boxHeight, bool noUpscale,
                            const QString& names) {
  const TFitResult r = FitIntoBox(source, boxWidth, boxHeight, noUpscale);
  if (r.Smaller) Tracer().Write(SmallerText(noUpscale) + names);
  return r;
}

static TFitResult FitChecked(QSize source, int boxWidth, int boxHeight, bool noUpscale,
                             const QString& names) {
  if (source.isEmpty()) throw EImageError(QStringLiteral("Cannot scale an empty picture."));
  const TFitResult r = FitIntoBoxTraced(source, boxWidth, boxHeight, noUpscale, names);
  if (r.Size.isEmpty())
    throw EImageError(QStringLiteral("Cannot fit a picture into a box of %1 x %2 pixels.")
                          .arg(boxWidth)
                          .arg(boxHeight));
  return r;
}

void ScaleBitmap(const QString& sourceName, const QImage& source, QImage& target, int boxWidth,
                 int boxHeight, bool noUpscale, int filter) {
  const TFitResult fit =
      FitChecked(source.size(), boxWidth, boxHeight, noUpscale, sourceName + QLatin1Char('.'));
  const QImage src = source; // target may be the same object
  ResampleBitmapInto(src, QRectF(0, 0, src.width(), src.height()), target, fit.Size,
                     ResizeFilterFromCode(filter));
}

QSize ScalePictureFile(const QString& sourcePath, const QString& targetPath, int boxWidth,
                       int boxHeight, bool noUpscale, int filter) {
  ImagingScratch& s = t_imaging;
  CheckExists(sourcePath);
  const QString names = sourcePath + QStringLiteral("->") + targetPath + QLatin1Char('.');
  QSize full;
  QRectF window;
  if (IsJpegFile(sourcePath)) {
    full = ReadJpegSize(sourcePath);
    const TFitResult fit = FitChecked(full, boxWidth, boxHeight, noUpscale, names);
    const int d =
        fit.Scale >= 1.0
            ? 1
            : JpegScaleForMinimumPixels(full, 2 * qint64(fit.Size.width()) * fit.Size.height());
    s.decoded = QImage(); // free the previous picture before the next one is allocated
    s.decoded = DecodeJpegFile(sourcePath, d);
    window = QRectF(0, 0, double(full.width()) / d, double(full.height()) / d);
    ResampleBitmapInto(s.decoded, window, s.fitted, fit.Size, ResizeFilterFromCode(filter));
    ConvertToSrgb(s.fitted, ColourPlanForJpeg(QByteArray(), sourcePath));
  } else {
    s.decoded = ReadOtherPicture(sourcePath);
    full = s.decoded.size();
    const TFitResult fit = FitChecked(full, boxWidth, boxHeight, noUpscale, names);
    ResampleBitmapInto(s.decoded, QRectF(0, 0, full.width(), full.height()), s.fitted, fit.Size,
                       ResizeFilterFromCode(filter));
  }
  EncodeJpegFile(s.fitted, s.quality, targetPath);
  return full;
}

// ---- Transforms -------------------------------------------------------------------------------

QSize OrientedSize(QSize size, int orientation) {
  const int m = std::abs(orientation);
  return (m == 2 || m == 4) ? size.transposed() : size;
}

void ApplyOrientation(QImage& bitmap, int orientation) {
  if (bitmap.isNull()) return;
  if (bitmap.format() != QImage::Format_RGB32)
    bitmap = bitmap.convertToFormat(QImage::Format_RGB32);
  switch (std::abs(orientation)) {
  case 2:
    bitmap = RotateQuarter(bitmap, true);
    break;
  case 3:
    HalfTurnInPlace(bitmap);
    break;
  case 4:
    bitmap = RotateQuarter(bitmap, false);
    break;
  default:
    break;
  }
  if (orientation < 0) MirrorInPlace(bitmap);
}

bool CropIsSet(int x1, int y1, int x2, int y2) {
  return x1 != -1 || y1 != -1 || x2 != -1 || y2 != -1;
}

QRect CropRectangle(QPoint topLeft, QPoint bottomRight, QSize pictureSize) {
  const int x0 = std::min(topLeft.x(), bottomRight.x()),
            x1 = std::max(topLeft.x(), bottomRight.x());
  const int y0 = std::min(topLeft.y(), bottomRight.y()),
            y1 = std::max(topLeft.y(), bottomRight.y());
  const QRect r(x0, y0, x1 - x0, y1 - y0);
  if (r.isEmpty()) return QRect();
  return r.intersected(QRect(QPoint(0, 0), pictureSize));
}

void CropBitmap(QImage& bitmap, QPoint topLeft, QPoint bottomRight, int /*filter*/) {
  const QRect r = CropRectangle(topLeft, bottomRight, bitmap.size());
  if (r.isEmpty())
    throw EImageError(
        QStringLiteral(
            "The crop rectangle (%1, %2)-(%3, %4) holds no pixel of the %5 x %6 picture.")
            .arg(topLeft.x())
            .arg(topLeft.y())
            .arg(bottomRight.x())
            .arg(bottomRight.y())
            .arg(bitmap.width())
            .arg(bitmap.height()));
  if (r == bitmap.rect()) return;
  QImage cropped = bitmap.copy(r);
  if (cropped.isNull())
    throw EImageError(QStringLiteral("Not enough memory for a picture of %1 x %2 pixels.")
                          .arg(r.width())
                          .arg(r.height()));
  bitmap = cropped;
}

void SaveBitmapAsJpeg(const QImage& bitmap, int quality, const QString& path) {
  if (quality < 1 || quality > 100)
    throw EImageRangeError(
        QStringLiteral("JPEG quality %1 is out of range (1 to 100).").arg(quality));
  t_imaging.quality = quality;
  EncodeJpegFile(bitmap, quality, path);
}

void ReleaseImagingScratch() {
  t_imaging.decoded = QImage();
  t_imaging.fitted = QImage();
  ReleaseResampleScratch();
}

// ---- Loading an original for several outputs -------------------------------------------------

namespace {

// The smallest decode that still gives the largest output twice its pixels and covers every
// cover box's image.
int decodeDenominator(QSize region, const TOriginalRequest& request) {
  if (request.FullResolution || (request.Boxes.isEmpty() && request.CoverBoxes.isEmpty())) return 1;
  qint64 most = 0;
  for (const QSize& box : request.Boxes) {
    const TFitResult fit = FitIntoBox(region, box.width(), box.height(), request.NoUpscale);
    if (fit.Size.isEmpty()) continue;
    if (fit.Scale >= 1.0) return 1;
    most = std::max(most, qint64(fit.Size.width()) * fit.Size.height());
  }
  int d = most > 0 ? JpegScaleForMinimumPixels(region, 2 * most) : 8;
  bool covered = most > 0;
  for (const QSize& box : request.CoverBoxes) {
    const TFitResult fit = FitIntoBox(region, box.width(), box.height(), true);
    if (fit.Size.isEmpty()) continue;
    if (fit.Scale >= 1.0) return 1;
    covered = true;
    // Whole scaled pixels only, as for the pixel count.
    while (d > 1 &&
           (region.width() / d < fit.Size.width() || region.height() / d < fit.Size.height()))
      d /= 2;
  }
  return covered ? d : 1;
}

} // namespace

qint64 EstimateOriginalMemory(const QString& path, const TOriginalRequest& request) {
  const qint64 fileBytes = QFileInfo(path).size();
  qint64 boxes = 0; // the fitted outputs, with the resampler's reduced copy of each
  for (const QList<QSize>& list : {request.Boxes, request.CoverBoxes})
    for (const QSize& box : list)
      boxes += qint64(std::max(0, box.width())) * std::max(0, box.height()) * 4 * 10;
  // A picture above the pixel limit is refused before it is decoded.
  auto refused = [&](QSize size) {
    return request.MaxPixels > 0 && qint64(size.width()) * size.height() > request.MaxPixels;
  };
  if (!IsJpegFile(path)) {
    // Decoded whole (the decoder's own buffers, then the bitmap), then turned into a copy.
    const QSize size = ReadPictureSize(path);
    if (refused(size)) return fileBytes;
    return fileBytes + OtherPictureDecodeBytes(SniffPictureFile(path), size) +
           qint64(size.width()) * size.height() * 4 * 2 + boxes;
  }
  const TJpegLayout layout = ReadJpegLayout(path);
  if (refused(layout.Size)) return fileBytes;
  const QSize oriented = OrientedSize(layout.Size, request.Orientation);
  QRect crop(QPoint(0, 0), oriented);
  if (request.Crop) {
    crop = CropRectangle(request.CropTopLeft, request.CropBottomRight, oriented);
    if (crop.isEmpty()) crop = QRect(QPoint(0, 0), oriented); // refused when it is loaded
  }
  const int d = decodeDenominator(crop.size(), request);
  const QSize kept = JpegScaledSize(crop.size(), d);
  const qint64 bitmap = qint64(kept.width()) * kept.height() * 4;
  // The codec's line buffers, a batch of decoded lines and a converted CMYK line, and the
  // codec's own tables and pools (measured: about 3 % of the bitmap at most).
  const qint64 lines =
      qint64(JpegScaledSize(layout.Size, d).width()) * 4 * (64 + 16 + 4) + bitmap / 32;
  // While decoding: the coefficients of a progressive file. Afterwards (they are freed): the
  // encoded large image and its tagged copy, at most about a byte per pixel together.
  const qint64 encoded = request.FullResolution ? bitmap / 4 : 0;
  return fileBytes + bitmap + boxes + std::max(layout.CoefficientBytes + lines, encoded);
}

TLoadedOriginal LoadOriginal(const QString& path, const TOriginalRequest& request) {
  TLoadedOriginal result;
  LoadOriginal(path, request, result);
  return result;
}

void LoadOriginal(const QString& path, const TOriginalRequest& request, TLoadedOriginal& into) {
  LoadOriginal(path, QByteArray(), request, into);
}

void LoadOriginal(const QString& path, const QByteArray& contents, const TOriginalRequest& request,
                  TLoadedOriginal& into) {
  const bool inMemory = !contents.isEmpty();
  if (!inMemory) CheckExists(path);
  QImage reuse = std::move(into.Bitmap);
  into = TLoadedOriginal();
  TLoadedOriginal& result = into;
  const int orientation = request.Orientation;
  const bool jpeg = inMemory ? StartsLikeJpeg(contents) : IsJpegFile(path);
  if (!jpeg) {
    reuse = QImage();
    // Uncropped, the decoder may give half the size when the largest output still gets twice
    // its pixels (as the JPEG decode below); the window keeps the full size for the outputs.
    int allowed = 1;
    if (!request.Crop) {
      const QSize full =
          inMemory ? ReadOtherPictureSize(path, contents) : ReadOtherPictureSize(path);
      allowed = decodeDenominator(OrientedSize(full, orientation), request) >= 2 ? 2 : 1;
    }
    int d = 1;
    QImage image = DecodeOtherPicture(path, contents, request.MaxPixels, allowed, &d);
    result.OriginalSize = image.size() * d;
    ApplyOrientation(image, orientation);
    if (request.Crop) CropBitmap(image, request.CropTopLeft, request.CropBottomRight, rfLanczos);
    result.Size = image.size() * d;
    result.ScaleDenominator = d;
    result.Window = QRectF(0, 0, image.width(), image.height());
    result.Bitmap = image;
    return;
  }

  const QSize full = inMemory ? ReadJpegSize(contents, path) : ReadJpegSize(path);
  CheckPixelLimit(path, full, request.MaxPixels);
  const QSize oriented = OrientedSize(full, orientation);
  QRect crop(QPoint(0, 0), oriented);
  if (request.Crop) {
    crop = CropRectangle(request.CropTopLeft, request.CropBottomRight, oriented);
    if (crop.isEmpty())
      throw EImageError(QStringLiteral("The crop rectangle (%1, %2)-(%3, %4) holds no pixel of "
                                       "the %5 x %6 picture \"%7\".")
                            .arg(request.CropTopLeft.x())
                            .arg(request.CropTopLeft.y())
                            .arg(request.CropBottomRight.x())
                            .arg(request.CropBottomRight.y())
                            .arg(oriented.width())
                            .arg(oriented.height())
                            .arg(path));
  }

  const int d = decodeDenominator(crop.size(), request);

  // Decoded pixel x covers full pixels [x*d, x*d + d); the last one reaches past the picture's
  // edge. An axis that the orientation flips therefore starts (scaled size - full size / d)
  // pixels into the decoded bitmap.
  const QSize scaled = JpegScaledSize(full, d);
  const QSize scaledOriented = OrientedSize(scaled, orientation);
  const int m = std::abs(orientation);
  const double slackW = scaled.width() - double(full.width()) / d;
  const double slackH = scaled.height() - double(full.height()) / d;
  double offU = 0.0, offV = 0.0;
  switch (m) {
  case 2:
    offU = slackH;
    break;
  case 3:
    offU = slackW, offV = slackH;
    break;
  case 4:
    offV = slackW;
    break;
  default:
    break;
  }
  if (orientation < 0) offU = scaledOriented.width() - double(oriented.width()) / d - offU;
  const QRectF want(crop.x() / double(d) + offU, crop.y() / double(d) + offV,
                    crop.width() / double(d), crop.height() / double(d));
  const QRect pixels =
      QRect(QPoint(int(std::floor(want.left())), int(std::floor(want.top()))),
            QPoint(int(std::ceil(want.right())) - 1, int(std::ceil(want.bottom())) - 1))
          .intersected(QRect(QPoint(0, 0), scaledOriented));

  QSize stored;
  result.Bitmap =
      inMemory ? DecodeJpegDataTransformed(contents, path, d, orientation, pixels, &stored, &reuse)
               : DecodeJpegFileTransformed(path, d, orientation, pixels, &stored, &reuse);
  result.OriginalSize = stored;
  result.Size = crop.size();
  result.ScaleDenominator = d;
  result.Window = want.translated(-pixels.x(), -pixels.y());
}

void ScaleLoadedOriginal(const QString& sourceName, const TLoadedOriginal& original, QImage& target,
                         int boxWidth, int boxHeight, bool noUpscale, int filter) {
  const TFitResult fit =
      FitChecked(original.Size, boxWidth, boxHeight, noUpscale, sourceName + QLatin1Char('.'));
  const TLoadedOriginal& o = original;
  ResampleBitmapInto(o.Bitmap, o.Window, target, fit.Size, ResizeFilterFromCode(filter));
}
