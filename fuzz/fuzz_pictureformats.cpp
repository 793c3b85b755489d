// Feeds arbitrary bytes to the decoders of originals that are not JPEG files (HEIF, PNG, TIFF,
// WebP). Beyond not crashing: a picture above the pixel limit is refused before it is decoded,
// and a decoded bitmap is RGB32 of exactly the size the header gave (or half of it, where the
// half-size decode is allowed and taken). The HEIF box reader of imports refuses or leaves to
// libheif what it cannot read, and where it reads a file, it finds the size libheif finds.
#include "util/imaging/heifboxes.h"
#include "util/imaging/imageerror.h"
#include "util/imaging/pictureformats.h"

#include <QBuffer>
#include <QByteArray>
#include <QGuiApplication>
#include <QImage>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {
// Small enough that every run stays quick, large enough for real seeds.
constexpr qint64 kMaxPixels = 1 << 20;
} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  static QGuiApplication app(*argc, *argv); // the image format plugins
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
  std::optional<THeifBoxes> boxes;
  if (SniffPictureFormat(bytes.left(16)) == TPictureFormat::Heif) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    try {
      boxes = ReadHeifBoxes(buffer, QStringLiteral("fuzz.pic"), true);
    } catch (const EImageError&) {
    }
    if (boxes && (boxes->Size.isEmpty() || boxes->Exif.size() > kMaxHeifBlockBytes ||
                  boxes->Xmp.size() > kMaxHeifBlockBytes))
      std::abort();
  }
  QSize header;
  try {
    header = ReadOtherPictureSize(QStringLiteral("fuzz.pic"), bytes);
  } catch (const EImageError&) {
    return 0;
  }
  if (boxes && boxes->Size != header) {
    std::fprintf(stderr, "boxes give %d x %d, libheif %d x %d\n", boxes->Size.width(),
                 boxes->Size.height(), header.width(), header.height());
    std::abort();
  }
  try {
    // Odd-sized inputs also take the half-size decode.
    int d = 0;
    const QImage image =
        DecodeOtherPicture(QStringLiteral("fuzz.pic"), bytes, kMaxPixels, size % 2 ? 2 : 1, &d);
    if (qint64(header.width()) * header.height() > kMaxPixels || image.size() * d != header ||
        image.format() != QImage::Format_RGB32) {
      std::fprintf(stderr, "decoded %d x %d (format %d) of a %d x %d picture\n", image.width(),
                   image.height(), int(image.format()), header.width(), header.height());
      std::abort();
    }
  } catch (const EImageError&) {
  }
  return 0;
}
