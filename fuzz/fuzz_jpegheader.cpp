// Feeds arbitrary bytes to the JPEG header reader and, when the header is accepted, to a reduced
// decode. Beyond not crashing: an accepted header never promises more pixels than its bytes can
// hold (the rule that keeps a tiny file from claiming gigabytes), and a decode gives exactly
// the scaled size of the header's picture.
#include "util/imaging/imageerror.h"
#include "util/imaging/jpegcodec.h"

#include <QByteArray>
#include <QImage>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // No copy: the sanitizer sees any read past the data.
  const QByteArray bytes =
      QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
  QSize full;
  try {
    full = ReadJpegSize(bytes, QStringLiteral("fuzz.jpg"));
  } catch (const EImageError&) {
    return 0;
  }
  if (!JpegSizeFitsData(full, qint64(size))) {
    std::fprintf(stderr, "accepted %d x %d from %zu bytes\n", full.width(), full.height(), size);
    std::abort();
  }
  // Decoding at 1/8 keeps each run small; the header path above is the target.
  try {
    QSize seen;
    const QImage image = DecodeJpegData(bytes, 8, &seen);
    if (seen != full || image.size() != JpegScaledSize(full, 8)) {
      std::fprintf(stderr, "decoded %d x %d of a %d x %d picture\n", image.width(), image.height(),
                   full.width(), full.height());
      std::abort();
    }
  } catch (const EImageError&) {
  }
  return 0;
}
