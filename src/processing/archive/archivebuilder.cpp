#include "processing/archive/archivebuilder.h"

#include "processing/archive/archivemark.h"
#include "processing/archive/archiveupdate.h"
#include "util/durablefiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <future>
#include <limits>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

bool before(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

QString foldedName(const QString& name) {
  return name.toCaseFolded();
}

} // namespace

TZipEntryHeader TArchiveBuilder::SpoolRecord::Header(const QString& name) const {
  TZipEntryHeader h;
  h.Name = name.toUtf8();
  h.Method = Deflated ? kZipDeflated : kZipStored;
  h.Crc = Crc;
  h.CompressedSize = quint64(Length);
  h.Size = quint64(Size);
  ZipDosTime(std::time_t(MTime), h.DosTime, h.DosDate);
  return h;
}

namespace {

// The name is one ZipEntryName leaves as it is: parts joined by single '/', none empty, "." or
// "..", no '\\' and no drive letter in front.
bool plainEntryName(const QString& name) {
  const qsizetype size = name.size();
  if (size == 0 || (size >= 2 && name[1] == QLatin1Char(':'))) return false;
  qsizetype start = 0;
  for (qsizetype i = 0; i <= size; ++i) {
    const char16_t c = i < size ? name[i].unicode() : u'/';
    if (c == u'\\') return false;
    if (c != u'/') continue;
    const qsizetype length = i - start;
    if (length == 0 || (name[start] == QLatin1Char('.') &&
                        (length == 1 || (length == 2 && name[start + 1] == QLatin1Char('.')))))
      return false;
    start = i + 1;
  }
  return true;
}

} // namespace

QString ZipEntryName(const QString& relativePath) {
  // Called for every file of a project in each archived run: a plain scan, no pattern. Most
  // names are entry names already and are shared, not copied.
  if (plainEntryName(relativePath)) return relativePath;
  QString name;
  name.reserve(relativePath.size());
  bool first = true;
  const QChar* const end = relativePath.constEnd();
  for (const QChar* at = relativePath.constBegin(); at != end;) {
    const QChar* stop = at;
    while (stop != end && *stop != QLatin1Char('/') && *stop != QLatin1Char('\\'))
      ++stop;
    QStringView part(at, stop);
    at = stop == end ? end : stop + 1;
    if (part.isEmpty()) continue;
    if (first) {
      first = false;
      // "C:" alone or in front of a name ("C:name" is relative to the drive's current folder).
      const QChar c = part.front();
      if (part.size() >= 2 && part[1] == QLatin1Char(':') &&
          ((c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
           (c >= QLatin1Char('a') && c <= QLatin1Char('z'))))
        part = part.mid(2);
    }
    if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String("..")) continue;
    if (!name.isEmpty()) name += QLatin1Char('/');
    name += part;
  }
  return name;
}

// ---- Leftovers ------------------------------------------------------------------------------

namespace {

// True when the file is empty or the start of a zip archive that was never finished (no end
// record), as the temporary file of an earlier version's writer is when that dies.
bool unfinishedArchive(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  if (file.size() == 0) return true;
  if (file.read(4) != QByteArray("PK\x03\x04", 4)) return false;
  const qint64 tail = std::min<qint64>(file.size(), 65536 + 22);
  if (!file.seek(file.size() - tail)) return false;
  return !file.read(tail).contains(QByteArray("PK\x05\x06", 4));
}

} // namespace

