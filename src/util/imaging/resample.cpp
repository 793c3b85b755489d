// Separable resampling of RGB32 bitmaps.
//
// Per axis, a table holds for every output pixel the first source pixel and the normalised
// weights of the source pixels it takes. Source lines are resampled horizontally once each, as
// the vertical pass first needs them, into a small ring of float lines; each output line is then
// the weighted sum of a few ring lines. All loops are plain arrays of floats with the four
// channels of a pixel side by side, which the compiler turns into vector code.
#include "util/imaging/resample.h"

#include "util/imaging/imageerror.h"
#include "util/imaging/resamplewide.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <list>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace {

using namespace ResampleWide;

constexpr double kPi = 3.14159265358979323846;

double Triangle(double x) {
  x = std::fabs(x);
  return x < 1.0 ? 1.0 - x : 0.0;
}

double BSpline(double x) {
  x = std::fabs(x);
  if (x < 1.0) return (0.5 * x - 1.0) * x * x + 2.0 / 3.0;
  if (x < 2.0) {
    x = 2.0 - x;
    return x * x * x / 6.0;
  }
  return 0.0;
}

double Sinc(double x) {
  if (x == 0.0) return 1.0;
  x *= kPi;
  return std::sin(x) / x;
}

double Lanczos3(double x) {
  return std::fabs(x) < 3.0 ? Sinc(x) * Sinc(x / 3.0) : 0.0;
}

double Mitchell(double x) {
  constexpr double B = 1.0 / 3.0, C = 1.0 / 3.0;
  x = std::fabs(x);
  if (x < 1.0)
    return ((12 - 9 * B - 6 * C) * x * x * x + (-18 + 12 * B + 6 * C) * x * x + (6 - 2 * B)) / 6;
  if (x < 2.0)
    return ((-B - 6 * C) * x * x * x + (6 * B + 30 * C) * x * x + (-12 * B - 48 * C) * x +
            (8 * B + 24 * C)) /
           6;
  return 0.0;
}

struct Kernel {
  double support;
  double (*fn)(double);
};

Kernel KernelOf(TResizeFilter f) {
  switch (f) {
  case rfLinear:
    return {1.0, Triangle};
  case rfSpline:
    return {2.0, BSpline};
  case rfMitchell:
    return {2.0, Mitchell};
  default:
    return {3.0, Lanczos3};
  }
}

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

