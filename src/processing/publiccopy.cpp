// The public copy of a project's database that a public static site packs (publicsite.h).
#include "processing/publicsite.h"

#include "core/defaulttexts.h"
#include "db/sqlaccess.h"
#include "processing/sitepages.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUuid>
#include <algorithm>
#include <sqlite3.h>

namespace {

void setCopyError(QString* error, const QString& text) {
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

// Attaches the database whose file holds these bytes as "prev", read only. It reads them where
// they lie: they must outlive the connection.
bool attachPrevious(sqlite3* db, const QByteArray& bytes) {
  if (!db || sqlite3_exec(db, "ATTACH ':memory:' AS prev", nullptr, nullptr, nullptr) != SQLITE_OK)
    return false;
  auto* data = reinterpret_cast<unsigned char*>(const_cast<char*>(bytes.constData()));
  if (sqlite3_deserialize(db, "prev", data, bytes.size(), bytes.size(),
                          SQLITE_DESERIALIZE_READONLY) == SQLITE_OK &&
      sqlite3_exec(db, "SELECT count(*) FROM prev.sqlite_master", nullptr, nullptr, nullptr) ==
          SQLITE_OK)
    return true;
  sqlite3_exec(db, "DETACH DATABASE prev", nullptr, nullptr, nullptr);
  return false;
}

} // namespace

bool WritePublicDatabase(const QString& source, const QString& target, QString* error,
                         const QSet<int>& leftOut, const TWebImageOptions* details) {
  if (!QFileInfo(source).isFile()) {
    setCopyError(error, QStringLiteral("\"%1\" does not exist").arg(source));
    return false;
  }
  if (QFileInfo::exists(target)) {
    setCopyError(error, QStringLiteral("\"%1\" exists already").arg(target));
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
         copy.exec(QStringLiteral("ATTACH '%1' AS src").arg(QuoteSqlText(source)));
    // The earlier public copy, read from memory, where details come from it.
    const bool previous = ok && details && !details->Previous.isEmpty() &&
                          !details->SameAlbums.isEmpty() &&
                          attachPrevious(copy.handle(), details->Previous);
    ok = ok && copy.exec(QStringLiteral("BEGIN"));
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
      if (ok && !FillWebImageDetails(copy.handle(), *details, previous, &detailsError)) {
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
         (!previous || copy.exec(QStringLiteral("DETACH DATABASE prev"))) &&
         copy.exec(QStringLiteral("DETACH DATABASE src")) &&
         copy.exec(QStringLiteral("PRAGMA journal_mode=DELETE"));
    if (!ok) failure = copy.error();
  }
  if (!ok) {
    QFile::remove(target);
    QFile::remove(target + QStringLiteral("-journal"));
    setCopyError(error, failure);
  }
  return ok;
}
