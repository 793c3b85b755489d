// Separable resampling of RGB32 bitmaps.
//
// Per axis, a table holds for every output pixel the first source pixel and the normalised
// weights of the source pixels it takes. Source lines are resampled horizontally once each, as
// the vertical pass first needs them, into a small ring of float lines; each output line is then
// the weighted sum of a few ring lines. All loops are plain arrays of floats with the four
// channels of a pixel side by side, which the compiler turns into vector code.
#include "util/imaging/resample.h"
#include "util/imaging/resampledetail.h"

#include "util/imaging/imageerror.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <vector>

namespace resample_detail {

std::atomic<int> g_mostVectors{int(TResampleVectors::Avx512)};

#if defined(LUMENFOLD_WIDE_PATH)
// The widest vectors this processor has: AVX2 with FMA takes two taps (or eight channel values)
// per instruction, AVX-512 four taps (or sixteen values).
TResampleVectors ProcessorVectors() {
  static const TResampleVectors most =
      !(__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"))
          ? TResampleVectors::Portable
      : __builtin_cpu_supports("avx512f") ? TResampleVectors::Avx512
                                          : TResampleVectors::Avx2;
  return most;
}

#else
TResampleVectors ProcessorVectors() {
  return TResampleVectors::Portable;
}

#endif

TResampleVectors VectorsInUse() {
  return TResampleVectors(
      std::min(int(ProcessorVectors()), g_mostVectors.load(std::memory_order_relaxed)));
}

bool UseWidePath() {
  return VectorsInUse() != TResampleVectors::Portable;
}

thread_local Scratch t_scratch;

template <class T> void Free(std::vector<T>& v) {
  std::vector<T>().swap(v);
}

// Output pixels of a line that the wide path resamples as one part (see ResampleRgb32).
constexpr int kPartPixels = 64;

void ResampleRgb32(const QImage& src, const QRectF& window, QImage& dst, TResizeFilter filter,
                   bool exact) {
  Scratch& s = t_scratch;
  const int outW = dst.width(), outH = dst.height();
  const int xlo = std::max(0, int(std::floor(window.left())));
  const int xhi = std::min(src.width() - 1, int(std::ceil(window.right())) - 1);
  const int ylo = std::max(0, int(std::floor(window.top())));
  const int yhi = std::min(src.height() - 1, int(std::ceil(window.bottom())) - 1);

  // A reduction by 4 or more first averages k x k blocks, leaving at least a factor of 2 to the
  // kernel: the kernel then reads k * k times fewer pixels, and the result stays the same to the
  // eye (and within a few grey levels).
  const int k = filter == rfNearest || exact
                    ? 1
                    : int(std::floor(std::min(window.width() / outW, window.height() / outH) / 2));
  if (k >= 2) {
    const QRect px(xlo, ylo, xhi - xlo + 1, yhi - ylo + 1);
    const int sw = (px.width() + k - 1) / k, sh = (px.height() + k - 1) / k;
    s.shrunk.resize(size_t(sw) * size_t(sh));
    BoxShrink(src, px, k, s.shrunk.data(), sw, sh, s.sums);
    const QImage small(reinterpret_cast<const uchar*>(s.shrunk.data()), sw, sh, sw * 4,
                       QImage::Format_RGB32);
    // What is left is a reduction by less than 3: no second shrink, so s.shrunk stays put.
    ResampleRgb32(small,
                  QRectF((window.left() - xlo) / k, (window.top() - ylo) / k, window.width() / k,
                         window.height() / k),
                  dst, filter, true);
    return;
  }
  AxisWeights& wx = WeightsFor(s, window.left(), window.width(), outW, xlo, xhi, filter);
  AxisWeights& wy = WeightsFor(s, window.top(), window.height(), outH, ylo, yhi, filter);

  if (filter == rfNearest) {
    for (int y = 0; y < outH; ++y) {
      const quint32* sl = reinterpret_cast<const quint32*>(src.constScanLine(wy.first[size_t(y)]));
      quint32* dl = reinterpret_cast<quint32*>(dst.scanLine(y));
      const int* ix = wx.first.data();
      for (int x = 0; x < outW; ++x)
        dl[x] = sl[ix[x]] | 0xff000000u;
    }
    return;
  }

  const size_t lineFloats = size_t(outW) * 4;
  const int taps = wy.taps;
  const TResampleVectors vectors = VectorsInUse();
  const bool wide = vectors != TResampleVectors::Portable;
  // The ring holds every line an output line takes (on the wide path: the lines two output
  // lines take), and the wide path's lines made ahead.
  const int cap = wide ? 2 * taps + kLinesAtOnce : taps;
  // The wide table is made once per horizontal table and vector width (span stays 0 until then).
  if (wide && (wx.span == 0 || wx.spanVectors != vectors)) {
    AxisWeights& a = wx;
    a.span = 0;
    for (int o = 0; o < outW; ++o)
      a.span = std::max(a.span, a.count[size_t(o)]);
    const int multiple = vectors == TResampleVectors::Avx512 ? 4 : 2;
    a.span = (a.span + multiple - 1) / multiple * multiple;
    a.spanVectors = vectors;
    a.w4.assign(size_t(outW) * size_t(a.span) * 4, 0.0f);
    for (int o = 0; o < outW; ++o)
      for (int i = 0; i < a.count[size_t(o)]; ++i)
        std::fill_n(a.w4.begin() + (ptrdiff_t(o) * a.span + i) * 4, 4,
                    a.w[size_t(o) * size_t(a.taps) + size_t(i)]);
  }
  // The wide path converts and resamples its lines a part at a time (kPartPixels output
  // pixels), so that the converted source stays in the fastest cache: the pixels a part reads
  // (with those beyond the window's edge, weighted 0), the most any part reads.
  std::vector<int>& partFirst = s.partFirst;
  size_t lineStride = size_t(xhi - xlo + 1) * 4;
  if (wide) {
    const int parts = (outW + kPartPixels - 1) / kPartPixels;
    partFirst.assign(size_t(parts) * 2, 0);
    size_t most = 0;
    for (int p = 0; p < parts; ++p) {
      int lo = xhi + 1, end = 0;
      for (int o = p * kPartPixels; o < std::min(outW, (p + 1) * kPartPixels); ++o) {
        lo = std::min(lo, wx.first[size_t(o)]);
        end = std::max(end, wx.first[size_t(o)] + wx.span);
      }
      partFirst[size_t(p) * 2] = lo, partFirst[size_t(p) * 2 + 1] = end;
      most = std::max(most, size_t(end - lo));
    }
    lineStride = most * 4;
  }
  s.line.assign(lineStride * (wide ? kLinesAtOnce : 1), 0.0f);
  s.ring.resize(lineFloats * size_t(cap));
  s.ringRow.assign(size_t(cap), -1);
  s.acc.resize(lineFloats * (wide ? 2 : 1));
  for (int y = 0; y < outH; ++y) {
    const int f = wy.first[size_t(y)], n = wy.count[size_t(y)];
    const float* w = wy.w.data() + size_t(y) * size_t(taps);
    // On the wide path the next output line is made in the same pass when its lines start
    // within this one's and end no earlier (always, but at the edges of some windows).
    int d = 0, nextN = 0;
    if (wide && y + 1 < outH) {
      d = wy.first[size_t(y) + 1] - f;
      nextN = wy.count[size_t(y) + 1];
      if (d < 0 || d > n || d + nextN < n) nextN = 0;
    }
    const int lines = nextN > 0 ? d + nextN : n;
    const float* rows[64] = {};
    std::vector<const float*> many;
    const float** r = rows;
    if (lines > 64) {
      many.resize(size_t(lines));
      r = many.data();
    }
    for (int k = 0; k < lines; ++k) {
      const int row = f + k;
      const size_t slot = size_t(row % cap);
      float* line = s.ring.data() + slot * lineFloats;
      if (s.ringRow[slot] != row) {
#if defined(LUMENFOLD_WIDE_PATH)
        if (wide) {
          // This line and the next few, which the coming output lines take next.
          const int count = std::min(kLinesAtOnce, yhi - row + 1);
          const float* in[kLinesAtOnce];
          float* out[kLinesAtOnce];
          for (int j = 0; j < count; ++j) {
            in[j] = s.line.data() + size_t(j) * lineStride;
            const size_t at = size_t((row + j) % cap);
            out[j] = s.ring.data() + at * lineFloats;
            s.ringRow[at] = row + j;
          }
          for (int o0 = 0, p = 0; o0 < outW; o0 += kPartPixels, ++p) {
            const int lo = partFirst[size_t(p) * 2], end = partFirst[size_t(p) * 2 + 1];
            const int have = std::max(0, std::min(end, xhi + 1) - lo);
            for (int j = 0; j < count; ++j) {
              float* floats = s.line.data() + size_t(j) * lineStride;
              const uint8_t* from = src.constScanLine(row + j) + size_t(lo) * 4;
              if (vectors == TResampleVectors::Avx512)
                LineToFloats512(from, have * 4, floats);
              else
                LineToFloatsWide(from, have * 4, floats);
              std::fill(floats + size_t(have) * 4, floats + size_t(end - lo) * 4, 0.0f);
            }
            const int o1 = std::min(outW, o0 + kPartPixels);
            if (vectors == TResampleVectors::Avx512)
              HorizontalLines512(in, count, lo, wx, o0, o1, out);
            else
              HorizontalLinesWide(in, count, lo, wx, o0, o1, out);
          }
          r[k] = line;
          continue;
        }
#endif
        {
          HorizontalLine(src.constScanLine(row), xlo, xhi, wx, outW, s.line.data(), line);
          s.ringRow[slot] = row;
        }
      }
      r[k] = line;
    }
#if defined(LUMENFOLD_WIDE_PATH)
    if (nextN > 0) {
      float* second = s.acc.data() + lineFloats;
      const float* nextW = wy.w.data() + size_t(y + 1) * size_t(taps);
      uint8_t* lineA = dst.scanLine(y);
      uint8_t* lineB = dst.scanLine(y + 1);
      size_t stored = 0;
      if (vectors == TResampleVectors::Avx512)
        stored = VerticalPair512(r, w, n, nextW, d, nextN, lineFloats, s.acc.data(), second, lineA,
                                 lineB);
      else
        VerticalPairWide(r, w, n, nextW, d, nextN, lineFloats, s.acc.data(), second);
      StoreLine(s.acc.data() + stored, int(lineFloats - stored), lineA + stored);
      StoreLine(second + stored, int(lineFloats - stored), lineB + stored);
      ++y;
      continue;
    }
#endif
    VerticalSum(r, w, n, lineFloats, s.acc.data());
    StoreLine(s.acc.data(), int(lineFloats), dst.scanLine(y));
  }
}

} // namespace resample_detail

TResizeFilter ResizeFilterFromCode(int code) {
  return (code >= rfNearest && code <= rfMitchell) ? TResizeFilter(code) : rfLanczos;
}

void ResampleBitmapInto(const QImage& source, const QRectF& window, QImage& target, QSize size,
                        TResizeFilter filter, bool exact) {
  if (source.isNull() || source.width() <= 0 || source.height() <= 0)
    throw EImageError(QStringLiteral("Cannot scale an empty picture."));
  if (size.width() <= 0 || size.height() <= 0)
    throw EImageError(QStringLiteral("Cannot scale a picture to %1 x %2 pixels.")
                          .arg(size.width())
                          .arg(size.height()));
  const QRectF bounds(0, 0, source.width(), source.height());
  if (!(window.width() > 0 && window.height() > 0) || !bounds.intersects(window))
    throw EImageError(QStringLiteral("Cannot scale a picture: the part to scale lies outside it."));
  // A local reference keeps the source alive when target shares or is the same object.
  const QImage src = source.format() == QImage::Format_RGB32
                         ? source
                         : source.convertToFormat(QImage::Format_RGB32);
  const QRect whole = window.toRect();
  if (QRectF(whole) == window && whole.size() == size && bounds.contains(window)) {
    target = src.copy(whole);
    return;
  }
  if (target.size() != size || target.format() != QImage::Format_RGB32 || !target.isDetached() ||
      target.constBits() == src.constBits())
    target = QImage(size, QImage::Format_RGB32);
  if (target.isNull())
    throw EImageError(QStringLiteral("Not enough memory for a picture of %1 x %2 pixels.")
                          .arg(size.width())
                          .arg(size.height()));
  resample_detail::ResampleRgb32(src, window, target, ResizeFilterFromCode(int(filter)), exact);
}

QImage ResampleBitmap(const QImage& source, const QRectF& window, QSize size, TResizeFilter filter,
                      bool exact) {
  QImage target;
  ResampleBitmapInto(source, window, target, size, filter, exact);
  return target;
}

bool AllowWideResampling(bool allowed) {
  LimitResampleVectors(allowed ? TResampleVectors::Avx512 : TResampleVectors::Portable);
  return resample_detail::UseWidePath();
}

TResampleVectors LimitResampleVectors(TResampleVectors most) {
  resample_detail::g_mostVectors.store(int(most));
  return resample_detail::VectorsInUse();
}

void ReleaseResampleScratch() {
  using namespace resample_detail;
  Scratch& s = t_scratch;
  s.weights.clear();
  Free(s.line), Free(s.partFirst), Free(s.ring), Free(s.ringRow), Free(s.acc), Free(s.shrunk),
      Free(s.sums);
}
