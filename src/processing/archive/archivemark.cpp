#include "processing/archive/archivemark.h"

#include "core/album.h"
#include "core/outputsettings.h"
#include "core/project.h"
#include "db/connectionstring.h"
#include "processing/archive/archivebuilder.h"
#include "processing/archive/archiveupdate.h"
#include "processing/archive/zipwriter.h"
#include "util/helpers.h"
#include "util/programfolder.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <algorithm>
#include <cctype>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

QString folded(const QString& name) {
  return name.toCaseFolded();
}

QString refusal(const QString& path, const QString& what) {
  return QStringLiteral("The file \"%1\" %2, so it was not written by LumenFold for this project "
                        "and is not replaced. Choose another zip file name (ZipFileName), or "
                        "move the file away yourself if it may go.")
      .arg(path, what);
}

} // namespace

QString ProjectArchivePath(const TLumenfoldProject& project) {
  const QString name = project.ZipFileName.trimmed().isEmpty()
                           ? ProgramFolder() + QStringLiteral("albums.zip")
                           : project.ZipFileName;
  return ResolveZipFileName(project, name);
}

namespace {
constexpr const char* kSiteDigestLine = "site ";
} // namespace

QByteArray ArchiveComment(const QByteArray& siteDigest) {
  if (siteDigest.isEmpty()) return QByteArray(kArchiveMark);
  return QByteArray(kSiteDigestLine) + siteDigest.toHex() + '\n' + QByteArray(kArchiveMark);
}

bool IsArchiveComment(const QByteArray& comment, QByteArray* siteDigest) {
  if (siteDigest) siteDigest->clear();
  const QByteArray mark(kArchiveMark);
  if (comment == mark) return true;
  // "site <hex digits>" on a line before the mark.
  const qsizetype line = comment.indexOf('\n');
  if (line < 0 || comment.mid(line + 1) != mark || !comment.startsWith(kSiteDigestLine))
    return false;
  const QByteArray hex = comment.mid(qsizetype(std::strlen(kSiteDigestLine)),
                                     line - qsizetype(std::strlen(kSiteDigestLine)));
  if (hex.isEmpty() || hex.size() % 2 != 0 ||
      !std::all_of(hex.cbegin(), hex.cend(), [](char c) { return std::isxdigit(uchar(c)); }))
    return false;
  if (siteDigest) *siteDigest = QByteArray::fromHex(hex);
  return true;
}

QString ForeignArchiveReason(const TLumenfoldProject& project, const QString& path) {
  // An update of the project's archive that was killed on the way is finished or undone first:
  // until then the file may not read as an archive.
  RecoverArchive(path);
  const QFileInfo info(path);
  if (!info.exists() && !info.isSymLink()) return QString();
  if (info.isSymLink()) return refusal(path, QStringLiteral("is a symbolic link"));
  if (!info.isFile() || !IsZipArchiveFile(path))
    return refusal(path, QStringLiteral("is no zip archive"));
  std::vector<TZipDirectoryEntry> entries;
  {
    // The mark is in the end record: an archive of ours is told without reading its directory
    // (tens of thousands of entries), which the run's builder reads anyway and refuses when it
    // is damaged. Only an unmarked archive's names are looked at here.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    QByteArray comment;
    const bool marked =
        fd >= 0 && ReadZipComment(fd, info.size(), comment) && IsArchiveComment(comment);
    const bool read = marked || (fd >= 0 && ReadZipDirectory(fd, info.size(), entries, nullptr));
    if (fd >= 0) ::close(fd);
    if (!read) return refusal(path, QStringLiteral("cannot be read as a zip archive"));
    if (marked) return QString();
  }
  QStringList names;
  for (const TZipDirectoryEntry& entry : entries)
    names << QString::fromUtf8(entry.Header.Name);
  if (names.isEmpty()) return QString();

  // What a run of this project packs.
  QStringList albums;
  for (int a = 0; a < project.Albums.Count(); ++a) {
    const QString folder = ZipEntryName(project.Albums.Albums(a)->Directory);
    if (!folder.isEmpty()) albums << folded(folder) + QLatin1Char('/');
  }
  const QString database =
      folded(QFileInfo(GetConnectionDataSource(project.ConnectionString).trimmed()).fileName());
  QSet<QString> templateFiles;
  if (!project.SiteTemplate.isEmpty()) {
    QStringList files;
    ListTemplateFiles(DataFolder() + QStringLiteral("templates"), project.SiteTemplate, files);
    for (const QString& file : std::as_const(files))
      templateFiles.insert(folded(ZipEntryName(file)));
  }
  auto inAlbum = [&](const QString& name) {
    for (const QString& folder : std::as_const(albums))
      if (name.startsWith(folder) || name + QLatin1Char('/') == folder) return true;
    return false;
  };
  bool own = false;
  for (const QString& entry : std::as_const(names)) {
    QString name = folded(entry);
    if (name.endsWith(QLatin1Char('/'))) name.chop(1);
    if (inAlbum(name) || (!database.isEmpty() && name == database)) {
      own = true;
      continue;
    }
    if (name == QLatin1String("site.json") || templateFiles.contains(name) || IsSitePageEntry(name))
      continue;
    bool templateFolder = false;
    for (const QString& file : std::as_const(templateFiles))
      if (file.startsWith(name + QLatin1Char('/'))) templateFolder = true;
    if (!templateFolder)
      return refusal(path,
                     QStringLiteral("holds \"%1\", which this project does not pack").arg(entry));
  }
  if (!own)
    return refusal(path, QStringLiteral("holds neither the project's database nor files of its "
                                        "albums"));
  return QString();
}

bool IsSitePageEntry(const QString& entry) {
  static const QRegularExpression pages(QStringLiteral(
      "^((album|category|photo)-\\d+\\.html|index\\.html|feed\\.xml|sitemap\\.xml|robots\\.txt)$"));
  return pages.match(entry).hasMatch();
}
