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
#include <QImage>
#include <QSize>
#include <QString>
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

// ---- Preview files ------------------------------------------------------------------------------
// A preview is made in one of a few fixed sizes, the smallest whose box covers what a tile shows
// (device pixels), so that few files exist per picture whatever the tile size. Step 0 is the
// file at TLumenfoldPicture::TempThumbPath ("ps_tmp/tmp_NAME"); larger steps sit beside it as
// "ps_tmp/tmpSIDE_NAME" (SIDE the box's width).
inline constexpr int kPreviewSteps = 3;
// The box of a step (clamped to 0..kPreviewSteps-1): 160 x 120, 320 x 240, 640 x 480.
QSize PreviewStepBox(int step);
// The smallest step whose box covers pixels (the largest when none does).
int PreviewStepFor(QSize pixels);
// The file of a step, from the step-0 path; empty for an empty path.
QString PreviewStepPath(const QString& basePath, int step);
// True when a preview bitmap of this size serves the step: it fills the step's box on one side,
// or the picture itself (originalSize, when known) is no larger.
bool PreviewServesStep(QSize preview, QSize originalSize, int step);

// Preview files are a cache that can be made again, so they are written without waiting for the
// disk: a complete temporary renamed over the old file. A file torn by a crash (cut short, or
// empty) is recognised when read: ReadPreviewFile gives a null image for it, as for a missing or
// undecodable one, and the loader makes it again.
QString WritePreviewFile(const QString& path, const QByteArray& jpeg);
QImage ReadPreviewFile(const QString& path);
