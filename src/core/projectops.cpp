#include "core/projectops.h"

#include "core/album.h"
#include "core/picture.h"
#include "core/project.h"
#include "db/sqlaccess.h"
#include "util/helpers.h"
#include "util/programfolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

TDatabaseCopy CopyTemplateDatabase(const QString& path) {
  TDatabaseCopy result;
  if (path.trimmed().isEmpty()) {
    result.error = QStringLiteral("no database file given");
    return result;
  }
  const QFileInfo target(path);
  if (target.exists()) {
    result.ok = target.isFile();
    if (!result.ok) result.error = QStringLiteral("not a database file: %1").arg(path);
    return result;
  }
  const QString templateDb = DataFolder() + QStringLiteral("template.db");
  if (!QFileInfo(templateDb).isFile()) {
    result.error = QStringLiteral("template database not found: %1").arg(templateDb);
    return result;
  }
  QDir().mkpath(target.absolutePath());
  // QFile::copy writes a temporary file beside the target and renames it at the end, so a
  // failed copy leaves no half-written database behind; it never replaces an existing file.
  QFile source(templateDb);
  if (!source.copy(path)) {
    result.error = QStringLiteral("cannot create database %1: %2").arg(path, source.errorString());
    return result;
  }
  QFile::setPermissions(path, QFile::permissions(path) | QFile::ReadOwner | QFile::WriteOwner);
  result.ok = true;
  result.created = true;
  return result;
}

namespace {
// Albums in the SQLite file at path: 0 when it does not exist, -1 when it is no database.
int albumsIn(const QString& path) {
  if (!QFileInfo::exists(path)) return 0;
  return DatabaseAlbumCount(QStringLiteral("Provider=SQLite;Data Source=") + path);
}
} // namespace

TDatabaseProposal ProposeProjectDatabase(const QString& projectFile, const QString& preferredName) {
  const QFileInfo project(QDir::cleanPath(projectFile));
  const QDir folder = project.absoluteDir();
  TDatabaseProposal proposal;
  proposal.path = QDir::cleanPath(folder.absoluteFilePath(preferredName));
  const int albums = albumsIn(proposal.path);
  if (albums == 0) return proposal;
  proposal.reason =
      albums > 0
          ? QStringLiteral("%1 already holds another project's albums (%2); a database of its "
                           "own keeps the projects apart.")
                .arg(QDir::toNativeSeparators(proposal.path))
                .arg(albums)
          : QStringLiteral("%1 already exists and is not a project database.")
                .arg(QDir::toNativeSeparators(proposal.path));
  const QString base =
      project.completeBaseName().isEmpty() ? QStringLiteral("project") : project.completeBaseName();
  for (int n = 1;; ++n) {
    const QString name =
        n == 1 ? base + QStringLiteral(".sqlite") : QStringLiteral("%1-%2.sqlite").arg(base).arg(n);
    const QString path = QDir::cleanPath(folder.absoluteFilePath(name));
    if (albumsIn(path) == 0) {
      proposal.path = path;
      return proposal;
    }
  }
}

QString SharedDatabaseWarning(const QString& path) {
  const int albums = albumsIn(path);
  if (albums <= 0) return QString();
  return QStringLiteral("The database %1 already holds another project's albums (%2). The new "
                        "project would show them, and every change in one project would change "
                        "the other.")
      .arg(QDir::toNativeSeparators(path))
      .arg(albums);
}

bool OpenNewProject(TLumenfoldProject& project) {
  project.ZipEnabled = true;
  project.ZipFileName =
      IncludeTrailingSeparator(QFileInfo(project.FileName).absolutePath()) + "albums.zip";
  // Safe by default: without a template the archive would hold every private picture.
  project.SiteTemplate = QStringLiteral("gallery");
  project.Modified = true;
  SetCurrentConnectionString(project.ConnectionString);
  return project.LoadDatabase();
}

void ApplyNewProjectDefaults(TLumenfoldProject& project) {
  project.ChromaSubsampling = cs420;
}

int ChangeBasePath(TLumenfoldProject& project, const QString& search, const QString& replacement) {
  if (search.isEmpty()) return 0;
  int changed = 0;
  for (int i = 0; i < project.Albums.Count(); ++i) {
    TLumenfoldAlbum* album = project.Albums.Albums(i);
    QString path = album->Path;
    path.replace(search, replacement, Qt::CaseSensitive);
    if (path == album->Path) continue;
    album->SetPath(path);
    ++changed;
  }
  return changed;
}

bool RefreshOriginals(TLumenfoldProject& project, const TAlbumProgress& progress) {
  const int total = project.Albums.Count();
  for (int i = 0; i < total; ++i) {
    if (progress && !progress(i, total)) return false;
    TLumenfoldAlbum* album = project.Albums.Albums(i);
    if (!album->Loaded) album->LoadPictures();
    for (int k = 0; k < album->Pictures.Count(); ++k) {
      if (progress && !progress(i, total)) return false;
      album->Pictures.Pictures(k)->RefreshOriginalInfo();
    }
  }
  if (progress) progress(total, total);
  return true;
}
