#include "processing/previewfiles.h"

#include "core/picture.h"

#include "core/previewcache.h"
#include "processing/thumbnailthread.h"
#include "util/helpers.h"
#include "util/imaging/colour.h"
#include "util/imaging/imageerror.h"
#include "util/imaging/imaging.h"
#include "util/imaging/jpegcodec.h"
#include "util/imaging/memorybudget.h"
#include "util/imaging/pictureformats.h"
#include "util/safefile.h"

#include <QFile>
#include <sys/stat.h>

TOriginalFile ReadOriginalFile(const QString& path) {
  // Larger files are checksummed in parts, as GetFileHash does, not held whole.
  constexpr qint64 kMostHeldBytes = qint64(256) << 20;
  TOriginalFile original;
  QFile file;
  if (!OpenRegularFile(file, path, nullptr, &original.Refusal)) return original;
  struct stat st;
  if (::fstat(file.handle(), &st) != 0) {
    original.Refusal = TFileRefusal::Unreadable;
    return original;
  }
  original.Date = DosDateTimeOfSecs(qint64(st.st_mtime));
  original.Size = st.st_size >= 0 && st.st_size <= 0x7fffffff ? int(st.st_size) : -1;
  if (st.st_size > kMostHeldBytes) {
    file.close();
    original.Hash = GetFileHash(path);
    return original;
  }
  original.Data = file.readAll();
  // A read that failed part way gives no checksum: one of the bytes read so far would be
  // recorded as the original's.
  if (file.error() != QFileDevice::NoError || original.Data.size() != st.st_size) {
    original.Data.clear();
    original.Refusal = TFileRefusal::Unreadable;
    return original;
  }
  original.Hash = GetDataHash(original.Data);
  return original;
}

QSize MakePreview(const QString& original, const QString& preview, QSize box,
                  const TPreviewLimits& limits, QImage& bitmap, QByteArray data) {
  if (data.isEmpty()) {
    QFile file;
    QString problem;
    if (!OpenRegularFile(file, original, &problem)) throw EImageError(problem);
    data = file.readAll();
  }
  const QString names = original + QStringLiteral("->") + preview + QLatin1Char('.');
  try {
    QSize full;
    if (data.startsWith("\xFF\xD8")) {
      full = ReadJpegSize(data, original);
      CheckPixelLimit(original, full, limits.MaxPixels);
      const TFitResult fit = FitIntoBoxTraced(full, box.width(), box.height(), true, names);
      if (fit.Size.isEmpty()) throw EImageError(QStringLiteral("The picture has no pixels."));
      const int d =
          fit.Scale >= 1.0 ? 1 : JpegScaleForMinimumSize(full, fit.Size.width(), fit.Size.height());
      const QImage decoded = DecodeJpegData(data, d, nullptr, original);
      const QRectF window(0, 0, double(full.width()) / d, double(full.height()) / d);
      bitmap = ResampleBitmap(decoded, window, fit.Size, rfNearest);
      ConvertToSrgb(bitmap, ColourPlanForJpeg(data, original));
    } else {
      QImage decoded =
          TThumbnailThread::DecodeOtherOriginal(original, data, limits.MaxPixels, limits.Budget);
      full = decoded.size();
      const TFitResult fit = FitIntoBoxTraced(full, box.width(), box.height(), true, names);
      if (fit.Size.isEmpty()) throw EImageError(QStringLiteral("The picture has no pixels."));
      bitmap =
          ResampleBitmap(decoded, QRectF(0, 0, full.width(), full.height()), fit.Size, rfNearest);
    }
    const QString failure =
        WritePreviewFile(preview, EncodeJpeg(bitmap, TThumbnailThread::PreviewQuality));
    if (!failure.isEmpty())
      throw EImageError(QStringLiteral("Cannot write file \"%1\": %2.").arg(preview, failure));
    return full;
  } catch (const EImageRangeError&) {
    throw;
  } catch (const EImageError& e) {
    if (e.Text().contains(original)) throw;
    throw EImageError(original + QStringLiteral(": ") + e.Text());
  }
}

QImage TThumbnailThread::DecodeOtherOriginal(const QString& path, const QByteArray& data,
                                             qint64 maxPixels, TMemoryBudget* budget) {
  const TPictureFormat format = SniffPictureFormat(data.left(16));
  const QSize size = ReadOtherPictureSize(path, data);
  CheckPixelLimit(path, size, maxPixels);
  const qint64 need = data.size() + OtherPictureDecodeBytes(format, size) +
                      qint64(size.width()) * size.height() * 4;
  if (budget && !budget->Reserve(need))
    throw EImageError(QStringLiteral("The picture \"%1\" (%2 x %3 pixels) needs about %4 MB to be "
                                     "shown, more than the memory it may take.")
                          .arg(path)
                          .arg(size.width())
                          .arg(size.height())
                          .arg(need / 1048576));
  struct Release {
    TMemoryBudget* Budget;
    qint64 Bytes;
    ~Release() {
      if (Budget) Budget->Finish(Bytes, 0);
    }
  } release{budget, need};
  return DecodeOtherPicture(path, data, maxPixels);
}

TLumenfoldBitmap LoadPreviewBitmap(const QString& path) {
  QImage image = ReadPreviewFile(path);
  return image.isNull() ? nullptr : MakeBitmap(std::move(image));
}

QList<TLumenfoldPicture*> TThumbnailThread::LoadWanted(TThumbnailThread* loader,
                                                       const QList<TLumenfoldPicture*>& pictures,
                                                       int step,
                                                       QList<TLumenfoldPicture*>* lacking) {
  QList<TLumenfoldPicture*> loaded;
  for (TLumenfoldPicture* picture : loader ? loader->Request(pictures, step) : pictures) {
    if (picture->OriginalMissing) continue;
    const TLumenfoldBitmap shown = picture->Thumbnail();
    const QSize original(picture->OriginalWidth, picture->OriginalHeight);
    if (shown && PreviewServesStep(shown->size(), original, step)) continue;
    const QString file = PreviewStepPath(picture->TempThumbPath(), step);
    if (file.isEmpty()) continue;
    QImage image = ReadPreviewFile(file);
    if (image.isNull()) {
      // No file of that size yet: a loader makes it; meanwhile a smaller one is shown.
      if (lacking && picture->PreviewError.isEmpty()) lacking->append(picture);
      if (!shown && step > 0) image = ReadPreviewFile(picture->TempThumbPath());
      if (image.isNull()) continue;
    }
    // A file no larger than the preview shown (a small original) changes nothing.
    if (shown && image.width() <= shown->width() && image.height() <= shown->height()) continue;
    picture->SetThumbnail(MakeBitmap(std::move(image)));
    loaded.append(picture);
  }
  return loaded;
}
