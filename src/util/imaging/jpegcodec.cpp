// The codec's errors and warnings, the decoder's source and header, what a header says (sizes,
// layout, the sizes of scaled decodes) and the decode progress of a thread.
#include "util/imaging/jpegcodec.h"

#include "util/helpers.h"
#include "util/imaging/exif.h"
#include "util/imaging/jpeglibobjects.h"
#include "util/safefile.h"

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace jpeg_codec {
namespace {

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

// The progress report of the innermost TJpegDecodeProgress on this thread, if any.
thread_local const std::function<void(int)>* t_decodeProgress = nullptr;

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

} // namespace

void InitErrors(ErrorManager& err) {
  jpeg_std_error(&err.pub);
  err.pub.error_exit = OnJpegError;
  err.pub.emit_message = OnJpegMessage;
  err.message[0] = '\0';
}

QString NameOf(const QString& path) {
  return path.isEmpty() ? QStringLiteral("(memory)") : path;
}

[[noreturn]] void ThrowDecode(const QString& path, const ErrorManager& err) {
  throw EImageError(
      QStringLiteral("Cannot read picture \"%1\": not a JPEG file or corrupt data (%2).")
          .arg(NameOf(path), QString::fromLocal8Bit(err.message)));
}

Decompressor::Decompressor() {
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

Decompressor::~Decompressor() {
  if (created_) jpeg_destroy_decompress(&cinfo);
  if (file_) std::fclose(file_);
}

void Decompressor::OpenFile(const QString& path, bool forDecoding) {
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

void Decompressor::OpenData(const QByteArray& data, const QString& name) {
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

QByteArray Decompressor::ColourProfile() const {
  const TCameraMetadata m =
      memory_.isEmpty() ? ReadCameraMetadata(path_, TMetadataParts::ExifAndColourProfile)
                        : ParseCameraMetadata(memory_, TMetadataParts::ExifAndColourProfile);
  return m.ColourProfile;
}

void Decompressor::ReadHeader() {
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

} // namespace jpeg_codec

QSize ReadJpegSize(const QString& path) {
  jpeg_codec::Decompressor dec;
  dec.OpenFile(path, false);
  return dec.StoredSize();
}

TJpegLayout ReadJpegLayout(const QString& path) {
  jpeg_codec::Decompressor dec;
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
  jpeg_codec::Decompressor dec;
  dec.OpenData(data, name);
  return dec.StoredSize();
}

bool JpegSizeFitsData(QSize size, qint64 bytes) {
  return qint64(size.width()) * size.height() <= bytes * kMostPixelsPerJpegByte;
}

QSize JpegScaledSize(QSize fullSize, int denominator) {
  const int d = jpeg_codec::CheckedDenominator(denominator);
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
  const qint64 m = jpeg_codec::CheckedEighths(eighths);
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
  return jpeg_codec::t_warnings;
}

TJpegDecodeProgress::TJpegDecodeProgress(std::function<void(int permille)> report)
    : report_(std::move(report)), previous_(jpeg_codec::t_decodeProgress) {
  jpeg_codec::t_decodeProgress = report_ ? &report_ : nullptr;
}

TJpegDecodeProgress::~TJpegDecodeProgress() {
  jpeg_codec::t_decodeProgress = previous_;
}