QStringList TArchiveBuilder::Leftovers(const QString& archivePath) {
  const QFileInfo archive(archivePath);
  const QDir folder = archive.absoluteDir();
  const QString name = archive.fileName();
  QStringList found;
  // Ours: the spool, the new archive and an earlier version's temporary file of the new archive.
  const QString ours = name + QStringLiteral(".lumenfold-");
  // The temporary file of an archive written in place by an earlier version: the archive's
  // name, a dot and six random characters, holding an unfinished zip archive (or nothing).
  static const QRegularExpression random(QStringLiteral("^\\.[A-Za-z0-9]{6}$"));
  const QStringList entries = folder.entryList(QDir::Files | QDir::Hidden | QDir::System);
  for (const QString& entry : entries) {
    // The lock is the live builder's, or reused by the next one; the journal of an update is
    // needed to finish or undo it.
    if (!entry.startsWith(name) || entry == name || entry == ours + QStringLiteral("lock") ||
        entry == ours + QStringLiteral("journal"))
      continue;
    const QString path = folder.filePath(entry);
    if (entry.startsWith(ours) ||
        (random.match(entry.mid(name.size())).hasMatch() && unfinishedArchive(path)))
      found.append(path);
  }
  return found;
}

void TArchiveBuilder::removeLeftovers(const QString& archivePath) {
  const QString ours = QFileInfo(archivePath).fileName() + QStringLiteral(".lumenfold-");
  for (const QString& path : Leftovers(archivePath)) {
    // Files named by this program go; one that only looks like an earlier version's temporary
    // file goes to the trash, so that nothing of the user's is ever lost (it stays where the
    // trash cannot take it).
    if (QFileInfo(path).fileName().startsWith(ours))
      QFile::remove(path);
    else
      MoveToTrash(path);
  }
}

// ---- Builder --------------------------------------------------------------------------------

struct TArchiveBuilder::Prefill {
  int Fd = -1;                  // the new archive's file
  std::atomic<qint64> Limit{0}; // bytes to copy from the start (lowered by the run thread)
  std::atomic<qint64> Done{0};  // bytes copied
  bool Finished = false;        // under Mutex
  std::mutex Mutex;
  std::condition_variable Moved; // after each piece and at the end
  std::thread Thread;
  ~Prefill() {
    Limit.store(0);
    if (Thread.joinable()) Thread.join();
    if (Fd >= 0) ::close(Fd);
  }
};

