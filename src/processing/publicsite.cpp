#include "processing/publicsite.h"

#include "core/album.h"
#include "core/picture.h"
#include "db/sqlaccess.h"
#include "util/helpers.h"
#include "util/programfolder.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUuid>

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

private:
  QString name_;
  QString error_;
};

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
  manifest = read;
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

bool WritePublicDatabase(const QString& source, const QString& target, QString* error) {
  if (!QFileInfo(source).isFile()) {
    setError(error, QStringLiteral("\"%1\" does not exist").arg(source));
    return false;
  }
  if (QFileInfo::exists(target)) {
    setError(error, QStringLiteral("\"%1\" exists already").arg(target));
    return false;
  }
  // A consistent copy first: the working database is only read.
  {
    TScratchConnection from(source);
    if (!from.exec(QStringLiteral("VACUUM INTO '%1'").arg(QuoteSqlText(target)))) {
      setError(error, from.error());
      QFile::remove(target);
      return false;
    }
  }
  bool ok = true;
  QString failure;
  {
    TScratchConnection copy(target);
    // A visitor's browser reads one self-contained file.
    ok = copy.exec(QStringLiteral("PRAGMA journal_mode=DELETE")) &&
         copy.exec(QStringLiteral("BEGIN"));
    const char* const statements[] = {
        "DELETE FROM picture WHERE is_private <> 0 OR is_deleted <> 0 OR album_id NOT IN "
        "(SELECT album_id FROM album WHERE is_private = 0)",
        "DELETE FROM album WHERE is_private <> 0",
        "DELETE FROM picture_to_category WHERE picture_id NOT IN (SELECT picture_id FROM picture)",
        "UPDATE album SET path = NULL",
        "UPDATE album SET face_picture_id = -1 WHERE face_picture_id NOT IN "
        "(SELECT picture_id FROM picture)",
        "DELETE FROM signature_map",
        "DELETE FROM signature_item",
        "DELETE FROM signature",
    };
    for (const char* sql : statements)
      if (ok) ok = copy.exec(QLatin1String(sql));
    ok = ok && copy.exec(QStringLiteral("COMMIT"));
    // Rebuilding the file leaves no trace of the removed rows in free pages, and makes the
    // download small.
    ok = ok && copy.exec(QStringLiteral("VACUUM"));
    if (!ok) failure = copy.error();
  }
  if (!ok) {
    QFile::remove(target);
    QFile::remove(target + QStringLiteral("-journal"));
    setError(error, failure);
  }
  return ok;
}

QByteArray SiteInfoText(const QString& databaseEntry) {
  QJsonObject object;
  object.insert(QStringLiteral("database"), databaseEntry);
  return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

TSitePacking::TSitePacking() = default;
TSitePacking::~TSitePacking() = default;

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
  if (!dir_) dir_ = std::make_unique<QTemporaryDir>();
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
  if (!WritePublicDatabase(database, target, error)) return QString();
  return target;
}

QString TSitePacking::SiteInfoFile(const QString& databaseEntry, QString* error) {
  if (!manifest_.PublicStaticSite) return QString();
  const QString folder = temporaryFolder(error);
  if (folder.isEmpty()) return QString();
  const QString path = folder + QLatin1Char('/') + QLatin1String(kSiteInfoName);
  const QString failure = WriteFileReplacing(path, SiteInfoText(databaseEntry));
  if (!failure.isEmpty()) {
    setError(error, QStringLiteral("\"%1\" cannot be written: %2").arg(path, failure));
    return QString();
  }
  return path;
}
