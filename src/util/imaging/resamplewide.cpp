// The resampler's vector kernels; see resamplewide.h. All loops are over floats with the four
// channels of a pixel side by side.
#include "util/imaging/resamplewide.h"

#if defined(LUMENFOLD_WIDE_PATH)
#include <immintrin.h>

namespace ResampleWide {

// HorizontalLine's taps for R lines, two at a time: a 256-bit load takes two neighbouring
// pixels and w4 the two weights, each repeated per channel. Every output pixel reads span
// pixels (see AxisWeights); each line has room for span pixels more, kept 0.
template <int R>
__attribute__((target("avx2,fma"))) void HorizontalTapsWide(const float* const* lines, int lo,
                                                            const AxisWeights& wx, int o0, int o1,
                                                            float* const* out) {
  const int span = wx.span;
  const float* w = wx.w4.data() + size_t(o0) * size_t(span) * 4;
  // Local copies: the stores below could otherwise alias the pointer arrays, which the
  // compiler would then read again for every pixel.
  const float* in[R];
  float* to[R];
  for (int j = 0; j < R; ++j)
    in[j] = lines[j], to[j] = out[j];
  const int* firsts = wx.first.data();
  for (int o = o0; o < o1; ++o, w += size_t(span) * 4) {
    const size_t at = size_t(firsts[o] - lo) * 4;
    __m256 s0[R], s1[R];
    for (int j = 0; j < R; ++j)
      s0[j] = s1[j] = _mm256_setzero_ps();
    int k = 0;
    for (; k + 4 <= span; k += 4) {
      const __m256 wa = _mm256_loadu_ps(w + 4 * k), wb = _mm256_loadu_ps(w + 4 * k + 8);
      for (int j = 0; j < R; ++j) {
        const float* p = in[j] + at + 4 * size_t(k);
        s0[j] = _mm256_fmadd_ps(wa, _mm256_loadu_ps(p), s0[j]);
        s1[j] = _mm256_fmadd_ps(wb, _mm256_loadu_ps(p + 8), s1[j]);
      }
    }
    if (k < span) {
      const __m256 wa = _mm256_loadu_ps(w + 4 * k);
      for (int j = 0; j < R; ++j)
        s0[j] = _mm256_fmadd_ps(wa, _mm256_loadu_ps(in[j] + at + 4 * size_t(k)), s0[j]);
    }
    for (int j = 0; j < R; ++j) {
      const __m256 t = _mm256_add_ps(s0[j], s1[j]);
      _mm_storeu_ps(to[j] + 4 * o,
                    _mm_add_ps(_mm256_castps256_ps128(t), _mm256_extractf128_ps(t, 1)));
    }
  }
}

// LineToFloats, eight values at a time.
__attribute__((target("avx2,fma"))) void LineToFloatsWide(const uint8_t* s, int n, float* line) {
  int i = 0;
  for (; i + 8 <= n; i += 8)
    _mm256_storeu_ps(line + i, _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(
                                   _mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + i)))));
  for (; i < n; ++i)
    line[i] = float(s[i]);
}

void HorizontalLinesWide(const float* const* lines, int count, int lo, const AxisWeights& wx,
                         int o0, int o1, float* const* out) {
  switch (count) {
  case 4:
    HorizontalTapsWide<4>(lines, lo, wx, o0, o1, out);
    break;
  case 3:
    HorizontalTapsWide<3>(lines, lo, wx, o0, o1, out);
    break;
  case 2:
    HorizontalTapsWide<2>(lines, lo, wx, o0, o1, out);
    break;
  default:
    HorizontalTapsWide<1>(lines, lo, wx, o0, o1, out);
    break;
  }
}