// start/length: the source window on this axis; lo..hi: the source pixels that may be read
// (samples beyond them repeat the edge pixel).
void BuildWeights(AxisWeights& a, double start, double length, int outSize, int lo, int hi,
                  TResizeFilter filter) {
  if (a.builtOut == outSize && a.builtStart == start && a.builtLength == length &&
      a.builtLo == lo && a.builtHi == hi && a.builtFilter == int(filter))
    return;
  a.builtOut = -1;
  a.span = 0;
  const double scale = length / outSize;
  a.first.resize(size_t(outSize));
  a.count.resize(size_t(outSize));
  if (filter == rfNearest) {
    a.taps = 1;
    a.w.assign(size_t(outSize), 1.0f);
    for (int o = 0; o < outSize; ++o) {
      const double center = start + (o + 0.5) * scale;
      a.first[size_t(o)] = std::clamp(int(std::floor(center)), lo, hi);
      a.count[size_t(o)] = 1;
    }
    a.builtStart = start, a.builtLength = length, a.builtOut = outSize;
    a.builtLo = lo, a.builtHi = hi, a.builtFilter = int(filter);
    return;
  }
  const Kernel k = KernelOf(filter);
  const double fscale = std::max(scale, 1.0);
  const double support = k.support * fscale;
  const int taps = int(std::ceil(2.0 * support)) + 3;
  a.taps = taps;
  a.w.assign(size_t(outSize) * size_t(taps), 0.0f);
  std::vector<double> buf(static_cast<size_t>(taps));
  for (int o = 0; o < outSize; ++o) {
    const double center = start + (o + 0.5) * scale;
    const int jmin = int(std::floor(center - support - 0.5));
    const int jmax = int(std::ceil(center + support - 0.5));
    const int f = std::clamp(jmin, lo, hi), l = std::clamp(jmax, lo, hi);
    std::fill(buf.begin(), buf.begin() + (l - f + 1), 0.0);
    double sum = 0.0;
    for (int j = jmin; j <= jmax; ++j) {
      const double v = k.fn((j + 0.5 - center) / fscale);
      if (v == 0.0) continue;
      buf[size_t(std::clamp(j, lo, hi) - f)] += v;
      sum += v;
    }
    int n = l - f + 1, b = 0;
    if (std::fabs(sum) < 1e-12) { // cannot happen with these kernels; stay safe anyway
      a.first[size_t(o)] = std::clamp(int(std::floor(center)), lo, hi);
      a.count[size_t(o)] = 1;
      a.w[size_t(o) * size_t(taps)] = 1.0f;
      continue;
    }
    // Drop (near) zero weights at both ends: fewer taps, same result.
    while (n > 1 && std::fabs(buf[size_t(b)] / sum) < 1e-7)
      ++b, --n;
    while (n > 1 && std::fabs(buf[size_t(b + n - 1)] / sum) < 1e-7)
      --n;
    a.first[size_t(o)] = f + b;
    a.count[size_t(o)] = n;
    float* w = a.w.data() + size_t(o) * size_t(taps);
    for (int i = 0; i < n; ++i)
      w[i] = float(buf[size_t(b + i)] / sum);
  }
  a.builtStart = start, a.builtLength = length, a.builtOut = outSize;
  a.builtLo = lo, a.builtHi = hi, a.builtFilter = int(filter);
}

// Weight tables kept per thread: a picture's run fits several sizes from a few sources, and
// the next picture of the same camera asks for the same tables again.
constexpr size_t kKeptWeightTables = 16;
constexpr size_t kMostWeightBytes = size_t(16) << 20;

struct Scratch {
  std::list<AxisWeights> weights; // most recently used last

  std::vector<float> line; // one source line (its window) as floats
  std::vector<float> ring; // horizontally resampled lines
  std::vector<int> ringRow;
  std::vector<float> acc;
  std::vector<int> partFirst;  // per part of a line: first source pixel and the end it reads to
  std::vector<quint32> shrunk; // box-reduced source for large reductions
  std::vector<quint32> sums;
};

thread_local Scratch t_scratch;

// The table for these arguments (see BuildWeights): a kept one when it was made for them, else
// the least recently used one remade. The tables are list nodes: references to them stay valid
// while others are taken.
AxisWeights& WeightsFor(Scratch& s, double start, double length, int outSize, int lo, int hi,
                        TResizeFilter filter) {
  auto& kept = s.weights;
  for (auto i = kept.begin(); i != kept.end(); ++i) {
    const AxisWeights& a = *i;
    if (a.builtOut == outSize && a.builtStart == start && a.builtLength == length &&
        a.builtLo == lo && a.builtHi == hi && a.builtFilter == int(filter)) {
      kept.splice(kept.end(), kept, i);
      return kept.back();
    }
  }
  if (kept.size() < kKeptWeightTables)
    kept.emplace_back();
  else
    kept.splice(kept.end(), kept, kept.begin());
  BuildWeights(kept.back(), start, length, outSize, lo, hi, filter);
  // Tables of very large pictures are not kept for long: the least recently used ones go
  // until the rest fit kMostWeightBytes. The newest two stay (the call's two axes).
  auto bytesOf = [](const AxisWeights& a) {
    return (a.first.capacity() + a.count.capacity()) * sizeof(int) +
           (a.w.capacity() + a.w4.capacity()) * sizeof(float);
  };
  size_t bytes = 0;
  for (const AxisWeights& a : kept)
    bytes += bytesOf(a);
  while (bytes > kMostWeightBytes && kept.size() > 2) {
    bytes -= bytesOf(kept.front());
    kept.pop_front();
  }
  return kept.back();
}

