// Quality check for the processing benchmark. For one original it compares with a reference
// made from a full-resolution decode, fitted with the same kernel and not encoded:
//   - the run's fitted medium and thumbnail bitmaps before encoding (decoded at a reduced DCT
//     scale where the outputs allow): what the reduced decode costs;
//   - the medium and thumbnail files the run wrote: what the whole pipeline costs, JPEG
//     encoding included;
//   - optionally the same two outputs of a peer tool, measured the same way.
// Prints "<pipeline medium> <pipeline thumb> <file medium> <file thumb> <peer medium> <peer
// thumb> <width> <height>": PSNR in dB over the RGB channels ("-" where there is no peer file
// of the reference's size), then the original's stored size.
//
//   bench_process_psnr ORIGINAL MEDIUM THUMB [PEER_MEDIUM PEER_THUMB] [--filter F]
// Two more forms print one PSNR per file:
//   bench_process_psnr --pair A B          the two JPEG files against each other
//   bench_process_psnr --reference ORIGINAL FILE... [--filter F]
//                                          each file against the original decoded whole and
//                                          fitted to the file's size (not encoded)
#include "util/imaging/imaging.h"
#include "util/imaging/jpegcodec.h"
#include "util/imaging/resample.h"

#include <QString>
#include <QStringList>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

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
  QStringList files;
  int filter = 3;
  bool pair = false, reference = false;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--filter") && i + 1 < argc)
      filter = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--pair"))
      pair = true;
    else if (!std::strcmp(argv[i], "--reference"))
      reference = true;
    else
      files.append(QString::fromLocal8Bit(argv[i]));
  }
  try {
    if (pair && files.size() == 2) {
      std::printf("%.2f\n", psnr(DecodeJpegFile(files[0]), DecodeJpegFile(files[1])));
      return 0;
    }
    if (reference && files.size() >= 2) {
      TOriginalRequest request;
      request.FullResolution = true;
      const TLoadedOriginal full = LoadOriginal(files[0], request);
      for (qsizetype i = 1; i < files.size(); ++i) {
        const QImage written = DecodeJpegFile(files[i]);
        const QImage ideal =
            ResampleBitmap(full.Bitmap, full.Window, written.size(), ResizeFilterFromCode(filter));
        std::printf("%.2f\n", psnr(written, ideal));
      }
      return 0;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  if (files.size() != 3 && files.size() != 5) {
    std::fprintf(stderr,
                 "usage: %s ORIGINAL MEDIUM THUMB [PEER_MEDIUM PEER_THUMB] [--filter F]\n"
                 "       %s --pair A B\n"
                 "       %s --reference ORIGINAL FILE... [--filter F]\n",
                 argv[0], argv[0], argv[0]);
    return 2;
  }
  try {
    const QString original = files[0];
    const QSize boxes[2] = {QSize(800, 768), QSize(200, 150)};
    TOriginalRequest request;
    request.Boxes = {boxes[0], boxes[1]};
    const TLoadedOriginal reduced = LoadOriginal(original, request); // as the run loads it
    request.FullResolution = true;
    const TLoadedOriginal full = LoadOriginal(original, request);
    const TResizeFilter kernel = ResizeFilterFromCode(filter);
    QString line;
    double pipeline[2], written[2], peer[2] = {-1, -1};
    for (int k = 0; k < 2; ++k) {
      const TFitResult fit = FitIntoBox(full.Size, boxes[k].width(), boxes[k].height(), false);
      const QImage reference = ResampleBitmap(full.Bitmap, full.Window, fit.Size, kernel);
      pipeline[k] =
          psnr(ResampleBitmap(reduced.Bitmap, reduced.Window, fit.Size, kernel), reference);
      written[k] = psnr(DecodeJpegFile(files[1 + k]), reference);
      if (files.size() == 5) {
        const QImage other = DecodeJpegFile(files[3 + k]);
        if (other.size() == reference.size()) peer[k] = psnr(other, reference);
      }
    }
    auto text = [](double v) { return v < 0 ? std::string("-") : std::to_string(v); };
    std::printf("%.2f %.2f %.2f %.2f %s %s %d %d\n", pipeline[0], pipeline[1], written[0],
                written[1], text(peer[0]).c_str(), text(peer[1]).c_str(), full.OriginalSize.width(),
                full.OriginalSize.height());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
