#include "processing/publicsite.h"

#include "core/album.h"
#include "core/outputsettings.h"
#include "core/picture.h"
#include "core/project.h"
#include "processing/sitepages.h"
#include "util/durablefiles.h"
#include "util/helpers.h"
#include "util/imaging/imaging.h"
#include "util/programfolder.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QUuid>
#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {

void setError(QString* error, const QString& text) {
  if (error) *error = text;
}

} // namespace

bool ReadSiteManifest(const QString& templateFolder, TSiteManifest& manifest, QString* error) {
  manifest = TSiteManifest();
  const QString path = IncludeTrailingSeparator(templateFolder) + QLatin1String(kSiteManifestName);
  if (!QFileInfo::exists(path)) return true;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    setError(error, QStringLiteral("\"%1\" cannot be read: %2").arg(path, file.errorString()));
    return false;
  }
  QJsonParseError parse;
  const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parse);
  if (parse.error != QJsonParseError::NoError || !doc.isObject()) {
    setError(error, QStringLiteral("\"%1\" is not a JSON object%2")
                        .arg(path, parse.error != QJsonParseError::NoError
                                       ? QStringLiteral(": ") + parse.errorString()
                                       : QString()));
    return false;
  }
  const QJsonObject object = doc.object();
  auto flag = [&](const char* key, bool fallback, bool& value) {
    const QJsonValue v = object.value(QLatin1String(key));
    if (v.isUndefined() || v.isNull()) {
      value = fallback;
      return true;
    }
    if (!v.isBool()) {
      setError(
          error,
          QStringLiteral("\"%1\": \"%2\" must be true or false").arg(path, QLatin1String(key)));
      return false;
    }
    value = v.toBool();
    return true;
  };
  TSiteManifest read;
  if (!flag("publicStaticSite", false, read.PublicStaticSite)) return false;
  // Originals are the photographer's full files: a public site packs them only when it asks.
  if (!flag("includeOriginals", !read.PublicStaticSite, read.IncludeOriginals)) return false;
  const QJsonValue sizes = object.value(QLatin1String("webSizes"));
  if (!sizes.isUndefined() && !sizes.isNull()) {
    const QString wrong =
        QStringLiteral(
            "\"%1\": \"webSizes\" must be a list of up to %2 whole numbers from %3 to %4")
            .arg(path)
            .arg(kMaxWebSizes)
            .arg(kMinWebSize)
            .arg(kMaxWebSize);
    if (!sizes.isArray() || sizes.toArray().size() > kMaxWebSizes) {
      setError(error, wrong);
      return false;
    }
    for (const QJsonValue v : sizes.toArray()) {
      const double d = v.toDouble(-1);
      if (!v.isDouble() || d != double(int(d)) || d < kMinWebSize || d > kMaxWebSize) {
        setError(error, wrong);
        return false;
      }
      if (!read.WebSizes.contains(int(d))) read.WebSizes << int(d);
    }
    std::sort(read.WebSizes.begin(), read.WebSizes.end());
  }
  manifest = read;
  return true;
}

QList<int> TemplateWebSizes(const QString& templatesFolder, const QString& name) {
  if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')) ||
      name == QLatin1String(".") || name == QLatin1String(".."))
    return {};
  TSiteManifest manifest;
  if (!ReadSiteManifest(IncludeTrailingSeparator(templatesFolder) + name, manifest, nullptr))
    return {};
  return manifest.WebSizes;
}

QString WebSizeFileName(const QString& mediumFileName, int size) {
  const qsizetype cut = std::max(mediumFileName.lastIndexOf(QLatin1Char('/')),
                                 mediumFileName.lastIndexOf(QLatin1Char('\\')));
  const QStringView file = QStringView(mediumFileName).mid(cut + 1);
  if (file.isEmpty()) return QString();
  // Asked for every web size of every picture of a run: made in one allocation.
  char prefix[24];
  const int length = std::snprintf(prefix, sizeof(prefix), "ps_w%d/", size);
  QString name;
  name.reserve(length + file.size());
  name.append(QLatin1String(prefix, length)).append(file);
  return name;
}

