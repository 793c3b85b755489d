#include "core/outputsettings.h"

#include "core/album.h"
#include "core/picture.h"
#include "core/project.h"
#include "db/connectionstring.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStringList>
#include <QUrl>
#include <utility>

namespace {

struct TSizeNames {
  const char* kind; // for messages
  const char* folderSetting;
  const char* prefixSetting;
  QString folder, prefix;
};

QList<TSizeNames> sizesOf(const TLumenfoldProject& p) {
  return {{"large", "LargeFolder", "LargePrefix", p.LargeFolder, p.LargePrefix},
          {"medium", "MediumFolder", "MediumPrefix", p.MediumFolder, p.MediumPrefix},
          {"thumbnail", "ThumbFolder", "ThumbPrefix", p.ThumbFolder, p.ThumbPrefix}};
}

// Why a folder or prefix text is not a plain name, or empty when it is one.
QString badName(const QString& text) {
  if (text.contains(QLatin1Char('/')) || text.contains(QLatin1Char('\\')))
    return QStringLiteral("it must not contain \"/\" or \"\\\"");
  if (text == QLatin1String(".") || text == QLatin1String(".."))
    return QStringLiteral("it must not be \".\" or \"..\"");
  for (QChar c : text)
    if (c.unicode() < 0x20 || c.unicode() == 0x7F)
      return QStringLiteral("it must not contain control characters");
  return QString();
}

QString cleanAbsolute(const QString& path) {
  return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

// Same file: the same cleaned path ignoring case (a case-insensitive disk, or names that the
// lowercase rule makes equal), or the same file on disk behind links.
bool samePath(const QString& a, const QString& b) {
  if (a.isEmpty() || b.isEmpty()) return false;
  if (cleanAbsolute(a).compare(cleanAbsolute(b), Qt::CaseInsensitive) == 0) return true;
  const QString ca = QFileInfo(a).canonicalFilePath(), cb = QFileInfo(b).canonicalFilePath();
  return !ca.isEmpty() && ca == cb;
}

QString databaseFile(const TLumenfoldProject& project) {
  const QString source = GetConnectionDataSource(project.ConnectionString).trimmed();
  if (source.isEmpty()) return QString();
  if (QDir::isAbsolutePath(source) || project.FileName.isEmpty()) return cleanAbsolute(source);
  return cleanAbsolute(QFileInfo(project.FileName).absoluteDir().filePath(source));
}

QString outputFolder(const QString& albumPath, const QString& folder) {
  return QDir::cleanPath(albumPath + QLatin1Char('/') + folder);
}

} // namespace

QString ResolveZipFileName(const TLumenfoldProject& project, const QString& zipFileName) {
  if (zipFileName.trimmed().isEmpty()) return QString();
  QString name = zipFileName;
  if (QDir::separator() == QLatin1Char('/')) name.replace(QLatin1Char('\\'), QLatin1Char('/'));
  if (QDir::isAbsolutePath(name)) return QDir::cleanPath(name);
  const QDir base =
      project.FileName.isEmpty() ? QDir::current() : QFileInfo(project.FileName).absoluteDir();
  return QDir::cleanPath(base.absoluteFilePath(name));
}

QString ValidateSiteAddress(const QString& address) {
  if (address.isEmpty()) return QString();
  const QUrl url(address, QUrl::StrictMode);
  const QString scheme = url.scheme().toLower();
  if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
      url.host().isEmpty() || url.hasQuery() || url.hasFragment() || !url.userInfo().isEmpty())
    return QStringLiteral("SiteAddress \"%1\" is not allowed: it must be the web address the "
                          "site is published at, for example https://photos.example.org/.")
        .arg(address);
  return QString();
}

QString SiteAddressBase(const QString& address) {
  if (address.isEmpty() || !ValidateSiteAddress(address).isEmpty()) return QString();
  return address.endsWith(QLatin1Char('/')) ? address : address + QLatin1Char('/');
}

