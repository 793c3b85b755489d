// Catalogue statements prepared once per connection and run per row.
#include "db/sqlaccess.h"
#include "db/sqlaccessdetail.h"

#include "util/lumenfolderror.h"

#include <QSqlResult>
#include <sqlite3.h>

namespace {

// The SQLite statement the driver prepared, when the connection is an SQLite one and the
// statement has as many parameters as the catalogue text has placeholders; else nullptr (the
// driver's own binding is used).
sqlite3_stmt* nativeStatement(const QSqlDatabase& db, const QSqlQuery& query, int placeholders) {
  if (db.driverName() != QLatin1String("QSQLITE") || !query.result()) return nullptr;
  const QVariant handle = query.result()->handle();
  if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3_stmt*") != 0) return nullptr;
  sqlite3_stmt* statement = *static_cast<sqlite3_stmt* const*>(handle.constData());
  if (!statement || sqlite3_bind_parameter_count(statement) != placeholders) return nullptr;
  return statement;
}

// Binds every value and runs the statement once; the rows it changed. Raises TSqlError.
int execNative(sqlite3_stmt* statement, const std::vector<SqlArg>& values) {
  sqlite3* db = sqlite3_db_handle(statement);
  sqlite3_reset(statement);
  sqlite3_clear_bindings(statement);
  for (size_t i = 0; i < values.size(); ++i) {
    const int at = int(i) + 1;
    int rc;
    if (const qint64* v = std::get_if<qint64>(&values[i])) {
      rc = sqlite3_bind_int64(statement, at, *v);
    } else {
      // An empty text is stored as one, as a quoted literal was: never as NULL.
      const QString& text = std::get<QString>(values[i]);
      rc = sqlite3_bind_text16(statement, at,
                               text.isNull() ? static_cast<const void*>(u"") : text.utf16(),
                               int(text.size() * 2), SQLITE_TRANSIENT);
    }
    if (rc != SQLITE_OK) throw TSqlError(QString::fromUtf8(sqlite3_errmsg(db)));
  }
  const int rc = sqlite3_step(statement);
  if (rc != SQLITE_DONE && rc != SQLITE_ROW) {
    const QString message = QString::fromUtf8(sqlite3_errmsg(db));
    sqlite3_reset(statement);
    throw TSqlError(message);
  }
  const int rows = sqlite3_changes(db);
  sqlite3_reset(statement);
  return rows;
}

} // namespace

QString PreparedSqlText(const char* catalogueText, int* placeholders) {
  QString out;
  int count = 0;
  for (const char* p = catalogueText; *p; ++p) {
    if (p[0] == '\'' && p[1] == '%' && p[2] == 's' && p[3] == '\'') {
      out += QLatin1Char('?');
      p += 3;
      ++count;
    } else if (p[0] == '%' && (p[1] == 'd' || p[1] == 's')) {
      out += QLatin1Char('?');
      ++p;
      ++count;
    } else {
      out += QLatin1Char(*p);
    }
  }
  if (placeholders) *placeholders = count;
  return out;
}

TSqlStatement::TSqlStatement(const QString& connectionString, const char* catalogueText)
    : connection_(connectionString), text_(catalogueText) {
  try {
    sql_access_detail::ThreadConnection& c = sql_access_detail::threadConnection(connectionString);
    connectionName_ = c.name;
    sql_access_detail::PreparedStatement& kept = c.prepared[catalogueText];
    if (kept.query) {
      query_ = std::move(kept.query);
      native_ = kept.native;
      placeholders_ = kept.placeholders;
      return;
    }
    QSqlDatabase db = sql_access_detail::database(connectionString);
    auto query = std::make_unique<QSqlQuery>(db);
    if (!query->prepare(
            sql_access_detail::adaptStatement(PreparedSqlText(catalogueText, &placeholders_))))
      throw TSqlError(sql_access_detail::errorText(query->lastError()));
    native_ = nativeStatement(db, *query, placeholders_);
    query_ = std::move(query);
  } catch (const std::exception& e) {
    problem_ = TextOf(e);
  }
}

TSqlStatement::~TSqlStatement() {
  if (!query_) return;
  query_->finish();
  // Back to the connection it was prepared on, unless that was closed in the meantime or a
  // nested copy went back first.
  auto it = sql_access_detail::threadConnections.byString.find(connection_);
  if (it == sql_access_detail::threadConnections.byString.end() ||
      it->second.name != connectionName_)
    return;
  sql_access_detail::PreparedStatement& kept = it->second.prepared[text_];
  if (kept.query) return;
  kept.query = std::move(query_);
  kept.native = native_;
  kept.placeholders = placeholders_;
}

int TSqlStatement::Exec(const std::vector<SqlArg>& values) {
  try {
    if (!query_)
      throw TSqlError(problem_.isEmpty() ? QStringLiteral("The statement could not be prepared.")
                                         : problem_);
    if (qsizetype(values.size()) != placeholders_)
      throw TSqlError(QStringLiteral("The statement takes %1 values, not %2.")
                          .arg(placeholders_)
                          .arg(values.size()));
    if (native_) return execNative(native_, values);
    for (int i = 0; i < placeholders_; ++i) {
      if (const qint64* v = std::get_if<qint64>(&values[size_t(i)])) {
        query_->bindValue(i, QVariant(qlonglong(*v)));
      } else {
        // An empty text is stored as one, as a quoted literal was: never as NULL.
        const QString& text = std::get<QString>(values[size_t(i)]);
        query_->bindValue(i, text.isNull() ? QVariant(QString(QLatin1String(""))) : text);
      }
    }
    if (!query_->exec()) throw TSqlError(sql_access_detail::errorText(query_->lastError()));
    const int rows = query_->numRowsAffected();
    query_->finish();
    return rows;
  } catch (const std::exception& e) {
    if (query_) query_->finish();
    sql_access_detail::markFailed(connection_);
    sql_access_detail::report(kExecSqlError, TextOf(e));
    return -1;
  }
}
