#include "processing/sitefolder.h"

#include "core/outputsettings.h"
#include "core/project.h"
#include "processing/archive/zipwriter.h"
#include "util/durablefiles.h"
#include "util/filedescriptor.h"
#include "util/helpers.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace {

// What the mirror wrote: size, CRC and the file's time stamp (nanoseconds) right after.
struct TRecorded {
  qint64 Size = -1;
  quint32 Crc = 0;
  qint64 MTime = 0;
  bool operator==(const TRecorded&) const = default;
};

// Size and time stamp of a regular file (links are not followed); false when it is none.
bool statFile(const QString& path, qint64& size, qint64& mtime) {
  struct stat st {};
  if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  size = st.st_size;
  mtime = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return true;
}

bool pathExists(const QString& path) {
  struct stat st {};
  return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

// An entry name that stays inside the folder: relative, no "." or ".." parts, no backslash.
bool safeEntryName(const QString& name) {
  if (name.isEmpty() || name.startsWith(QLatin1Char('/')) || name.contains(QLatin1Char('\\')) ||
      name.contains(QChar(0)))
    return false;
  for (const QString& part : name.split(QLatin1Char('/')))
    if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String("..")) return false;
  return name != QLatin1String(kSiteFolderRecord);
}

// Which archive file, in which state, a complete mirror was made from. An archive rewritten or
// updated in place (even to the same bytes) gets another inode, size, or change time; the change
// time cannot be set back by anyone.
struct TArchiveStamp {
  qint64 Device = 0, Inode = 0, Size = -1, MTime = 0, CTime = 0;
  bool operator==(const TArchiveStamp&) const = default;
};

TArchiveStamp stampOf(const struct stat& st) {
  return {qint64(st.st_dev), qint64(st.st_ino), qint64(st.st_size),
          qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
          qint64(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec};
}

constexpr const char* kStampKeys[] = {"device", "inode", "size", "mtime", "ctime"};

QJsonObject stampToJson(const TArchiveStamp& s) {
  const qint64 values[] = {s.Device, s.Inode, s.Size, s.MTime, s.CTime};
  QJsonObject o;
  for (int i = 0; i < 5; ++i)
    o.insert(QLatin1String(kStampKeys[i]), QString::number(values[i]));
  return o;
}

TArchiveStamp stampFromJson(const QJsonObject& o) {
  if (o.isEmpty()) return {};
  TArchiveStamp s;
  qint64* values[] = {&s.Device, &s.Inode, &s.Size, &s.MTime, &s.CTime};
  for (int i = 0; i < 5; ++i)
    *values[i] = o.value(QLatin1String(kStampKeys[i])).toString().toLongLong();
  return s;
}

// The record as written (an empty object when there is none).
QJsonObject readRecord(const QString& folder, bool* exists) {
  const QString path = folder + QLatin1Char('/') + QLatin1String(kSiteFolderRecord);
  *exists = pathExists(path);
  QByteArray bytes;
  if (*exists) ReadWholeFile(path, bytes);
  return QJsonDocument::fromJson(bytes).object();
}

qint64 recordedMTime(const QJsonObject& file) {
  return file.value(QLatin1String("mtime")).toString().toLongLong();
}

qint64 recordedSize(const QJsonObject& file) {
  return qint64(file.value(QLatin1String("size")).toDouble(-1));
}

quint32 recordedCrc(const QJsonObject& file) {
  return quint32(file.value(QLatin1String("crc")).toString().toUInt(nullptr, 16));
}

QHash<QString, TRecorded> recordedFiles(const QJsonObject& files) {
  QHash<QString, TRecorded> record;
  record.reserve(files.size());
  for (auto it = files.begin(); it != files.end(); ++it) {
    const QJsonObject o = it.value().toObject();
    record.insert(it.key(), {recordedSize(o), recordedCrc(o), recordedMTime(o)});
  }
  return record;
}

// made: the archive the record now mirrors completely, or none (a run stopped part way).
QString writeRecord(const QString& folder, const QHash<QString, TRecorded>& record,
                    const TArchiveStamp& made = {}) {
  QJsonObject files;
  for (auto it = record.begin(); it != record.end(); ++it)
    files.insert(it.key(), QJsonObject{{"size", double(it->Size)},
                                       {"crc", QString::number(it->Crc, 16)},
                                       {"mtime", QString::number(it->MTime)}});
  QJsonObject top{{"files", files}};
  if (made.Size >= 0) top.insert("archive", stampToJson(made));
  return WriteFileReplacing(folder + QLatin1Char('/') + QLatin1String(kSiteFolderRecord),
                            QJsonDocument(top).toJson(QJsonDocument::Compact));
}

// True when every recorded file is still there as the mirror left it (same size and time
// stamp): nobody deleted, replaced or edited one since. The files go to list meanwhile.
bool recordedFilesIntact(const QString& folder, const QJsonObject& files, QList<TSiteFile>& list) {
  const int dir = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return false;
  const TFileDescriptor closeDir(dir);
  list.reserve(files.size());
  for (auto it = files.begin(); it != files.end(); ++it) {
    const QJsonObject o = it.value().toObject();
    const qint64 size = recordedSize(o);
    struct stat st {};
    if (::fstatat(dir, it.key().toUtf8().constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(st.st_mode) || st.st_size != size ||
        qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec != recordedMTime(o))
      return false;
    list.append({it.key(), size, recordedCrc(o)});
  }
  return true;
}

// The entry's content, checked against its CRC; empty with error set on failure.
QByteArray extract(int fd, qint64 fileSize, const TZipDirectoryEntry& e, QString& error) {
  const TZipEntryHeader& h = e.Header;
  const qint64 offset = ZipEntryDataOffset(fd, fileSize, e);
  if (offset < 0 || (h.Method != kZipStored && h.Method != kZipDeflated) ||
      h.Size > quint64(1) << 34) {
    error = QStringLiteral("the entry cannot be read");
    return {};
  }
  QByteArray packed(qsizetype(h.CompressedSize), Qt::Uninitialized);
  if (::pread(fd, packed.data(), packed.size(), offset) != packed.size()) {
    error = QStringLiteral("the archive cannot be read");
    return {};
  }
  QByteArray data;
  if (h.Method == kZipStored) {
    data = packed;
  } else {
    data.resize(qsizetype(h.Size));
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) {
      error = QStringLiteral("out of memory");
      return {};
    }
    z.next_in = reinterpret_cast<Bytef*>(packed.data());
    z.avail_in = uInt(packed.size());
    z.next_out = reinterpret_cast<Bytef*>(data.data());
    z.avail_out = uInt(data.size());
    const int rc = inflate(&z, Z_FINISH);
    const bool whole = rc == Z_STREAM_END && z.total_out == uLong(h.Size);
    inflateEnd(&z);
    if (!whole) {
      error = QStringLiteral("the entry is damaged");
      return {};
    }
  }
  if (quint64(data.size()) != h.Size ||
      crc32(0, reinterpret_cast<const Bytef*>(data.constData()), uInt(data.size())) != h.Crc) {
    error = QStringLiteral("the entry is damaged (its checksum differs)");
    return {};
  }
  return data;
}

} // namespace

