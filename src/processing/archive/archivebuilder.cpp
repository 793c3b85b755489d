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
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <fcntl.h>
#include <future>
#include <libdeflate.h>
#include <limits>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// What the archive needs to know of a source file, from one stat call (no time zone work: a
// run looks at thousands of files).
struct FileStamp {
  bool IsFile = false;
  qint64 Size = 0;
  struct timespec MTime {};
};

FileStamp stampOf(const QString& path) {
  FileStamp stamp;
  struct stat st;
  const QByteArray encoded = QFile::encodeName(path);
  if (encoded.isEmpty() || ::stat(encoded.constData(), &st) != 0) return stamp;
  stamp.IsFile = S_ISREG(st.st_mode);
  stamp.Size = qint64(st.st_size);
  stamp.MTime = st.st_mtim;
  return stamp;
}

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

// libdeflate at its normal level: smaller output than zlib's normal level in a fraction of the
// time. Each thread keeps a compressor of its own.
constexpr int kDeflateLevel = 6;
// A JPEG file is stored unless deflating saves at least this share of it (percent). Photos
// shrink by 0 to 3.5 % (their entropy-coded data is nearly random; what shrinks are the
// standard Huffman tables' patterns and the metadata), which saves a web upload next to nothing
// and costs most of the archive's time. Files that shrink by more are unusual ones (flat
// pictures, large metadata) and are deflated.
constexpr int kJpegMinSaving = 5;
// Other data is deflated when that makes it smaller; large data whose samples shrink by less
// than this share (percent) is stored without trying it whole.
constexpr int kOtherMinSaving = 2;
// Data up to this size is tried whole; larger parts are judged by samples spread over them.
constexpr qsizetype kSample = 16 * 1024;
constexpr int kSamples = 8;
constexpr qsizetype kTriedWhole = 2 * kSample * kSamples;

libdeflate_compressor* compressor() {
  struct Free {
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
  };
  thread_local std::unique_ptr<libdeflate_compressor, Free> c(
      libdeflate_alloc_compressor(kDeflateLevel));
  return c.get();
}

// Bytes that deflating saves of the length bytes at data: exact for up to kTriedWhole bytes,
// else estimated from samples.
qint64 savedBy(libdeflate_compressor* c, const char* data, qint64 length) {
  if (length <= 0) return 0;
  const size_t piece = size_t(std::min<qint64>(length, kTriedWhole));
  std::vector<char> out(libdeflate_deflate_compress_bound(c, piece));
  if (qint64(piece) == length)
    return length - qint64(libdeflate_deflate_compress(c, data, piece, out.data(), out.size()));
  qint64 in = 0, produced = 0;
  for (int i = 0; i < kSamples; ++i) {
    const qint64 at = (length - kSample) * i / (kSamples - 1);
    in += kSample;
    produced +=
        qint64(libdeflate_deflate_compress(c, data + at, size_t(kSample), out.data(), out.size()));
  }
  return (in - produced) * length / in;
}

// Where a JPEG file's first scan begins (behind the segments of tables and metadata); 0 when
// the segments cannot be followed; -1 when the data is no JPEG file.
qsizetype jpegScanStart(const QByteArray& bytes) {
  const auto* b = reinterpret_cast<const uchar*>(bytes.constData());
  const qsizetype size = bytes.size();
  if (size < 3 || b[0] != 0xff || b[1] != 0xd8 || b[2] != 0xff) return -1;
  qsizetype at = 2;
  while (at + 4 <= size && b[at] == 0xff) {
    const uchar marker = b[at + 1];
    if (marker == 0xff) { // fill byte
      ++at;
      continue;
    }
    const int length = (b[at + 2] << 8) | b[at + 3];
    if (length < 2) break;
    at += 2 + length;
    if (marker == 0xda) return at <= size ? at : 0;
  }
  return 0;
}

} // namespace

