#include "util/programfolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
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

QString DataFolderFor(const QString& programFolder) {
  const QString beside = IncludeTrailingSeparator(programFolder);
  if (QFileInfo::exists(beside + QStringLiteral("template.db"))) return beside;
  const QString shared =
      QDir::cleanPath(beside + QStringLiteral("../share/") + QStringLiteral("lumenfold"));
  if (QFileInfo(shared).isDir()) return IncludeTrailingSeparator(QDir::toNativeSeparators(shared));
  return beside;
}

QString DataFolder() {
  return DataFolderFor(ProgramFolder());
}
