#include "processing/archivebuilder.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <future>
#include <unistd.h>
#include <zip.h>
#include <zlib.h>

namespace {

QString libzipText(int code) {
  zip_error_t error;
  zip_error_init_with_code(&error, code);
  const QString text = QString::fromUtf8(zip_error_strerror(&error));
  zip_error_fini(&error);
  return text;
}

QString archiveText(zip_t* archive) {
  return QString::fromUtf8(zip_error_strerror(zip_get_error(archive)));
}

qint64 fileMTime(const QFileInfo& info) {
  return info.lastModified().toSecsSinceEpoch();
}

// A spooled entry as a libzip source that reports its data as already compressed, so that
// libzip copies it as it is instead of compressing it again.
struct SpoolSource {
  int Fd = -1;
  qint64 Offset = 0, Length = 0, Position = 0;
  zip_stat_t Stat;
  zip_error_t Error;
};

zip_int64_t spoolCallback(void* state, void* data, zip_uint64_t length, zip_source_cmd_t command) {
  auto* s = static_cast<SpoolSource*>(state);
  switch (command) {
  case ZIP_SOURCE_OPEN:
    s->Position = 0;
    return 0;
  case ZIP_SOURCE_READ: {
    const qint64 n = std::min<qint64>(qint64(length), s->Length - s->Position);
    if (n <= 0) return 0;
    const ssize_t got = pread(s->Fd, data, size_t(n), off_t(s->Offset + s->Position));
    if (got < 0) {
      zip_error_set(&s->Error, ZIP_ER_READ, errno);
      return -1;
    }
    s->Position += got;
    return got;
  }
  case ZIP_SOURCE_CLOSE:
    return 0;
  case ZIP_SOURCE_STAT: {
    if (length < sizeof(zip_stat_t)) {
      zip_error_set(&s->Error, ZIP_ER_INVAL, 0);
      return -1;
    }
    *static_cast<zip_stat_t*>(data) = s->Stat;
    return sizeof(zip_stat_t);
  }
  case ZIP_SOURCE_ERROR:
    return zip_error_to_data(&s->Error, data, length);
  case ZIP_SOURCE_FREE:
    zip_error_fini(&s->Error);
    delete s;
    return 0;
  case ZIP_SOURCE_SUPPORTS:
    return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                          ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
  default:
    zip_error_set(&s->Error, ZIP_ER_OPNOTSUPP, 0);
    return -1;
  }
}

QString foldedName(const QString& name) {
  return name.toCaseFolded();
}

} // namespace

TCompressedEntry CompressForArchive(const QByteArray& bytes) {
  TCompressedEntry entry;
  entry.Size = bytes.size();
  entry.Crc =
      quint32(crc32_z(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(bytes.constData()),
                      size_t(bytes.size())));
  z_stream s{};
  if (!bytes.isEmpty() && deflateInit2(&s, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8,
                                       Z_DEFAULT_STRATEGY) == Z_OK) {
    QByteArray out(qsizetype(deflateBound(&s, uLong(bytes.size()))), Qt::Uninitialized);
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.constData()));
    s.avail_in = uInt(bytes.size());
    s.next_out = reinterpret_cast<Bytef*>(out.data());
    s.avail_out = uInt(out.size());
    const int rc = deflate(&s, Z_FINISH);
    const qint64 produced = qint64(s.total_out);
    deflateEnd(&s);
    // The same rule as everywhere: deflated only when that makes the entry smaller.
    if (rc == Z_STREAM_END && produced < bytes.size()) {
      out.truncate(qsizetype(produced));
      entry.Data = std::move(out);
      entry.Deflated = true;
      return entry;
    }
  }
  entry.Data = bytes;
  return entry;
}

// ---- Leftovers ------------------------------------------------------------------------------

