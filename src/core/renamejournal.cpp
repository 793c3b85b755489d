#include "core/renamejournal.h"

#include "util/durablefiles.h"
#include "util/helpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kJournalVersion = 1;
// A journal names a few hundred bytes per picture; anything far larger is not one.
constexpr qint64 kMaxJournalSize = 1024LL * 1024 * 1024;

bool writeAll(int fd, const QByteArray& bytes) {
  const char* p = bytes.constData();
  qint64 left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, size_t(left));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    left -= n;
  }
  return true;
}

QString systemError() {
  return QString::fromLocal8Bit(std::strerror(errno));
}

QJsonObject toJson(const TRenameRun& run) {
  QJsonArray entries;
  for (const TRenameEntry& e : run.Entries) {
    QJsonArray files;
    for (int k = 0; k < kRenameFileKinds; ++k) {
      const TRenameFile& f = e.Files[k];
      if (f.Moves()) files.append(QJsonArray{k, f.From, f.Temp, f.To});
    }
    entries.append(
        QJsonObject{{"id", e.PictureId}, {"old", e.OldName}, {"new", e.NewName}, {"files", files}});
  }
  return QJsonObject{{"version", kJournalVersion},
                     {"repair", run.Repair},
                     {"folder", run.Folder},
                     {"note", run.Note},
                     {"entries", entries}};
}

bool fromJson(const QJsonObject& o, TRenameRun& run) {
  if (o.value("version").toInt() != kJournalVersion) return false;
  run.Repair = o.value("repair").toBool();
  run.Folder = o.value("folder").toString();
  run.Note = o.value("note").toString();
  const QJsonArray entries = o.value("entries").toArray();
  run.Entries.clear();
  run.Entries.reserve(size_t(entries.size()));
  for (const QJsonValue& v : entries) {
    const QJsonObject e = v.toObject();
    TRenameEntry entry;
    entry.PictureId = e.value("id").toInt(-1);
    entry.OldName = e.value("old").toString();
    entry.NewName = e.value("new").toString();
    for (const QJsonValue& fv : e.value("files").toArray()) {
      const QJsonArray f = fv.toArray();
      const int kind = f.at(0).toInt(-1);
      if (f.size() != 4 || kind < 0 || kind >= kRenameFileKinds) return false;
      TRenameFile& file = entry.Files[kind];
      file.From = f.at(1).toString();
      file.Temp = f.at(2).toString();
      file.To = f.at(3).toString();
      if (file.From.isEmpty() || file.Temp.isEmpty() || file.To.isEmpty()) return false;
    }
    run.Entries.push_back(std::move(entry));
  }
  return true;
}

} // namespace

TRenameJournal::~TRenameJournal() {
  if (fd_ >= 0) ::close(fd_);
}

QString TRenameJournal::PathOf(const QString& projectFile) {
  return QDir::cleanPath(QFileInfo(projectFile).absoluteFilePath()) +
         QStringLiteral(".rename-journal");
}

bool TRenameJournal::Begin(const QString& path, const TRenameRun& run, QString* error) {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  path_ = path;
  const QByteArray bytes = QJsonDocument(toJson(run)).toJson(QJsonDocument::Compact) + '\n';
  auto fail = [&](const QString& why) {
    if (error)
      *error = QStringLiteral("The renaming journal \"%1\" cannot be written: %2").arg(path, why);
    return false;
  };
  // Whole and on the disk, with its name, before the first file moves.
  if (const QString why = WriteFileReplacing(path, bytes); !why.isEmpty()) return fail(why);
  const QByteArray target = QFile::encodeName(path);
  fd_ = ::open(target.constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd_ < 0) return fail(systemError());
  return true;
}

void TRenameJournal::Moved(int entry, int kind, TFileAt at) {
  if (fd_ < 0) return;
  // A line the process could not finish writing is left out when the journal is read.
  writeAll(fd_, QByteArray::number(entry) + ' ' + QByteArray::number(kind) + ' ' + char(at) + '\n');
}

bool TRenameJournal::Finish() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (path_.isEmpty()) return true;
  if (!Remove(path_)) return false;
  path_.clear();
  return true;
}

bool TRenameJournal::Remove(const QString& path) {
  if (::unlink(QFile::encodeName(path).constData()) != 0 && errno != ENOENT) return false;
  SyncFolderOf(path);
  return true;
}

bool TRenameJournal::Read(const QString& path, TRenameRun& run, QString* error) {
  auto fail = [&](const QString& why) {
    if (error) *error = QStringLiteral("The renaming journal \"%1\" %2").arg(path, why);
    return false;
  };
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    return fail(QStringLiteral("cannot be read: ") + file.errorString());
  if (file.size() > kMaxJournalSize) return fail(QStringLiteral("is too large to be one"));
  const QByteArray bytes = file.readAll();
  const qsizetype headerEnd = bytes.indexOf('\n');
  if (headerEnd < 0) return fail(QStringLiteral("is incomplete"));
  QJsonParseError parsed;
  const QJsonDocument doc = QJsonDocument::fromJson(bytes.left(headerEnd), &parsed);
  if (parsed.error != QJsonParseError::NoError || !doc.isObject() || !fromJson(doc.object(), run))
    return fail(QStringLiteral("is damaged"));
  qsizetype at = headerEnd + 1;
  for (;;) {
    const qsizetype end = bytes.indexOf('\n', at);
    if (end < 0) break; // a cut last line
    const QList<QByteArray> parts = bytes.mid(at, end - at).split(' ');
    at = end + 1;
    bool okEntry = false, okKind = false;
    const int entry = parts.value(0).toInt(&okEntry), kind = parts.value(1).toInt(&okKind);
    if (parts.size() != 3 || !okEntry || !okKind || entry < 0 || entry >= int(run.Entries.size()) ||
        kind < 0 || kind >= kRenameFileKinds || parts[2].size() != 1)
      return fail(QStringLiteral("is damaged"));
    const char c = parts[2][0];
    if (c != char(TFileAt::Before) && c != char(TFileAt::Temp) && c != char(TFileAt::After) &&
        c != char(TFileAt::Gone))
      return fail(QStringLiteral("is damaged"));
    run.Entries[size_t(entry)].Files[kind].At = TFileAt(c);
  }
  return true;
}
