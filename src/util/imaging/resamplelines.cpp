// The resampler's portable line loops: vertical sums, the horizontal pass of one line, storing
// a line of sums as pixels, and the block average that precedes large reductions.
#include "util/imaging/resampledetail.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace resample_detail {

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

} // namespace resample_detail
