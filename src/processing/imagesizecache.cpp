#include "processing/imagesizecache.h"

#include "core/outputsettings.h"
#include "util/helpers.h"
#include "util/imaging/jpegcodec.h"
#include "util/programfolder.h"

#include <QDir>
#include <QFile>
#include <QtEndian>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <zlib.h>

// The file: the magic, then per entry the path's length (4 bytes) and its UTF-8 bytes, size,
// modification time, change time, inode (8 bytes each), width and height (4 bytes each), all
// little-endian; last the CRC-32 of everything before it.
namespace {

constexpr char kSizeCacheMagic[8] = {'L', 'F', 'S', 'I', 'Z', 'E', '0', '1'};
constexpr qsizetype kSizeCacheFixed = 4 + 4 * 8 + 2 * 4; // an entry without its path

void putSizeCacheNumber(QByteArray& out, quint64 value, int bytes) {
  char buffer[8];
  qToLittleEndian(value, buffer);
  out.append(buffer, bytes);
}

quint64 takeSizeCacheNumber(const char* at, int bytes) {
  quint64 value = 0;
  for (int i = bytes - 1; i >= 0; --i)
    value = (value << 8) | quint8(at[i]);
  return value;
}

quint32 sizeCacheCrc(const char* data, qsizetype size) {
  return quint32(crc32(0, reinterpret_cast<const Bytef*>(data), uInt(size)));
}

} // namespace

TImageSizeCache::TImageSizeCache(const QString& albumFolder)
    : folder_(albumFolder),
      folderFd_(albumFolder.isEmpty() ? -1
                                      : ::open(QFile::encodeName(albumFolder).constData(),
                                               O_PATH | O_DIRECTORY | O_CLOEXEC)) {
  if (folderFd_.get() >= 0) load();
}

TImageSizeCache::~TImageSizeCache() = default;

void TImageSizeCache::load() {
  QFile file(IncludeTrailingSeparator(folder_) + QLatin1String(kPreviewFolder) + QLatin1Char('/') +
             QLatin1String(kImageSizeCacheName));
  if (!file.open(QIODevice::ReadOnly)) return;
  const QByteArray bytes = file.readAll();
  const qsizetype magic = qsizetype(sizeof(kSizeCacheMagic));
  if (bytes.size() < magic + 4 || std::memcmp(bytes.constData(), kSizeCacheMagic, magic) != 0)
    return;
  const qsizetype end = bytes.size() - 4;
  if (sizeCacheCrc(bytes.constData(), end) !=
      quint32(takeSizeCacheNumber(bytes.constData() + end, 4)))
    return; // damaged: as if there were none
  QHash<QByteArray, TEntry> entries;
  entries.reserve((end - magic) / (kSizeCacheFixed + 24));
  for (qsizetype at = magic; at < end;) {
    const char* p = bytes.constData() + at;
    if (end - at < kSizeCacheFixed) return;
    const qsizetype length = qsizetype(takeSizeCacheNumber(p, 4));
    if (length > end - at - kSizeCacheFixed) return;
    const QByteArray path(p + 4, length);
    p += 4 + length;
    TEntry e;
    e.Stamp.Size = qint64(takeSizeCacheNumber(p, 8));
    e.Stamp.MTime = qint64(takeSizeCacheNumber(p + 8, 8));
    e.Stamp.CTime = qint64(takeSizeCacheNumber(p + 16, 8));
    e.Stamp.Inode = takeSizeCacheNumber(p + 24, 8);
    e.Width = qint32(takeSizeCacheNumber(p + 32, 4));
    e.Height = qint32(takeSizeCacheNumber(p + 36, 4));
    entries.insert(path, e);
    at += kSizeCacheFixed + length;
  }
  entries_ = std::move(entries);
}

