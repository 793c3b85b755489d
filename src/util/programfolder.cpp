#include "util/programfolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QMutex>

namespace {
QMutex folderMutex;
QString overrideFolder;
} // namespace

QString IncludeTrailingSeparator(const QString& folder) {
  if (folder.isEmpty() || folder.endsWith('/') || folder.endsWith(QDir::separator())) return folder;
  return folder + QDir::separator();
}

QString ProgramFolder() {
  QMutexLocker lock(&folderMutex);
  if (!overrideFolder.isEmpty()) return overrideFolder;
  QString dir = QCoreApplication::applicationDirPath();
  if (dir.isEmpty()) dir = QDir::currentPath();
  return IncludeTrailingSeparator(QDir::toNativeSeparators(dir));
}

void SetProgramFolder(const QString& folder) {
  QMutexLocker lock(&folderMutex);
  overrideFolder = IncludeTrailingSeparator(folder);
}