TArchiveBuilder::TArchiveBuilder(const QString& archivePath, bool copyAhead)
    : archivePath_(QFileInfo(archivePath).absoluteFilePath()) {
  const QString folder = QFileInfo(archivePath_).absolutePath();
  if (!QFileInfo(folder).isDir())
    throw TZipError(
        QStringLiteral("The folder \"%1\" of the zip archive does not exist.").arg(folder));
  spoolPath_ = archivePath_ + QStringLiteral(".lumenfold-spool");
  newPath_ = archivePath_ + QStringLiteral(".lumenfold-new");
  lock_ = std::make_unique<TFileLock>(archivePath_ + QStringLiteral(".lumenfold-lock"));
  if (lock_->Busy())
    throw TZipError(QStringLiteral("Another run is writing the zip archive \"%1\" now. Try again "
                                   "when it has ended.")
                        .arg(archivePath_));
  // A folder that cannot be written is reported when the archive is written.
  if (!lock_->Held()) lock_.reset();
  // An update of the archive that was killed on the way is finished or undone first.
  if (const QString failed = RecoverArchiveUpdate(archivePath_); !failed.isEmpty())
    throw TZipError(QStringLiteral("The zip archive \"%1\" was left half updated by a run that "
                                   "ended early, and cannot be repaired: %2")
                        .arg(archivePath_, failed));
  removeLeftovers(archivePath_);
  if (!QFileInfo::exists(archivePath_)) return;
  const QByteArray encoded = QFile::encodeName(archivePath_);
  // The entries are copied from the file as they are: their place in it comes from its
  // directory.
  std::vector<TZipDirectoryEntry> raw;
  QString error = QStringLiteral("Read error");
  oldFd_ = ::open(encoded.constData(), O_RDONLY | O_CLOEXEC);
  struct stat info;
  QByteArray comment;
  const bool read =
      oldFd_ >= 0 && fstat(oldFd_, &info) == 0 &&
      ReadZipDirectory(oldFd_, qint64(info.st_size), raw, &error, &comment, &oldDirectory_);
  if (!read) {
    // Not an archive this reader understands: it is left as it is, and the run stops before
    // any work.
    const QString reason = oldFd_ < 0 ? QString::fromLocal8Bit(std::strerror(errno)) : error;
    throw TZipError(
        QStringLiteral("The zip archive \"%1\" cannot be opened: %2").arg(archivePath_, reason));
  }
  oldSize_ = qint64(info.st_size);
  oldMode_ = int(info.st_mode & 07777);
  archiveTime_ = info.st_mtim;
  // Only an archive of ours with nothing this builder cannot copy is updated where it lies.
  const bool ours = IsArchiveComment(comment, &previousSiteDigest_);
  updatable_ = ours && qgetenv("LUMENFOLD_ARCHIVE_FULL_REWRITE") != "1";
  oldCount_ = raw.size();
  // A run wants about what the previous one packed.
  wanted_.reserve(oldCount_ + 64);
  wantedByFolded_.reserve(qsizetype(oldCount_ + 64));
  for (TZipDirectoryEntry& dir : raw) {
    const quint16 method = dir.Header.Method;
    if ((dir.Header.Flags & 1) || (method != kZipStored && method != kZipDeflated)) continue;
    unchecked_.push_back(std::move(dir));
  }
  // Each entry's local header is read on a thread of its own (thousands of reads), while the
  // caller goes on; the first use of the old entries waits for it (checkedEntries). The copy
  // ahead starts at once and is stopped behind the last entry then.
  auto check = [this] {
    std::vector<std::pair<qint64, bool>> found;
    found.reserve(unchecked_.size());
    for (const TZipDirectoryEntry& dir : unchecked_) {
      bool asWritten = false;
      const qint64 offset = ZipEntryDataOffset(oldFd_, oldSize_, dir, &asWritten);
      found.emplace_back(offset, asWritten);
    }
    return found;
  };
  try {
    headerCheck_ = std::async(std::launch::async, check);
  } catch (const std::system_error&) {
    headerCheck_ = std::async(std::launch::deferred, check); // no thread: at the first use
  }
  if (copyAhead) StartPrefill();
}

const QHash<QString, TArchiveBuilder::OldEntry>& TArchiveBuilder::checkedEntries() const {
  if (!headerCheck_.valid()) return oldEntries_;
  const std::vector<std::pair<qint64, bool>> found = headerCheck_.get();
  oldEntries_.reserve(qsizetype(unchecked_.size()));
  for (size_t i = 0; i < unchecked_.size() && i < found.size(); ++i) {
    if (found[i].first < 0) continue; // a damaged entry is made anew
    OldEntry entry;
    entry.Raw = std::move(unchecked_[i]);
    entry.DataOffset = found[i].first;
    entry.AsWritten = found[i].second;
    entriesEnd_ = std::max(entriesEnd_, entry.DataOffset + qint64(entry.Raw.Header.CompressedSize));
    oldEntries_.emplace(QString::fromUtf8(entry.Raw.Header.Name), std::move(entry));
  }
  unchecked_.clear();
  if (prefill_ && entriesEnd_ < prefill_->Limit.load()) prefill_->Limit.store(entriesEnd_);
  return oldEntries_;
}

