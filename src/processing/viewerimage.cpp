#include "processing/viewerimage.h"

#include "util/imaging/colour.h"
#include "util/imaging/imageerror.h"
#include "util/imaging/imaging.h"
#include "util/imaging/jpegcodec.h"
#include "util/lumenfolderror.h"
#include "util/safefile.h"

#include <QFile>
#include <QImageReader>

TViewerImage LoadViewerImage(const QString& originalPath, QSize box, int orientation) {
  TViewerImage out;
  try {
    QFile file;
    QString problem;
    if (!OpenRegularFile(file, originalPath, &problem)) {
      out.Problem = problem;
      return out;
    }
    const QByteArray data = file.readAll();
    file.close();
    // The box as the stored picture sees it: a quarter turn swaps its sides.
    const QSize stored = OrientedSize(box.expandedTo(QSize(1, 1)), orientation);
    QImage bitmap;
    if (data.startsWith("\xFF\xD8")) {
      out.FullSize = ReadJpegSize(data, originalPath);
      const QSize fitted = out.FullSize.scaled(stored, Qt::KeepAspectRatio);
      const int d = fitted.width() >= out.FullSize.width()
                        ? 1
                        : JpegScaleForMinimumSize(out.FullSize, fitted.width(), fitted.height());
      bitmap = DecodeJpegData(data, d, nullptr, originalPath);
      ConvertToSrgb(bitmap, ColourPlanForJpeg(data, originalPath));
    } else {
      // Other formats through the general reader, scaled while reading where it can.
      QImageReader reader(originalPath);
      out.FullSize = reader.size();
      if (out.FullSize.isValid() &&
          (out.FullSize.width() > stored.width() || out.FullSize.height() > stored.height()))
        reader.setScaledSize(out.FullSize.scaled(stored, Qt::KeepAspectRatio));
      bitmap = reader.read();
      if (bitmap.isNull()) {
        out.Problem = originalPath + QStringLiteral(": ") + reader.errorString();
        return out;
      }
    }
    ApplyOrientation(bitmap, orientation);
    out.Bitmap = std::move(bitmap);
  } catch (const EImageError& e) {
    out.Problem =
        e.Text().contains(originalPath) ? e.Text() : originalPath + QStringLiteral(": ") + e.Text();
  } catch (const std::exception& e) {
    out.Problem = originalPath + QStringLiteral(": ") + TextOf(e);
  }
  return out;
}
