#include "core/bitmaplist.h"

#include <algorithm>

bool IsBitmap32(const QImage& image) {
  switch (image.format()) {
  case QImage::Format_RGB32:
  case QImage::Format_ARGB32:
  case QImage::Format_ARGB32_Premultiplied:
    return !image.isNull();
  default:
    return false;
  }
}

TLumenfoldBitmap MakeBitmap(QImage image) {
  if (image.isNull()) return nullptr;
  if (!IsBitmap32(image)) image = image.convertToFormat(QImage::Format_RGB32);
  return std::make_shared<const QImage>(std::move(image));
}

int TLumenfoldBitmapList::Add(const TLumenfoldBitmap& bitmap) {
  if (!bitmap || !IsBitmap32(*bitmap)) return -1;
  items_.push_back(bitmap);
  return Count() - 1;
}

int TLumenfoldBitmapList::IndexOf(const TLumenfoldBitmap& bitmap) const {
  if (!bitmap) return -1;
  for (int i = Count() - 1; i >= 0; --i)
    if (items_[size_t(i)] == bitmap) return i;
  return -1;
}

bool TLumenfoldBitmapList::Remove(const TLumenfoldBitmap& bitmap) {
  const int i = IndexOf(bitmap);
  if (i < 0) return false;
  Delete(i);
  return true;
}

void TLumenfoldBitmapList::Delete(int index) {
  items_.erase(items_.begin() + index);
}

void TLumenfoldBitmapList::Clear() {
  items_.clear();
}

TLumenfoldBitmapList& BitmapList() {
  static TLumenfoldBitmapList list;
  return list;
}

QMutex& ThumbnailLock() {
  static QMutex lock;
  return lock;
}
