// Rows read straight through SQLite (sqliterows.h).
#include "db/sqliterows.h"

#include "db/sqlaccessdetail.h"

#include <algorithm>
#include <sqlite3.h>

namespace {

// The connection underneath the calling thread's connection, when it is an SQLite one.
sqlite3* nativeConnection(const QSqlDatabase& db) {
  if (db.driverName() != QLatin1String("QSQLITE") || !db.driver()) return nullptr;
  const QVariant handle = db.driver()->handle();
  if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0) return nullptr;
  return *static_cast<sqlite3* const*>(handle.constData());
}

QString storedText(sqlite3_stmt* statement, int column) {
  // Most stored texts are plain ASCII: taken as they are, without SQLite's own translation to
  // UTF-16 (which the rest go through, as the driver does).
  const auto* bytes = sqlite3_column_text(statement, column);
  const int size = sqlite3_column_bytes(statement, column);
  if (!bytes || size == 0) return QString(reinterpret_cast<const QChar*>(u""), 0);
  if (std::all_of(bytes, bytes + size, [](unsigned char c) { return c < 0x80; }))
    return QString::fromLatin1(reinterpret_cast<const char*>(bytes), size);
  const void* text = sqlite3_column_text16(statement, column);
  return QString(static_cast<const QChar*>(text),
                 sqlite3_column_bytes16(statement, column) / qsizetype(sizeof(QChar)));
}

} // namespace

TSqliteRows::TSqliteRows(sqlite3_stmt* statement) : statement_(statement) {}

TSqliteRows::~TSqliteRows() {
  sqlite3_finalize(statement_);
}

void TSqliteRows::Next() {
  if (eof_) return;
  const int rc = sqlite3_step(statement_);
  if (rc == SQLITE_ROW) return;
  eof_ = true;
  if (rc != SQLITE_DONE)
    throw TSqlError(QString::fromUtf8(sqlite3_errmsg(sqlite3_db_handle(statement_))));
}

int TSqliteRows::IndexOf(const char* column) const {
  const int count = sqlite3_column_count(statement_);
  for (int i = 0; i < count; ++i) {
    const char* name = sqlite3_column_name(statement_, i);
    if (name && sqlite3_stricmp(name, column) == 0) return i;
  }
  return -1;
}

QVariant TSqliteRows::Value(int column) const {
  switch (sqlite3_column_type(statement_, column)) {
  case SQLITE_INTEGER:
    return QVariant(qlonglong(sqlite3_column_int64(statement_, column)));
  case SQLITE_FLOAT:
    return QVariant(sqlite3_column_double(statement_, column));
  case SQLITE_BLOB:
    return QVariant(QByteArray(static_cast<const char*>(sqlite3_column_blob(statement_, column)),
                               sqlite3_column_bytes(statement_, column)));
  case SQLITE_NULL:
    return QVariant(QMetaType::fromType<QString>());
  default:
    return QVariant(storedText(statement_, column));
  }
}

bool TSqliteRows::IsText(int column) const {
  const int type = sqlite3_column_type(statement_, column);
  return type == SQLITE_TEXT || type == SQLITE_NULL;
}

int TSqliteRows::AsInteger(int column) const {
  switch (sqlite3_column_type(statement_, column)) {
  case SQLITE_INTEGER:
    // Narrowed as the driver's variant narrows it: the low 32 bits.
    return int(sqlite3_column_int64(statement_, column));
  case SQLITE_NULL:
    return 0;
  default:
    return Value(column).toInt();
  }
}

qint64 TSqliteRows::AsInt64(int column) const {
  switch (sqlite3_column_type(statement_, column)) {
  case SQLITE_INTEGER:
    return sqlite3_column_int64(statement_, column);
  case SQLITE_NULL:
    return 0;
  default:
    return Value(column).toLongLong();
  }
}

QString TSqliteRows::AsString(int column) const {
  switch (sqlite3_column_type(statement_, column)) {
  case SQLITE_TEXT:
    return storedText(statement_, column);
  case SQLITE_NULL:
    return QString();
  default:
    return Value(column).toString();
  }
}

int OpenSqliteRows(const QString& connectionString, const QString& statement,
                   std::unique_ptr<TSqliteRows>& rows) {
  rows.reset();
  try {
    sqlite3* db = nativeConnection(sql_access_detail::database(connectionString));
    if (!db) return 0;
    const QByteArray text = sql_access_detail::adaptStatement(statement).toUtf8();
    sqlite3_stmt* prepared = nullptr;
    if (sqlite3_prepare_v2(db, text.constData(), int(text.size()), &prepared, nullptr) !=
        SQLITE_OK) {
      sqlite3_finalize(prepared);
      throw TSqlError(QString::fromUtf8(sqlite3_errmsg(db)));
    }
    std::unique_ptr<TSqliteRows> opened(new TSqliteRows(prepared));
    opened->eof_ = false;
    opened->Next();
    rows = std::move(opened);
    return 0;
  } catch (const std::exception& e) {
    sql_access_detail::markFailed(connectionString);
    sql_access_detail::report(kOpenQueryError, TextOf(e));
    return -1;
  }
}
