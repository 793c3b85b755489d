#pragma once
// TImageSizeCache: the pixel sizes of an album's generated JPEG files, kept from one run to the
// next so that a run reads the header of a file only when the file changed. Each entry is keyed
// by the file's path relative to the album folder and its stamp (size, modification and change
// time to the nanosecond, inode): a file written again, replaced or touched since is read again.
// The cache is a small file in the album's list-preview folder (kImageSizeCacheName in
// kPreviewFolder), written whole through a complete temporary file, and only when an entry was
// added, changed or is no longer asked for. A missing, foreign or damaged cache file (its
// checksum tells) is an empty cache: every size is then read from its file.
//
// Threads: an object is used by one thread at a time; two processes that save the same cache
// each leave a complete file.
#include <QByteArray>
#include <QHash>
#include <QSize>
#include <QString>
#include <memory>
#include <vector>

#include "util/filedescriptor.h"

inline constexpr const char* kImageSizeCacheName = ".lumenfold-sizes";

class TImageSizeCache {
public:
  // The cache of the album in this folder, loaded from its file. An empty folder gives a cache
  // that knows nothing and saves nothing.
  explicit TImageSizeCache(const QString& albumFolder);
  ~TImageSizeCache();
  TImageSizeCache(const TImageSizeCache&) = delete;
  TImageSizeCache& operator=(const TImageSizeCache&) = delete;

  // The stored pixel size of the JPEG file at this path relative to the album folder ('/'
  // between folders); invalid when there is no such file or it is not a readable JPEG.
  QSize Size(const QString& relative);
  // Writes the cache file when it differs from what was loaded: the entries asked for by Size()
  // since loading, nothing else. Returns an empty text or the reason it could not be written
  // (the next run then reads the files again).
  QString Save();

  // How many sizes were read from their files since loading (the others came from the cache).
  int FilesRead() const { return read_; }

private:
  struct TStamp {
    qint64 Size = -1;
    qint64 MTime = 0; // nanoseconds
    qint64 CTime = 0; // nanoseconds
    quint64 Inode = 0;
    bool operator==(const TStamp&) const = default;
  };
  struct TEntry {
    TStamp Stamp;
    qint32 Width = -1;
    qint32 Height = -1;
    bool Used = false; // asked for by Size() since loading
  };

  void load();
  QByteArray encode() const;
  // The folder below the album folder that holds the file at name ('/' between folders), and
  // the offset of the file's own name in it: a file is then found from its folder with one
  // look-up instead of one per folder of its path. -1 when there is no such folder (a folder
  // missing once counts as missing for the life of this object).
  int folderOf(const QByteArray& name, qsizetype& base);

  QString folder_;
  TFileDescriptor folderFd_; // the album folder: names below it are looked up from there
  struct TFolder {
    QByteArray Name;
    std::unique_ptr<TFileDescriptor> Fd;
  };
  std::vector<TFolder> folders_; // the few folders of the generated images, opened once
  // By the path's UTF-8 bytes, as the file system takes them.
  QHash<QByteArray, TEntry> entries_;
  qsizetype used_ = 0; // entries with Used set
  bool changed_ = false;
  int read_ = 0;
};
