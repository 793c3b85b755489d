#pragma once
// The list previews' files: making one (the original read once and decoded at the size the
// preview needs, within the project's pixel limit and, for formats other than JPEG, the memory
// budget; the file written whole) and reading one back.
//
// Threads: any thread; calls share nothing but the budget, which is thread-safe.
#include "core/bitmaplist.h"
#include "util/safefile.h"

#include <QImage>
#include <QSize>
#include <QString>

class TMemoryBudget;

// What a worker needs besides the picture to make a preview.
struct TPreviewLimits {
  qint64 MaxPixels = 0;            // a larger original is refused (0: no limit)
  TMemoryBudget* Budget = nullptr; // the decodes of other formats reserve their memory here
};

// An original read once for the loader's check and decode: whether it could be opened, its
// recorded facts (as FileDosDateTime, GetFileSizeBytes and GetFileHash give them) and its bytes.
struct TOriginalFile {
  TFileRefusal Refusal = TFileRefusal::None; // anything else: nothing below was read
  int Date = -1;
  int Size = -1;
  QString Hash;
  QByteArray Data; // empty when too large to hold at once (the checksum was then read in parts)
};
TOriginalFile ReadOriginalFile(const QString& path);

// Makes the preview file of an original for a box and leaves the preview in bitmap; returns the
// original's stored size. data: the original's bytes when already read (empty: read here). A JPEG
// original is read once and decoded at the smallest DCT scale that still gives at least the
// preview's size, so the nearest filter only ever reduces. Other formats are decoded whole, within
// the pixel limit and the memory budget.
QSize MakePreview(const QString& original, const QString& preview, QSize box,
                  const TPreviewLimits& limits, QImage& bitmap, QByteArray data = QByteArray());

// Reads a preview file into a 32-bit bitmap; null when it is missing, torn or cannot be decoded.
TLumenfoldBitmap LoadPreviewBitmap(const QString& path);
