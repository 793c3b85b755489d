#include "processing/archive/archivefiles.h"

#include "core/album.h"
#include "util/imaging/pictureformats.h"
#include "util/programfolder.h"
#include "util/tracer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

QString PathBelow(const QString& folder, const QString& relative) {
  // Made for every file of a project in each archived run: one allocation.
  const bool separated =
      folder.isEmpty() || folder.endsWith(QLatin1Char('/')) || folder.endsWith(QDir::separator());
  QString path;
  path.reserve(folder.size() + 1 + relative.size());
  path.append(folder);
  if (!separated) path.append(QDir::separator());
  const qsizetype start = path.size();
  path.append(relative);
  if (QDir::separator() == QLatin1Char('/') && relative.contains(QLatin1Char('\\')))
    for (qsizetype i = start; i < path.size(); ++i)
      if (path[i] == QLatin1Char('\\')) path[i] = QLatin1Char('/');
  return path;
}

QString AlbumEntry(const TLumenfoldAlbum* album, const QString& relative) {
  return (album ? album->Directory : QString()) + QLatin1Char('/') + relative;
}

void TraceQuietly(const QString& text) {
  try {
    Tracer().Write(text);
  } catch (const std::exception&) {
    // The trace log is a diagnostic aid; failing to write it does not end the run.
  }
}

QString OutsideLinkReason(const QString& albumFolder, const QString& path) {
  struct stat st;
  if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISLNK(st.st_mode))
    return QString();
  const QString target = QFileInfo(path).canonicalFilePath();
  const QString folder = QFileInfo(albumFolder).canonicalFilePath();
  if (!target.isEmpty() && !folder.isEmpty() && target.startsWith(folder + QLatin1Char('/')))
    return QString();
  return QStringLiteral("\"%1\" is a symbolic link that leads outside the album's folder; it was "
                        "not followed.")
      .arg(path);
}

QString UnpackableReason(const QString& albumFolder, const QString& path, bool original) {
  const QByteArray encoded = QFile::encodeName(path);
  struct stat st;
  if (const QString outside = OutsideLinkReason(albumFolder, path); !outside.isEmpty())
    return outside;
  if (::stat(encoded.constData(), &st) != 0 || !S_ISREG(st.st_mode))
    return QStringLiteral("\"%1\" is not a regular file; it was not packed.").arg(path);
  if (!original) return QString();
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly) ||
      SniffPictureFormat(file.read(16)) == TPictureFormat::Unknown)
    return QStringLiteral("\"%1\" is not a picture file; it was not packed.").arg(path);
  return QString();
}

TFileStamp FileStampOf(const QString& path) {
  TFileStamp stamp;
  struct stat st;
  const QByteArray encoded = QFile::encodeName(path);
  if (encoded.isEmpty() || ::stat(encoded.constData(), &st) != 0) return stamp;
  stamp.IsFile = S_ISREG(st.st_mode);
  stamp.Size = qint64(st.st_size);
  stamp.MTime = st.st_mtim;
  return stamp;
}

TFileStamp OwnFileStamp(const QString& path, bool& exists) {
  TFileStamp stamp;
  struct stat st;
  const QByteArray encoded = QFile::encodeName(path);
  exists = !encoded.isEmpty() && ::lstat(encoded.constData(), &st) == 0;
  if (!exists) return stamp;
  stamp.IsFile = S_ISREG(st.st_mode);
  stamp.Size = qint64(st.st_size);
  stamp.MTime = st.st_mtim;
  return stamp;
}

TFolderStamps::~TFolderStamps() {
  for (const Folder& folder : std::as_const(folders_))
    if (folder.Fd >= 0) ::close(folder.Fd);
}

TFileStamp TFolderStamps::Own(const QString& path, bool& exists) {
  const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
  if (slash <= 0 || slash + 1 == path.size()) return OwnFileStamp(path, exists);
  // Looked up without copying the path's parts.
  const QStringView folderPath(path.constData(), slash);
  const Folder* found = nullptr;
  for (const auto& [recentPath, folder] : recent_)
    if (!recentPath.isNull() && QStringView(recentPath) == folderPath) {
      found = &folder;
      break;
    }
  if (!found) {
    auto folder = folders_.constFind(QString::fromRawData(path.constData(), slash));
    if (folder == folders_.constEnd()) {
      Folder opened;
      opened.Fd = ::open(QFile::encodeName(folderPath.toString()).constData(),
                         O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      // A folder that is not there holds none of the names (the sizes a project does not
      // make); one that cannot be opened is looked at file by file.
      opened.Missing = opened.Fd < 0 && (errno == ENOENT || errno == ENOTDIR);
      folder = folders_.insert(folderPath.toString(), opened);
    }
    auto& slot = recent_[nextRecent_];
    nextRecent_ = (nextRecent_ + 1) % kRecent;
    slot = {folder.key(), *folder};
    found = &slot.second;
  }
  const Folder last = *found;
  exists = false;
  if (last.Missing) return TFileStamp();
  if (last.Fd < 0) return OwnFileStamp(path, exists);
  TFileStamp stamp;
  struct stat st;
  const QStringView name(path.constData() + slash + 1, path.size() - slash - 1);
  // Names in plain ASCII (nearly all) are handed over without making an encoded copy.
  char plain[256];
  bool ascii = name.size() < qsizetype(sizeof plain);
  for (qsizetype i = 0; ascii && i < name.size(); ++i) {
    const char16_t c = name[i].unicode();
    ascii = c != 0 && c < 0x80;
    plain[i] = char(c);
  }
  QByteArray encoded;
  if (ascii)
    plain[name.size()] = '\0';
  else
    encoded = QFile::encodeName(name.toString());
  exists = ::fstatat(last.Fd, ascii ? plain : encoded.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0;
  if (!exists) return stamp;
  stamp.IsFile = S_ISREG(st.st_mode);
  stamp.Size = qint64(st.st_size);
  stamp.MTime = st.st_mtim;
  return stamp;
}

bool PathExists(const QString& path) {
  struct stat st;
  return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}