QString ValidateOutputSettings(const TLumenfoldProject& project) {
  if (const QString why = ValidateSiteAddress(project.SiteAddress); !why.isEmpty()) return why;
  const QList<TSizeNames> sizes = sizesOf(project);
  for (const TSizeNames& s : sizes) {
    if (const QString why = badName(s.folder); !why.isEmpty())
      return QStringLiteral("%1 \"%2\" is not allowed: %3.")
          .arg(QLatin1String(s.folderSetting), s.folder, why);
    if (const QString why = badName(s.prefix); !why.isEmpty())
      return QStringLiteral("%1 \"%2\" is not allowed: %3.")
          .arg(QLatin1String(s.prefixSetting), s.prefix, why);
    if (s.folder.compare(QLatin1String(kPreviewFolder), Qt::CaseInsensitive) == 0)
      return QStringLiteral("%1 \"%2\" is not allowed: it is the folder of the list previews, "
                            "which would replace the %3 images.")
          .arg(QLatin1String(s.folderSetting), s.folder, QLatin1String(s.kind));
    if (s.folder.isEmpty() && s.prefix.isEmpty())
      return QStringLiteral("%1 and %2 are both empty: the %3 images would replace the original "
                            "pictures.")
          .arg(QLatin1String(s.folderSetting), QLatin1String(s.prefixSetting),
               QLatin1String(s.kind));
  }
  // Boxes a web site can use; far larger ones only cost memory.
  const struct {
    bool enabled;
    const char *width, *height;
    int w, h;
  } boxes[] = {
      {project.ThumbEnabled, "ThumbWidth", "ThumbHeight", project.ThumbWidth, project.ThumbHeight},
      {project.MediumEnabled, "MediumWidth", "MediumHeight", project.MediumWidth,
       project.MediumHeight}};
  for (const auto& b : boxes) {
    if (!b.enabled) continue;
    for (const auto& [setting, value] : {std::pair(b.width, b.w), std::pair(b.height, b.h)})
      if (value < 1 || value > kMaxOutputSide)
        return QStringLiteral("%1 %2 is not allowed: a size box is 1 to %3 pixels.")
            .arg(QLatin1String(setting))
            .arg(value)
            .arg(kMaxOutputSide);
  }
  for (int i = 0; i < sizes.size(); ++i)
    for (int j = i + 1; j < sizes.size(); ++j) {
      const TSizeNames &a = sizes[i], &b = sizes[j];
      if (a.folder.compare(b.folder, Qt::CaseInsensitive) != 0) continue;
      if (a.prefix.startsWith(b.prefix, Qt::CaseInsensitive) ||
          b.prefix.startsWith(a.prefix, Qt::CaseInsensitive))
        return QStringLiteral("%1 \"%2\" and %3 \"%4\" in the same folder could give the %5 and "
                              "the %6 image the same file name.")
            .arg(QLatin1String(a.prefixSetting), a.prefix, QLatin1String(b.prefixSetting), b.prefix,
                 QLatin1String(a.kind), QLatin1String(b.kind));
    }
  // An output folder that is the folder of another album would mix generated images with its
  // originals.
  for (int a = 0; a < project.Albums.Count(); ++a) {
    const TLumenfoldAlbum* album = project.Albums.Albums(a);
    if (!album || album->Path.isEmpty()) continue;
    for (const TSizeNames& s : sizes) {
      if (s.folder.isEmpty()) continue;
      const QString folder = outputFolder(album->Path, s.folder);
      for (int o = 0; o < project.Albums.Count(); ++o) {
        const TLumenfoldAlbum* other = project.Albums.Albums(o);
        if (other && samePath(folder, other->Path))
          return QStringLiteral("%1 \"%2\" of album \"%3\" is the folder of album \"%4\": its "
                                "images would mix with the original pictures.")
              .arg(QLatin1String(s.folderSetting), s.folder, album->ShortName, other->ShortName);
      }
    }
  }
  return project.ZipEnabled || !project.ZipFileName.isEmpty()
             ? ValidateZipFileName(project, project.ZipFileName)
             : QString();
}

QString ValidateAlbumFolder(const TLumenfoldProject& project, const QString& folder,
                            const TLumenfoldAlbum* album) {
  if (folder.trimmed().isEmpty()) return QString();
  QStringList subfolders{QLatin1String(kPreviewFolder)};
  for (const TSizeNames& s : sizesOf(project))
    if (!s.folder.isEmpty()) subfolders << s.folder;
  for (int a = 0; a < project.Albums.Count(); ++a) {
    const TLumenfoldAlbum* other = project.Albums.Albums(a);
    if (!other || other == album || other->Path.trimmed().isEmpty()) continue;
    if (samePath(folder, other->Path))
      return QStringLiteral("The folder %1 is already the folder of album \"%2\".")
          .arg(folder, other->ShortName);
    for (const QString& sub : std::as_const(subfolders)) {
      if (samePath(folder, outputFolder(other->Path, sub)))
        return QStringLiteral("The folder %1 is where album \"%2\" keeps its generated images; "
                              "it cannot be an album.")
            .arg(folder, other->ShortName);
      if (samePath(outputFolder(folder, sub), other->Path))
        return QStringLiteral("The folder of album \"%1\" would receive the generated images of "
                              "the folder %2.")
            .arg(other->ShortName, folder);
    }
  }
  return QString();
}

QString ValidateZipFileName(const TLumenfoldProject& project, const QString& zipFileName) {
  const QString zip = ResolveZipFileName(project, zipFileName);
  if (zip.isEmpty()) return QString();
  const QString name = QStringLiteral("ZipFileName \"%1\"").arg(zipFileName);
  const QFileInfo info(zip);
  if (info.isDir()) return QStringLiteral("%1 is a folder, not a file.").arg(name);
  if (samePath(zip, databaseFile(project)))
    return QStringLiteral("%1 is the project database.").arg(name);
  if (!project.FileName.isEmpty() && samePath(zip, project.FileName))
    return QStringLiteral("%1 is the project file.").arg(name);
  const QString zipFolder = info.absolutePath();
  for (int a = 0; a < project.Albums.Count(); ++a) {
    const TLumenfoldAlbum* album = project.Albums.Albums(a);
    if (!album || album->Path.isEmpty()) continue;
    if (samePath(zipFolder, album->Path) && (IsPictureFileName(info.fileName()) ||
                                             album->Pictures.IndexOfFileName(info.fileName()) >= 0))
      return QStringLiteral("%1 is a picture in the folder of album \"%2\".")
          .arg(name, album->ShortName);
    for (const TSizeNames& s : sizesOf(project))
      if (samePath(zipFolder, outputFolder(album->Path, s.folder)) &&
          info.fileName().startsWith(s.prefix, Qt::CaseInsensitive))
        return QStringLiteral("%1 could be a %2 image of album \"%3\".")
            .arg(name, QLatin1String(s.kind), album->ShortName);
  }
  return QString();
}