TCompressedEntry CompressForArchive(const QByteArray& bytes) {
  TCompressedEntry entry;
  const qsizetype size = bytes.size();
  entry.Size = size;
  entry.Crc = quint32(libdeflate_crc32(0, bytes.constData(), size_t(size)));
  libdeflate_compressor* c = size > 0 ? compressor() : nullptr;
  if (c) {
    // The least saving that makes deflating worth it.
    const qsizetype jpegScan = jpegScanStart(bytes);
    const qint64 least =
        jpegScan >= 0 ? std::max<qint64>(1, qint64(size) * kJpegMinSaving / 100) : 1;
    bool tryWhole = size <= kTriedWhole;
    if (!tryWhole) {
      // A JPEG file's metadata and its scans shrink very differently: each part is judged by
      // itself, so that a large metadata block cannot speak for the picture data.
      const char* data = bytes.constData();
      const qint64 saved =
          jpegScan > 0 ? savedBy(c, data, jpegScan) + savedBy(c, data + jpegScan, size - jpegScan)
                       : savedBy(c, data, size);
      tryWhole = saved >= std::max(least, qint64(size) * kOtherMinSaving / 100);
    }
    if (tryWhole && size > least) {
      // Output that would not save `least` bytes does not fit and is given up.
      QByteArray out(qsizetype(size - least), Qt::Uninitialized);
      const size_t produced = libdeflate_deflate_compress(c, bytes.constData(), size_t(size),
                                                          out.data(), size_t(out.size()));
      if (produced > 0) {
        out.truncate(qsizetype(produced));
        entry.Data = std::move(out);
        entry.Deflated = true;
        return entry;
      }
    }
  }
  entry.Data = bytes;
  return entry;
}

QString ZipEntryName(const QString& relativePath) {
  // Called for every file of a project in each archived run: a plain scan, no pattern.
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

namespace {

// True when the entry of the archive open at fd (its data at dataOffset) holds exactly bytes.
bool sameAsEntry(const QByteArray& bytes, int fd, const TZipEntryHeader& entry, qint64 dataOffset) {
  if (entry.Size != quint64(bytes.size()) ||
      entry.Crc != quint32(libdeflate_crc32(0, bytes.constData(), size_t(bytes.size()))) ||
      (entry.Method != kZipStored && entry.Method != kZipDeflated) ||
      entry.CompressedSize > quint64(std::numeric_limits<qsizetype>::max() / 2))
    return false;
  QByteArray stored(qsizetype(entry.CompressedSize), Qt::Uninitialized);
  for (qsizetype at = 0; at < stored.size();) {
    const ssize_t n =
        ::pread(fd, stored.data() + at, size_t(stored.size() - at), off_t(dataOffset + at));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    at += n;
  }
  if (entry.Method == kZipStored) return stored == bytes;
  struct Free {
    void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
  };
  const std::unique_ptr<libdeflate_decompressor, Free> d(libdeflate_alloc_decompressor());
  QByteArray plain(bytes.size(), Qt::Uninitialized);
  return d &&
         libdeflate_deflate_decompress(d.get(), stored.constData(), size_t(stored.size()),
                                       plain.data(), size_t(plain.size()),
                                       nullptr) == LIBDEFLATE_SUCCESS &&
         plain == bytes;
}

} // namespace

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
  updatable_ =
      comment == QByteArray(kArchiveMark) && qgetenv("LUMENFOLD_ARCHIVE_FULL_REWRITE") != "1";
  oldCount_ = raw.size();
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
    oldEntries_.insert(QString::fromUtf8(entry.Raw.Header.Name), std::move(entry));
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
  const FileStamp stamp = stampOf(sourcePath);
  return unchanged(ZipEntryName(entryName), stamp.IsFile, stamp.Size, stamp.MTime);
}

