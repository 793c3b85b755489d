// libjpeg-turbo behind RAII objects. The library reports fatal errors through a callback that
// must not return; it longjmps back into Guarded(), the only place with setjmp. Everything run
// inside Guarded() is plain C-style code (no objects with destructors), so nothing is skipped by
// the jump; the error is turned into an exception only after Guarded() has returned.
#include "util/imaging/jpegcodec.h"

#include "util/helpers.h"
#include "util/imaging/colour.h"
#include "util/imaging/exif.h"
#include "util/safefile.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <jerror.h>
#include <jpeglib.h>

namespace {

#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
// QImage::Format_RGB32 is 0xffRRGGBB per pixel: bytes B, G, R, 0xff in memory. The decoder uses
// the BGRA layout because only it promises 0xff in the fourth byte, which Format_RGB32 requires.
constexpr J_COLOR_SPACE kDecodeSpace = JCS_EXT_BGRA;
constexpr J_COLOR_SPACE kEncodeSpace = JCS_EXT_BGRX;
#else
constexpr J_COLOR_SPACE kDecodeSpace = JCS_EXT_ARGB;
constexpr J_COLOR_SPACE kEncodeSpace = JCS_EXT_XRGB;
#endif

struct ErrorManager {
  jpeg_error_mgr pub;
  jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

extern "C" void OnJpegError(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  longjmp(err->jump, 1);
}

// Warnings (for example a file that ends early) keep the decode going, as most viewers do; the
// missing part shows grey. Nothing is printed.
thread_local int t_warnings = 0;

extern "C" void OnJpegMessage(j_common_ptr cinfo, int level) {
  if (level < 0) {
    cinfo->err->num_warnings++;
    ++t_warnings;
  }
}

void InitErrors(ErrorManager& err) {
  jpeg_std_error(&err.pub);
  err.pub.error_exit = OnJpegError;
  err.pub.emit_message = OnJpegMessage;
  err.message[0] = '\0';
}

// Runs f with libjpeg errors caught. f must create no objects with destructors.
template <class F> bool Guarded(ErrorManager& err, F&& f) {
  if (setjmp(err.jump)) return false;
  f();
  return true;
}

QString NameOf(const QString& path) {
  return path.isEmpty() ? QStringLiteral("(memory)") : path;
}

[[noreturn]] void ThrowDecode(const QString& path, const ErrorManager& err) {
  throw EImageError(
      QStringLiteral("Cannot read picture \"%1\": not a JPEG file or corrupt data (%2).")
          .arg(NameOf(path), QString::fromLocal8Bit(err.message)));
}

// The progress report of the innermost TJpegDecodeProgress on this thread, if any.
thread_local const std::function<void(int)>* t_decodeProgress = nullptr;

// The codec's progress hook, with what it reports to.
struct ProgressMonitor {
  jpeg_progress_mgr pub{}; // first: the codec hands back a pointer to it
  const std::function<void(int)>* report = nullptr;
  int reported = 0;
};

void OnDecodeProgress(j_common_ptr cinfo) {
  auto* m = reinterpret_cast<ProgressMonitor*>(cinfo->progress);
  const int passes = std::max(1, m->pub.total_passes);
  double done = m->pub.completed_passes;
  if (m->pub.pass_limit > 0)
    done += std::clamp(double(m->pub.pass_counter) / double(m->pub.pass_limit), 0.0, 1.0);
  const int permille = std::clamp(int(done * 1000.0 / passes), 0, 1000);
  if (permille < m->reported + 10) return;
  m->reported = permille;
  try {
    (*m->report)(permille);
  } catch (...) {
    // A report must not throw; if it does, the decode goes on without it.
  }
}

class Decompressor {
public:
  Decompressor() {
    InitErrors(err_);
    cinfo.err = &err_.pub;
    if (!Guarded(err_, [&] { jpeg_create_decompress(&cinfo); }))
      throw EImageError(QStringLiteral("Cannot start the JPEG decoder: %1")
                            .arg(QString::fromLocal8Bit(err_.message)));
    created_ = true;
    if (t_decodeProgress) {
      monitor_.pub.progress_monitor = &OnDecodeProgress;
      monitor_.report = t_decodeProgress;
      cinfo.progress = &monitor_.pub;
    }
  }
  ~Decompressor() {
    if (created_) jpeg_destroy_decompress(&cinfo);
    if (file_) std::fclose(file_);
  }
  Decompressor(const Decompressor&) = delete;
  Decompressor& operator=(const Decompressor&) = delete;