namespace {

// True when the file is empty or the start of a zip archive that was never finished (no end
// record), as libzip's temporary file is when its writer dies.
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
  // Ours: the spool, the new archive and libzip's temporary file of the new archive.
  const QString ours = name + QStringLiteral(".lumenfold-");
  // libzip's temporary file of an archive written in place by an earlier version: the archive's
  // name, a dot and six random characters, holding an unfinished zip archive (or nothing).
  static const QRegularExpression random(QStringLiteral("^\\.[A-Za-z0-9]{6}$"));
  const QStringList entries = folder.entryList(QDir::Files | QDir::Hidden | QDir::System);
  for (const QString& entry : entries) {
    if (!entry.startsWith(name) || entry == name) continue;
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
      QFile::moveToTrash(path);
  }
}

// ---- Builder --------------------------------------------------------------------------------

TArchiveBuilder::TArchiveBuilder(const QString& archivePath)
    : archivePath_(QFileInfo(archivePath).absoluteFilePath()) {
  const QString folder = QFileInfo(archivePath_).absolutePath();
  if (!QFileInfo(folder).isDir())
    throw TZipError(
        QStringLiteral("The folder \"%1\" of the zip archive does not exist.").arg(folder));
  spoolPath_ = archivePath_ + QStringLiteral(".lumenfold-spool");
  newPath_ = archivePath_ + QStringLiteral(".lumenfold-new");
  removeLeftovers(archivePath_);
  if (!QFileInfo::exists(archivePath_)) return;
  archiveTime_ = QFileInfo(archivePath_).lastModified();
  int code = 0;
  const QByteArray encoded = QFile::encodeName(archivePath_);
  old_ = zip_open(encoded.constData(), ZIP_RDONLY, &code);
  if (!old_)
    throw TZipError(QStringLiteral("The zip archive \"%1\" cannot be opened: %2")
                        .arg(archivePath_, libzipText(code)));
  const zip_int64_t count = zip_get_num_entries(old_, 0);
  for (zip_int64_t i = 0; i < count; ++i) {
    zip_stat_t st;
    if (zip_stat_index(old_, zip_uint64_t(i), 0, &st) != 0 || !st.name) continue;
    OldEntry entry;
    entry.Index = i;
    entry.Size = (st.valid & ZIP_STAT_SIZE) ? qint64(st.size) : -1;
    entry.MTime = (st.valid & ZIP_STAT_MTIME) ? qint64(st.mtime) : -1;
    entry.Stored = (st.valid & ZIP_STAT_COMP_METHOD) && st.comp_method == ZIP_CM_STORE;
    const bool plain =
        !(st.valid & ZIP_STAT_ENCRYPTION_METHOD) || st.encryption_method == ZIP_EM_NONE;
    const bool known = !(st.valid & ZIP_STAT_COMP_METHOD) || st.comp_method == ZIP_CM_STORE ||
                       st.comp_method == ZIP_CM_DEFLATE;
    if (plain && known) oldEntries_.insert(QString::fromUtf8(st.name), entry);
  }
}

TArchiveBuilder::~TArchiveBuilder() {
  if (old_) zip_discard(old_);
  if (spool_) {
    spool_->close();
    spool_.reset();
  }
  QFile::remove(spoolPath_);
}

bool TArchiveBuilder::Unchanged(const QString& entryName, const QString& sourcePath) const {
  const auto old = oldEntries_.constFind(ZipEntryName(entryName));
  if (old == oldEntries_.constEnd()) return false;
  const QFileInfo info(sourcePath);
  if (!info.isFile() || info.size() != old->Size || old->MTime < 0) return false;
  // The archive keeps times to two seconds; a file changed after the archive was written (the
  // database, a file rewritten within those two seconds) is never taken for unchanged.
  const qint64 t = fileMTime(info);
  return t >= old->MTime && t < old->MTime + 2 && info.lastModified() < archiveTime_;
}

void TArchiveBuilder::openSpool() {
  if (spool_) return;
  spool_ = std::make_unique<QFile>(spoolPath_);
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
  record.Offset = spool_->size();
  record.Length = entry.Data.size();
  record.Deflated = entry.Deflated;
  record.Crc = entry.Crc;
  record.Size = entry.Size;
  const QFileInfo info(sourcePath);
  record.MTime = info.exists() ? fileMTime(info) : QDateTime::currentSecsSinceEpoch();
  if (!spool_->seek(record.Offset) || spool_->write(entry.Data) != entry.Data.size())
    throw TZipError(QStringLiteral("The zip archive \"%1\" cannot be written: %2")
                        .arg(archivePath_, spool_->errorString()));
  spooled_.insert(name, record);
}

