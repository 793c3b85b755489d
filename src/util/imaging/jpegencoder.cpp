// Encoding: an RGB32 bitmap into a baseline JPEG, in memory or as a file.
#include "util/imaging/jpegcodec.h"

#include "util/helpers.h"
#include "util/imaging/jpeglibobjects.h"

#include <cstdlib>
#include <vector>

namespace jpeg_codec {
namespace {

// The encoder's output buffer of the thread (see Compressor::Encode): a byte per pixel and a
// little more holds any photograph up to the highest qualities; a larger buffer than
// kMostKeptEncodedBytes goes back after its image.
thread_local std::vector<unsigned char> t_encoded;
constexpr size_t kEncodedSlack = 64 * 1024;
constexpr size_t kMostKeptEncodedBytes = size_t(64) << 20;

class Compressor {
public:
  Compressor() {
    InitErrors(err_);
    cinfo.err = &err_.pub;
    if (!Guarded(err_, [&] { jpeg_create_compress(&cinfo); }))
      throw EImageError(QStringLiteral("Cannot start the JPEG encoder: %1")
                            .arg(QString::fromLocal8Bit(err_.message)));
    created_ = true;
  }
  ~Compressor() {
    if (created_) jpeg_destroy_compress(&cinfo);
    // Ours stays with the thread; after a failure the codec's own may be lost (it never
    // reports one it grew into before the end).
    if (buffer_ != t_encoded.data()) std::free(buffer_);
  }
  Compressor(const Compressor&) = delete;
  Compressor& operator=(const Compressor&) = delete;

  QByteArray Encode(const QImage& image, int quality, TJpegChroma chroma) {
    std::vector<JSAMPROW> rows(size_t(image.height()));
    for (int y = 0; y < image.height(); ++y)
      rows[size_t(y)] = const_cast<JSAMPROW>(image.constScanLine(y));
    // The codec writes into the thread's output buffer, made large enough for most images of
    // this size: growing its own from 4 KB on would copy the output again at each doubling and
    // take fresh memory for every image.
    std::vector<unsigned char>& out = t_encoded;
    const size_t expected = size_t(image.width()) * size_t(image.height()) + kEncodedSlack;
    if (out.size() < expected) {
      out = std::vector<unsigned char>();
      out.resize(expected);
    }
    buffer_ = out.data();
    size_ = static_cast<unsigned long>(out.size());
    const bool ok = Guarded(err_, [&] {
      jpeg_mem_dest(&cinfo, &buffer_, &size_);
      cinfo.image_width = JDIMENSION(image.width());
      cinfo.image_height = JDIMENSION(image.height());
      cinfo.input_components = 4;
      cinfo.in_color_space = kEncodeSpace;
      jpeg_set_defaults(&cinfo);
      jpeg_set_quality(&cinfo, quality, TRUE);
      cinfo.dct_method = JDCT_ISLOW;
      // The defaults halve the colour. Unless told, high qualities keep it at full resolution:
      // halving it costs more (fine coloured detail, small images) than such a quality asks to
      // lose.
      const bool full = chroma == TJpegChroma::Full ||
                        (chroma == TJpegChroma::ByQuality && quality >= kFullChromaQuality);
      if (full)
        for (int c = 0; c < cinfo.num_components; ++c)
          cinfo.comp_info[c].h_samp_factor = cinfo.comp_info[c].v_samp_factor = 1;
      jpeg_start_compress(&cinfo, TRUE);
      JDIMENSION done = 0;
      while (done < cinfo.image_height)
        done += jpeg_write_scanlines(&cinfo, rows.data() + done, cinfo.image_height - done);
      jpeg_finish_compress(&cinfo);
    });
    if (!ok)
      throw EImageError(QStringLiteral("Cannot encode the picture as JPEG: %1.")
                            .arg(QString::fromLocal8Bit(err_.message)));
    QByteArray encoded(reinterpret_cast<const char*>(buffer_), qsizetype(size_));
    if (buffer_ != out.data()) std::free(buffer_); // the codec's own, grown beyond ours
    buffer_ = nullptr;
    if (out.size() > kMostKeptEncodedBytes) out = std::vector<unsigned char>();
    return encoded;
  }

  jpeg_compress_struct cinfo{};

private:
  ErrorManager err_;
  unsigned char* buffer_ = nullptr;
  unsigned long size_ = 0;
  bool created_ = false;
};

void CheckQuality(int quality) {
  if (quality < 1 || quality > 100)
    throw EImageRangeError(
        QStringLiteral("JPEG quality %1 is out of range (1 to 100).").arg(quality));
}

} // namespace
} // namespace jpeg_codec

QByteArray EncodeJpeg(const QImage& bitmap, int quality, TJpegChroma chroma) {
  jpeg_codec::CheckQuality(quality);
  if (bitmap.isNull() || bitmap.width() <= 0 || bitmap.height() <= 0)
    throw EImageError(QStringLiteral("Cannot encode an empty picture as JPEG."));
  if (bitmap.width() > 65500 || bitmap.height() > 65500)
    throw EImageError(
        QStringLiteral("Cannot encode a picture of %1 x %2 pixels as JPEG (too large).")
            .arg(bitmap.width())
            .arg(bitmap.height()));
  jpeg_codec::Compressor enc;
  if (bitmap.format() == QImage::Format_RGB32) return enc.Encode(bitmap, quality, chroma);
  // Transparent parts are laid on white, as on a web page.
  QImage opaque(bitmap.size(), QImage::Format_RGB32);
  opaque.fill(Qt::white);
  if (bitmap.hasAlphaChannel()) {
    const QImage src = bitmap.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < src.height(); ++y) {
      const QRgb* s = reinterpret_cast<const QRgb*>(src.constScanLine(y));
      QRgb* d = reinterpret_cast<QRgb*>(opaque.scanLine(y));
      for (int x = 0; x < src.width(); ++x) {
        const int a = qAlpha(s[x]);
        auto mix = [a](int c) { return (c * a + 255 * (255 - a) + 127) / 255; };
        d[x] = qRgb(mix(qRed(s[x])), mix(qGreen(s[x])), mix(qBlue(s[x])));
      }
    }
  } else {
    opaque = bitmap.convertToFormat(QImage::Format_RGB32);
  }
  return enc.Encode(opaque, quality, chroma);
}

void EncodeJpegFile(const QImage& bitmap, int quality, const QString& path) {
  jpeg_codec::CheckQuality(quality);
  const QByteArray data = EncodeJpeg(bitmap, quality);
  const QString failure = WriteFileReplacing(path, data);
  if (!failure.isEmpty())
    throw EImageError(QStringLiteral("Cannot write file \"%1\": %2.").arg(path, failure));
}