// acc = sum of w[k] * rows[k][i] over k, eight values at a time.
__attribute__((target("avx2,fma"))) void VerticalSumWide(const float* const* rows, const float* w,
                                                         int n, size_t m, float* acc) {
  size_t i = 0;
  // Four independent sums: each tap's multiply-add waits for the one before it on the same
  // values, so a single chain would leave the unit idle most of the time.
  for (; i + 32 <= m; i += 32) {
    __m256 w0 = _mm256_set1_ps(w[0]);
    __m256 a0 = _mm256_mul_ps(w0, _mm256_loadu_ps(rows[0] + i));
    __m256 a1 = _mm256_mul_ps(w0, _mm256_loadu_ps(rows[0] + i + 8));
    __m256 a2 = _mm256_mul_ps(w0, _mm256_loadu_ps(rows[0] + i + 16));
    __m256 a3 = _mm256_mul_ps(w0, _mm256_loadu_ps(rows[0] + i + 24));
    for (int k = 1; k < n; ++k) {
      const __m256 wk = _mm256_set1_ps(w[k]);
      const float* r = rows[k] + i;
      a0 = _mm256_fmadd_ps(wk, _mm256_loadu_ps(r), a0);
      a1 = _mm256_fmadd_ps(wk, _mm256_loadu_ps(r + 8), a1);
      a2 = _mm256_fmadd_ps(wk, _mm256_loadu_ps(r + 16), a2);
      a3 = _mm256_fmadd_ps(wk, _mm256_loadu_ps(r + 24), a3);
    }
    _mm256_storeu_ps(acc + i, a0);
    _mm256_storeu_ps(acc + i + 8, a1);
    _mm256_storeu_ps(acc + i + 16, a2);
    _mm256_storeu_ps(acc + i + 24, a3);
  }
  for (; i + 8 <= m; i += 8) {
    __m256 a = _mm256_mul_ps(_mm256_set1_ps(w[0]), _mm256_loadu_ps(rows[0] + i));
    for (int k = 1; k < n; ++k)
      a = _mm256_fmadd_ps(_mm256_set1_ps(w[k]), _mm256_loadu_ps(rows[k] + i), a);
    _mm256_storeu_ps(acc + i, a);
  }
  for (; i < m; ++i) {
    float a = w[0] * rows[0][i];
    for (int k = 1; k < n; ++k)
      a += w[k] * rows[k][i];
    acc[i] = a;
  }
}

// Two output lines at once from the lines lo..lo+n: the first takes a[0..na) from the line lo
// on, the second b[0..nb) from the line lo + d on. Each line's values are loaded once for both
// sums, which halves the loads of this pass (where the loads are the limit).
__attribute__((target("avx2,fma"))) void VerticalPairWide(const float* const* rows, const float* a,
                                                          int na, const float* b, int d, int nb,
                                                          size_t m, float* accA, float* accB) {
  size_t i = 0;
  for (; i + 16 <= m; i += 16) {
    __m256 a0 = _mm256_setzero_ps(), a1 = a0, b0 = a0, b1 = a0;
    // Lines only the first sum takes, lines both take, lines only the second takes (the
    // second line starts no earlier than the first and ends no earlier: d <= na).
    int k = 0;
    for (; k < d; ++k) {
      const __m256 w = _mm256_set1_ps(a[k]);
      a0 = _mm256_fmadd_ps(w, _mm256_loadu_ps(rows[k] + i), a0);
      a1 = _mm256_fmadd_ps(w, _mm256_loadu_ps(rows[k] + i + 8), a1);
    }
    for (; k < na; ++k) {
      const __m256 v0 = _mm256_loadu_ps(rows[k] + i), v1 = _mm256_loadu_ps(rows[k] + i + 8);
      const __m256 wa = _mm256_set1_ps(a[k]), wb = _mm256_set1_ps(b[k - d]);
      a0 = _mm256_fmadd_ps(wa, v0, a0);
      a1 = _mm256_fmadd_ps(wa, v1, a1);
      b0 = _mm256_fmadd_ps(wb, v0, b0);
      b1 = _mm256_fmadd_ps(wb, v1, b1);
    }
    for (; k < d + nb; ++k) {
      const __m256 w = _mm256_set1_ps(b[k - d]);
      b0 = _mm256_fmadd_ps(w, _mm256_loadu_ps(rows[k] + i), b0);
      b1 = _mm256_fmadd_ps(w, _mm256_loadu_ps(rows[k] + i + 8), b1);
    }
    _mm256_storeu_ps(accA + i, a0);
    _mm256_storeu_ps(accA + i + 8, a1);
    _mm256_storeu_ps(accB + i, b0);
    _mm256_storeu_ps(accB + i + 8, b1);
  }
  for (; i < m; ++i) {
    float sa = 0.0f, sb = 0.0f;
    for (int k = 0; k < na; ++k)
      sa += a[k] * rows[k][i];
    for (int k = 0; k < nb; ++k)
      sb += b[k] * rows[d + k][i];
    accA[i] = sa, accB[i] = sb;
  }
}

// GCC 12's AVX-512 intrinsics merge with a deliberately undefined value, which its own
// uninitialised-value warning then reports inside its header.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