bool TArchiveBuilder::IsSpooled(const QString& entryName) const {
  return spooled_.contains(ZipEntryName(entryName));
}

bool TArchiveBuilder::Want(const QString& entryName, const QString& sourcePath) {
  const QString name = ZipEntryName(entryName);
  if (name.isEmpty() || !QFileInfo(sourcePath).isFile()) return false;
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
  wanted_.push_back({name, sourcePath});
  return true;
}

QString TArchiveBuilder::WantedAs(const QString& entryName) const {
  const auto at = wantedByFolded_.constFind(foldedName(ZipEntryName(entryName)));
  return at == wantedByFolded_.constEnd() ? QString() : wanted_[size_t(*at)].Name;
}

void TArchiveBuilder::CompressRemaining(int jobs) {
  std::vector<size_t> todo;
  for (size_t i = 0; i < wanted_.size(); ++i)
    if (!spooled_.contains(wanted_[i].Name) && !Unchanged(wanted_[i].Name, wanted_[i].Source))
      todo.push_back(i);
  if (todo.empty()) return;
  // Each file in flight is read and compressed on a thread of its own; the futures of
  // std::async join those threads when they go, so nothing outlives this call.
  struct Job {
    size_t Index;
    std::future<std::pair<bool, TCompressedEntry>> Result;
  };
  std::deque<Job> running;
  size_t next = 0;
  auto startMore = [&] {
    // A few files in flight per thread keep the threads busy and memory bounded.
    while (next < todo.size() && running.size() < size_t(2 * std::max(1, jobs))) {
      const size_t index = todo[next++];
      const QString source = wanted_[index].Source;
      running.push_back({index, std::async(std::launch::async, [source] {
                           QFile file(source);
                           if (!file.open(QIODevice::ReadOnly))
                             return std::make_pair(false, TCompressedEntry());
                           const QByteArray bytes = file.readAll();
                           const bool ok = file.error() == QFileDevice::NoError;
                           return std::make_pair(ok, ok ? CompressForArchive(bytes)
                                                        : TCompressedEntry());
                         })});
    }
  };
  try {
    startMore();
    while (!running.empty()) {
      Job job = std::move(running.front());
      running.pop_front();
      auto [ok, entry] = job.Result.get();
      const Wanted& w = wanted_[job.Index];
      if (!ok)
        throw TZipError(QStringLiteral("The file \"%1\" cannot be added to the zip archive: it "
                                       "cannot be read.")
                            .arg(w.Source));
      Spool(w.Name, w.Source, entry);
      startMore();
    }
  } catch (...) {
    running.clear(); // waits for the files still in flight
    throw;
  }
}

