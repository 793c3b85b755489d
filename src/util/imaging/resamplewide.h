#pragma once
// The resampler's vector kernels (AVX2 with FMA, AVX-512) and the weight table they read; for
// the resampler only. Each kernel is compiled for its instruction set alone: callers check that
// the processor has it (see VectorsInUse in resample.cpp).
#include "util/imaging/resample.h"

#include <cstddef>
#include <cstdint>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#define LUMENFOLD_WIDE_PATH 1
#endif

namespace ResampleWide {

// Weights of one axis: output pixel o takes count[o] source pixels from first[o] on, with the
// weights w[o * taps ...].
struct AxisWeights {
  std::vector<int> first, count;
  std::vector<float> w;
  int taps = 0;
  // The wide path: every output pixel reads span taps (the largest count, rounded up to even),
  // those beyond its count weighted 0, so that every pixel runs the same loop; w4 holds each
  // weight four times (one per channel), span per output pixel.
  // With AVX-512, span is rounded up to a multiple of four (four taps per load);
  // spanVectors says for which vectors the table was made.
  int span = 0;
  TResampleVectors spanVectors = TResampleVectors::Portable;
  std::vector<float> w4;
  // What the table was built for: a call with the same axis, size and filter keeps it (the
  // previews of a list are drawn at a few sizes, each many times).
  double builtStart = 0, builtLength = 0;
  int builtOut = -1, builtLo = 0, builtHi = -1, builtFilter = -1;
};

// Lines that the wide path resamples horizontally together: each weight load then serves all
// of them (the weight table of a wide picture does not stay in the fastest cache).
constexpr int kLinesAtOnce = 4;

#if defined(LUMENFOLD_WIDE_PATH)
// AVX2 with FMA (declared with their instruction sets, as defined: a declaration without
// would make the compiler take the definitions for further versions of the same functions).
// The source pixels' bytes as floats, eight values at a time.
__attribute__((target("avx2,fma"))) void LineToFloatsWide(const uint8_t* s, int n, float* line);
// Output pixels o0..o1 of count (1..kLinesAtOnce) lines: out[j][4 * o ...] from lines[j], whose
// first value is source pixel lo's (each line has room for span pixels more, kept 0).
void HorizontalLinesWide(const float* const* lines, int count, int lo, const AxisWeights& wx,
                         int o0, int o1, float* const* out);
// acc = sum of w[k] * rows[k][i] over k.
__attribute__((target("avx2,fma"))) void VerticalSumWide(const float* const* rows, const float* w,
                                                         int n, size_t m, float* acc);
// Two output lines in one pass: accA from rows[0..na) with a, accB from rows[d..d + nb) with b
// (d <= na <= d + nb).
__attribute__((target("avx2,fma"))) void VerticalPairWide(const float* const* rows, const float* a,
                                                          int na, const float* b, int d, int nb,
                                                          size_t m, float* accA, float* accB);

// AVX-512: the same, sixteen values at a time. VerticalPair512 also stores the lines' pixels
// (as StoreLine in resamplelines.cpp) and returns how many values it stored; the sums of those
// after them are left in accA and accB.
__attribute__((target("avx512f"))) void LineToFloats512(const uint8_t* s, int n, float* line);
void HorizontalLines512(const float* const* lines, int count, int lo, const AxisWeights& wx, int o0,
                        int o1, float* const* out);
__attribute__((target("avx512f"))) void VerticalSum512(const float* const* rows, const float* w,
                                                       int n, size_t m, float* acc);
__attribute__((target("avx512f"))) size_t VerticalPair512(const float* const* rows, const float* a,
                                                          int na, const float* b, int d, int nb,
                                                          size_t m, float* accA, float* accB,
                                                          uint8_t* lineA, uint8_t* lineB);
#endif

} // namespace ResampleWide