// HorizontalTapsWide with 512-bit vectors: a load takes four neighbouring pixels, w4 their
// four weights (span is a multiple of four here).
template <int R>
__attribute__((target("avx512f"))) void HorizontalTaps512(const float* const* lines, int lo,
                                                          const AxisWeights& wx, int o0, int o1,
                                                          float* const* out) {
  const int span = wx.span;
  const float* w = wx.w4.data() + size_t(o0) * size_t(span) * 4;
  // Local copies: the stores below could otherwise alias the pointer arrays, which the
  // compiler would then read again for every pixel.
  const float* in[R];
  float* to[R];
  for (int j = 0; j < R; ++j)
    in[j] = lines[j], to[j] = out[j];
  const int* firsts = wx.first.data();
  for (int o = o0; o < o1; ++o, w += size_t(span) * 4) {
    const size_t at = size_t(firsts[o] - lo) * 4;
    __m512 s[R];
    for (int j = 0; j < R; ++j)
      s[j] = _mm512_setzero_ps();
    for (int k = 0; k < span; k += 4) {
      const __m512 wk = _mm512_loadu_ps(w + 4 * k);
      for (int j = 0; j < R; ++j)
        s[j] = _mm512_fmadd_ps(wk, _mm512_loadu_ps(in[j] + at + 4 * size_t(k)), s[j]);
    }
    if constexpr (R == 4) {
      // The four lines' sums together, in the same order as below: quarters 0 + 2 and 1 + 3
      // of two lines in one vector, then those added, one line per quarter.
      const __m512 t01 = _mm512_add_ps(_mm512_shuffle_f32x4(s[0], s[1], 0x44),
                                       _mm512_shuffle_f32x4(s[0], s[1], 0xee));
      const __m512 t23 = _mm512_add_ps(_mm512_shuffle_f32x4(s[2], s[3], 0x44),
                                       _mm512_shuffle_f32x4(s[2], s[3], 0xee));
      const __m512 v =
          _mm512_add_ps(_mm512_shuffle_f32x4(t01, t23, 0x88), _mm512_shuffle_f32x4(t01, t23, 0xdd));
      _mm_storeu_ps(to[0] + 4 * o, _mm512_castps512_ps128(v));
      _mm_storeu_ps(to[1] + 4 * o, _mm512_extractf32x4_ps(v, 1));
      _mm_storeu_ps(to[2] + 4 * o, _mm512_extractf32x4_ps(v, 2));
      _mm_storeu_ps(to[3] + 4 * o, _mm512_extractf32x4_ps(v, 3));
      continue;
    }
    for (int j = 0; j < R; ++j) {
      // The four pixels' sums added lane-wise: quarters 0 + 2 and 1 + 3, then those two.
      const __m512 h = _mm512_add_ps(s[j], _mm512_shuffle_f32x4(s[j], s[j], 0x4e));
      const __m512 q = _mm512_add_ps(h, _mm512_shuffle_f32x4(h, h, 0xb1));
      _mm_storeu_ps(to[j] + 4 * o, _mm512_castps512_ps128(q));
    }
  }
}

__attribute__((target("avx512f"))) void LineToFloats512(const uint8_t* s, int n, float* line) {
  int i = 0;
  for (; i + 16 <= n; i += 16)
    _mm512_storeu_ps(line + i, _mm512_cvtepi32_ps(_mm512_cvtepu8_epi32(
                                   _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i)))));
  for (; i < n; ++i)
    line[i] = float(s[i]);
}

// VerticalSumWide with 512-bit vectors.
__attribute__((target("avx512f"))) void VerticalSum512(const float* const* rows, const float* w,
                                                       int n, size_t m, float* acc) {
  size_t i = 0;
  for (; i + 64 <= m; i += 64) {
    __m512 w0 = _mm512_set1_ps(w[0]);
    __m512 a0 = _mm512_mul_ps(w0, _mm512_loadu_ps(rows[0] + i));
    __m512 a1 = _mm512_mul_ps(w0, _mm512_loadu_ps(rows[0] + i + 16));
    __m512 a2 = _mm512_mul_ps(w0, _mm512_loadu_ps(rows[0] + i + 32));
    __m512 a3 = _mm512_mul_ps(w0, _mm512_loadu_ps(rows[0] + i + 48));
    for (int k = 1; k < n; ++k) {
      const __m512 wk = _mm512_set1_ps(w[k]);
      const float* r = rows[k] + i;
      a0 = _mm512_fmadd_ps(wk, _mm512_loadu_ps(r), a0);
      a1 = _mm512_fmadd_ps(wk, _mm512_loadu_ps(r + 16), a1);
      a2 = _mm512_fmadd_ps(wk, _mm512_loadu_ps(r + 32), a2);
      a3 = _mm512_fmadd_ps(wk, _mm512_loadu_ps(r + 48), a3);
    }
    _mm512_storeu_ps(acc + i, a0);
    _mm512_storeu_ps(acc + i + 16, a1);
    _mm512_storeu_ps(acc + i + 32, a2);
    _mm512_storeu_ps(acc + i + 48, a3);
  }
  for (; i + 16 <= m; i += 16) {
    __m512 a = _mm512_mul_ps(_mm512_set1_ps(w[0]), _mm512_loadu_ps(rows[0] + i));
    for (int k = 1; k < n; ++k)
      a = _mm512_fmadd_ps(_mm512_set1_ps(w[k]), _mm512_loadu_ps(rows[k] + i), a);
    _mm512_storeu_ps(acc + i, a);
  }
  for (; i < m; ++i) {
    float a = w[0] * rows[0][i];
    for (int k = 1; k < n; ++k)
      a += w[k] * rows[k][i];
    acc[i] = a;
  }
}