bool TArchiveBuilder::unchanged(const QString& name, bool isFile, qint64 size,
                                const struct timespec& mtime) const {
  const QHash<QString, OldEntry>& entries = checkedEntries();
  const auto old = entries.constFind(name);
  if (old == entries.constEnd() || !isFile || quint64(size) != old->Raw.Header.Size) return false;
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
  openSpool();
  SpoolRecord record;
  record.Offset = spoolSize_;
  record.Length = entry.Data.size();
  record.Deflated = entry.Deflated;
  record.Crc = entry.Crc;
  record.Size = entry.Size;
  const FileStamp stamp = stampOf(sourcePath);
  record.MTime = stamp.IsFile ? qint64(stamp.MTime.tv_sec) : QDateTime::currentSecsSinceEpoch();
  // Written here, not through QFile: a write the disk cuts short must give the system's reason.
  const int fd = spool_->handle();
  for (qint64 done = 0; done < record.Length;) {
    const ssize_t n = ::pwrite(fd, entry.Data.constData() + done, size_t(record.Length - done),
                               off_t(record.Offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      throw TZipError(
          QStringLiteral("The zip archive \"%1\" cannot be written: %2")
              .arg(archivePath_, QString::fromLocal8Bit(std::strerror(n < 0 ? errno : EIO))));
    done += n;
  }
  spoolSize_ += record.Length;
  spooled_.insert(name, record);
}

bool TArchiveBuilder::IsSpooled(const QString& entryName) const {
  return spooled_.contains(ZipEntryName(entryName));
}

bool TArchiveBuilder::Want(const QString& entryName, const QString& sourcePath) {
  const QString name = ZipEntryName(entryName);
  if (name.isEmpty()) return false;
  const FileStamp stamp = stampOf(sourcePath);
  if (!stamp.IsFile) return false;
  const QString folded = foldedName(name);
  if (const auto at = wantedByFolded_.constFind(folded); at != wantedByFolded_.constEnd()) {
    const Wanted& other = wanted_[size_t(*at)];
    if (QFileInfo(other.Source).absoluteFilePath() == QFileInfo(sourcePath).absoluteFilePath() &&
        other.Name == name)
      return true;
    throw TZipError(QStringLiteral("The files \"%1\" and \"%2\" would both be packed as \"%3\".")
                        .arg(other.Source, sourcePath, name));
  }
  wantedByFolded_.insert(folded, int(wanted_.size()));
  wanted_.push_back({name, sourcePath, stamp.Size, stamp.MTime});
  return true;
}

bool TArchiveBuilder::KeepPrevious(const QString& entryName) {
  const QString name = ZipEntryName(entryName);
  if (name.isEmpty() || !checkedEntries().contains(name)) return false;
  const QString folded = foldedName(name);
  if (const auto at = wantedByFolded_.constFind(folded); at != wantedByFolded_.constEnd()) {
    const Wanted& other = wanted_[size_t(*at)];
    if (other.Previous && other.Name == name) return true;
    throw TZipError(QStringLiteral("The file \"%1\" and the previous archive's entry \"%2\" would "
                                   "both be packed as \"%2\".")
                        .arg(other.Source, name));
  }
  wantedByFolded_.insert(folded, int(wanted_.size()));
  Wanted kept;
  kept.Name = name;
  kept.Size = qint64(oldEntries_.value(name).Raw.Header.Size);
  kept.Previous = true;
  wanted_.push_back(kept);
  return true;
}

QString TArchiveBuilder::WantedAs(const QString& entryName) const {
  const auto at = wantedByFolded_.constFind(foldedName(ZipEntryName(entryName)));
  return at == wantedByFolded_.constEnd() ? QString() : wanted_[size_t(*at)].Name;
}

void TArchiveBuilder::CompressRemaining(int jobs) {
  std::vector<size_t> todo;
  for (size_t i = 0; i < wanted_.size(); ++i)
    if (!wanted_[i].Previous && !spooled_.contains(wanted_[i].Name) &&
        !sameContent_.contains(wanted_[i].Name) && !unchanged(wanted_[i]))
      todo.push_back(i);
  if (todo.empty()) return;
  qint64 total = 0, done = 0;
  if (Progress) {
    for (size_t index : todo)
      total += wanted_[index].Size;
    Progress(0, total);
  }
  // A file written again with the content the previous archive holds (the database after a run
  // that changed nothing) keeps its entry: compared with it, not compressed.
  const QHash<QString, OldEntry>& old = checkedEntries();
  struct Result {
    bool Ok = false;
    bool Same = false; // the previous archive's entry holds these bytes
    TCompressedEntry Entry;
  };
  // Each file in flight is read and compressed on a thread of its own; the futures of
  // std::async join those threads when they go, so nothing outlives this call.
  struct Job {
    size_t Index;
    std::future<Result> Outcome;
  };
  std::deque<Job> running;
  size_t next = 0;
  auto startMore = [&] {
    // A few files in flight per thread keep the threads busy and memory bounded.
    while (next < todo.size() && running.size() < size_t(2 * std::max(1, jobs))) {
      const size_t index = todo[next++];
      const QString source = wanted_[index].Source;
      const auto o = old.constFind(wanted_[index].Name);
      TZipEntryHeader previous;
      qint64 previousAt = -1;
      if (o != old.constEnd()) {
        previous = o->Raw.Header;
        previousAt = o->DataOffset;
      }
      running.push_back(
          {index, std::async(std::launch::async, [source, previous, previousAt, fd = oldFd_] {
             Result result;
             QFile file(source);
             if (!file.open(QIODevice::ReadOnly)) return result;
             const QByteArray bytes = file.readAll();
             result.Ok = file.error() == QFileDevice::NoError;
             if (!result.Ok) return result;
             result.Same = previousAt >= 0 && sameAsEntry(bytes, fd, previous, previousAt);
             if (!result.Same) result.Entry = CompressForArchive(bytes);
             return result;
           })});
    }
  };
  try {
    startMore();
    while (!running.empty()) {
      Job job = std::move(running.front());
      running.pop_front();
      Result result = job.Outcome.get();
      const Wanted& w = wanted_[job.Index];
      if (!result.Ok)
        throw TZipError(QStringLiteral("The file \"%1\" cannot be added to the zip archive: it "
                                       "cannot be read.")
                            .arg(w.Source));
      if (result.Same)
        sameContent_.insert(w.Name);
      else
        Spool(w.Name, w.Source, result.Entry);
      if (Progress) Progress(done += w.Size, std::max(total, done));
      startMore();
    }
  } catch (...) {
    running.clear(); // waits for the files still in flight
    throw;
  }
}

void TArchiveBuilder::Write() {
  if (spool_ && !spool_->flush())
    throw TZipError(QStringLiteral("The zip archive \"%1\" cannot be written: %2")
                        .arg(archivePath_, spool_->errorString()));
  updated_ = false;
  if (updatable_ && updateInPlace()) {
    updated_ = true;
    return;
  }
  auto fail = [&](const QString& reason) {
    stopPrefill(0);
    QFile::remove(newPath_);
    throw TZipError(
        QStringLiteral("The zip archive \"%1\" cannot be written: %2").arg(archivePath_, reason));
  };
  // Every entry's place and header first: nothing is written for an entry that is not ready.
  struct Part {
    TZipEntryHeader Header;
    int Fd = -1;
    qint64 Offset = 0;
    qint64 LocalOffset = -1; // an entry copied with its local header: where that lies
    qint64 End = 0;          // where it ends in the new archive
    bool InPlace = false;    // the copy made ahead holds it at its place
  };
  std::vector<Part> parts;
  parts.reserve(wanted_.size());
  qint64 total = 0;
  const int spoolFd = spool_ ? spool_->handle() : -1;
  for (const Wanted& w : wanted_) {
    Part part;
    if (const auto s = spooled_.constFind(w.Name); s != spooled_.constEnd()) {
      part.Header = s->Header(w.Name);
      part.Fd = spoolFd;
      part.Offset = s->Offset;
    } else if (const auto o = checkedEntries().constFind(w.Name);
               o != checkedEntries().constEnd() &&
               (w.Previous || sameContent_.contains(w.Name) || unchanged(w))) {
      // Copied as it is: compressed bytes, CRC, time stamp and attributes; the name as wanted.
      part.Header = o->Raw.Header;
      part.Header.Name = w.Name.toUtf8();
      part.Fd = oldFd_;
      part.Offset = o->DataOffset;
      // The local header there is the one the writer would write: it goes along with the data.
      if (o->AsWritten && o->Raw.Header.Name == part.Header.Name)
        part.LocalOffset = qint64(o->Raw.LocalHeaderOffset);
    } else {
      fail(QStringLiteral("the entry \"%1\" was not prepared.").arg(w.Name));
    }
    total += qint64(part.Header.CompressedSize);
    parts.push_back(std::move(part));
  }

  // Where each entry goes; an entry copied as it is that goes where it was is in the copy made
  // ahead (when that got so far), and the copy need not go beyond the last such entry.
  qint64 at = 0, keepEnd = 0;
  for (Part& part : parts) {
    part.End = at + qint64(ZipLocalHeader(part.Header).size() + part.Header.CompressedSize);
    part.InPlace = prefill_ && part.LocalOffset == at;
    if (part.InPlace) keepEnd = part.End;
    at = part.End;
  }
  // While the copy made ahead finishes, the entries it holds in place count as written, as far
  // as it got.
  if (Progress) Progress(0, total);
  const qint64 prefilled = stopPrefill(keepEnd, [&](qint64 done) {
    if (!Progress) return;
    qint64 data = 0;
    for (const Part& part : parts) {
      if (!part.InPlace || part.End > done) break;
      data += qint64(part.Header.CompressedSize);
    }
    Progress(data, total);
  });
  inPlace_ = 0;
  for (Part& part : parts) {
    part.InPlace = part.InPlace && part.End <= prefilled;
    if (part.InPlace) ++inPlace_;
  }
  const bool keep = inPlace_ > 0;
  if (!keep) QFile::remove(newPath_);

  TZipWriter writer;
  writer.Comment = QByteArray(kArchiveMark); // tells later runs that the file is ours to replace
  if (!writer.Open(newPath_, keep)) fail(writer.ErrorString());
  if (Progress) writer.Copied = [&](quint64 written) { Progress(qint64(written), total); };
  for (size_t i = 0; i < parts.size(); ++i) {
    if (BeforeEntry) {
      try {
        BeforeEntry(int(i));
      } catch (...) {
        QFile::remove(newPath_);
        throw;
      }
    }
    const Part& part = parts[i];
    const bool added = part.InPlace ? writer.AddInPlace(part.Header)
                       : part.LocalOffset >= 0
                           ? writer.AddVerbatim(part.Header, part.Fd, part.LocalOffset)
                           : writer.AddFrom(part.Header, part.Fd, part.Offset);
    if (!added) fail(writer.ErrorString());
  }
  if (!writer.Finish()) fail(writer.ErrorString());
  // The archive keeps the permissions the user gave it.
  if (oldMode_ >= 0) ::chmod(QFile::encodeName(newPath_).constData(), mode_t(oldMode_));
  if (Progress) Progress(total, total);
  // On the disk before it takes the old one's place: a power cut leaves one of the two whole.
  QString unsynced;
  if (!SyncFile(newPath_, &unsynced)) fail(unsynced);
  // The new archive takes the old one's place in one step. Exchanging the two names (then
  // removing the old archive under the new name) does that without making the file system
  // write the whole new archive out at once, as replacing a file by a rename does on some file
  // systems; a plain rename is the fallback.
  const QByteArray encoded = QFile::encodeName(newPath_);
  const QByteArray target = QFile::encodeName(archivePath_);
  if (QFileInfo::exists(archivePath_) && renameat2(AT_FDCWD, encoded.constData(), AT_FDCWD,
                                                   target.constData(), RENAME_EXCHANGE) == 0) {
    QFile::remove(newPath_);
    SyncFolderOf(archivePath_);
    return;
  }
  if (std::rename(encoded.constData(), target.constData()) != 0) {
    const QString reason = QString::fromLocal8Bit(std::strerror(errno));
    QFile::remove(newPath_);
    throw TZipError(
        QStringLiteral("The zip archive \"%1\" cannot be written: %2").arg(archivePath_, reason));
  }
  SyncFolderOf(archivePath_);
}

bool TArchiveBuilder::sameAsOld(const SpoolRecord& spooled, const OldEntry& old) const {
  const TZipEntryHeader& h = old.Raw.Header;
  if (!spool_ || spooled.Crc != h.Crc || quint64(spooled.Size) != h.Size ||
      quint64(spooled.Length) != h.CompressedSize ||
      (spooled.Deflated ? kZipDeflated : kZipStored) != h.Method)
    return false;
  constexpr qint64 kPiece = qint64(1) << 20;
  QByteArray a(qsizetype(std::min(spooled.Length, kPiece)), Qt::Uninitialized), b = a;
  for (qint64 at = 0; at < spooled.Length;) {
    const qint64 piece = std::min(spooled.Length - at, kPiece);
    if (::pread(spool_->handle(), a.data(), size_t(piece), off_t(spooled.Offset + at)) != piece ||
        ::pread(oldFd_, b.data(), size_t(piece), off_t(old.DataOffset + at)) != piece ||
        std::memcmp(a.constData(), b.constData(), size_t(piece)) != 0)
      return false;
    at += piece;
  }
  return true;
}

bool TArchiveBuilder::updateInPlace() {
  const QHash<QString, OldEntry>& old = checkedEntries();
  // Entries whose headers are not as this program writes them (or damaged) are made anew by a
  // full write.
  if (size_t(old.size()) != oldCount_) return false;
  TArchiveUpdatePlan plan;
  plan.OldSize = oldSize_;
  plan.OldDirectoryOffset = oldDirectory_;
  plan.Comment = QByteArray(kArchiveMark);
  plan.Entries.reserve(wanted_.size());
  QSet<QString> kept;
  kept.reserve(qsizetype(wanted_.size()));
  const int spoolFd = spool_ ? spool_->handle() : -1;
  for (const Wanted& w : wanted_) {
    TArchiveUpdateEntry entry;
    const auto o = old.constFind(w.Name);
    const auto s = spooled_.constFind(w.Name);
    if (o != old.constEnd() &&
        (s != spooled_.constEnd()
             ? sameAsOld(*s, *o)
             : (w.Previous || sameContent_.contains(w.Name) || unchanged(w)))) {
      // It stays where it is, as it is (with its time stamp when only the file's time changed).
      if (!o->AsWritten) return false;
      entry.Header = o->Raw.Header;
      entry.Kept = true;
      entry.LocalOffset = qint64(o->Raw.LocalHeaderOffset);
      kept.insert(w.Name);
    } else if (s != spooled_.constEnd()) {
      entry.Header = s->Header(w.Name);
      entry.SourceFd = spoolFd;
      entry.SourceOffset = s->Offset;
    } else {
      // Made anew by the full write, which names what is missing.
      return false;
    }
    plan.Entries.push_back(std::move(entry));
  }
  for (auto o = old.constBegin(); o != old.constEnd(); ++o)
    if (!kept.contains(o.key()))
      plan.Dead.emplace_back(qint64(o->Raw.LocalHeaderOffset),
                             o->DataOffset + qint64(o->Raw.Header.CompressedSize));
  inPlace_ = int(kept.size());
  if (plan.Dead.empty() && size_t(inPlace_) == plan.Entries.size()) {
    // Nothing changed: the archive is not touched at all.
    qint64 done = 0, total = 0;
    for (const TArchiveUpdateEntry& entry : plan.Entries)
      total += qint64(entry.Header.CompressedSize);
    if (Progress) Progress(0, total);
    for (size_t i = 0; i < plan.Entries.size(); ++i) {
      if (BeforeEntry) BeforeEntry(int(i));
      done += qint64(plan.Entries[i].Header.CompressedSize);
      if (Progress) Progress(done, total);
    }
    return true;
  }
  PlanArchiveUpdate(plan);
  // Space of entries that went is given back by writing the whole archive anew once it is more
  // than a quarter of the file.
  if (plan.Unused * 4 > plan.NewSize) return false;
  const QString failed = UpdateArchiveInPlace(archivePath_, plan, BeforeEntry, Progress);
  if (!failed.isEmpty())
    throw TZipError(
        QStringLiteral("The zip archive \"%1\" cannot be written: %2").arg(archivePath_, failed));
  return true;
}
