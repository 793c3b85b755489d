#pragma once
// Our own separable resampler for RGB32 bitmaps (five kernels), used for every scaling in the
// program. Horizontal pass into a small ring of float rows, vertical pass per output row, so the
// extra memory is a few rows, not a second bitmap.
//
// Threads: reentrant; the scratch memory (weight tables, row ring) belongs to the calling thread
// (see ReleaseResampleScratch).
#include <QImage>
#include <QRectF>
#include <QSize>

// Filter codes as stored in the project settings.
enum TResizeFilter : int {
  rfNearest = 0,  // nearest neighbour (point sampling)
  rfLinear = 1,   // triangle
  rfSpline = 2,   // cubic B-spline
  rfLanczos = 3,  // Lanczos-3 windowed sinc (default)
  rfMitchell = 4, // Mitchell-Netravali cubic, B = C = 1/3
};

// The filter of a stored code; a code outside 0..4 gives the default, Lanczos.
TResizeFilter ResizeFilterFromCode(int code);

// Resamples the part `window` of `source` (in source pixel coordinates, fractions allowed) onto
// a new RGB32 bitmap of `size`. Samples beyond the window's edges repeat its edge pixels. A
// window that is pixel-aligned and already of the target size is copied unchanged.
// The source may be any format; non-RGB32 sources are converted first.
// A reduction by 4 or more first averages blocks of pixels so that the kernel is left a factor
// of 2 to 3 (much faster, the same to the eye); exact = true applies the kernel to every source
// pixel instead (reference quality for comparisons).
QImage ResampleBitmap(const QImage& source, const QRectF& window, QSize size, TResizeFilter filter,
                      bool exact = false);
// Same, into an existing bitmap (resized as needed, its memory reused when large enough).
void ResampleBitmapInto(const QImage& source, const QRectF& window, QImage& target, QSize size,
                        TResizeFilter filter, bool exact = false);

// Where the processor has AVX2 and FMA, or AVX-512, the resampler uses them (the results differ
// from the portable path by rounding only). Tests and benchmarks can switch that off; returns
// whether a wide path is used now.
bool AllowWideResampling(bool allowed);

// The vector widths the resampler may use, narrowest first.
enum class TResampleVectors : int { Portable = 0, Avx2 = 1, Avx512 = 2 };
// Lets the resampler use at most the given width (within what the processor has); returns the
// width it uses now.
TResampleVectors LimitResampleVectors(TResampleVectors most);

// Frees the calling thread's resampling scratch memory.
void ReleaseResampleScratch();