template <class T> void Free(std::vector<T>& v) {
  std::vector<T>().swap(v);
}

// Output pixels of a line that the wide path resamples as one part (see ResampleRgb32).
constexpr int kPartPixels = 64;

// acc = sum of w[k] * rows[k][i] over k.
void VerticalSum(const float* const* r, const float* w, int n, size_t m, float* acc) {
#if defined(LUMENFOLD_WIDE_PATH)
  switch (VectorsInUse()) {
  case TResampleVectors::Avx512:
    VerticalSum512(r, w, n, m, acc);
    return;
  case TResampleVectors::Avx2:
    VerticalSumWide(r, w, n, m, acc);
    return;
  default:
    break;
  }
#endif
  {
    const float w0 = w[0];
    const float* r0 = r[0];
    for (size_t i = 0; i < m; ++i)
      acc[i] = w0 * r0[i];
  }
  int k = 1;
  for (; k + 1 < n; k += 2) {
    const float wa = w[k], wb = w[k + 1];
    const float *ra = r[k], *rb = r[k + 1];
    for (size_t i = 0; i < m; ++i)
      acc[i] += wa * ra[i] + wb * rb[i];
  }
  if (k < n) {
    const float wa = w[k];
    const float* ra = r[k];
    for (size_t i = 0; i < m; ++i)
      acc[i] += wa * ra[i];
  }
}

// The source pixels lo..hi of a line as floats.
void LineToFloats(const uint8_t* src, int lo, int hi, float* line) {
  const int n = hi - lo + 1;
  const uint8_t* s = src + size_t(lo) * 4;
  for (int i = 0; i < n * 4; ++i)
    line[i] = float(s[i]);
}

// One source line (pixels lo..hi) resampled to outW pixels of 4 floats, on the portable path.
// line receives the source pixels as floats.
void HorizontalLine(const uint8_t* src, int lo, int hi, const AxisWeights& wx, int outW,
                    float* line, float* out) {
  LineToFloats(src, lo, hi, line);
  const int taps = wx.taps;
  for (int o = 0; o < outW; ++o) {
    const float* p = line + size_t(wx.first[size_t(o)] - lo) * 4;
    const float* w = wx.w.data() + size_t(o) * size_t(taps);
    const int cnt = wx.count[size_t(o)];
    // Four independent sums, so that the additions do not wait for one another.
#if defined(__SSE2__)
    __m128 s0 = _mm_setzero_ps(), s1 = _mm_setzero_ps(), s2 = _mm_setzero_ps(),
           s3 = _mm_setzero_ps();
    int k = 0;
    for (; k + 3 < cnt; k += 4) {
      s0 = _mm_add_ps(s0, _mm_mul_ps(_mm_set1_ps(w[k]), _mm_loadu_ps(p + 4 * k)));
      s1 = _mm_add_ps(s1, _mm_mul_ps(_mm_set1_ps(w[k + 1]), _mm_loadu_ps(p + 4 * k + 4)));
      s2 = _mm_add_ps(s2, _mm_mul_ps(_mm_set1_ps(w[k + 2]), _mm_loadu_ps(p + 4 * k + 8)));
      s3 = _mm_add_ps(s3, _mm_mul_ps(_mm_set1_ps(w[k + 3]), _mm_loadu_ps(p + 4 * k + 12)));
    }
    for (; k < cnt; ++k)
      s0 = _mm_add_ps(s0, _mm_mul_ps(_mm_set1_ps(w[k]), _mm_loadu_ps(p + 4 * k)));
    _mm_storeu_ps(out + 4 * o, _mm_add_ps(_mm_add_ps(s0, s1), _mm_add_ps(s2, s3)));
#else
    float a[2][4] = {};
    int k = 0;
    for (; k + 1 < cnt; k += 2)
      for (int c = 0; c < 4; ++c) {
        a[0][c] += w[k] * p[4 * k + c];
        a[1][c] += w[k + 1] * p[4 * k + 4 + c];
      }
    for (; k < cnt; ++k)
      for (int c = 0; c < 4; ++c)
        a[0][c] += w[k] * p[4 * k + c];
    for (int c = 0; c < 4; ++c)
      out[4 * o + c] = a[0][c] + a[1][c];
#endif
  }
}