  // Opens the source and reads the header. For a whole decode the file is read into memory
  // first (up to a size no photograph reaches): the codec's quick entropy decoder runs only
  // while its input buffer holds enough bytes, which a stream's small buffer often does not.
  void OpenFile(const QString& path, bool forDecoding) {
    path_ = path;
    QString problem;
    const int fd = OpenRegularFile(path, &problem);
    if (fd < 0) throw EImageError(problem);
    if (forDecoding && ReadWholeFile(path, data_)) {
      ::close(fd);
      bytes_ = data_.size();
      memory_ = data_;
      jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(data_.constData()),
                   static_cast<unsigned long>(data_.size()));
      ReadHeader();
      return;
    }
    file_ = ::fdopen(fd, "rb");
    if (!file_) {
      ::close(fd);
      throw EImageError(QStringLiteral("Cannot open file \"%1\": %2.")
                            .arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    }
    struct stat st;
    bytes_ = ::fstat(::fileno(file_), &st) == 0 ? qint64(st.st_size) : 0;
    jpeg_stdio_src(&cinfo, file_);
    ReadHeader();
  }
  // name: the file the bytes come from, for error texts (empty: "(memory)").
  void OpenData(const QByteArray& data, const QString& name = QString()) {
    path_ = name;
    if (data.isEmpty())
      throw EImageError(QStringLiteral("Cannot read picture %1: no data.")
                            .arg(name.isEmpty() ? QStringLiteral("(memory)")
                                                : QLatin1Char('"') + name + QLatin1Char('"')));
    bytes_ = data.size();
    memory_ = data;
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(data.constData()),
                 static_cast<unsigned long>(data.size()));
    ReadHeader();
  }
  // The embedded colour profile, read from the header segments again (only CMYK pictures need
  // it while decoding, so the codec is not asked to keep segments for every picture).
  QByteArray ColourProfile() const {
    const TCameraMetadata m =
        memory_.isEmpty() ? ReadCameraMetadata(path_, TMetadataParts::ExifAndColourProfile)
                          : ParseCameraMetadata(memory_, TMetadataParts::ExifAndColourProfile);
    return m.ColourProfile;
  }

  bool Run(auto&& f) { return Guarded(err_, f); }
  [[noreturn]] void Fail() const { ThrowDecode(path_, err_); }
  const QString& Path() const { return path_; }
  QSize StoredSize() const { return QSize(int(cinfo.image_width), int(cinfo.image_height)); }

  jpeg_decompress_struct cinfo{};

private:
  QByteArray memory_; // the source when it is in memory (shared, not copied)
  ProgressMonitor monitor_;
  void ReadHeader() {
    if (!Guarded(err_, [&] { jpeg_read_header(&cinfo, TRUE); })) Fail();
    if (cinfo.image_width == 0 || cinfo.image_height == 0 || cinfo.image_width > 65500 ||
        cinfo.image_height > 65500)
      throw EImageError(QStringLiteral("Cannot read picture \"%1\": invalid size %2 x %3.")
                            .arg(NameOf(path_))
                            .arg(cinfo.image_width)
                            .arg(cinfo.image_height));
    if (!JpegSizeFitsData(StoredSize(), bytes_))
      throw EImageError(QStringLiteral("Cannot read picture \"%1\": its header claims %2 x %3 "
                                       "pixels, far more than its %4 bytes can hold.")
                            .arg(NameOf(path_))
                            .arg(cinfo.image_width)
                            .arg(cinfo.image_height)
                            .arg(bytes_));
  }

