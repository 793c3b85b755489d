#pragma once
// TPreviewCache: the bound on the list previews held in memory.
//
// Previews live on disk (the album's "ps_tmp" folder); memory keeps only the ones used last, up
// to a bound in bytes. Every picture that holds a preview is entered here with its bitmap's size.
// Giving a picture a preview or reading it makes that picture the most recent; once the total is
// over the bound, the least recently used pictures lose their previews (a view asks for them
// again when their rows are shown). A face picture keeps its preview when its turn comes (it
// leaves the cache instead): the album list shows it. Switching albums releases the previous
// album's previews (ReleaseAlbum).
//
// Threads: any thread. The public calls take ThumbnailLock() themselves; the picture's preview
// calls (SetThumbnail, Thumbnail) enter and touch pictures while they hold it.
#include <QtGlobal>
#include <list>
#include <unordered_map>

class TLumenfoldAlbum;
class TLumenfoldPicture;

class TPreviewCache {
public:
  static constexpr qint64 DefaultLimitBytes = qint64(64) * 1024 * 1024;

  TPreviewCache() = default;
  TPreviewCache(const TPreviewCache&) = delete;
  TPreviewCache& operator=(const TPreviewCache&) = delete;

  qint64 LimitBytes() const;
  // A smaller bound drops the least recently used previews at once.
  void SetLimitBytes(qint64 bytes);
  // Bytes and pictures entered now.
  qint64 Bytes() const;
  int Count() const;
  // True when a preview of this many bytes still fits without dropping another.
  bool HasRoom(qint64 bytes) const;
  // Drops the previews of the album's pictures (face picture excepted).
  void ReleaseAlbum(const TLumenfoldAlbum* album);

private:
  friend class TLumenfoldPicture;
  struct Entry {
    TLumenfoldPicture* Picture;
    qint64 Bytes;
  };
  // Under ThumbnailLock(): the picture holds a preview of bytes now / it was read / it has none.
  void enter(TLumenfoldPicture* picture, qint64 bytes);
  void touch(const TLumenfoldPicture* picture);
  void leave(const TLumenfoldPicture* picture);
  void trim();
  // Removes the entry and takes the preview away from its picture (a face picture keeps it).
  void drop(std::list<Entry>::iterator entry);

  qint64 limit_ = DefaultLimitBytes;
  qint64 bytes_ = 0;
  std::list<Entry> order_; // most recent first
  std::unordered_map<const TLumenfoldPicture*, std::list<Entry>::iterator> index_;
};

// The one cache, alive from first use to program end.
TPreviewCache& PreviewCache();