QString ValidateOutputPaths(const TLumenfoldProject& project,
                            const QList<TLumenfoldPicture*>& pictures) {
  // Originals by album, by lowercase name.
  QSet<const TLumenfoldAlbum*> albums;
  for (const TLumenfoldPicture* p : pictures)
    if (p && p->Album) albums.insert(p->Album);
  QSet<QString> originals;
  for (const TLumenfoldAlbum* album : std::as_const(albums)) {
    QStringList names;
    for (int i = 0; i < album->Pictures.Count(); ++i) {
      const TLumenfoldPicture* p = album->Pictures.Pictures(i);
      // A name that cannot be used has no paths; the run skips that picture with its reason.
      if (!p->NameProblem().isEmpty()) continue;
      originals.insert(cleanAbsolute(p->OriginalPath()).toLower());
      if (!p->IsDeleted) names << p->OriginalFileName;
    }
    // Two pictures of an album whose images would be one file: one would replace the other.
    if (const QString clash = GeneratedNameClash(&project, names); !clash.isEmpty())
      return QStringLiteral("Album \"%1\": %2").arg(album->ShortName, clash);
  }
  const QString zip = ResolveZipFileName(project, project.ZipFileName);
  const bool enabled[3] = {project.LargeEnabled, project.MediumEnabled, project.ThumbEnabled};
  const char* kinds[3] = {"large", "medium", "thumbnail"};
  for (const TLumenfoldPicture* p : pictures) {
    if (!p || !p->NameProblem().isEmpty()) continue;
    const QString outputs[3] = {p->LargePath(), p->MediumPath(), p->ThumbPath()};
    for (int k = 0; k < 3; ++k) {
      if (!enabled[k]) continue;
      const QString out = cleanAbsolute(outputs[k]);
      if (originals.contains(out.toLower()))
        return QStringLiteral("The %1 image \"%2\" would replace an original picture; change the "
                              "folder or prefix of that size.")
            .arg(QLatin1String(kinds[k]), out);
      if (project.ZipEnabled && samePath(out, zip))
        return QStringLiteral("ZipFileName \"%1\" is the %2 image of \"%3\".")
            .arg(project.ZipFileName, QLatin1String(kinds[k]), p->OriginalFileName);
    }
  }
  return QString();
}

namespace {
QString siteDirectory(QString directory) {
  directory.replace(QLatin1Char('\\'), QLatin1Char('/'));
  return QDir::cleanPath(directory.trimmed()).toLower();
}
} // namespace

QString ValidateAlbumDirectory(const TLumenfoldProject& project, const TLumenfoldAlbum* album,
                               const QString& directory) {
  const QString mine = siteDirectory(directory);
  if (directory.trimmed().isEmpty())
    return QStringLiteral("The album directory must not be empty.");
  if (mine.startsWith(QLatin1Char('/')) || mine.contains(QLatin1Char(':')) ||
      mine == QLatin1String("..") || mine.startsWith(QLatin1String("../")) ||
      mine.contains(QLatin1String("/../")) || mine.endsWith(QLatin1String("/..")))
    return QStringLiteral("The album directory \"%1\" must be a folder inside the site.")
        .arg(directory);
  for (int a = 0; a < project.Albums.Count(); ++a) {
    const TLumenfoldAlbum* other = project.Albums.Albums(a);
    if (other && other != album && (!album || album->Id == -1 || other->Id != album->Id) &&
        siteDirectory(other->Directory) == mine)
      return QStringLiteral("The album directory \"%1\" is already the directory of album "
                            "\"%2\"; the two albums would overwrite each other's files.")
          .arg(directory, other->ShortName);
  }
  return QString();
}

bool IsZipArchiveFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  const QByteArray head = file.read(4);
  return head == QByteArray("PK\x03\x04", 4) || head == QByteArray("PK\x05\x06", 4);
}

QString RemoveZipArchive(const QString& path) {
  if (path.isEmpty()) return QString();
  const QFileInfo info(path);
  if (!info.exists() && !info.isSymLink()) return QString();
  if (!info.isFile() || !IsZipArchiveFile(path))
    return QStringLiteral("\"%1\" is not a zip archive; it is not removed.").arg(path);
  QFile file(path);
  if (!file.remove())
    return QStringLiteral("The zip archive \"%1\" cannot be removed: %2")
        .arg(path, file.errorString());
  return QString();
}
