#pragma once
// Process-wide owner of the preview bitmaps of pictures, behind one process-wide lock.
//
// A bitmap is held as a shared, immutable QImage: the list keeps one reference for as long as a
// picture uses it, and copies of a picture (or a view that is drawing it) keep theirs, so a
// bitmap that one side releases never disappears under another.
//
// Threads: any thread, but every call of the list and every change of a picture's preview must
// happen while holding ThumbnailLock() (TLumenfoldPicture::SetThumbnail does so itself).
#include <QImage>
#include <QMutex>
#include <memory>
#include <vector>

using TLumenfoldBitmap = std::shared_ptr<const QImage>;

class TLumenfoldBitmapList {
public:
  TLumenfoldBitmapList() = default;
  TLumenfoldBitmapList(const TLumenfoldBitmapList&) = delete;
  TLumenfoldBitmapList& operator=(const TLumenfoldBitmapList&) = delete;

  // Accepts only a 32-bit bitmap (RGB32 or ARGB32 formats); returns its position, or -1 when
  // refused.
  int Add(const TLumenfoldBitmap& bitmap);
  // Releases the bitmap and removes its entry; false when it is not in the list (or none).
  bool Remove(const TLumenfoldBitmap& bitmap);
  int IndexOf(const TLumenfoldBitmap& bitmap) const;
  void Delete(int index);
  void Clear();
  int Count() const { return int(items_.size()); }
  TLumenfoldBitmap Items(int index) const { return items_.at(size_t(index)); }

private:
  std::vector<TLumenfoldBitmap> items_;
};

// True for the 32-bit formats the bitmap list accepts.
bool IsBitmap32(const QImage& image);
// Wraps an image as a preview bitmap (converted to Format_RGB32 when it is not 32-bit).
TLumenfoldBitmap MakeBitmap(QImage image);

// The one list and the one lock, alive from first use to program end.
TLumenfoldBitmapList& BitmapList();
QMutex& ThumbnailLock();
