// Quality check for the processing benchmark. For one original it compares
//   - the fitted medium and thumbnail bitmaps of the run's pipeline (decoded at a reduced DCT
//     scale where the outputs allow) with those of a full-resolution decode, before encoding;
//   - the medium and thumbnail files the run wrote with the full-resolution pipeline's bitmaps
//     encoded at the same quality and decoded again.
// Prints "<pipeline medium> <pipeline thumbnail> <file medium> <file thumbnail> <width> <height>":
// PSNR in dB over the RGB channels, then the original's stored size.
//
//   bench_process_psnr ORIGINAL MEDIUM THUMB [--quality Q] [--filter F]
#include "util/imaging.h"
#include "util/jpegcodec.h"
#include "util/resample.h"

#include <QString>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

double psnr(const QImage& a, const QImage& b) {
  if (a.size() != b.size()) return 0.0;
  double sum = 0.0;
  for (int y = 0; y < a.height(); ++y) {
    const QRgb* pa = reinterpret_cast<const QRgb*>(a.constScanLine(y));
    const QRgb* pb = reinterpret_cast<const QRgb*>(b.constScanLine(y));
    for (int x = 0; x < a.width(); ++x) {
      const int dr = qRed(pa[x]) - qRed(pb[x]), dg = qGreen(pa[x]) - qGreen(pb[x]),
                db = qBlue(pa[x]) - qBlue(pb[x]);
      sum += dr * dr + dg * dg + db * db;
    }
  }
  const double mse = sum / (3.0 * a.width() * a.height());
  return mse <= 0.0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

} // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s ORIGINAL MEDIUM THUMB [--quality Q] [--filter F]\n", argv[0]);
    return 2;
  }
  int quality = 90, filter = 3;
  for (int i = 4; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--quality")) quality = std::atoi(argv[i + 1]);
    if (!std::strcmp(argv[i], "--filter")) filter = std::atoi(argv[i + 1]);
  }
  try {
    const QString original = QString::fromLocal8Bit(argv[1]);
    const QSize boxes[2] = {QSize(800, 768), QSize(200, 150)};
    TOriginalRequest request;
    request.Boxes = {boxes[0], boxes[1]};
    const TLoadedOriginal reduced = LoadOriginal(original, request); // as the run loads it
    request.FullResolution = true;
    const TLoadedOriginal full = LoadOriginal(original, request);
    const TResizeFilter kernel = ResizeFilterFromCode(filter);
    double pipeline[2], files[2];
    for (int k = 0; k < 2; ++k) {
      const TFitResult fit = FitIntoBox(full.Size, boxes[k].width(), boxes[k].height(), false);
      const QImage reference = ResampleBitmap(full.Bitmap, full.Window, fit.Size, kernel);
      pipeline[k] =
          psnr(ResampleBitmap(reduced.Bitmap, reduced.Window, fit.Size, kernel), reference);
      files[k] = psnr(DecodeJpegFile(QString::fromLocal8Bit(argv[2 + k])),
                      DecodeJpegData(EncodeJpeg(reference, quality)));
    }
    std::printf("%.2f %.2f %.2f %.2f %d %d\n", pipeline[0], pipeline[1], files[0], files[1],
                full.OriginalSize.width(), full.OriginalSize.height());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
