#pragma once
// libjpeg-turbo behind RAII objects, shared by the decoder (jpegdecoder.cpp), the encoder
// (jpegencoder.cpp) and the header reading (jpegcodec.cpp). The library reports fatal errors
// through a callback that must not return; it longjmps back into Guarded(), the only place with
// setjmp. Everything run inside Guarded() is plain C-style code (no objects with destructors), so
// nothing is skipped by the jump; the error is turned into an exception only after Guarded() has
// returned.
//
// Threads: as jpegcodec.h; every object belongs to the thread that made it.
#include "util/imaging/imageerror.h"

#include <QByteArray>
#include <QSize>
#include <QString>
#include <QtGlobal>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <functional>

#include <jpeglib.h>

namespace jpeg_codec {

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

void InitErrors(ErrorManager& err);

// Runs f with libjpeg errors caught. f must create no objects with destructors.
template <class F> bool Guarded(ErrorManager& err, F&& f) {
  if (setjmp(err.jump)) return false;
  f();
  return true;
}

QString NameOf(const QString& path);
[[noreturn]] void ThrowDecode(const QString& path, const ErrorManager& err);

// The codec's progress hook, with what it reports to.
struct ProgressMonitor {
  jpeg_progress_mgr pub{}; // first: the codec hands back a pointer to it
  const std::function<void(int)>* report = nullptr;
  int reported = 0;
};

class Decompressor {
public:
  Decompressor();
  ~Decompressor();
  Decompressor(const Decompressor&) = delete;
  Decompressor& operator=(const Decompressor&) = delete;

  // Opens the source and reads the header. For a whole decode the file is read into memory
  // first (up to a size no photograph reaches): the codec's quick entropy decoder runs only
  // while its input buffer holds enough bytes, which a stream's small buffer often does not.
  void OpenFile(const QString& path, bool forDecoding);
  // name: the file the bytes come from, for error texts (empty: "(memory)").
  void OpenData(const QByteArray& data, const QString& name = QString());
  // The embedded colour profile, read from the header segments again (only CMYK pictures need
  // it while decoding, so the codec is not asked to keep segments for every picture).
  QByteArray ColourProfile() const;

  bool Run(auto&& f) { return Guarded(err_, f); }
  [[noreturn]] void Fail() const { ThrowDecode(path_, err_); }
  const QString& Path() const { return path_; }
  QSize StoredSize() const { return QSize(int(cinfo.image_width), int(cinfo.image_height)); }

  jpeg_decompress_struct cinfo{};

private:
  QByteArray memory_; // the source when it is in memory (shared, not copied)
  ProgressMonitor monitor_;
  void ReadHeader();

  ErrorManager err_;
  qint64 bytes_ = 0; // size of the whole file or buffer
  FILE* file_ = nullptr;
  QByteArray data_; // the whole file, when read into memory
  QString path_;
  bool created_ = false;
};

inline int CheckedDenominator(int d) {
  return (d == 2 || d == 4 || d == 8) ? d : 1;
}

inline int CheckedEighths(int m) {
  return std::clamp(m, 1, 8);
}

} // namespace jpeg_codec
