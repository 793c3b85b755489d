// Decoding: the pixels of a JPEG file or buffer into an RGB32 bitmap, scaled by the codec and
// turned and cropped while the lines arrive.
#include "util/imaging/jpegcodec.h"

#include "util/imaging/colour.h"
#include "util/imaging/jpeglibobjects.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace jpeg_codec {
namespace {

// One orientation + crop as an affine map from decoded pixels (x, y) to an index in the target
// bitmap: index = base + x * stepX + y * stepY, for x, y inside the source rectangle.
struct PixelMap {
  int sx0 = 0, sy0 = 0, sx1 = 0, sy1 = 0; // decoded pixels used, [sx0, sx1) x [sy0, sy1)
  ptrdiff_t base = 0, stepX = 0, stepY = 0;
};

PixelMap MakePixelMap(int sw, int sh, int orientation, const QRect& crop, ptrdiff_t stride) {
  const int m = std::abs(orientation);
  const bool quarter = (m == 2 || m == 4);
  const int ow = quarter ? sh : sw;
  // u = ux*x + uy*y + u0, v = vx*x + vy*y + v0 (oriented coordinates of decoded pixel x, y).
  int ux = 1, uy = 0, u0 = 0, vx = 0, vy = 1, v0 = 0;
  switch (m) {
  case 2:
    ux = 0, uy = -1, u0 = sh - 1, vx = 1, vy = 0, v0 = 0;
    break;
  case 3:
    ux = -1, uy = 0, u0 = sw - 1, vx = 0, vy = -1, v0 = sh - 1;
    break;
  case 4:
    ux = 0, uy = 1, u0 = 0, vx = -1, vy = 0, v0 = sw - 1;
    break;
  default:
    break;
  }
  if (orientation < 0) ux = -ux, uy = -uy, u0 = ow - 1 - u0;
  // Decoded pixels of the crop's two corner pixels: invert the map (it only permutes and flips
  // axes, so the corners' images span the source rectangle).
  auto inverse = [&](int u, int v, int& x, int& y) {
    // Solve u = ux*x + uy*y + u0, v = vx*x + vy*y + v0 with one nonzero coefficient per row.
    if (ux != 0) {
      x = (u - u0) * ux; // ux is +-1, so division equals multiplication
      y = (v - v0) * vy;
    } else {
      y = (u - u0) * uy;
      x = (v - v0) * vx;
    }
  };
  int xa, ya, xb, yb;
  inverse(crop.left(), crop.top(), xa, ya);
  inverse(crop.right(), crop.bottom(), xb, yb);
  PixelMap p;
  p.sx0 = std::min(xa, xb), p.sx1 = std::max(xa, xb) + 1;
  p.sy0 = std::min(ya, yb), p.sy1 = std::max(ya, yb) + 1;
  p.stepX = ptrdiff_t(vx) * stride + ux;
  p.stepY = ptrdiff_t(vy) * stride + uy;
  p.base = ptrdiff_t(v0 - crop.top()) * stride + (u0 - crop.left());
  return p;
}

// Adobe CMYK (stored inverted by nearly every writer) to BGRA.
void CmykToBgra(const unsigned char* in, quint32* out, int n, bool inverted) {
  for (int i = 0; i < n; ++i, in += 4) {
    int c = in[0], m = in[1], y = in[2], k = in[3];
    if (!inverted) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
    const int r = (c * k + 127) / 255, g = (m * k + 127) / 255, b = (y * k + 127) / 255;
    out[i] = 0xff000000u | quint32(r) << 16 | quint32(g) << 8 | quint32(b);
  }
}

// Writes pixel (i, r) of a batch of lines (rows lines of count pixels, rowPixels apart) to
// dst[i * stepX + r * stepY], where stepY is +1 or -1: each batch column becomes a run of
// consecutive pixels of one target line. 4 x 4 blocks are turned in vector registers.
void TransposeBatch(const quint32* src, size_t rowPixels, int rows, int count, quint32* dst,
                    ptrdiff_t stepX, ptrdiff_t stepY) {
  int i = 0;
#if defined(__SSE2__)
  const int rows4 = rows & ~3;
  for (; i + 4 <= count; i += 4) {
    quint32* d[4];
    for (int c = 0; c < 4; ++c)
      d[c] = dst + ptrdiff_t(i + c) * stepX;
    int r = 0;
    for (; r < rows4; r += 4) {
      const quint32* s = src + size_t(r) * rowPixels + i;
      const __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
      const __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + rowPixels));
      const __m128i a2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 2 * rowPixels));
      const __m128i a3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 3 * rowPixels));
      const __m128i t0 = _mm_unpacklo_epi32(a0, a1), t1 = _mm_unpacklo_epi32(a2, a3);
      const __m128i t2 = _mm_unpackhi_epi32(a0, a1), t3 = _mm_unpackhi_epi32(a2, a3);
      __m128i col[4] = {_mm_unpacklo_epi64(t0, t1), _mm_unpackhi_epi64(t0, t1),
                        _mm_unpacklo_epi64(t2, t3), _mm_unpackhi_epi64(t2, t3)};
      for (int c = 0; c < 4; ++c) {
        if (stepY == 1) {
          _mm_storeu_si128(reinterpret_cast<__m128i*>(d[c] + r), col[c]);
        } else {
          const __m128i rev = _mm_shuffle_epi32(col[c], _MM_SHUFFLE(0, 1, 2, 3));
          _mm_storeu_si128(reinterpret_cast<__m128i*>(d[c] - r - 3), rev);
        }
      }
    }
    for (; r < rows; ++r)
      for (int c = 0; c < 4; ++c)
        d[c][ptrdiff_t(r) * stepY] = src[size_t(r) * rowPixels + i + c];
  }
