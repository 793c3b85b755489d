#include "util/safefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemText(int error) {
  return QString::fromLocal8Bit(std::strerror(error));
}

// The real path of a file or folder (links followed), empty when it cannot be found.
QByteArray realPath(const QByteArray& path) {
  char* real = ::realpath(path.constData(), nullptr);
  if (!real) return QByteArray();
  QByteArray result(real);
  std::free(real);
  return result;
}

// The real path of an open file: what the system itself opened, so that a link changed after the
// open does not count.
QByteArray realPathOf(int fd, const QByteArray& path) {
#if defined(__linux__)
  char buffer[PATH_MAX];
  const QByteArray link = "/proc/self/fd/" + QByteArray::number(fd);
  const ssize_t n = ::readlink(link.constData(), buffer, sizeof buffer);
  if (n > 0 && size_t(n) < sizeof buffer) return QByteArray(buffer, qsizetype(n));
#endif
  return realPath(path);
}

bool inside(const QByteArray& file, QByteArray folder) {
  if (file.isEmpty() || folder.isEmpty()) return false;
  if (!folder.endsWith('/')) folder += '/';
  return file.startsWith(folder);
}

int refuse(TFileRefusal kind, const QString& text, QString* problem, TFileRefusal* refusal) {
  if (problem) *problem = text;
  if (refusal) *refusal = kind;
  return -1;
}

} // namespace

QString PlainFileNameProblem(const QString& name) {
  if (name.isEmpty()) return QStringLiteral("the file name is empty");
  if (name == QLatin1String(".") || name == QLatin1String(".."))
    return QStringLiteral("\"%1\" names a folder, not a file").arg(name);
  if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')))
    return QStringLiteral("the file name \"%1\" holds a folder separator").arg(name);
  for (QChar c : name)
    if (c.unicode() < 0x20 || c.unicode() == 0x7F)
      return QStringLiteral("the file name \"%1\" holds a control character").arg(name);
  return QString();
}

int OpenRegularFile(const QString& path, QString* problem, TFileRefusal* refusal) {
  if (refusal) *refusal = TFileRefusal::None;
  if (path.isEmpty())
    return refuse(TFileRefusal::Missing, QStringLiteral("no file name given"), problem, refusal);
  const QByteArray encoded = QFile::encodeName(path);
  // O_NONBLOCK: opening a FIFO without a writer, or some devices, would wait for ever.
  const int fd = ::open(encoded.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    if (error == ENOENT || error == ENOTDIR)
      return refuse(TFileRefusal::Missing, QStringLiteral("File not found: \"%1\".").arg(path),
                    problem, refusal);
    return refuse(TFileRefusal::Unreadable,
                  QStringLiteral("Cannot open file \"%1\": %2.").arg(path, systemText(error)),
                  problem, refusal);
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return refuse(TFileRefusal::NotRegular,
                  QStringLiteral("\"%1\" is not a regular file (a folder, FIFO, device or "
                                 "socket); it is not read.")
                      .arg(path),
                  problem, refusal);
  }
  const QByteArray folder = realPath(QFile::encodeName(QFileInfo(path).absolutePath()));
  if (!inside(realPathOf(fd, encoded), folder)) {
    ::close(fd);
    return refuse(TFileRefusal::OutsideFolder,
                  QStringLiteral("\"%1\" is a symbolic link to a file outside its folder; it is "
                                 "not followed.")
                      .arg(path),
                  problem, refusal);
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags == -1 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == -1) {
    const int error = errno;
    ::close(fd);
    return refuse(TFileRefusal::Unreadable,
                  QStringLiteral("Cannot open file \"%1\": %2.").arg(path, systemText(error)),
                  problem, refusal);
  }
  return fd;
}

bool OpenRegularFile(QFile& file, const QString& path, QString* problem, TFileRefusal* refusal) {
  const int fd = OpenRegularFile(path, problem, refusal);
  if (fd < 0) return false;
  if (file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) return true;
  ::close(fd);
  refuse(TFileRefusal::Unreadable,
         QStringLiteral("Cannot open file \"%1\": %2.").arg(path, file.errorString()), problem,
         refusal);
  return false;
}

TFileRefusal CheckRegularFile(const QString& path, QString* problem) {
  TFileRefusal refusal = TFileRefusal::None;
  const int fd = OpenRegularFile(path, problem, &refusal);
  if (fd >= 0) ::close(fd);
  return refusal;
}

QString FileNameLengthProblem(const QString& folder, const QString& name, int spare) {
  // The nearest folder that exists tells the limit of its file system.
  QString existing = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
  while (!QFileInfo(existing).isDir() && existing != QDir::rootPath())
    existing = QFileInfo(existing).absolutePath();
  long most = ::pathconf(QFile::encodeName(existing).constData(), _PC_NAME_MAX);
  if (most <= 0) most = NAME_MAX;
  const qsizetype bytes = QFile::encodeName(name).size();
  if (bytes + spare <= most) return QString();
  return QStringLiteral("the file name \"%1\" is longer than the file system allows (%2 bytes, "
                        "at most %3)")
      .arg(name)
      .arg(bytes)
      .arg(most - spare);
}