void TArchiveBuilder::Write() {
  if (spool_) spool_->flush();
  QFile::remove(newPath_);
  int code = 0;
  const QByteArray encoded = QFile::encodeName(newPath_);
  zip_t* out = zip_open(encoded.constData(), ZIP_CREATE | ZIP_TRUNCATE, &code);
  if (!out)
    throw TZipError(QStringLiteral("The zip archive \"%1\" cannot be written: %2")
                        .arg(archivePath_, libzipText(code)));
  auto fail = [&](const QString& reason) {
    zip_discard(out);
    QFile::remove(newPath_);
    throw TZipError(
        QStringLiteral("The zip archive \"%1\" cannot be written: %2").arg(archivePath_, reason));
  };
  const int fd = spool_ ? spool_->handle() : -1;
  for (size_t i = 0; i < wanted_.size(); ++i) {
    const Wanted& w = wanted_[i];
    if (BeforeEntry) {
      try {
        BeforeEntry(int(i));
      } catch (...) {
        zip_discard(out);
        QFile::remove(newPath_);
        throw;
      }
    }
    zip_source_t* source = nullptr;
    bool stored = false;
    qint64 mtime = -1;
    if (const auto s = spooled_.constFind(w.Name); s != spooled_.constEnd()) {
      auto* state = new SpoolSource;
      state->Fd = fd;
      state->Offset = s->Offset;
      state->Length = s->Length;
      zip_error_init(&state->Error);
      zip_stat_init(&state->Stat);
      state->Stat.valid = ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_CRC | ZIP_STAT_COMP_METHOD |
                          ZIP_STAT_MTIME | ZIP_STAT_ENCRYPTION_METHOD;
      state->Stat.size = zip_uint64_t(s->Size);
      state->Stat.comp_size = zip_uint64_t(s->Length);
      state->Stat.crc = s->Crc;
      state->Stat.comp_method = s->Deflated ? ZIP_CM_DEFLATE : ZIP_CM_STORE;
      state->Stat.encryption_method = ZIP_EM_NONE;
      state->Stat.mtime = time_t(s->MTime);
      source = zip_source_function(out, spoolCallback, state);
      if (!source) {
        zip_error_fini(&state->Error);
        delete state;
      }
      stored = !s->Deflated;
      mtime = s->MTime;
    } else if (const auto o = oldEntries_.constFind(w.Name);
               o != oldEntries_.constEnd() && Unchanged(w.Name, w.Source)) {
      source = zip_source_zip(out, old_, zip_uint64_t(o->Index), ZIP_FL_COMPRESSED, 0, -1);
      stored = o->Stored;
      mtime = o->MTime;
    } else {
      fail(QStringLiteral("the entry \"%1\" was not prepared.").arg(w.Name));
    }
    if (!source) fail(archiveText(out));
    const QByteArray utf8 = w.Name.toUtf8();
    const zip_int64_t index = zip_file_add(out, utf8.constData(), source, ZIP_FL_ENC_UTF_8);
    if (index < 0) {
      zip_source_free(source);
      fail(archiveText(out));
    }
    // Stored data must be declared so, or libzip would deflate it; deflated data is copied.
    if (stored && zip_set_file_compression(out, zip_uint64_t(index), ZIP_CM_STORE, 0) < 0)
      fail(archiveText(out));
    if (mtime >= 0 && zip_file_set_mtime(out, zip_uint64_t(index), time_t(mtime), 0) < 0)
      fail(archiveText(out));
  }
  if (zip_get_num_entries(out, 0) == 0) {
    // libzip writes no file for an archive without entries; an empty archive is still one.
    zip_discard(out);
    QFile file(newPath_);
    static const char emptyArchive[22] = {'P', 'K', 5, 6};
    if (!file.open(QIODevice::WriteOnly) || file.write(emptyArchive, 22) != 22 || !file.flush())
      throw TZipError(QStringLiteral("The zip archive \"%1\" cannot be written: %2")
                          .arg(archivePath_, file.errorString()));
    file.close();
  } else if (zip_close(out) < 0) {
    const QString reason = archiveText(out);
    zip_discard(out);
    QFile::remove(newPath_);
    throw TZipError(
        QStringLiteral("The zip archive \"%1\" cannot be written: %2").arg(archivePath_, reason));
  }
  // The new archive takes the old one's place in one step. Exchanging the two names (then
  // removing the old archive under the new name) does that without making the file system
  // write the whole new archive out at once, as replacing a file by a rename does on some file
  // systems; a plain rename is the fallback.
  const QByteArray target = QFile::encodeName(archivePath_);
  if (QFileInfo::exists(archivePath_) && renameat2(AT_FDCWD, encoded.constData(), AT_FDCWD,
                                                   target.constData(), RENAME_EXCHANGE) == 0) {
    QFile::remove(newPath_);
    return;
  }
  if (std::rename(encoded.constData(), target.constData()) != 0) {
    const QString reason = QString::fromLocal8Bit(std::strerror(errno));
    QFile::remove(newPath_);
    throw TZipError(
        QStringLiteral("The zip archive \"%1\" cannot be written: %2").arg(archivePath_, reason));
  }
}