#endif
  for (; i < count; ++i) {
    quint32* d = dst + ptrdiff_t(i) * stepX;
    const quint32* s = src + i;
    for (int r = 0; r < rows; ++r)
      d[ptrdiff_t(r) * stepY] = s[size_t(r) * rowPixels];
  }
}

// Reduced decodes of progressive files read each coefficient's first scan and leave out the
// refinement scans that follow, which only add the lowest bits of coefficients already known.
// At a quarter of the size or less that precision hardly shows (50 dB against the whole file at
// the decode's own size on the package's 18 MP photo, 41 dB on fine synthetic detail; more once
// fitted), while the refinement scans take half the decoding time. At half the size fine detail
// would lose too much (35 dB), and scripts whose first scans are coarse are read whole.
constexpr int kFirstScansFromDenominator = 4;
constexpr int kCoarsestFirstScanBits = 2; // successive-approximation shift (Al) of a first scan

// Buffered-image mode only: consumes the scans up to the first refinement scan that comes after
// every component's every coefficient has had its first scan (or to the end of the file) and
// returns the number of the last scan to show.
int ConsumeFirstScans(jpeg_decompress_struct& cinfo) {
  quint64 covered[MAX_COMPONENTS] = {};
  bool coarse = false;
  // The scan whose header has just been read: true when the output should stop before it.
  auto stopBefore = [&] {
    if (cinfo.Ah != 0) {
      if (coarse) return false;
      for (int c = 0; c < cinfo.num_components && c < MAX_COMPONENTS; ++c)
        if (covered[c] != ~quint64(0)) return false;
      return true;
    }
    for (int i = 0; i < cinfo.comps_in_scan; ++i) {
      const int c = cinfo.cur_comp_info[i]->component_index;
      for (int k = cinfo.Ss; k <= cinfo.Se && k < 64; ++k)
        if (c >= 0 && c < MAX_COMPONENTS) covered[c] |= quint64(1) << k;
    }
    if (cinfo.Al > kCoarsestFirstScanBits) coarse = true;
    return false;
  };
  stopBefore(); // the first scan's header was read with the file's header
  for (;;) {
    const int r = jpeg_consume_input(&cinfo);
    if (r == JPEG_REACHED_EOI || r == JPEG_SUSPENDED) return cinfo.input_scan_number;
    if (r == JPEG_REACHED_SOS && stopBefore()) return cinfo.input_scan_number - 1;
  }
}

