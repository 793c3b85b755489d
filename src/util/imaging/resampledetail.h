#pragma once
// The resampler's internals shared by resample.cpp, resampleweights.cpp and resamplelines.cpp.
#include "util/imaging/resample.h"
#include "util/imaging/resamplewide.h"

#include <QImage>
#include <QRect>

#include <cstddef>
#include <cstdint>
#include <list>
#include <vector>

namespace resample_detail {

using namespace ResampleWide;

// Scratch memory of one thread: kept weight tables and the buffers of ResampleRgb32.
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

// The vector width the resampler uses now (see LimitResampleVectors).
TResampleVectors VectorsInUse();

// The weight table of one axis for these arguments, kept in s (see resampleweights.cpp).
AxisWeights& WeightsFor(Scratch& s, double start, double length, int outSize, int lo, int hi,
                        TResizeFilter filter);

// The portable line loops (see resamplelines.cpp).
void VerticalSum(const float* const* r, const float* w, int n, size_t m, float* acc);
void LineToFloats(const uint8_t* src, int lo, int hi, float* line);
void HorizontalLine(const uint8_t* src, int lo, int hi, const AxisWeights& wx, int outW,
                    float* line, float* out);
void StoreLine(const float* acc, int n, uint8_t* dst);
void BoxShrink(const QImage& src, const QRect& px, int k, quint32* out, int sw, int sh,
               std::vector<quint32>& sums);

} // namespace resample_detail
