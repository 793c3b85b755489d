#include "processing/viewerimage.h"

#include "core/previewcache.h"
#include "processing/thumbnailthread.h"
#include "util/imaging/colour.h"
#include "util/imaging/imageerror.h"
#include "util/imaging/imaging.h"
#include "util/imaging/jpegcodec.h"
#include "util/imaging/memorybudget.h"
#include "util/imaging/memorytuning.h"
#include "util/imaging/pictureformats.h"
#include "util/lumenfolderror.h"
#include "util/safefile.h"

#include <QFile>

namespace {
// Reduces a bitmap to fit the box; a smaller one stays as it is.
QImage FitIntoBox(QImage bitmap, QSize box) {
  if (bitmap.isNull() || (bitmap.width() <= box.width() && bitmap.height() <= box.height()))
    return bitmap;
  const QSize fitted = bitmap.size().scaled(box, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
  return bitmap.scaled(fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}
} // namespace

int ViewerJpegEighths(QSize stored, QSize box, int orientation) {
  // The box as the stored picture sees it: a quarter turn swaps its sides.
  const QSize storedBox = OrientedSize(box.expandedTo(QSize(1, 1)), orientation);
  const QSize fitted = stored.scaled(storedBox, Qt::KeepAspectRatio);
  if (fitted.width() >= stored.width() || fitted.height() >= stored.height()) return 8;
  return JpegEighthsForMinimumSize(stored, fitted.width(), fitted.height());
}

TViewerImage LoadViewerImage(const QString& originalPath, QSize box, int orientation,
                             qint64 maxPixels) {
  TViewerImage out;
  box = box.expandedTo(QSize(1, 1));
  try {
    QFile file;
    QString problem;
    if (!OpenRegularFile(file, originalPath, &problem)) {
      out.Problem = problem;
      return out;
    }
    const QByteArray data = file.readAll();
    file.close();
    QImage bitmap;
    if (data.startsWith("\xFF\xD8")) {
      out.FullSize = ReadJpegSize(data, originalPath);
      CheckPixelLimit(originalPath, out.FullSize, maxPixels);
      out.Eighths = ViewerJpegEighths(out.FullSize, box, orientation);
      bitmap = FitIntoBox(
          DecodeJpegDataEighths(data, originalPath, out.Eighths, orientation, nullptr), box);
      // After the reduction: the profile has fewer pixels to go through.
      ConvertToSrgb(bitmap, ColourPlanForJpeg(data, originalPath));
    } else {
      // Other formats are decoded whole, within the pixel limit and the memory the program may
      // still take, like the list previews.
      TMemoryBudget budget(RunMemoryBudget(AvailableMemoryBytes(), ResidentMemoryBytes()));
      QImage decoded =
          TThumbnailThread::DecodeOtherOriginal(originalPath, data, maxPixels, &budget);
      out.FullSize = decoded.size();
      // Reduced before it is turned: the turn then moves fewer pixels.
      bitmap = FitIntoBox(std::move(decoded), OrientedSize(box, orientation));
      ApplyOrientation(bitmap, orientation);
    }
    out.Bitmap = std::move(bitmap);
  } catch (const EImageError& e) {
    out.Problem =
        e.Text().contains(originalPath) ? e.Text() : originalPath + QStringLiteral(": ") + e.Text();
  } catch (const std::exception& e) {
    out.Problem = originalPath + QStringLiteral(": ") + TextOf(e);
  }
  return out;
}

QImage LoadViewerPreview(const QString& previewPath, QSize box, int orientation) {
  QImage image = ReadPreviewFile(previewPath);
  if (image.isNull()) return image;
  ApplyOrientation(image, orientation);
  return FitIntoBox(std::move(image), box.expandedTo(QSize(1, 1)));
}