void TArchiveBuilder::StartPrefill() {
  // An archive updated where it lies needs no copy.
  if (prefill_ || oldFd_ < 0 || updatable_) return;
  // Before the headers are checked, the whole file (its directory is not of use, and little).
  const qint64 end = headerCheck_.valid() ? oldSize_ : entriesEnd_;
  if (end <= 0) return;
  const int fd = ::open(QFile::encodeName(newPath_).constData(),
                        O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return; // Write reports what is wrong with the folder
  prefill_ = std::make_unique<Prefill>();
  Prefill* prefill = prefill_.get();
  prefill->Fd = fd;
  prefill->Limit.store(end);
  auto copy = [prefill, from = oldFd_] {
    constexpr qint64 kPiece = qint64(16) << 20; // a lowered limit is seen between pieces
    loff_t in = 0, out = 0;
    for (;;) {
      const qint64 limit = prefill->Limit.load();
      if (in >= limit) break;
      const ssize_t n = copy_file_range(from, &in, prefill->Fd, &out,
                                        size_t(std::min(limit - qint64(in), kPiece)), 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break; // the file system cannot, or the disk is full: Write writes the rest
      prefill->Done.store(qint64(in));
      prefill->Moved.notify_all();
    }
    {
      std::lock_guard lock(prefill->Mutex);
      prefill->Finished = true;
    }
    prefill->Moved.notify_all();
  };
  try {
    prefill->Thread = std::thread(copy);
  } catch (const std::system_error&) {
    // No thread to be had: Write copies everything itself.
    prefill_.reset();
    QFile::remove(newPath_);
  }
}

void TArchiveBuilder::CancelPrefill() {
  if (!prefill_) return;
  stopPrefill(0);
  QFile::remove(newPath_);
}

qint64 TArchiveBuilder::stopPrefill(qint64 limit, const std::function<void(qint64 done)>& waiting) {
  if (!prefill_) return 0;
  if (limit < prefill_->Limit.load()) prefill_->Limit.store(limit);
  // A large archive takes a while: the waiting is reported as the copy goes on.
  if (waiting) {
    std::unique_lock lock(prefill_->Mutex);
    while (!prefill_->Finished) {
      const qint64 seen = prefill_->Done.load();
      waiting(seen);
      prefill_->Moved.wait(lock,
                           [&] { return prefill_->Finished || prefill_->Done.load() != seen; });
    }
  }
  if (prefill_->Thread.joinable()) prefill_->Thread.join();
  const qint64 done = prefill_->Done.load();
  prefill_.reset();
  return done;
}

TArchiveBuilder::~TArchiveBuilder() {
  // A copy made ahead for a write that did not come is not an archive.
  CancelPrefill();
  if (headerCheck_.valid()) headerCheck_.wait(); // it reads the old archive
  if (oldFd_ >= 0) ::close(oldFd_);
  if (spool_) {
    spool_->close();
    spool_.reset();
  }
  QFile::remove(spoolPath_);
}

bool TArchiveBuilder::Unchanged(const QString& entryName, const QString& sourcePath) const {
  const TFileStamp stamp = FileStampOf(sourcePath);
  const QHash<QString, OldEntry>& entries = checkedEntries();
  const auto old = entries.constFind(ZipEntryName(entryName));
  return unchanged(old == entries.constEnd() ? nullptr : &*old, stamp.IsFile, stamp.Size,
                   stamp.MTime);
}

const TArchiveBuilder::OldEntry* TArchiveBuilder::oldOf(const Wanted& w) const {
  if (!w.OldLooked) {
    const QHash<QString, OldEntry>& entries = checkedEntries();
    const auto old = entries.constFind(w.Name);
    w.Old = old == entries.constEnd() ? nullptr : &*old;
    w.OldLooked = true;
  }
  return w.Old;
}

bool TArchiveBuilder::unchanged(const OldEntry* old, bool isFile, qint64 size,
                                const struct timespec& mtime) const {
  if (!old || !isFile || quint64(size) != old->Raw.Header.Size) return false;
  // The archive keeps local times to two seconds: the file's time in that form must be the
  // entry's. A file changed after the archive was written (the database, a file rewritten
  // within those two seconds) is never taken for unchanged.
  quint16 time = 0, date = 0;
  ZipDosTime(std::time_t(mtime.tv_sec), time, date);
  return time == old->Raw.Header.DosTime && date == old->Raw.Header.DosDate &&
         before(mtime, archiveTime_);
}

void TArchiveBuilder::openSpool() {
  if (spool_) return;
  spool_ = std::make_unique<QFile>(spoolPath_);
  spoolSize_ = 0;
  if (!spool_->open(QIODevice::ReadWrite | QIODevice::Truncate)) {
    const QString reason = spool_->errorString();
    spool_.reset();
    throw TZipError(
        QStringLiteral("The zip archive \"%1\" cannot be written: %2").arg(archivePath_, reason));
  }
}

void TArchiveBuilder::Spool(const QString& entryName, const QString& sourcePath,
                            const TCompressedEntry& entry) {
  const QString name = ZipEntryName(entryName);
  if (name.isEmpty()) return;
  SpoolRecord record;
  record.Length = entry.Data.size();
  record.Deflated = entry.Deflated;
  record.Crc = entry.Crc;
  record.Size = entry.Size;
  const TFileStamp stamp = FileStampOf(sourcePath);
  record.MTime = stamp.IsFile ? qint64(stamp.MTime.tv_sec) : QDateTime::currentSecsSinceEpoch();
  // An archive updated where it lies takes the entries of a run that makes little straight from
  // memory: written once, into the archive, instead of into the spool and then copied.
  constexpr qint64 kSpoolMemory = qint64(32) << 20;
  const qint64 held = std::max<qint64>(record.Length, entry.Data.capacity());
  if (updatable_ && spoolMemory_ + held <= kSpoolMemory) {
    if (const auto before = spooled_.constFind(name);
        before != spooled_.constEnd() && before->Offset < 0)
      spoolMemory_ -= std::max<qint64>(before->Length, before->Data.capacity());
    spoolMemory_ += held;
    record.Offset = -1;
    record.Data = entry.Data;
    spooled_.insert(name, record);
    return;
  }
  openSpool();
  // The local header goes before the data, so that the spool can become the archive itself.
  const QByteArray header = ZipLocalHeader(record.Header(name));
  record.Offset = spoolSize_ + header.size();
  // Written here, not through QFile: a write the disk cuts short must give the system's reason.
  const int fd = spool_->handle();
  auto write = [&](const char* data, qint64 length, qint64 at) {
    for (qint64 done = 0; done < length;) {
      const ssize_t n = ::pwrite(fd, data + done, size_t(length - done), off_t(at + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0)
        throw TZipError(
            QStringLiteral("The zip archive \"%1\" cannot be written: %2")
                .arg(archivePath_, QString::fromLocal8Bit(std::strerror(n < 0 ? errno : EIO))));
      done += n;
    }
  };
  write(header.constData(), header.size(), spoolSize_);
  write(entry.Data.constData(), record.Length, record.Offset);
  spoolSize_ = record.Offset + record.Length;
  spooled_.insert(name, record);
  spoolOrder_.push_back(name);
}

bool TArchiveBuilder::IsSpooled(const QString& entryName) const {
  return spooled_.contains(ZipEntryName(entryName));
}

bool TArchiveBuilder::Want(const QString& entryName, const QString& sourcePath) {
  return Want(entryName, sourcePath, FileStampOf(sourcePath));
}

bool TArchiveBuilder::Want(const QString& entryName, const QString& sourcePath,
                           const TFileStamp& stamp) {
  const QString name = ZipEntryName(entryName);
  if (name.isEmpty()) return false;
  if (!stamp.IsFile) return false;
  // One look-up: the name is found, or its place is made here.
  const qsizetype before = wantedByFolded_.size();
  int& at = wantedByFolded_[foldedName(name)];
  if (wantedByFolded_.size() == before) {
    const Wanted& other = wanted_[size_t(at)];
    if (QFileInfo(other.Source).absoluteFilePath() == QFileInfo(sourcePath).absoluteFilePath() &&
        other.Name == name)
      return true;
    throw TZipError(QStringLiteral("The files \"%1\" and \"%2\" would both be packed as \"%3\".")
                        .arg(other.Source, sourcePath, name));
  }
  at = int(wanted_.size());
  wanted_.push_back({name, sourcePath, stamp.Size, stamp.MTime});
  return true;
}

bool TArchiveBuilder::KeepPrevious(const QString& entryName) {
  const QString name = ZipEntryName(entryName);
  if (name.isEmpty()) return false;
  const QHash<QString, OldEntry>& old = checkedEntries();
  const auto o = old.constFind(name);
  if (o == old.constEnd()) return false;
  const QString folded = foldedName(name);
  if (const auto at = wantedByFolded_.constFind(folded); at != wantedByFolded_.constEnd()) {
    const Wanted& other = wanted_[size_t(*at)];
    if (other.Previous && other.Name == name) return true;
    throw TZipError(QStringLiteral("The file \"%1\" and the previous archive's entry \"%2\" would "
                                   "both be packed as \"%2\".")
                        .arg(other.Source, name));
  }
  wantedByFolded_.insert(folded, int(wanted_.size()));
  wanted_.push_back(previousWanted(name, *o));
  return true;
}

TArchiveBuilder::Wanted TArchiveBuilder::previousWanted(const QString& name, const OldEntry& old) {
  Wanted kept;
  kept.Name = name;
  kept.Size = qint64(old.Raw.Header.Size);
  kept.Previous = true;
  // Found already: the write needs no look-up of its own.
  kept.OldLooked = true;
  kept.Old = &old;
  return kept;
}

bool TArchiveBuilder::KeepAllPrevious(const QStringList& entryNames) {
  // Thousands of pages a run: each name is looked up once in either table, and all of them are
  // taken back when one cannot be kept.
  const QHash<QString, OldEntry>& old = checkedEntries();
  const size_t first = wanted_.size();
  std::vector<QString> added;
  added.reserve(size_t(entryNames.size()));
  auto takeBack = [&] {
    for (const QString& folded : added)
      wantedByFolded_.remove(folded);
    wanted_.resize(first);
    return false;
  };
  for (const QString& entryName : entryNames) {
    const QString name = ZipEntryName(entryName);
    const auto o = old.constFind(name);
    if (o == old.constEnd()) return takeBack();
    QString folded = foldedName(name);
    const qsizetype before = wantedByFolded_.size();
    int& index = wantedByFolded_[folded];
    if (wantedByFolded_.size() == before) {
      // The same name twice in the list is kept once; one wanted before means none is kept.
      if (size_t(index) >= first) continue;
      return takeBack();
    }
    index = int(wanted_.size());
    wanted_.push_back(previousWanted(name, *o));
    added.push_back(std::move(folded));
  }
  return true;
}

bool TArchiveBuilder::HasPrevious(const QString& entryName) const {
  return checkedEntries().contains(entryName);
}

QStringList
TArchiveBuilder::PreviousEntries(const std::function<bool(const QString& name)>& matches) const {
  // In the order they lie in the file: kept that way, entries that change together (an album's
  // pages) stay together when the archive is written whole, and go as one piece when they change.
  std::vector<std::pair<quint64, const QString*>> lying;
  const QHash<QString, OldEntry>& old = checkedEntries();
  for (auto o = old.constBegin(); o != old.constEnd(); ++o)
    if (matches(o.key())) lying.emplace_back(o->Raw.LocalHeaderOffset, &o.key());
  std::sort(lying.begin(), lying.end());
  QStringList found;
  found.reserve(qsizetype(lying.size()));
  for (const auto& [offset, name] : lying)
    found.append(*name);
  return found;
}

QString TArchiveBuilder::WantedAs(const QString& entryName) const {
  const auto at = wantedByFolded_.constFind(foldedName(ZipEntryName(entryName)));
  return at == wantedByFolded_.constEnd() ? QString() : wanted_[size_t(*at)].Name;
}