// Decodes at scaleNum / scaleDenom of the stored size (a multiple of 1/8 the codec supports).
QImage Decode(Decompressor& dec, int scaleNum, int scaleDenom, int orientation, QRect crop,
              QSize* fullSize, QImage* reuse = nullptr) {
  jpeg_decompress_struct& cinfo = dec.cinfo;
  if (fullSize) *fullSize = dec.StoredSize();
  const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
  cinfo.out_color_space = cmyk ? JCS_CMYK : kDecodeSpace;
  cinfo.scale_num = unsigned(scaleNum);
  cinfo.scale_denom = unsigned(scaleDenom);
  cinfo.dct_method = JDCT_ISLOW;
  if (!dec.Run([&] { jpeg_calc_output_dimensions(&cinfo); })) dec.Fail();
  const int sw = int(cinfo.output_width), sh = int(cinfo.output_height);
  const int m = std::abs(orientation);
  const QSize oriented = (m == 2 || m == 4) ? QSize(sh, sw) : QSize(sw, sh);
  const QRect all(QPoint(0, 0), oriented);
  crop = crop.isEmpty() ? all : crop.intersected(all);
  if (crop.isEmpty())
    throw EImageError(QStringLiteral("Cannot read picture \"%1\": the crop lies outside it.")
                          .arg(NameOf(dec.Path())));
  // A bitmap of the same size that nobody else holds is decoded into again: no new memory and
  // no fresh pages to fault in. Any other one is freed before the new one is allocated.
  QImage image;
  if (reuse && reuse->size() == crop.size() && reuse->format() == QImage::Format_RGB32 &&
      reuse->isDetached()) {
    image = std::move(*reuse);
    *reuse = QImage();
  } else {
    if (reuse) *reuse = QImage();
    image = QImage(crop.size(), QImage::Format_RGB32);
  }
  if (image.isNull())
    throw EImageError(QStringLiteral("Not enough memory for a picture of %1 x %2 pixels.")
                          .arg(crop.width())
                          .arg(crop.height()));
  quint32* const dst = reinterpret_cast<quint32*>(image.bits());
  const ptrdiff_t stride = image.bytesPerLine() / 4;
  const PixelMap map = MakePixelMap(sw, sh, orientation, crop, stride);
  const bool inverted = cinfo.saw_Adobe_marker;
  // CMYK goes through its embedded profile when it has a usable one, else a plain formula.
  std::shared_ptr<const TCmykConverter> cmykConverter;
  if (cmyk) cmykConverter = CmykConverterFor(dec.ColourProfile(), inverted);

  // Lines are read in batches; rotations write each batch as short contiguous runs per column.
  constexpr int kBatch = 64;
  const bool direct =
      !cmyk && map.stepX == 1 && map.stepY == stride && map.sx0 == 0 && map.sx1 == sw;
  std::vector<quint32> batch;
  std::vector<unsigned char> cmykRow;
  std::vector<JSAMPROW> rows(kBatch);
  const int rowPixels = sw; // before any column crop
  if (!direct) batch.resize(size_t(kBatch) * size_t(rowPixels));
  if (cmyk) cmykRow.resize(size_t(rowPixels) * 4);

  const bool firstScans =
      cinfo.progressive_mode &&
      int(cinfo.scale_num) * kFirstScansFromDenominator <= int(cinfo.scale_denom);
  std::vector<quint32> skipped;
  if (firstScans && map.sy0 > 0) skipped.resize(size_t(rowPixels) + 1);
  const bool ok = dec.Run([&] {
    cinfo.buffered_image = firstScans ? TRUE : FALSE;
    jpeg_start_decompress(&cinfo);
    if (firstScans) jpeg_start_output(&cinfo, ConsumeFirstScans(cinfo));
    // Only the columns and lines that the crop keeps are decoded (all of them in buffered-image
    // mode, where the lines outside are read and dropped).
    // Two more columns on the right keep the chroma upsampling at the crop's right edge the same
    // as in a full decode (the left edge is moved to a block boundary by the codec anyway).
    JDIMENSION xoff = 0;
    JDIMENSION width = JDIMENSION(sw);
    if (!firstScans && (map.sx0 > 0 || map.sx1 < sw)) {
      xoff = JDIMENSION(map.sx0);
      width = JDIMENSION(std::min(sw, map.sx1 + 2) - map.sx0);
      jpeg_crop_scanline(&cinfo, &xoff, &width);
    }
    const int firstCol = map.sx0 - int(xoff); // offset of sx0 inside a decoded line
    const int count = map.sx1 - map.sx0;
    if (map.sy0 > 0 && !firstScans) jpeg_skip_scanlines(&cinfo, JDIMENSION(map.sy0));
    for (int r = 0; firstScans && r < map.sy0; ++r) {
      JSAMPROW row = reinterpret_cast<JSAMPROW>(skipped.data());
      jpeg_read_scanlines(&cinfo, &row, 1);
    }
    int y = map.sy0;
    while (y < map.sy1) {
      const int want = std::min(kBatch, map.sy1 - y);
      int got = 0;
      if (direct) {
        for (int r = 0; r < want; ++r)
          rows[r] = reinterpret_cast<JSAMPROW>(dst + map.base + ptrdiff_t(y + r) * map.stepY +
                                               ptrdiff_t(map.sx0) * map.stepX);
        while (got < want)
          got += int(jpeg_read_scanlines(&cinfo, rows.data() + got, JDIMENSION(want - got)));
        y += want;
        continue;
      }
      if (cmyk) {
        for (int r = 0; r < want; ++r) {
          JSAMPROW row = cmykRow.data();
          while (jpeg_read_scanlines(&cinfo, &row, 1) != 1) {
          }
          quint32* line = batch.data() + size_t(r) * rowPixels;
          if (cmykConverter)
            cmykConverter->ConvertLine(cmykRow.data(), line, int(width));
          else
            CmykToBgra(cmykRow.data(), line, int(width), inverted);
        }
      } else {
        for (int r = 0; r < want; ++r)
          rows[r] = reinterpret_cast<JSAMPROW>(batch.data() + size_t(r) * rowPixels);
        while (got < want)
          got += int(jpeg_read_scanlines(&cinfo, rows.data() + got, JDIMENSION(want - got)));
      }
      quint32* const start =
          dst + map.base + ptrdiff_t(y) * map.stepY + ptrdiff_t(map.sx0) * map.stepX;
      if (map.stepX == 1 || map.stepX == -1) {
        for (int r = 0; r < want; ++r) {
          const quint32* s = batch.data() + size_t(r) * rowPixels + firstCol;
          quint32* d = start + ptrdiff_t(r) * map.stepY;
          if (map.stepX == 1)
            std::memcpy(d, s, size_t(count) * 4);
          else
            for (int i = 0; i < count; ++i)
              d[-i] = s[i];
        }
      } else {
        // Column-wise: decoded pixel i of each batch line lands in one target line, in
        // consecutive (stepY = +-1) positions.
        TransposeBatch(batch.data() + firstCol, size_t(rowPixels), want, count, start, map.stepX,
                       map.stepY);
      }
      y += want;
    }
    if (map.sy1 == sh && !firstScans)
      jpeg_finish_decompress(&cinfo);
    else
      jpeg_abort_decompress(&cinfo); // the lines below the crop, or the scans left out
  });
  if (!ok) dec.Fail();
  return image;
}

} // namespace
} // namespace jpeg_codec