QList<int> WebSizeEdges(const QList<int>& sizes, QSize picture, int mediumEdge) {
  const int edge = std::max(picture.width(), picture.height());
  QList<int> edges;
  int previous = 0;
  for (int size : sizes) {
    const int made = std::min(size, edge);
    // A size below the medium image (the covers') is made at most at the picture's size; one
    // above it must be larger than the medium image too.
    const int floor = size < mediumEdge ? previous : std::max(previous, mediumEdge);
    if (made > floor) {
      edges << made;
      previous = made;
    } else {
      edges << 0;
    }
  }
  return edges;
}

bool WebSizesCurrent(const TLumenfoldPicture& picture, const QList<int>& sizes,
                     TFolderListings* listings) {
  const TLumenfoldProject* project = picture.Project();
  if (sizes.isEmpty() || !project || picture.IsDeleted) return true;
  QSize size =
      OrientedSize(QSize(picture.OriginalWidth, picture.OriginalHeight), picture.Orientation);
  const TCropRect& c = picture.CropRect;
  if (!size.isEmpty() && CropIsSet(c.X1, c.Y1, c.X2, c.Y2))
    size = CropRectangle(QPoint(c.X1, c.Y1), QPoint(c.X2, c.Y2), size).size();
  QList<int> edges = sizes;
  if (!size.isEmpty()) {
    // As the run decides: the medium image's long edge, then the sizes above it.
    const QSize medium =
        project->MediumEnabled
            ? FitIntoBox(size, project->MediumWidth, project->MediumHeight, project->NeverUpscale)
                  .Size
            : QSize();
    edges = WebSizeEdges(sizes, size, std::max(medium.width(), medium.height()));
  }
  const QString medium =
      GeneratedFileName(*project, TGeneratedSize::Medium, picture.OriginalFileName);
  const QString folder = IncludeTrailingSeparator(picture.Album ? picture.Album->Path : QString());
  for (qsizetype i = 0; i < sizes.size() && i < edges.size(); ++i) {
    const QString name = WebSizeFileName(medium, sizes[i]);
    if (edges[i] <= 0 || name.isEmpty()) continue;
    const QString path = folder + name;
    if (!(listings ? listings->IsRegularFile(path) : IsRegularFile(path))) return false;
  }
  return true;
}

bool PictureIsPublic(const TLumenfoldPicture& picture) {
  if (picture.IsDeleted || picture.IsPrivate) return false;
  return !(picture.Album && picture.Album->IsPrivate);
}

bool PacksPictureFile(const TSiteManifest& manifest, const TLumenfoldPicture& picture,
                      TPictureFile file) {
  if (!manifest.PublicStaticSite) return true;
  if (!PictureIsPublic(picture)) return false;
  return file == TPictureFile::Generated || manifest.IncludeOriginals;
}

QByteArray SiteInfoText(const QString& databaseEntry, int download, bool cameraDetails) {
  QJsonObject object;
  object.insert(QStringLiteral("database"), databaseEntry);
  if (download == 1 || download == 2)
    object.insert(QStringLiteral("download"),
                  download == 2 ? QStringLiteral("large") : QStringLiteral("medium"));
  if (cameraDetails) object.insert(QStringLiteral("camera"), true);
  return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

namespace {
constexpr const char* kOwnerName = "owner.lock";
}

TSitePacking::TSitePacking() {
  RemoveAbandonedFolders();
}

TSitePacking::~TSitePacking() = default;

int TSitePacking::RemoveAbandonedFolders(const QString& folder) {
  const QDir temp(folder.isEmpty() ? QDir::tempPath() : folder);
  // The names QTemporaryDir gives a run's folder, in this program and the command-line one.
  QStringList owners{QStringLiteral("lumenfold"), QStringLiteral("lumenfold-cli")};
  if (!QCoreApplication::applicationName().isEmpty())
    owners << QRegularExpression::escape(QCoreApplication::applicationName());
  const QRegularExpression pattern(QStringLiteral("^(%1)-[A-Za-z0-9]{6}$").arg(owners.join('|')));
  static const QRegularExpression runFile(
      QStringLiteral("^(public-[0-9a-f]{32}\\.sqlite(-journal)?|site\\.json)$"));
  int removed = 0;
  for (const QFileInfo& entry :
       temp.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden)) {
    if (entry.isSymLink() || entry.ownerId() != ::getuid() ||
        !pattern.match(entry.fileName()).hasMatch())
      continue;
    QDir dir(entry.absoluteFilePath());
    const QString owner = dir.filePath(QLatin1String(kOwnerName));
    bool gone = false;
    if (QFileInfo::exists(owner)) {
      gone = TFileLock::IsAbandoned(owner);
    } else {
      const QStringList files =
          dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
      gone = entry.lastModified().secsTo(QDateTime::currentDateTime()) > 24 * 3600 &&
             std::all_of(files.cbegin(), files.cend(),
                         [](const QString& f) { return runFile.match(f).hasMatch(); });
    }
    if (gone && dir.removeRecursively()) ++removed;
  }
  return removed;
}