  ErrorManager err_;
  qint64 bytes_ = 0; // size of the whole file or buffer
  FILE* file_ = nullptr;
  QByteArray data_; // the whole file, when read into memory
  QString path_;
  bool created_ = false;
};

int CheckedDenominator(int d) {
  return (d == 2 || d == 4 || d == 8) ? d : 1;
}

int CheckedEighths(int m) {
  return std::clamp(m, 1, 8);
}

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

QSize ReadJpegSize(const QString& path) {
  Decompressor dec;
  dec.OpenFile(path, false);
  return dec.StoredSize();
}

TJpegLayout ReadJpegLayout(const QString& path) {
  Decompressor dec;
  dec.OpenFile(path, false);
  const jpeg_decompress_struct& cinfo = dec.cinfo;
  TJpegLayout layout;
  layout.Size = dec.StoredSize();
  layout.Progressive = cinfo.progressive_mode;
  layout.Cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
  if (layout.Progressive) {
    // One block of 64 coefficients per 8 x 8 samples of each component, its rows and columns
    // padded to the component's sampling factors (as the codec allocates them).
    for (int c = 0; c < cinfo.num_components; ++c) {
      const jpeg_component_info& comp = cinfo.comp_info[c];
      const qint64 h = std::max(1, comp.h_samp_factor), v = std::max(1, comp.v_samp_factor);
      const qint64 columns = (qint64(comp.width_in_blocks) + h - 1) / h * h;
      const qint64 rows = (qint64(comp.height_in_blocks) + v - 1) / v * v;
      layout.CoefficientBytes += columns * rows * qint64(sizeof(JBLOCK));
    }
  }
  return layout;
}

QSize ReadJpegSize(const QByteArray& data, const QString& name) {
  Decompressor dec;
  dec.OpenData(data, name);
  return dec.StoredSize();
}

bool JpegSizeFitsData(QSize size, qint64 bytes) {
  return qint64(size.width()) * size.height() <= bytes * kMostPixelsPerJpegByte;
}

QSize JpegScaledSize(QSize fullSize, int denominator) {
  const int d = CheckedDenominator(denominator);
  return QSize((fullSize.width() + d - 1) / d, (fullSize.height() + d - 1) / d);
}

int JpegScaleForMinimumSize(QSize fullSize, int minWidth, int minHeight) {
  for (int d : {8, 4, 2}) {
    const QSize s = JpegScaledSize(fullSize, d);
    if (s.width() >= minWidth && s.height() >= minHeight) return d;
  }
  return 1;
}

QSize JpegEighthsScaledSize(QSize fullSize, int eighths) {
  const qint64 m = CheckedEighths(eighths);
  return QSize(int((fullSize.width() * m + 7) / 8), int((fullSize.height() * m + 7) / 8));
}

int JpegEighthsForMinimumSize(QSize fullSize, int minWidth, int minHeight) {
  for (int m = 1; m < 8; ++m) {
    const QSize s = JpegEighthsScaledSize(fullSize, m);
    if (s.width() >= minWidth && s.height() >= minHeight) return m;
  }
  return 8;
}

int JpegScaleForMinimumPixels(QSize regionSize, qint64 minPixels) {
  for (int d : {8, 4, 2}) {
    // Whole scaled pixels only: a conservative count.
    const qint64 pixels = qint64(regionSize.width() / d) * qint64(regionSize.height() / d);
    if (pixels >= minPixels) return d;
  }
  return 1;
}

int JpegWarningCount() {
  return t_warnings;
}

QImage DecodeJpegFile(const QString& path, int denominator, QSize* fullSize) {
  Decompressor dec;
  dec.OpenFile(path, true);
  return Decode(dec, 1, CheckedDenominator(denominator), 1, QRect(), fullSize);
}

QImage DecodeJpegData(const QByteArray& data, int denominator, QSize* fullSize,
                      const QString& name) {
  Decompressor dec;
  dec.OpenData(data, name);
  return Decode(dec, 1, CheckedDenominator(denominator), 1, QRect(), fullSize);
}

QImage DecodeJpegFileTransformed(const QString& path, int denominator, int orientation,
                                 const QRect& crop, QSize* fullSize, QImage* reuse) {
  Decompressor dec;
  dec.OpenFile(path, true);
  return Decode(dec, 1, CheckedDenominator(denominator), orientation, crop, fullSize, reuse);
}

QImage DecodeJpegDataTransformed(const QByteArray& data, const QString& name, int denominator,
                                 int orientation, const QRect& crop, QSize* fullSize,
                                 QImage* reuse) {
  Decompressor dec;
  dec.OpenData(data, name);
  return Decode(dec, 1, CheckedDenominator(denominator), orientation, crop, fullSize, reuse);
}

QImage DecodeJpegDataEighths(const QByteArray& data, const QString& name, int eighths,
                             int orientation, QSize* fullSize) {
  Decompressor dec;
  dec.OpenData(data, name);
  return Decode(dec, CheckedEighths(eighths), 8, orientation, QRect(), fullSize);
}

QByteArray EncodeJpeg(const QImage& bitmap, int quality, TJpegChroma chroma) {
  CheckQuality(quality);
  if (bitmap.isNull() || bitmap.width() <= 0 || bitmap.height() <= 0)
    throw EImageError(QStringLiteral("Cannot encode an empty picture as JPEG."));
  if (bitmap.width() > 65500 || bitmap.height() > 65500)
    throw EImageError(
        QStringLiteral("Cannot encode a picture of %1 x %2 pixels as JPEG (too large).")
            .arg(bitmap.width())
            .arg(bitmap.height()));
  Compressor enc;
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
  CheckQuality(quality);
  const QByteArray data = EncodeJpeg(bitmap, quality);
  const QString failure = WriteFileReplacing(path, data);
  if (!failure.isEmpty())
    throw EImageError(QStringLiteral("Cannot write file \"%1\": %2.").arg(path, failure));
}

TJpegDecodeProgress::TJpegDecodeProgress(std::function<void(int permille)> report)
    : report_(std::move(report)), previous_(t_decodeProgress) {
  t_decodeProgress = report_ ? &report_ : nullptr;
}

TJpegDecodeProgress::~TJpegDecodeProgress() {
  t_decodeProgress = previous_;
}
