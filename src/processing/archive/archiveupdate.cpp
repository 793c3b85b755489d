#include "processing/archive/archiveupdate.h"

#include "util/durablefiles.h"

#include <QDataStream>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <libdeflate.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Version 1 kept a copy of the old directory, which the new entries overwrote; version 2 leaves
// everything before the old end in place, so the file's old size is all that undoing needs.
constexpr char kJournalMagic1[] = "LumenFold archive journal 1";
constexpr char kJournalMagic[] = "LumenFold archive journal 2";
static_assert(sizeof(kJournalMagic1) == sizeof(kJournalMagic));
constexpr qint64 kBlock = qint64(1) << 20;
// The largest piece of a file the page cache keeps as one: a write into a cached piece makes all
// of it dirty, and the system counts all of it as written.
constexpr qint64 kCachePiece = qint64(2) << 20;

QString errnoText() {
  return QString::fromLocal8Bit(std::strerror(errno));
}

// Closes a descriptor when it goes.
struct Fd {
  int Value = -1;
  explicit Fd(int fd) : Value(fd) {}
  ~Fd() {
    if (Value >= 0) ::close(Value);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
};

bool writeAt(int fd, const char* data, qint64 size, qint64 offset) {
  while (size > 0) {
    const ssize_t n = ::pwrite(fd, data, size_t(std::min(size, kBlock * 64)), off_t(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    data += n;
    size -= n;
    offset += n;
  }
  return true;
}

bool readRange(int fd, char* data, qint64 size, qint64 offset) {
  while (size > 0) {
    const ssize_t n = ::pread(fd, data, size_t(size), off_t(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    data += n;
    size -= n;
    offset += n;
  }
  return true;
}

// Copies length bytes of from (at in) into to (at out): by the kernel where it can, else
// through a buffer.
bool copyRange(int from, qint64 in, int to, qint64 out, qint64 length) {
  loff_t i = loff_t(in), o = loff_t(out);
  while (length > 0) {
    const ssize_t n = copy_file_range(from, &i, to, &o, size_t(std::min(length, kBlock * 16)), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    length -= n;
  }
  if (length == 0) return true;
  std::unique_ptr<char[]> buffer(new char[size_t(kBlock)]);
  while (length > 0) {
    const qint64 piece = std::min(length, kBlock);
    if (!readRange(from, buffer.get(), piece, qint64(i)) ||
        !writeAt(to, buffer.get(), piece, qint64(o)))
      return false;
    i += piece;
    o += piece;
    length -= piece;
  }
  return true;
}

quint32 crcOf(const QByteArray& bytes) {
  return quint32(libdeflate_crc32(0, bytes.constData(), size_t(bytes.size())));
}

// The tests kill the process (as kill -9 would) at a chosen point of an update:
// LUMENFOLD_FAULT_KILL_ARCHIVE_UPDATE=N after the N-th new entry is written, "committed" once
// the new directory is on the disk and before the entries that go are overwritten.
void faultPoint(const QByteArray& point) {
  static const QByteArray wanted = qgetenv("LUMENFOLD_FAULT_KILL_ARCHIVE_UPDATE");
  if (!wanted.isEmpty() && wanted == point) std::raise(SIGKILL);
}

// Drops the clean cached pages around [begin, end), so that small writes there make (and count)
// small dirty pieces instead of the large pieces a copy or a read ahead left in the cache.
void forgetCached(int fd, qint64 begin, qint64 end) {
  const qint64 from = std::max<qint64>(0, begin / kCachePiece * kCachePiece);
  const qint64 to = (end + kCachePiece - 1) / kCachePiece * kCachePiece;
  if (to > from) ::posix_fadvise(fd, off_t(from), off_t(to - from), POSIX_FADV_DONTNEED);
}

// Clears [begin, end): the file system frees the blocks (reading gives zeros; only the partial
// blocks at either end are written), else zeros are written over it.
bool clearRange(int fd, qint64 begin, qint64 end, const QByteArray& zeros) {
  if (::fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, off_t(begin),
                  off_t(end - begin)) == 0)
    return true;
  forgetCached(fd, begin, end);
  for (qint64 at = begin; at < end;) {
    const qint64 piece = std::min(end - at, kBlock);
    if (!writeAt(fd, zeros.constData(), piece, at)) return false;
    at += piece;
  }
  return true;
}

// Clears the places of entries that went (and of the old directory). A file that began with
// such an entry keeps beginning as a zip archive does: the place gets the local header of a
// nameless entry of zeros that no directory names. fsync, not fdatasync: freed blocks are a
// change of the file's metadata.
bool clearDead(int fd, std::vector<std::pair<qint64, qint64>> dead) {
  // Places that touch are cleared as one: only the blocks at the ends of each are written.
  std::sort(dead.begin(), dead.end());
  size_t kept = 0;
  for (const auto& range : dead) {
    if (kept > 0 && range.first <= dead[kept - 1].second)
      dead[kept - 1].second = std::max(dead[kept - 1].second, range.second);
    else
      dead[kept++] = range;
  }
  dead.resize(kept);
  const QByteArray zeros(qsizetype(kBlock), '\0');
  int cleared = 0;
  for (const auto& [begin, end] : dead) {
    if (end <= begin) continue;
    if (!clearRange(fd, begin, end, zeros)) return false;
    if (++cleared == 1) faultPoint("clearing");
    if (begin == 0 && end - begin >= 30 && end - begin - 30 < qint64(0xffffffff)) {
      const qint64 length = end - begin - 30;
      quint32 crc = 0;
      for (qint64 done = 0; done < length;) {
        const qint64 piece = std::min(length - done, kBlock);
        crc = quint32(libdeflate_crc32(crc, zeros.constData(), size_t(piece)));
        done += piece;
      }
      TZipEntryHeader padding;
      padding.Crc = crc;
      padding.CompressedSize = padding.Size = quint64(length);
      padding.DosDate = (1 << 5) | 1;
      QByteArray header = ZipLocalHeader(padding);
      if (!writeAt(fd, header.constData(), header.size(), 0)) return false;
    }
  }
  return ::fsync(fd) == 0;
}

struct Journal {
  int Version = 2;
  std::vector<std::pair<qint64, qint64>> Used; // version 2: places before the old end written
  quint64 Device = 0;
  quint64 Inode = 0;
  qint64 OldSize = 0;
  qint64 OldDirectoryOffset = 0; // version 1 only
  QByteArray OldTail;            // version 1 only: the bytes from OldDirectoryOffset to OldSize
  qint64 NewSize = 0;
  qint64 DirectoryOffset = 0;
  quint32 TailCrc = 0; // of the bytes from DirectoryOffset to NewSize when finished
  std::vector<std::pair<qint64, qint64>> Dead;

  QByteArray Encode() const {
    QByteArray bytes;
    {
      QDataStream out(&bytes, QIODevice::WriteOnly);
      out.writeRawData(kJournalMagic, int(sizeof(kJournalMagic)));
      out << Device << Inode << OldSize << NewSize << DirectoryOffset << TailCrc
          << quint64(Dead.size());
      for (const auto& [begin, end] : Dead)
        out << begin << end;
      out << quint64(Used.size());
      for (const auto& [begin, end] : Used)
        out << begin << end;
    }
    QDataStream(&bytes, QIODevice::Append) << crcOf(bytes);
    return bytes;
  }

  // False for a journal cut short or damaged (its archive was not touched yet then).
  bool Decode(const QByteArray& bytes) {
    if (bytes.size() < qsizetype(sizeof(kJournalMagic)) + 4) return false;
    const QByteArray body = bytes.left(bytes.size() - 4);
    quint32 crc = 0;
    QDataStream(bytes.right(4)) >> crc;
    if (crc != crcOf(body)) return false;
    if (body.startsWith(QByteArray(kJournalMagic, sizeof(kJournalMagic))))
      Version = 2;
    else if (body.startsWith(QByteArray(kJournalMagic1, sizeof(kJournalMagic1))))
      Version = 1;
    else
      return false;
    QDataStream in(body);
    in.skipRawData(int(sizeof(kJournalMagic)));
    quint64 count = 0;
    in >> Device >> Inode >> OldSize;
    if (Version == 1) in >> OldDirectoryOffset >> OldTail;
    in >> NewSize >> DirectoryOffset >> TailCrc >> count;
    if (in.status() != QDataStream::Ok || count > quint64(body.size())) return false;
    Dead.resize(size_t(count));
    for (auto& [begin, end] : Dead)
      in >> begin >> end;
    if (Version >= 2) {
      in >> count;
      if (in.status() != QDataStream::Ok || count > quint64(body.size())) return false;
      Used.resize(size_t(count));
      for (auto& [begin, end] : Used)
        in >> begin >> end;
    }
    return in.status() == QDataStream::Ok;
  }
};

// Clears the places before the old end that new entries took and cuts the file to its old size
// (version 1: puts the old directory back instead of clearing).
bool undo(int fd, const Journal& journal) {
  const QByteArray zeros(qsizetype(journal.Used.empty() ? 0 : kBlock), '\0');
  for (const auto& [begin, end] : journal.Used)
    if (!clearRange(fd, begin, end, zeros)) return false;
  return (journal.Version != 1 || writeAt(fd, journal.OldTail.constData(), journal.OldTail.size(),
                                          journal.OldDirectoryOffset)) &&
         ::ftruncate(fd, off_t(journal.OldSize)) == 0 && ::fsync(fd) == 0;
}

} // namespace

QString ArchiveJournalPath(const QString& archivePath) {
  return archivePath + QStringLiteral(".lumenfold-journal");
}

void PlanArchiveUpdate(TArchiveUpdatePlan& plan) {
  // The places before the old directory that the old archive does not use (cleared by earlier
  // updates) take new entries first, each in the first one it fits in; the others go behind the
  // old end.
  std::vector<std::pair<qint64, qint64>> taken = plan.Dead, free;
  for (const TArchiveUpdateEntry& entry : plan.Entries)
    if (entry.Kept)
      taken.emplace_back(entry.LocalOffset, entry.LocalOffset + ZipLocalHeaderSize(entry.Header) +
                                                qint64(entry.Header.CompressedSize));
  std::sort(taken.begin(), taken.end());
  // A place at the file's start is left alone: it begins with the header that keeps the file
  // looking like an archive from its first byte on (clearDead).
  qint64 from = 0;
  for (const auto& [begin, end] : taken) {
    const qint64 until = std::min(begin, plan.OldDirectoryOffset);
    if (from > 0 && until > from) free.emplace_back(from, until);
    from = std::max(from, end);
  }
  if (from > 0 && from < plan.OldDirectoryOffset) free.emplace_back(from, plan.OldDirectoryOffset);
  plan.Used.clear();
  qint64 at = plan.OldSize, used = 0;
  plan.NewData = 0;
  QByteArray directory;
  qint64 directorySize = 0; // at most: each record with its name and a full zip64 field
  for (const TArchiveUpdateEntry& entry : plan.Entries)
    directorySize += 46 + 28 + qint64(entry.Header.Name.size());
  directory.reserve(qsizetype(directorySize));
  for (TArchiveUpdateEntry& entry : plan.Entries) {
    const qint64 size = ZipLocalHeaderSize(entry.Header) + qint64(entry.Header.CompressedSize);
    if (!entry.Kept) {
      const auto place = std::find_if(free.begin(), free.end(), [&](const auto& range) {
        return range.second - range.first >= size;
      });
      if (place != free.end()) {
        entry.LocalOffset = place->first;
        if (!plan.Used.empty() && plan.Used.back().second == place->first)
          plan.Used.back().second += size;
        else
          plan.Used.emplace_back(place->first, place->first + size);
        place->first += size;
      } else {
        entry.LocalOffset = at;
        at += size;
      }
      plan.NewData += qint64(entry.Header.CompressedSize);
    }
    used += size;
    ZipAppendDirectoryRecord(directory, entry.Header, quint64(entry.LocalOffset));
  }
  plan.DirectoryOffset = at;
  plan.Unused = at - used;
  // The old directory and end records go once the new ones are in place.
  plan.Dead.emplace_back(plan.OldDirectoryOffset, plan.OldSize);
  plan.Tail = directory + ZipEndRecords(quint64(plan.Entries.size()), quint64(at),
                                        quint64(directory.size()), plan.Comment);
  plan.NewSize = at + plan.Tail.size();
}

QString UpdateArchiveInPlace(const QString& path, const TArchiveUpdatePlan& plan,
                             const std::function<void(int)>& beforeEntry,
                             const std::function<void(qint64, qint64)>& progress) {
  const QString journalPath = ArchiveJournalPath(path);
  Fd fd(::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC));
  struct stat info;
  if (fd.Value < 0 || ::fstat(fd.Value, &info) != 0) return errnoText();
  if (qint64(info.st_size) != plan.OldSize)
    return QStringLiteral("the archive was changed by another program during the run.");

  Journal journal;
  journal.Device = quint64(info.st_dev);
  journal.Inode = quint64(info.st_ino);
  journal.OldSize = plan.OldSize;
  journal.NewSize = plan.NewSize;
  journal.DirectoryOffset = plan.DirectoryOffset;
  journal.TailCrc = crcOf(plan.Tail);
  journal.Used = plan.Used;
  journal.Dead = plan.Dead;
  {
    const QByteArray bytes = journal.Encode();
    Fd out(::open(QFile::encodeName(journalPath).constData(),
                  O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (out.Value < 0 || !writeAt(out.Value, bytes.constData(), bytes.size(), 0) ||
        ::fdatasync(out.Value) != 0) {
      const QString reason = errnoText();
      QFile::remove(journalPath);
      return reason;
    }
  }
  QString unsynced;
  if (!SyncFolderOf(journalPath, &unsynced)) {
    QFile::remove(journalPath);
    return unsynced;
  }

  // From here on, the old archive comes back from the journal until the new directory is whole.
  auto rollBack = [&] {
    if (undo(fd.Value, journal)) {
      QFile::remove(journalPath);
      SyncFolderOf(journalPath);
    }
  };
  // Progress counts the data of every entry: those that stay are done at once.
  qint64 done = 0, total = 0;
  for (const TArchiveUpdateEntry& entry : plan.Entries)
    total += qint64(entry.Header.CompressedSize);
  int written = 0;
  if (progress) progress(0, total);
  // New bytes land in the cached end of the old file and between its entries.
  forgetCached(fd.Value, plan.OldSize - 1, plan.OldSize);
  for (const auto& [begin, end] : plan.Used)
    forgetCached(fd.Value, begin, end);
  try {
    for (size_t i = 0; i < plan.Entries.size(); ++i) {
      if (beforeEntry) beforeEntry(int(i));
      const TArchiveUpdateEntry& entry = plan.Entries[i];
      const qint64 length = qint64(entry.Header.CompressedSize);
      if (entry.Kept) {
        done += length;
        if (progress) progress(done, total);
        continue;
      }
      const QByteArray header = ZipLocalHeader(entry.Header);
      const qint64 dataAt = entry.LocalOffset + header.size();
      if (!writeAt(fd.Value, header.constData(), header.size(), entry.LocalOffset) ||
          !(entry.SourceFd < 0
                ? length <= entry.SourceData.size() &&
                      writeAt(fd.Value, entry.SourceData.constData(), length, dataAt)
                : copyRange(entry.SourceFd, entry.SourceOffset, fd.Value, dataAt, length))) {
        const QString reason = errnoText();
        rollBack();
        return reason;
      }
      done += length;
      if (progress) progress(done, total);
      faultPoint(QByteArray::number(++written));
    }
  } catch (...) {
    rollBack();
    throw;
  }
  // The entries are on the disk before the directory that names them.
  if (::fdatasync(fd.Value) != 0 ||
      !writeAt(fd.Value, plan.Tail.constData(), plan.Tail.size(), plan.DirectoryOffset) ||
      ::ftruncate(fd.Value, off_t(plan.NewSize)) != 0 || ::fdatasync(fd.Value) != 0) {
    const QString reason = errnoText();
    rollBack();
    return reason;
  }
  faultPoint("committed");
  // The new archive is whole: what is left is overwriting the entries that went. A failure
  // here leaves the journal, and the next run finishes the work.
  if (!clearDead(fd.Value, plan.Dead))
    return QStringLiteral("the places of removed entries could not be cleared (%1); the next run "
                          "clears them.")
        .arg(errnoText());
  QFile::remove(journalPath);
  SyncFolderOf(journalPath);
  return QString();
}

QString RecoverArchiveUpdate(const QString& archivePath) {
  const QString journalPath = ArchiveJournalPath(archivePath);
  QFile file(journalPath);
  if (!file.exists()) return QString();
  if (!file.open(QIODevice::ReadOnly)) return file.errorString();
  Journal journal;
  const bool valid = journal.Decode(file.readAll());
  file.close();
  auto done = [&] {
    QFile::remove(journalPath);
    SyncFolderOf(journalPath);
    return QString();
  };
  // A journal cut short was written before its archive was touched.
  if (!valid) return done();
  Fd fd(::open(QFile::encodeName(archivePath).constData(), O_RDWR | O_CLOEXEC));
  struct stat info;
  // The journal belongs to the file it was written for, and to no other put in its place. An
  // update only ever added to the file beyond its old end (version 1: beyond its old directory).
  if (fd.Value < 0 || ::fstat(fd.Value, &info) != 0 || quint64(info.st_dev) != journal.Device ||
      quint64(info.st_ino) != journal.Inode ||
      qint64(info.st_size) < (journal.Version == 1 ? journal.OldDirectoryOffset : journal.OldSize))
    return done();
  bool finished = qint64(info.st_size) == journal.NewSize;
  if (finished) {
    QByteArray tail(qsizetype(journal.NewSize - journal.DirectoryOffset), Qt::Uninitialized);
    finished = readRange(fd.Value, tail.data(), tail.size(), journal.DirectoryOffset) &&
               crcOf(tail) == journal.TailCrc;
  }
  const bool ok = finished ? clearDead(fd.Value, journal.Dead) : undo(fd.Value, journal);
  if (!ok) return errnoText();
  return done();
}

void RecoverArchive(const QString& archivePath) {
  if (!QFile::exists(ArchiveJournalPath(archivePath))) return;
  TFileLock lock(archivePath + QStringLiteral(".lumenfold-lock"));
  if (lock.Held()) RecoverArchiveUpdate(archivePath);
}