// Sixteen sums as pixel bytes: rounded to the nearest (even) integer, clamped to 0..255,
// every fourth byte opaque (as StoreLine).
__attribute__((target("avx512f"))) inline void StorePixels512(__m512 sums, uint8_t* to) {
  const __m512i v = _mm512_max_epi32(_mm512_cvtps_epi32(sums), _mm512_setzero_si512());
  _mm_storeu_si128(reinterpret_cast<__m128i*>(to),
                   _mm_or_si128(_mm512_cvtusepi32_epi8(v), _mm_set1_epi32(int(0xff000000u))));
}

// VerticalPairWide with 512-bit vectors that also stores the two lines' pixels (see StoreLine)
// while the sums are still in registers. Returns how many values it stored: those from there
// on are left as sums in accA and accB, for StoreLine.
__attribute__((target("avx512f"))) size_t VerticalPair512(const float* const* rows, const float* a,
                                                          int na, const float* b, int d, int nb,
                                                          size_t m, float* accA, float* accB,
                                                          uint8_t* lineA, uint8_t* lineB) {

  size_t i = 0;
  for (; i + 32 <= m; i += 32) {
    __m512 a0 = _mm512_setzero_ps(), a1 = a0, b0 = a0, b1 = a0;
    // Lines only the first sum takes, lines both take, lines only the second takes (the
    // second line starts no earlier than the first and ends no earlier: d <= na).
    int k = 0;
    for (; k < d; ++k) {
      const __m512 w = _mm512_set1_ps(a[k]);
      a0 = _mm512_fmadd_ps(w, _mm512_loadu_ps(rows[k] + i), a0);
      a1 = _mm512_fmadd_ps(w, _mm512_loadu_ps(rows[k] + i + 16), a1);
    }
    for (; k < na; ++k) {
      const __m512 v0 = _mm512_loadu_ps(rows[k] + i), v1 = _mm512_loadu_ps(rows[k] + i + 16);
      const __m512 wa = _mm512_set1_ps(a[k]), wb = _mm512_set1_ps(b[k - d]);
      a0 = _mm512_fmadd_ps(wa, v0, a0);
      a1 = _mm512_fmadd_ps(wa, v1, a1);
      b0 = _mm512_fmadd_ps(wb, v0, b0);
      b1 = _mm512_fmadd_ps(wb, v1, b1);
    }
    for (; k < d + nb; ++k) {
      const __m512 w = _mm512_set1_ps(b[k - d]);
      b0 = _mm512_fmadd_ps(w, _mm512_loadu_ps(rows[k] + i), b0);
      b1 = _mm512_fmadd_ps(w, _mm512_loadu_ps(rows[k] + i + 16), b1);
    }
    StorePixels512(a0, lineA + i);
    StorePixels512(a1, lineA + i + 16);
    StorePixels512(b0, lineB + i);
    StorePixels512(b1, lineB + i + 16);
  }
  const size_t stored = i;
  for (; i < m; ++i) {
    float sa = 0.0f, sb = 0.0f;
    for (int k = 0; k < na; ++k)
      sa += a[k] * rows[k][i];
    for (int k = 0; k < nb; ++k)
      sb += b[k] * rows[d + k][i];
    accA[i] = sa, accB[i] = sb;
  }
  return stored;
}

void HorizontalLines512(const float* const* lines, int count, int lo, const AxisWeights& wx, int o0,
                        int o1, float* const* out) {
  switch (count) {
  case 4:
    HorizontalTaps512<4>(lines, lo, wx, o0, o1, out);
    break;
  case 3:
    HorizontalTaps512<3>(lines, lo, wx, o0, o1, out);
    break;
  case 2:
    HorizontalTaps512<2>(lines, lo, wx, o0, o1, out);
    break;
  default:
    HorizontalTaps512<1>(lines, lo, wx, o0, o1, out);
    break;
  }
}
#pragma GCC diagnostic pop

} // namespace ResampleWide
#endif
