#include "util/durablefiles.h"

#include "util/helpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool failed(QString* error, const QString& reason) {
  if (error) *error = reason;
  return false;
}

QString systemError() {
  return QString::fromLocal8Bit(std::strerror(errno));
}

bool syncFd(int fd, QString* error) {
  while (::fsync(fd) != 0) {
    if (errno == EINTR) continue;
    // A file system that cannot sync (a pipe, some network shares) has nothing more to give.
    if (errno == EINVAL || errno == EROFS) return true;
    return failed(error, systemError());
  }
  return true;
}

// Makes the folder and its missing parents, each new one readable by its owner only.
bool makePrivateFolders(const QString& folder, QString* error) {
  const QString clean = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
  QString at;
  for (const QString& part : clean.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
    at += QLatin1Char('/') + part;
    const QByteArray encoded = QFile::encodeName(at);
    if (::mkdir(encoded.constData(), 0700) == 0 || errno == EEXIST) continue;
    return failed(error, QStringLiteral("\"%1\" cannot be made: %2").arg(at, systemError()));
  }
  if (!QFileInfo(clean).isDir())
    return failed(error, QStringLiteral("\"%1\" is not a folder").arg(clean));
  return true;
}

// Whether the path lies in the "files" folder of a trash: the home trash, or the trash of
// another drive (".Trash-UID", or ".Trash/UID" made by the administrator).
bool inTrashFiles(const QString& where, const QString& homeTrash) {
  if (where.isEmpty() || QDir::isRelativePath(where)) return false;
  const QFileInfo file(where);
  if (!file.exists() && !file.isSymLink()) return false;
  const QFileInfo files(file.absolutePath());
  if (files.fileName() != QLatin1String("files")) return false;
  const QFileInfo trash(files.absolutePath());
  if (!homeTrash.isEmpty() && trash.canonicalFilePath() == QFileInfo(homeTrash).canonicalFilePath())
    return true;
  const QString uid = QString::number(::getuid());
  if (trash.fileName() == QStringLiteral(".Trash-") + uid) return true;
  return trash.fileName() == uid &&
         QFileInfo(trash.absolutePath()).fileName() == QLatin1String(".Trash");
}

} // namespace

bool SyncFile(const QString& path, QString* error) {
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return failed(error, systemError());
  const bool ok = syncFd(fd, error);
  ::close(fd);
  return ok;
}

bool SyncFolderOf(const QString& path, QString* error) {
  const QString folder = QFileInfo(path).absolutePath();
  const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return failed(error, systemError());
  const bool ok = syncFd(fd, error);
  ::close(fd);
  return ok;
}

QString HomeTrashFolder() {
  QString data = qEnvironmentVariable("XDG_DATA_HOME");
  if (data.isEmpty() || QDir::isRelativePath(data)) {
    const QString home = qEnvironmentVariable("HOME");
    if (home.isEmpty() || QDir::isRelativePath(home)) return QString();
    data = home + QStringLiteral("/.local/share");
  }
  return QDir::cleanPath(data + QStringLiteral("/Trash"));
}

bool MoveToTrash(const QString& path, QString* error) {
  const QFileInfo info(path);
  if (!info.exists() && !info.isSymLink())
    return failed(error, QStringLiteral("\"%1\" does not exist").arg(path));
  const QString trash = HomeTrashFolder();
  if (trash.isEmpty())
    return failed(error, QStringLiteral("there is no home folder to hold a trash"));
  QString reason;
  if (!makePrivateFolders(trash + QStringLiteral("/files"), &reason) ||
      !makePrivateFolders(trash + QStringLiteral("/info"), &reason))
    return failed(error, QStringLiteral("the trash cannot be made: %1").arg(reason));
  QString where;
  if (!QFile::moveToTrash(path, &where))
    return failed(error, QStringLiteral("\"%1\" cannot be moved to the trash").arg(path));
  if (inTrashFiles(where, trash)) return true;
  // The file went somewhere that is no trash: it goes back, and the note about it goes.
  const QFileInfo went(where);
  const QString note = went.absolutePath() + QStringLiteral("/../info/") + went.fileName() +
                       QStringLiteral(".trashinfo");
  if (!where.isEmpty() && RenameFileNoReplace(went.absoluteFilePath(), info.absoluteFilePath()))
    QFile::remove(QDir::cleanPath(note));
  return failed(error, QStringLiteral("the trash put \"%1\" into \"%2\", which is no trash; it was "
                                      "put back")
                           .arg(path, where));
}

TFileLock::TFileLock(const QString& path, bool removeWhenDone)
    : path_(path), remove_(removeWhenDone) {
  const QByteArray encoded = QFile::encodeName(path);
  // The file may be removed by its previous owner between opening and locking it: then the
  // lock is on a name that is gone, and the file is opened again.
  for (int attempt = 0; attempt < 8; ++attempt) {
    const int fd = ::open(encoded.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      busy_ = errno == EWOULDBLOCK;
      ::close(fd);
      return;
    }
    struct stat opened, named;
    if (::fstat(fd, &opened) == 0 && ::stat(encoded.constData(), &named) == 0 &&
        opened.st_ino == named.st_ino && opened.st_dev == named.st_dev) {
      fd_ = fd;
      return;
    }
    ::close(fd);
  }
}

TFileLock::~TFileLock() {
  if (fd_ < 0) return;
  // Removed while still held, so nobody takes a lock on a file that is about to go.
  if (remove_) QFile::remove(path_);
  ::close(fd_);
}

bool TFileLock::IsAbandoned(const QString& path) {
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  ::close(fd);
  return free;
}
