#include "core/previewcache.h"

#include "core/bitmaplist.h"
#include "core/picture.h"

#include <QMutexLocker>

qint64 TPreviewCache::LimitBytes() const {
  QMutexLocker lock(&ThumbnailLock());
  return limit_;
}

void TPreviewCache::SetLimitBytes(qint64 bytes) {
  QMutexLocker lock(&ThumbnailLock());
  limit_ = qMax<qint64>(0, bytes);
  trim();
}

qint64 TPreviewCache::Bytes() const {
  QMutexLocker lock(&ThumbnailLock());
  return bytes_;
}

int TPreviewCache::Count() const {
  QMutexLocker lock(&ThumbnailLock());
  return int(order_.size());
}

bool TPreviewCache::HasRoom(qint64 bytes) const {
  QMutexLocker lock(&ThumbnailLock());
  return bytes_ + bytes <= limit_;
}

void TPreviewCache::ReleaseAlbum(const TLumenfoldAlbum* album) {
  QMutexLocker lock(&ThumbnailLock());
  for (auto it = order_.begin(); it != order_.end();) {
    auto next = std::next(it);
    if (it->Picture->Album == album) drop(it);
    it = next;
  }
}

void TPreviewCache::enter(TLumenfoldPicture* picture, qint64 bytes) {
  leave(picture);
  order_.push_front({picture, bytes});
  index_[picture] = order_.begin();
  bytes_ += bytes;
  trim();
}

void TPreviewCache::touch(const TLumenfoldPicture* picture) {
  auto found = index_.find(picture);
  if (found != index_.end()) order_.splice(order_.begin(), order_, found->second);
}

void TPreviewCache::leave(const TLumenfoldPicture* picture) {
  auto found = index_.find(picture);
  if (found == index_.end()) return;
  bytes_ -= found->second->Bytes;
  order_.erase(found->second);
  index_.erase(found);
}

void TPreviewCache::trim() {
  // The most recent entry stays even when it alone is over the bound: it is being shown.
  while (bytes_ > limit_ && order_.size() > 1)
    drop(std::prev(order_.end()));
}

void TPreviewCache::drop(std::list<Entry>::iterator entry) {
  TLumenfoldPicture* picture = entry->Picture;
  bytes_ -= entry->Bytes;
  index_.erase(picture);
  order_.erase(entry);
  // A face picture keeps its preview outside the bound (one per album, for the album list).
  if (picture->IsFace) return;
  if (picture->thumbnail_) BitmapList().Remove(picture->thumbnail_);
  picture->thumbnail_ = nullptr;
}

TPreviewCache& PreviewCache() {
  static TPreviewCache cache;
  return cache;
}
