// The resampler's kernels and the weight tables made from them, kept per thread.
#include "util/imaging/resampledetail.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <list>
#include <vector>

namespace resample_detail {

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

} // namespace resample_detail
