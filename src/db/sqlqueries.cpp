// The three statement primitives and their result sets, and the errors they report.
#include "db/sqlaccess.h"
#include "db/sqlaccessdetail.h"

#include "util/lumenfolderror.h"
#include "util/userprompt.h"

#include <QSqlRecord>

namespace {

// The last box a primitive showed on this thread.
thread_local QString lastSqlError;

} // namespace

namespace sql_access_detail {

QString adaptStatement(const QString& statement) {
  static const QString jetDelete = QStringLiteral("DELETE * FROM");
  if (statement.startsWith(jetDelete)) return QStringLiteral("DELETE FROM") + statement.mid(13);
  return statement;
}

void report(const char* fixedText, const QString& message) {
  const QString text = QString::fromLatin1(fixedText) + QStringLiteral("\r\n") + message;
  lastSqlError = text;
  Prompt()->error(text);
}

} // namespace sql_access_detail

TDataSet::TDataSet(QSqlQuery&& query) : query_(std::move(query)) {
  eof_ = !query_.next();
}

void TDataSet::Next() {
  if (!eof_) eof_ = !query_.next();
}

int TDataSet::IndexOf(const char* column) const {
  const QByteArray key(column);
  auto it = columns_.constFind(key);
  if (it != columns_.constEnd()) return *it;
  const int index = query_.record().indexOf(QString::fromLatin1(column));
  columns_.insert(key, index);
  return index;
}

QVariant TDataSet::Value(const char* column) const {
  const int index = IndexOf(column);
  if (index < 0) throw TSqlError(QStringLiteral("Column \"%1\" not found.").arg(column));
  return query_.value(index);
}

bool TDataSet::IsNull(const char* column) const {
  return Value(column).isNull();
}
int TDataSet::AsInteger(const char* column) const {
  return Value(column).toInt();
}
QString TDataSet::AsString(const char* column) const {
  return Value(column).toString();
}
QDateTime TDataSet::AsDateTime(const char* column) const {
  return SqlDateValue(Value(column));
}
bool TDataSet::AsBoolean(const char* column) const {
  return Value(column).toLongLong() != 0;
}
int TDataSet::FirstAsInteger() const {
  return query_.value(0).toInt();
}

int ExecSQL(const QString& connectionString, const QString& statement) {
  try {
    QSqlDatabase db = sql_access_detail::database(connectionString);
    QSqlQuery q(db);
    if (!q.exec(sql_access_detail::adaptStatement(statement)))
      throw TSqlError(sql_access_detail::errorText(q.lastError()));
    return q.numRowsAffected();
  } catch (const std::exception& e) {
    sql_access_detail::markFailed(connectionString);
    sql_access_detail::report(kExecSqlError, TextOf(e));
    return -1;
  }
}

int OpenQuery(const QString& connectionString, const QString& statement, TQuery& query) {
  query.reset();
  try {
    QSqlDatabase db = sql_access_detail::database(connectionString);
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(sql_access_detail::adaptStatement(statement)))
      throw TSqlError(sql_access_detail::errorText(q.lastError()));
    query = std::make_unique<TDataSet>(std::move(q));
    return 0;
  } catch (const std::exception& e) {
    sql_access_detail::markFailed(connectionString);
    sql_access_detail::report(kOpenQueryError, TextOf(e));
    return -1;
  }
}

int CloseQuery(TQuery& query) {
  try {
    if (query) query->Query().finish();
    query.reset();
    return 0;
  } catch (const std::exception& e) {
    query.reset();
    sql_access_detail::report(kCloseQueryError, TextOf(e));
    return -1;
  }
}

int AllocateId(const QString& connectionString, const char* maxStatement) {
  TQuery q;
  if (OpenQuery(connectionString, QString::fromLatin1(maxStatement), q) != 0) return -1;
  const int max = q->Eof() ? 0 : q->FirstAsInteger();
  CloseQuery(q);
  return max + 1;
}

QString LastSqlError() {
  QString text = lastSqlError;
  text.replace(QLatin1String("\r\n"), QLatin1String(" "));
  return text.trimmed();
}

void ClearLastSqlError() {
  lastSqlError.clear();
}