QString ResolvedSiteFolder(const TLumenfoldProject& project) {
  if (project.SiteFolder.trimmed().isEmpty()) return QString();
  return ResolveZipFileName(project, project.SiteFolder); // the same rule: beside the project
}

QString PublishSourceFolder(const TLumenfoldProject& project) {
  const QString chosen = ResolvedSiteFolder(project);
  if (!chosen.isEmpty()) return chosen;
  const QFileInfo file(project.FileName);
  return file.absolutePath() + QStringLiteral("/.") + file.completeBaseName() +
         QStringLiteral(".site");
}

TSiteMirrorResult MirrorArchive(const QString& archivePath, const QString& folder,
                                const std::function<void(int, int)>& progress,
                                const std::atomic<bool>* cancel) {
  TSiteMirrorResult result;
  auto fail = [&](const QString& why) {
    result.Error = QStringLiteral("The site folder \"%1\" cannot be made: %2").arg(folder, why);
    return result;
  };
  TFileDescriptor fd(::open(QFile::encodeName(archivePath).constData(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0)
    return fail(QStringLiteral("the archive \"%1\" cannot be opened (%2).")
                    .arg(archivePath, QString::fromLocal8Bit(strerror(errno))));
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0)
    return fail(QStringLiteral("the archive \"%1\" cannot be read (%2).")
                    .arg(archivePath, QString::fromLocal8Bit(strerror(errno))));
  const TArchiveStamp archiveStamp = stampOf(st);

  if (!QDir().mkpath(folder)) return fail(QStringLiteral("the folder cannot be made."));
  bool hasRecord = false;
  const QJsonObject written = readRecord(folder, &hasRecord);
  if (!hasRecord && !QDir(folder).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden))
    return fail(QStringLiteral("it holds files that no run put there. Choose an empty folder."));
  const TArchiveStamp madeFrom = stampFromJson(written.value("archive").toObject());
  const QJsonObject writtenFiles = written.value("files").toObject();
  // The archive the folder was last made from completely, and every file still as that run left
  // it: there is nothing to do, and the archive need not be read.
  if (hasRecord && madeFrom == archiveStamp &&
      recordedFilesIntact(folder, writtenFiles, result.Files)) {
    if (progress) progress(int(result.Files.size()), int(result.Files.size()));
    return result;
  }
  result.Files.clear();
  QHash<QString, TRecorded> record = recordedFiles(writtenFiles);

  std::vector<TZipDirectoryEntry> entries;
  QString error;
  if (!ReadZipDirectory(fd.get(), st.st_size, entries, &error))
    return fail(QStringLiteral("the archive \"%1\" cannot be read: %2").arg(archivePath, error));

  const QHash<QString, TRecorded> onDisk = record; // record itself follows each file written
  QHash<QString, TRecorded> next;
  const int total = int(entries.size());
  int done = 0;
  for (const TZipDirectoryEntry& e : entries) {
    if (progress) progress(done, total);
    ++done;
    const QString name = QString::fromUtf8(e.Header.Name);
    if (name.endsWith(QLatin1Char('/'))) continue; // a folder
    if (!safeEntryName(name))
      return fail(QStringLiteral("the archive entry \"%1\" would leave the folder.").arg(name));
    if (cancel && cancel->load()) {
      writeRecord(folder, record);
      return fail(QStringLiteral("it was stopped."));
    }
    const QString path = folder + QLatin1Char('/') + name;
    qint64 size = -1, mtime = 0;
    const bool isFile = statFile(path, size, mtime);
    const auto was = record.constFind(name);
    const bool ours = was != record.cend() && isFile && size == was->Size && mtime == was->MTime;
    result.Files.append({name, qint64(e.Header.Size), e.Header.Crc});
    if (ours && was->Crc == e.Header.Crc && quint64(was->Size) == e.Header.Size) {
      next.insert(name, *was);
      continue;
    }
    // A file of that name that this mirror did not write (or that was changed since) is not
    // replaced.
    if (pathExists(path) && !ours) {
      writeRecord(folder, record);
      return fail(QStringLiteral("\"%1\" was not written by a run (or was changed since); move it "
                                 "away and run again.")
                      .arg(path));
    }
    const QByteArray data = extract(fd.get(), st.st_size, e, error);
    if (data.isNull() && e.Header.Size > 0)
      return fail(QStringLiteral("\"%1\" in the archive: %2.").arg(name, error));
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
      return fail(QStringLiteral("the folder of \"%1\" cannot be made.").arg(name));
    if (const QString why = WriteFileReplacing(path, data); !why.isEmpty()) {
      writeRecord(folder, record);
      return fail(QStringLiteral("\"%1\" cannot be written: %2").arg(path, why));
    }
    statFile(path, size, mtime);
    const TRecorded now{qint64(e.Header.Size), e.Header.Crc, mtime};
    record.insert(name, now); // kept at once: a stop leaves a record of what is there
    next.insert(name, now);
    ++result.Written;
  }
  // What earlier mirrors made and the archive no longer holds goes to the trash, unless someone
  // changed it since.
  for (auto it = record.cbegin(); it != record.cend(); ++it) {
    if (next.contains(it.key())) continue;
    const QString path = folder + QLatin1Char('/') + it.key();
    qint64 size = -1, mtime = 0;
    if (!statFile(path, size, mtime)) continue;
    if (size != it->Size || mtime != it->MTime) {
      result.Kept << path;
      continue;
    }
    QString why;
    if (MoveToTrash(path, &why)) {
      ++result.Removed;
      // Folders the removal left empty go too (rmdir takes only empty ones).
      for (QString dir = QFileInfo(path).absolutePath(); dir.size() > folder.size();
           dir = QFileInfo(dir).absolutePath())
        if (!QDir().rmdir(dir)) break;
    } else
      result.Kept << path;
  }
  if (progress) progress(total, total);
  // A run that changed nothing in the folder and was made from the same archive leaves its record
  // alone (no flush for nothing).
  if (!hasRecord || next != onDisk || madeFrom != archiveStamp)
    if (const QString why = writeRecord(folder, next, archiveStamp); !why.isEmpty())
      return fail(QStringLiteral("its record cannot be written: %1").arg(why));
  return result;
}
