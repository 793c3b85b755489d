#include "ui/templatedatabase.h"

#include "util/programfolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

bool CopyTemplateDatabase(const QString& path) {
  if (path.trimmed().isEmpty()) return false;
  const QFileInfo target(path);
  if (target.exists()) return true;
  QDir().mkpath(target.absolutePath());
  // QFile::copy writes a temporary file beside the target and renames it at the end, so a
  // failed copy leaves no half-written database behind; it never replaces an existing file.
  if (!QFile::copy(DataFolder() + "template.db", path)) return false;
  QFile::setPermissions(path, QFile::permissions(path) | QFile::ReadOwner | QFile::WriteOwner);
  return true;
}