// Rounds to the nearest integer, clamps to 0..255 and makes every pixel opaque.
void StoreLine(const float* acc, int n, uint8_t* dst) {
  int i = 0;
#if defined(__SSE2__)
  const __m128i opaque = _mm_set1_epi32(int(0xff000000u));
  for (; i + 16 <= n; i += 16) {
    const __m128i a = _mm_cvtps_epi32(_mm_loadu_ps(acc + i));
    const __m128i b = _mm_cvtps_epi32(_mm_loadu_ps(acc + i + 4));
    const __m128i c = _mm_cvtps_epi32(_mm_loadu_ps(acc + i + 8));
    const __m128i d = _mm_cvtps_epi32(_mm_loadu_ps(acc + i + 12));
    const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(a, b), _mm_packs_epi32(c, d));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_or_si128(bytes, opaque));
  }
#endif
  for (; i < n; ++i) {
    const float v = std::min(std::max(acc[i], 0.0f), 255.0f);
    dst[i] = (i & 3) == 3 ? 0xff : uint8_t(std::nearbyint(v));
  }
}

// Averages k x k blocks of the pixels px of src into out (sw x sh pixels, blocks at the right
// and bottom edges may be smaller). The k lines of a block row are first added up per pixel (a
// plain vector loop), then each block's k sums.
void BoxShrink(const QImage& src, const QRect& px, int k, quint32* out, int sw, int sh,
               std::vector<quint32>& sums) {
  const size_t n = size_t(px.width()) * 4;
  sums.resize(n);
  for (int by = 0; by < sh; ++by) {
    const int y0 = px.top() + by * k, y1 = std::min(y0 + k, px.bottom() + 1);
    quint32* sum = sums.data();
    {
      const uint8_t* l = src.constScanLine(y0) + size_t(px.left()) * 4;
      for (size_t i = 0; i < n; ++i)
        sum[i] = l[i];
    }
    for (int y = y0 + 1; y < y1; ++y) {
      const uint8_t* l = src.constScanLine(y) + size_t(px.left()) * 4;
      for (size_t i = 0; i < n; ++i)
        sum[i] += l[i];
    }
    quint32* o = out + size_t(by) * size_t(sw);
    const int rows = y1 - y0;
    for (int bx = 0; bx < sw; ++bx) {
      const int x0 = bx * k, cols = std::min(k, px.width() - x0);
      quint32 b = 0, g = 0, r = 0;
      for (int x = x0; x < x0 + cols; ++x) {
        b += sum[4 * x];
        g += sum[4 * x + 1];
        r += sum[4 * x + 2];
      }
      const float inv = 1.0f / float(rows * cols);
      o[bx] = 0xff000000u | quint32(float(r) * inv + 0.5f) << 16 |
              quint32(float(g) * inv + 0.5f) << 8 | quint32(float(b) * inv + 0.5f);
    }
  }
}

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

} // namespace

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
  ResampleRgb32(src, window, target, ResizeFilterFromCode(int(filter)), exact);
}

QImage ResampleBitmap(const QImage& source, const QRectF& window, QSize size, TResizeFilter filter,
                      bool exact) {
  QImage target;
  ResampleBitmapInto(source, window, target, size, filter, exact);
  return target;
}

bool AllowWideResampling(bool allowed) {
  LimitResampleVectors(allowed ? TResampleVectors::Avx512 : TResampleVectors::Portable);
  return UseWidePath();
}

TResampleVectors LimitResampleVectors(TResampleVectors most) {
  g_mostVectors.store(int(most));
  return VectorsInUse();
}

void ReleaseResampleScratch() {
  Scratch& s = t_scratch;
  s.weights.clear();
  Free(s.line), Free(s.partFirst), Free(s.ring), Free(s.ringRow), Free(s.acc), Free(s.shrunk),
      Free(s.sums);
}
