#pragma once
// Imaging primitives that turn an original picture into web images: fitting into a box (with the
// upscaling policy and its trace notes), orientation, crop and JPEG writing.
//
// All bitmaps are QImage::Format_RGB32. Every failure raises EImageError (imageerror.h); a JPEG
// quality outside 1..100 raises EImageRangeError before anything is written. Nothing here catches.
//
// Threads: every function may be called from any thread for bitmaps that thread owns. The
// scratch memory behind ScalePictureFile, CropBitmap and SaveBitmapAsJpeg is kept per thread, so
// the processing run and the thumbnail loader never share it; ReleaseImagingScratch frees the
// calling thread's set.
#include "util/imaging/imageerror.h"
#include "util/imaging/resample.h"

#include <QImage>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

// ---- Fitting into a box -------------------------------------------------------------------

// What fitting a W x H picture into a box gives.
struct TFitResult {
  QSize Size;           // round(W * s) x round(H * s), halves to even
  double Scale = 1.0;   // s after the upscaling policy
  bool Smaller = false; // the picture was smaller than the box (s > 1 before the policy)
};

// The fitting rule alone, without trace notes. Boxes of zero or negative size give an empty
// result (nothing can be fitted into them).
TFitResult FitIntoBox(QSize source, int boxWidth, int boxHeight, bool noUpscale);

// The fitting rule plus the trace note for a picture smaller than the box:
//   "Original picture is smaller than desired size. No scale will be done. " + names   (no-upscale)
//   "Original picture is smaller than desired size. Picture will be upscaled anyway. " + names
// where names is the text given (callers pass "<source>." or "<source>-><target>.").
TFitResult FitIntoBoxTraced(QSize source, int boxWidth, int boxHeight, bool noUpscale,
                            const QString& names);

// Fits `source` into the box and leaves the result in `target` (resized). sourceName (the
// original's full path) is used only in the trace note. filter is a stored filter code 0..4.
void ScaleBitmap(const QString& sourceName, const QImage& source, QImage& target, int boxWidth,
                 int boxHeight, bool noUpscale, int filter);

// Loads a JPEG file, fits it into the box, writes the result as JPEG to targetPath (at the
// quality last set on this thread by SaveBitmapAsJpeg, 90 before any) and returns the source's
// stored width and height. The decode uses DCT scaling where the result still gets at least
// twice its pixels from it.
QSize ScalePictureFile(const QString& sourcePath, const QString& targetPath, int boxWidth,
                       int boxHeight, bool noUpscale, int filter);

// ---- Transforms ---------------------------------------------------------------------------

// Orientation code: magnitude 1 none, 2 quarter turn clockwise, 3 half turn, 4 quarter turn
// counter-clockwise (other magnitudes: no rotation); a negative code mirrors left-right after the
// rotation. In place.
void ApplyOrientation(QImage& bitmap, int orientation);
// Size of a W x H picture after the orientation.
QSize OrientedSize(QSize size, int orientation);

// True when the crop corners are set (at least one coordinate is not -1).
bool CropIsSet(int x1, int y1, int x2, int y2);
// The rectangle a crop keeps of a picture of the given size: the corners in any order
// (|X2 - X1| x |Y2 - Y1|), limited to the picture. Empty when nothing of it lies inside.
QRect CropRectangle(QPoint topLeft, QPoint bottomRight, QSize pictureSize);

// Replaces the bitmap by the rectangle between the two corners (pixel exact; the filter code is
// accepted for the stored settings but a crop never resamples). Raises EImageError when the
// rectangle holds no pixel of the bitmap.
void CropBitmap(QImage& bitmap, QPoint topLeft, QPoint bottomRight, int filter);

// Encodes the bitmap as a baseline colour JPEG at the quality (1..100, else EImageRangeError
// before anything is written) and replaces the file at path through a temporary file.
// Remembers the quality as this thread's quality for ScalePictureFile.
void SaveBitmapAsJpeg(const QImage& bitmap, int quality, const QString& path);

// Frees the calling thread's scratch memory (decode buffers, resampling tables and rows).
void ReleaseImagingScratch();

// Stored size of a picture file (JPEG from its header, other formats from theirs) without
// decoding it. Raises EImageError when the header cannot be read.
QSize ReadPictureSize(const QString& path);

// Raises EImageError when the picture of the given size has more than maxPixels pixels
// (maxPixels 0: no limit).
void CheckPixelLimit(const QString& path, QSize size, qint64 maxPixels);

// ---- Loading an original for several outputs ---------------------------------------------

// What the processing run asks for when it loads one original.
struct TOriginalRequest {
  int Orientation = 1;
  bool Crop = false; // the crop corners are set
  QPoint CropTopLeft, CropBottomRight;
  QList<QSize> Boxes; // every box that will be fitted from the picture
  // Boxes whose images are made straight from the decode but need it only to cover them (the
  // smaller images are then made from them); they never enlarge the picture.
  QList<QSize> CoverBoxes;
  bool NoUpscale = false;
  bool FullResolution = false; // the picture itself is needed (large image): no reduction
  qint64 MaxPixels = 0;        // a larger picture is refused before decoding; 0: no limit
};

// An original, oriented and cropped, possibly decoded at a reduced DCT scale.
struct TLoadedOriginal {
  QImage Bitmap;      // oriented, cropped pixels (at 1/ScaleDenominator)
  QRectF Window;      // the part of Bitmap that shows the picture, in Bitmap pixels
  QSize Size;         // full-resolution size of the oriented, cropped picture
  QSize OriginalSize; // stored size of the file (before orientation), always full
  int ScaleDenominator = 1;
  // True when Bitmap is the full-resolution oriented, cropped picture (then Bitmap.size()==Size).
  bool IsFullResolution() const { return ScaleDenominator == 1; }
};

// Loads the original at the smallest DCT scale at which the largest fitted output still gets at
// least twice its pixels and every cover box is covered (full scale when FullResolution is asked
// or any box would upscale),
// applying orientation and crop on the way. Output sizes are computed from the full-resolution
// size, so they are the same as from a full decode. Raises EImageError.
TLoadedOriginal LoadOriginal(const QString& path, const TOriginalRequest& request);
// Same, into an existing object: its bitmap is freed before the new one is allocated (or its
// memory reused when the size is the same), so a worker never holds two originals at once.
void LoadOriginal(const QString& path, const TOriginalRequest& request, TLoadedOriginal& into);
// Same for an original whose file the caller has read already (contents: all its bytes; empty
// means read the file). path names the picture in error texts.
void LoadOriginal(const QString& path, const QByteArray& contents, const TOriginalRequest& request,
                  TLoadedOriginal& into);

// The memory that loading the original for the request and making its outputs takes at its
// peak, in bytes, from the file's header alone: the file's bytes, the decoded (oriented,
// cropped, possibly reduced) bitmap, the coefficients a progressive JPEG keeps while it is
// decoded, the fitted outputs and the encoded large image (only the file's bytes for a picture
// above request.MaxPixels: it is refused before decoding). Raises EImageError when the header
// cannot be read.
qint64 EstimateOriginalMemory(const QString& path, const TOriginalRequest& request);

// ScaleBitmap for a loaded original: fits original.Size into the box (trace note names
// sourceName) and resamples from original.Window into target.
void ScaleLoadedOriginal(const QString& sourceName, const TLoadedOriginal& original, QImage& target,
                         int boxWidth, int boxHeight, bool noUpscale, int filter);