bool TSitePacking::Load(const QString& templateFolder, QString* error) {
  manifest_ = TSiteManifest();
  if (templateFolder.isEmpty()) return true;
  return ReadSiteManifest(templateFolder, manifest_, error);
}

bool TSitePacking::LoadTemplate(const QString& templatesFolder, const QString& name,
                                QString* error) {
  const bool plain = !name.trimmed().isEmpty() && !name.contains(QLatin1Char('/')) &&
                     !name.contains(QLatin1Char('\\')) && !name.contains(QLatin1Char(':')) &&
                     name != QLatin1String(".") && name != QLatin1String("..");
  return Load(plain ? IncludeTrailingSeparator(templatesFolder) + name : QString(), error);
}

QString TSitePacking::temporaryFolder(QString* error) {
  if (!dir_) {
    dir_ = std::make_unique<QTemporaryDir>();
    // Tells later runs that this folder's run still lives.
    if (dir_->isValid())
      owner_ = std::make_unique<TFileLock>(dir_->filePath(QLatin1String(kOwnerName)), false);
  }
  if (!dir_->isValid()) {
    setError(error, QStringLiteral("no temporary folder: %1").arg(dir_->errorString()));
    return QString();
  }
  return dir_->path();
}

QString TSitePacking::DatabaseFile(const QString& database, QString* error) {
  if (!manifest_.PublicStaticSite) return database;
  const QString folder = temporaryFolder(error);
  if (folder.isEmpty()) return QString();
  const QString target =
      folder + QStringLiteral("/public-%1.sqlite").arg(QUuid::createUuid().toString(QUuid::Id128));
  TWebImageOptions details{CameraDetails, manifest_.WebSizes, std::move(PreviousDatabase),
                           SameDetailAlbums};
  PreviousDatabase.clear();
  if (!WritePublicDatabase(database, target, error, LeftOutPictures, &details)) return QString();
  // On the disk before it goes into the archive that replaces the old one.
  if (!SyncFile(target, error)) return QString();
  publicDatabase_ = target;
  return target;
}

bool TSitePacking::PageFiles(const QString& templateFolder, const QString& siteAddress,
                             const TSitePageSink& sink, QString* error,
                             const decltype(TSitePagesInput::KeepAlbum)& keepAlbum) {
  pages_.clear();
  if (!manifest_.PublicStaticSite || publicDatabase_.isEmpty()) return true;
  TSitePagesInput input{
      publicDatabase_, templateFolder, SiteAddressBase(siteAddress), Download, {}};
  // Kept pages replace the template's files of their names as made ones do.
  if (keepAlbum)
    input.KeepAlbum = [&](int albumId, const QByteArray& key, const QStringList& entries) {
      if (!keepAlbum(albumId, key, entries)) return false;
      for (const QString& entry : entries)
        pages_.insert(entry);
      return true;
    };
  return WriteSitePages(
      input,
      [&](const QString& entry, const QByteArray& bytes, QString* failure) {
        pages_.insert(entry);
        return sink(entry, bytes, failure);
      },
      error);
}

bool TSitePacking::PacksTemplateFile(const QString& relative) const {
  return IsSiteTemplateFile(relative) && !pages_.contains(relative);
}

QString TSitePacking::SiteInfoFile(const QString& databaseEntry, QString* error) {
  if (!manifest_.PublicStaticSite) return QString();
  const QString folder = temporaryFolder(error);
  if (folder.isEmpty()) return QString();
  const QString path = folder + QLatin1Char('/') + QLatin1String(kSiteInfoName);
  const QString failure =
      WriteScratchFile(path, SiteInfoText(databaseEntry, Download, CameraDetails));
  if (!failure.isEmpty()) {
    setError(error, QStringLiteral("\"%1\" cannot be written: %2").arg(path, failure));
    return QString();
  }
  return path;
}