QSize TImageSizeCache::Size(const QString& relative) {
  if (folderFd_.get() < 0 || relative.isEmpty() || relative.startsWith(QLatin1Char('/'))) return {};
  const QByteArray name = relative.toUtf8();
  qsizetype base = 0;
  const int folder = folderOf(name, base);
  struct stat st {};
  if (folder < 0 || ::fstatat(folder, name.constData() + base, &st, 0) != 0 || !S_ISREG(st.st_mode))
    return {};
  TStamp stamp;
  stamp.Size = st.st_size;
  stamp.MTime = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  stamp.CTime = qint64(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  stamp.Inode = quint64(st.st_ino);
  const auto found = entries_.find(name);
  if (found != entries_.end() && found->Stamp == stamp) {
    if (!found->Used) found->Used = true, ++used_;
    return found->Width > 0 && found->Height > 0 ? QSize(found->Width, found->Height) : QSize();
  }
  // Stamped before it is read: a file replaced in between is read again by the next run.
  TEntry entry{stamp, -1, -1, true};
  try {
    const QSize size = ReadJpegSize(IncludeTrailingSeparator(folder_) + relative);
    if (size.isValid()) entry.Width = size.width(), entry.Height = size.height();
  } catch (const std::exception&) {
    // Not a readable JPEG: remembered as such until the file changes.
  }
  ++read_;
  if (found == entries_.end() || !found->Used) ++used_;
  entries_.insert(name, entry);
  changed_ = true;
  return entry.Width > 0 ? QSize(entry.Width, entry.Height) : QSize();
}

int TImageSizeCache::folderOf(const QByteArray& name, qsizetype& base) {
  const qsizetype slash = name.lastIndexOf('/');
  base = slash + 1;
  if (slash <= 0) {
    base = 0;
    return folderFd_.get();
  }
  const QByteArrayView folder(name.constData(), slash);
  for (const TFolder& f : folders_)
    if (f.Name == folder) return f.Fd->get();
  // Only a few folders are kept open; beyond those a name is looked up from the album folder.
  if (folders_.size() >= 16) {
    base = 0;
    return folderFd_.get();
  }
  QByteArray path = folder.toByteArray();
  auto fd = std::make_unique<TFileDescriptor>(
      ::openat(folderFd_.get(), path.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  // A folder that is not there (a web size no picture of the album got) stays so for this
  // object: a run asks for the sizes after it made the files.
  const int found = fd->get();
  folders_.push_back({std::move(path), std::move(fd)});
  return found;
}

QByteArray TImageSizeCache::encode() const {
  QByteArray out(kSizeCacheMagic, qsizetype(sizeof(kSizeCacheMagic)));
  out.reserve(out.size() + used_ * (kSizeCacheFixed + 48) + 4);
  for (auto it = entries_.cbegin(); it != entries_.cend(); ++it) {
    if (!it->Used) continue;
    const QByteArray& path = it.key();
    putSizeCacheNumber(out, quint64(path.size()), 4);
    out.append(path);
    putSizeCacheNumber(out, quint64(it->Stamp.Size), 8);
    putSizeCacheNumber(out, quint64(it->Stamp.MTime), 8);
    putSizeCacheNumber(out, quint64(it->Stamp.CTime), 8);
    putSizeCacheNumber(out, it->Stamp.Inode, 8);
    putSizeCacheNumber(out, quint32(it->Width), 4);
    putSizeCacheNumber(out, quint32(it->Height), 4);
  }
  putSizeCacheNumber(out, sizeCacheCrc(out.constData(), out.size()), 4);
  return out;
}

QString TImageSizeCache::Save() {
  if (folder_.isEmpty() || (!changed_ && used_ == entries_.size())) return QString();
  const QString previews = IncludeTrailingSeparator(folder_) + QLatin1String(kPreviewFolder);
  if (!QDir().mkpath(previews)) return QStringLiteral("\"%1\" cannot be made").arg(previews);
  const QString failure = WriteFileReplacing(
      previews + QLatin1Char('/') + QLatin1String(kImageSizeCacheName), encode());
  if (failure.isEmpty()) {
    // What the file holds now, all of it counted as asked for.
    entries_.removeIf([](const auto& entry) { return !entry.value().Used; });
    changed_ = false;
  }
  return failure;
}