QImage DecodeJpegFile(const QString& path, int denominator, QSize* fullSize) {
  jpeg_codec::Decompressor dec;
  dec.OpenFile(path, true);
  return jpeg_codec::Decode(dec, 1, jpeg_codec::CheckedDenominator(denominator), 1, QRect(),
                            fullSize);
}

QImage DecodeJpegData(const QByteArray& data, int denominator, QSize* fullSize,
                      const QString& name) {
  jpeg_codec::Decompressor dec;
  dec.OpenData(data, name);
  return jpeg_codec::Decode(dec, 1, jpeg_codec::CheckedDenominator(denominator), 1, QRect(),
                            fullSize);
}

QImage DecodeJpegFileTransformed(const QString& path, int denominator, int orientation,
                                 const QRect& crop, QSize* fullSize, QImage* reuse) {
  jpeg_codec::Decompressor dec;
  dec.OpenFile(path, true);
  return jpeg_codec::Decode(dec, 1, jpeg_codec::CheckedDenominator(denominator), orientation, crop,
                            fullSize, reuse);
}

QImage DecodeJpegDataTransformed(const QByteArray& data, const QString& name, int denominator,
                                 int orientation, const QRect& crop, QSize* fullSize,
                                 QImage* reuse) {
  jpeg_codec::Decompressor dec;
  dec.OpenData(data, name);
  return jpeg_codec::Decode(dec, 1, jpeg_codec::CheckedDenominator(denominator), orientation, crop,
                            fullSize, reuse);
}

QImage DecodeJpegDataEighths(const QByteArray& data, const QString& name, int eighths,
                             int orientation, QSize* fullSize) {
  jpeg_codec::Decompressor dec;
  dec.OpenData(data, name);
  return jpeg_codec::Decode(dec, jpeg_codec::CheckedEighths(eighths), 8, orientation, QRect(),
                            fullSize);
}
