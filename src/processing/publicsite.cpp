#include "processing/publicsite.h"

#include "core/album.h"
#include "core/defaulttexts.h"
#include "core/outputsettings.h"
#include "core/picture.h"
#include "core/project.h"
#include "db/sqlaccess.h"
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
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QUuid>
#include <algorithm>
#include <cstdio>
#include <sqlite3.h>
#include <unistd.h>

namespace {

void setError(QString* error, const QString& text) {
  if (error) *error = text;
}

// Opens an SQLite file on a connection of its own, runs the statements and closes it again.
class TScratchConnection {
public:
  explicit TScratchConnection(const QString& file)
      : name_(QStringLiteral("lumenfold-public-%1").arg(QUuid::createUuid().toString())) {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
    db.setDatabaseName(file);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
    if (!db.open()) error_ = db.lastError().text();
  }
  ~TScratchConnection() {
    {
      QSqlDatabase db = QSqlDatabase::database(name_, false);
      if (db.isOpen()) db.close();
    }
    QSqlDatabase::removeDatabase(name_);
  }
  bool ok() const { return error_.isEmpty(); }
  const QString& error() const { return error_; }
  // Runs the statement; on failure keeps the database's message and returns false.
  bool exec(const QString& sql) {
    if (!ok()) return false;
    QSqlQuery query(QSqlDatabase::database(name_, false));
    if (!query.exec(sql)) {
      error_ = query.lastError().text();
      return false;
    }
    return true;
  }
  // Runs the query and keeps its rows in out; on failure keeps the database's message.
  bool rows(const QString& sql, QList<QVariantList>& out) {
    out.clear();
    if (!ok()) return false;
    QSqlQuery query(QSqlDatabase::database(name_, false));
    query.setForwardOnly(true);
    if (!query.exec(sql)) {
      error_ = query.lastError().text();
      return false;
    }
    const int columns = query.record().count();
    while (query.next()) {
      QVariantList row;
      for (int c = 0; c < columns; ++c)
        row << query.value(c);
      out << row;
    }
    return true;
  }
  // The SQLite connection underneath, for work that binds many rows.
  sqlite3* handle() const {
    const QVariant h = QSqlDatabase::database(name_, false).driver()->handle();
    return h.isValid() && qstrcmp(h.typeName(), "sqlite3*") == 0
               ? *static_cast<sqlite3* const*>(h.constData())
               : nullptr;
  }
  void fail(const QString& text) {
    if (error_.isEmpty()) error_ = text;
  }

private:
  QString name_;
  QString error_;
};

QString quotedName(const QString& name) {
  return QLatin1Char('"') + QString(name).replace(QLatin1Char('"'), QLatin1String("\"\"")) +
         QLatin1Char('"');
}

// The texts of new albums and categories that the copy blanks: a visitor sees no "<Long Name>".
const QStringList& blankedColumns(const QString& table) {
  static const QStringList album{"short_name", "short_name2", "long_name",
                                 "long_name2", "description", "description2"};
  static const QStringList category{"title", "title2", "description", "description2"};
  static const QStringList none;
  return table == QLatin1String("album")      ? album
         : table == QLatin1String("category") ? category
                                              : none;
}

const TWebDetailColumn* detailColumn(const QString& name) {
  for (const TWebDetailColumn& c : kWebDetailColumns)
    if (name == QLatin1String(c.Name)) return &c;
  return nullptr;
}

QString placeholderList() {
  QStringList quoted;
  for (const QString& text : PlaceholderTexts())
    quoted << QStringLiteral("'%1'").arg(QuoteSqlText(text));
  return quoted.join(QLatin1Char(','));
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

bool WritePublicDatabase(const QString& source, const QString& target, QString* error,
                         const QSet<int>& leftOut, const TWebImageOptions* details) {
  if (!QFileInfo(source).isFile()) {
    setError(error, QStringLiteral("\"%1\" does not exist").arg(source));
    return false;
  }
  if (QFileInfo::exists(target)) {
    setError(error, QStringLiteral("\"%1\" exists already").arg(target));
    return false;
  }
  bool ok = true;
  QString failure;
  {
    // A new file filled in one pass from the working database, which is only read (in one
    // transaction: a consistent state of it). Nothing is ever deleted from the new file, so no
    // free page holds a removed text, and it is as compact as a rebuilt one. It is the run's own
    // and goes when the run fails: no journal, nothing flushed here (the archive or site folder
    // that keeps it is flushed when written).
    TScratchConnection copy(target);
    ok = copy.exec(QStringLiteral("PRAGMA journal_mode=OFF")) &&
         copy.exec(QStringLiteral("PRAGMA synchronous=OFF")) &&
         copy.exec(QStringLiteral("PRAGMA temp_store=MEMORY")) &&
         copy.exec(QStringLiteral("ATTACH '%1' AS src").arg(QuoteSqlText(source))) &&
         copy.exec(QStringLiteral("BEGIN"));
    QList<QVariantList> objects;
    ok = ok && copy.rows(QStringLiteral("SELECT type, name, sql FROM src.sqlite_master WHERE sql "
                                        "IS NOT NULL AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' "
                                        "ORDER BY type <> 'table', rowid"),
                         objects);
    QStringList tables;
    for (const QVariantList& o : std::as_const(objects))
      if (o[0].toString() == QLatin1String("table")) tables << o[1].toString();
    for (const char* needed : {"album", "picture", "category", "picture_to_category"})
      if (ok && !tables.contains(QLatin1String(needed))) {
        copy.fail(QStringLiteral("the database has no table \"%1\"").arg(QLatin1String(needed)));
        ok = false;
      }
    for (const QVariantList& o : std::as_const(objects))
      if (ok && o[0].toString() == QLatin1String("table")) ok = copy.exec(o[2].toString());
    QList<QVariantList> version;
    ok = ok && copy.rows(QStringLiteral("PRAGMA src.user_version"), version) &&
         copy.exec(QStringLiteral("PRAGMA main.user_version = %1")
                       .arg(version.isEmpty() ? 0 : version[0][0].toLongLong()));
    // The pictures a visitor may see.
    QStringList ids;
    for (int id : leftOut)
      ids << QString::number(id);
    ok = ok &&
         copy.exec(QStringLiteral("CREATE TEMP TABLE public_picture (picture_id INTEGER PRIMARY "
                                  "KEY)")) &&
         copy.exec(QStringLiteral("INSERT INTO temp.public_picture SELECT picture_id FROM "
                                  "src.picture WHERE is_private = 0 AND is_deleted = 0 AND "
                                  "album_id IN (SELECT album_id FROM src.album WHERE is_private "
                                  "= 0)%1")
                       .arg(ids.isEmpty() ? QString()
                                          : QStringLiteral(" AND picture_id NOT IN (%1)")
                                                .arg(ids.join(QLatin1Char(',')))));
    QList<QVariantList> columns;
    QStringList pictureColumns;
    ok = ok &&
         copy.rows(QStringLiteral("SELECT name FROM pragma_table_info('picture', 'src')"), columns);
    for (const QVariantList& c : std::as_const(columns))
      pictureColumns << c[0].toString();
    if (details) {
      for (const TWebDetailColumn& c : kWebDetailColumns)
        if (ok && !pictureColumns.contains(QLatin1String(c.Name))) {
          // Added to the table's definition as the site's scripts expect them: after the
          // project's own columns.
          ok = copy.exec(QStringLiteral("ALTER TABLE main.picture ADD COLUMN %1 %2")
                             .arg(QLatin1String(c.Name), QLatin1String(c.Type)));
          pictureColumns << QLatin1String(c.Name);
        }
      QString detailsError;
      if (ok && !FillWebImageDetails(copy.handle(), details->CameraDetails, details->WebSizes,
                                     &detailsError)) {
        copy.fail(detailsError);
        ok = false;
      }
    }
    const QString texts = placeholderList();
    for (const QString& table : std::as_const(tables)) {
      if (!ok) break;
      // The signatures are the photographer's own work, not the site's.
      if (table.startsWith(QLatin1String("signature"))) continue;
      QStringList names = pictureColumns;
      if (table != QLatin1String("picture")) {
        names.clear();
        ok = copy.rows(QStringLiteral("SELECT name FROM pragma_table_info(%1, 'src')")
                           .arg(QLatin1Char('\'') + QuoteSqlText(table) + QLatin1Char('\'')),
                       columns);
        for (const QVariantList& c : std::as_const(columns))
          names << c[0].toString();
      }
      QStringList values;
      for (const QString& name : std::as_const(names)) {
        const QString column = QLatin1String("t.") + quotedName(name);
        if (table == QLatin1String("album") && name == QLatin1String("path"))
          values << QStringLiteral("NULL"); // no local folder paths
        else if (table == QLatin1String("album") && name == QLatin1String("face_picture_id"))
          values << QStringLiteral("CASE WHEN %1 IN (SELECT picture_id FROM "
                                   "temp.public_picture) THEN %1 ELSE -1 END")
                        .arg(column);
        else if (blankedColumns(table).contains(name))
          values << QStringLiteral("CASE WHEN %1 IN (%2) THEN '' ELSE %1 END").arg(column, texts);
        else if (const TWebDetailColumn* c =
                     table == QLatin1String("picture") && details ? detailColumn(name) : nullptr)
          values << (qstrncmp(c->Type, "INTEGER NOT NULL", 16) == 0
                         ? QStringLiteral("COALESCE(d.%1, -1)").arg(quotedName(name))
                         : QLatin1String("d.") + quotedName(name));
        else
          values << column;
      }
      QString from = QStringLiteral("src.%1 t").arg(quotedName(table));
      if (table == QLatin1String("picture")) {
        if (details)
          from += QStringLiteral(" LEFT JOIN temp.web_details d ON d.picture_id = t.picture_id");
        from += QStringLiteral(" WHERE t.picture_id IN (SELECT picture_id FROM "
                               "temp.public_picture) ORDER BY t.picture_id");
      } else if (table == QLatin1String("album")) {
        from += QStringLiteral(" WHERE t.is_private = 0");
      } else if (table == QLatin1String("picture_to_category")) {
        from += QStringLiteral(" WHERE t.picture_id IN (SELECT picture_id FROM "
                               "temp.public_picture)");
      } else if (table == QLatin1String("category")) {
        // A category only hidden pictures use goes with them, and its name too.
        from += QStringLiteral(
            " WHERE t.category_id NOT IN (SELECT category_id FROM src.picture_to_category) OR "
            "t.category_id IN (SELECT l.category_id FROM src.picture_to_category l WHERE "
            "l.picture_id IN (SELECT picture_id FROM temp.public_picture))");
      }
      QStringList targetNames;
      for (const QString& name : std::as_const(names))
        targetNames << quotedName(name);
      ok = copy.exec(QStringLiteral("INSERT INTO main.%1 (%2) SELECT %3 FROM %4")
                         .arg(quotedName(table), targetNames.join(QLatin1Char(',')),
                              values.join(QLatin1Char(',')), from));
    }
    // Indexes (built from the rows in one go), triggers and views last.
    for (const QVariantList& o : std::as_const(objects))
      if (ok && o[0].toString() != QLatin1String("table")) ok = copy.exec(o[2].toString());
    ok = ok && copy.exec(QStringLiteral("COMMIT")) &&
         copy.exec(QStringLiteral("DETACH DATABASE src")) &&
         copy.exec(QStringLiteral("PRAGMA journal_mode=DELETE"));
    if (!ok) failure = copy.error();
  }
  if (!ok) {
    QFile::remove(target);
    QFile::remove(target + QStringLiteral("-journal"));
    setError(error, failure);
  }
  return ok;
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
  const TWebImageOptions details{CameraDetails, manifest_.WebSizes};
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
