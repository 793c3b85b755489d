#pragma once
// JPEG decoding and encoding on top of libjpeg-turbo.
//
// Bitmaps are QImage::Format_RGB32 (decoded straight into it, without a conversion pass).
// Decoding can use the codec's DCT scaling (1/1, 1/2, 1/4, 1/8), which costs far less than a
// full decode followed by a reduction. Every failure raises EImageError with a readable text;
// the library's own error handling never ends the program.
//
// Threads: every function may be called from any thread; calls share no state.
#include "util/imaging/imageerror.h"

#include <QByteArray>
#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>
#include <functional>

// Size in pixels of the JPEG file (as stored, before any orientation). Raises EImageError.
QSize ReadJpegSize(const QString& path);
QSize ReadJpegSize(const QByteArray& data, const QString& name = QString());

// What a decode of the file holds in memory besides the bitmap it fills, from its header.
struct TJpegLayout {
  QSize Size;                  // stored size
  bool Progressive = false;    // progressive files keep every coefficient until the last scan
  bool Cmyk = false;           // CMYK or YCCK: converted line by line
  qint64 CoefficientBytes = 0; // the coefficient buffer of a progressive file (any DCT scale)
};
// Raises EImageError like ReadJpegSize.
TJpegLayout ReadJpegLayout(const QString& path);

// A JPEG whose header promises far more pixels than its data can hold is refused before anything
// is allocated: the decoder would fill the missing data with grey and take the memory of the
// whole promised picture. Every block of the component with the finest sampling covers at most
// 8 x 32 pixels, and a Huffman-coded file spends at least one bit on each such block (its DC
// code), so a real file holds at least one byte per 2048 pixels. Twice that margin is allowed:
// one byte per 4096 pixels (a 24-megapixel photograph needs more than 6 KB).
inline constexpr qint64 kMostPixelsPerJpegByte = 4096;
// True when a file of that many bytes can hold a picture of that size by the rule above.
bool JpegSizeFitsData(QSize size, qint64 bytes);

// Size of a picture of the given full size when decoded at 1/denominator (denominator 1, 2, 4
// or 8): each dimension rounded up, as the codec does.
QSize JpegScaledSize(QSize fullSize, int denominator);

// The largest denominator (8, 4, 2 or 1) whose scaled decode is still at least minWidth wide
// and minHeight high.
int JpegScaleForMinimumSize(QSize fullSize, int minWidth, int minHeight);

// Finer steps for a screen: the codec also decodes at eighths, m/8 for m from 1 to 8 (m = 4 is
// 1/2). Size at m/8: each dimension rounded up, as the codec does.
QSize JpegEighthsScaledSize(QSize fullSize, int eighths);
// The smallest m (1..8) whose decode at m/8 is still at least minWidth wide and minHeight high;
// 8 when not even the whole picture is.
int JpegEighthsForMinimumSize(QSize fullSize, int minWidth, int minHeight);

// The largest denominator whose scaled decode of the region (given in full-size pixels, a part
// of the picture) still holds at least minPixels pixels.
int JpegScaleForMinimumPixels(QSize regionSize, qint64 minPixels);

// Decodes a whole JPEG file (or memory buffer) into an RGB32 bitmap at 1/denominator of its
// size. When fullSize is given it receives the stored size of the picture. At a quarter of the
// size or less, a progressive file's refinement scans are left out when its first scans are
// fine enough: their extra precision does not show at that size, and they take half the
// decoding time.
QImage DecodeJpegFile(const QString& path, int denominator = 1, QSize* fullSize = nullptr);
// name: the file the bytes were read from, which error texts name.
QImage DecodeJpegData(const QByteArray& data, int denominator = 1, QSize* fullSize = nullptr,
                      const QString& name = QString());

// Decodes a JPEG file held in memory at eighths/8 (1..8) of its size, turned by orientation
// while the lines arrive (see DecodeJpegFileTransformed). Scales between the powers of two cost
// the codec a slower inverse transform per block but give a smaller bitmap, which is what a
// screen-sized view needs.
QImage DecodeJpegDataEighths(const QByteArray& data, const QString& name, int eighths,
                             int orientation, QSize* fullSize = nullptr);

// Decodes a JPEG file at 1/denominator and applies an orientation and a crop while the lines
// arrive, so that no second full-size bitmap is ever needed.
//   orientation: the signed code 1..4 (see ApplyOrientation in imaging.h)
//   crop: the rectangle to keep, in pixels of the *scaled* and oriented picture; an empty rect
//         keeps everything. It must lie inside the scaled, oriented picture.
// fullSize receives the stored (unoriented, unscaled) size of the picture.
// reuse (optional): a bitmap whose memory may be taken over when it has the result's size and
// is not shared; it is emptied in any case, before the new bitmap is allocated.
QImage DecodeJpegFileTransformed(const QString& path, int denominator, int orientation,
                                 const QRect& crop, QSize* fullSize = nullptr,
                                 QImage* reuse = nullptr);
// Same for a file already read into memory. This is the faster way: the codec's quick entropy
// decoder runs only while its input buffer holds a whole block group's worth of bytes, which a
// stream's small buffer often does not. name is the file's path, for error texts.
QImage DecodeJpegDataTransformed(const QByteArray& data, const QString& name, int denominator,
                                 int orientation, const QRect& crop, QSize* fullSize = nullptr,
                                 QImage* reuse = nullptr);

// While an object of this class lives, every decode on its thread reports how far it has come,
// in thousandths of that decode, as the codec moves on (in steps of at least 1 %). A large
// original takes far longer to decode than a progress display may stand still. report must not
// throw. Scopes nest: the innermost one reports.
class TJpegDecodeProgress {
public:
  explicit TJpegDecodeProgress(std::function<void(int permille)> report);
  ~TJpegDecodeProgress();
  TJpegDecodeProgress(const TJpegDecodeProgress&) = delete;
  TJpegDecodeProgress& operator=(const TJpegDecodeProgress&) = delete;

private:
  std::function<void(int)> report_;
  const std::function<void(int)>* previous_;
};

// Number of warnings (a file that ends early, corrupt data that the decoder passes over) the
// codec has met on the calling thread so far; the difference across a decode tells whether that
// decode was clean.
int JpegWarningCount();
// From this quality on, colour is stored at full resolution (4:4:4); below it at half the
// resolution in both directions (4:2:0), which makes smaller files.
inline constexpr int kFullChromaQuality = 90;

// How the colour is stored: as the quality says (above), at half the resolution in both
// directions (4:2:0), or at full resolution (4:4:4).
enum class TJpegChroma { ByQuality, Half, Full };

// Encodes an RGB32 (or any other format, converted first) bitmap as a baseline JPEG at the
// quality 1..100 with the colour stored as chroma says. The same bitmap and settings always give
// the same bytes. A quality outside that range raises EImageRangeError.
QByteArray EncodeJpeg(const QImage& bitmap, int quality,
                      TJpegChroma chroma = TJpegChroma::ByQuality);

// Encodes and writes the file through a temporary in the same folder that then replaces the
// target, so a failed or interrupted write never leaves a half-written file. The quality is
// checked before anything is touched.
void EncodeJpegFile(const QImage& bitmap, int quality, const QString& path);
