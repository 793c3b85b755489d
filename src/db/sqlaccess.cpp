#include "db/sqlaccess.h"

#include "db/connectionstring.h"
#include "util/lumenfolderror.h"
#include "util/userprompt.h"

#include <QAtomicInteger>
#include <QFileInfo>
#include <QLocale>
#include <QReadWriteLock>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlRecord>
#include <QSqlResult>
#include <map>
#include <sqlite3.h>

namespace {

QReadWriteLock connectionStringLock;
QString currentConnectionString;
QAtomicInteger<int> connectionCounter;

// A statement prepared on a connection, kept for the next TSqlStatement of the same text.
struct PreparedStatement {
  std::unique_ptr<QSqlQuery> query; // empty while a TSqlStatement has borrowed it
  sqlite3_stmt* native = nullptr;
  int placeholders = 0;
};

// One open connection of the calling thread.
struct ThreadConnection {
  QString name;
  int depth = 0;       // nesting of TSqlTransaction guards
  bool failed = false; // a statement failed inside the open transaction
  // By catalogue text (its address: the catalogue's texts are constants).
  std::map<const char*, PreparedStatement> prepared;
};

struct ThreadConnections {
  std::map<QString, ThreadConnection> byString;
  ~ThreadConnections() { closeAll(); }
  void close(std::map<QString, ThreadConnection>::iterator it) {
    const QString name = it->second.name;
    byString.erase(it); // its prepared statements go before the connection is closed
    {
      QSqlDatabase db = QSqlDatabase::database(name, false);
      if (db.isOpen()) {
        if (db.driver() && db.driver()->hasFeature(QSqlDriver::Transactions)) db.rollback();
        db.close();
      }
    }
    QSqlDatabase::removeDatabase(name);
  }
  void closeAll() {
    while (!byString.empty())
      close(byString.begin());
  }
};

thread_local ThreadConnections threadConnections;

QString errorText(const QSqlError& e) {
  QString t = e.text().trimmed();
  return t.isEmpty() ? QStringLiteral("Unknown database error.") : t;
}

// Opens (or reuses) the calling thread's connection for a connection string.
QSqlDatabase openDatabase(const QString& connectionString, const QString& name) {
  QString provider = GetConnectionProvider(connectionString).trimmed();
  if (provider.isEmpty()) provider = kSqliteProvider;
  const QString driver = DriverForProvider(provider);
  if (driver.isEmpty() || !QSqlDatabase::isDriverAvailable(driver))
    throw TSqlError(
        QStringLiteral("The database provider \"%1\" is not available on this computer.")
            .arg(provider));
  const QString source = GetConnectionDataSource(connectionString).trimmed();
  if (driver == QLatin1String("QSQLITE")) {
    // Opening a missing file would silently create an empty database.
    const QFileInfo file(source);
    if (!source.isEmpty() && file.exists() && !file.isFile())
      throw TSqlError(
          QStringLiteral("The database file \"%1\" is not a regular file.").arg(source));
    if (source.isEmpty() || !file.isFile())
      throw TSqlError(QStringLiteral("The database file \"%1\" does not exist.").arg(source));
  }
  QSqlDatabase db = QSqlDatabase::addDatabase(driver, name);
  db.setDatabaseName(source);
  if (driver == QLatin1String("QSQLITE")) {
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
  } else {
    const QString host = GetConnectionPart(connectionString, "Host");
    const QString user = GetConnectionPart(connectionString, "User ID");
    const QString password = GetConnectionPart(connectionString, "Password");
    const QString port = GetConnectionPart(connectionString, "Port");
    if (!host.isEmpty()) db.setHostName(host);
    if (!user.isEmpty()) db.setUserName(user);
    if (!password.isEmpty()) db.setPassword(password);
    if (!port.isEmpty()) db.setPort(port.toInt());
  }
  if (!db.open()) {
    const QString message = errorText(db.lastError());
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(name);
    throw TSqlError(message);
  }
  return db;
}

ThreadConnection& threadConnection(const QString& connectionString) {
  auto it = threadConnections.byString.find(connectionString);
  if (it != threadConnections.byString.end()) return it->second;
  ThreadConnection c;
  c.name = QStringLiteral("lumenfold-%1").arg(connectionCounter.fetchAndAddRelaxed(1));
  openDatabase(connectionString, c.name);
  return threadConnections.byString.emplace(connectionString, std::move(c)).first->second;
}

QSqlDatabase database(const QString& connectionString) {
  ThreadConnection& c = threadConnection(connectionString);
  QSqlDatabase db = QSqlDatabase::database(c.name, false);
  if (!db.isOpen() && !db.open()) throw TSqlError(errorText(db.lastError()));
  return db;
}

void markFailed(const QString& connectionString) {
  auto it = threadConnections.byString.find(connectionString);
  if (it != threadConnections.byString.end() && it->second.depth > 0) it->second.failed = true;
}

// The catalogue speaks the dialect that writes "DELETE * FROM"; the engines here want
// "DELETE FROM".
QString adaptStatement(const QString& statement) {
  static const QString jetDelete = QStringLiteral("DELETE * FROM");
  if (statement.startsWith(jetDelete)) return QStringLiteral("DELETE FROM") + statement.mid(13);
  return statement;
}

// The last box a primitive showed on this thread.
thread_local QString lastSqlError;

void report(const char* fixedText, const QString& message) {
  const QString text = QString::fromLatin1(fixedText) + QStringLiteral("\r\n") + message;
  lastSqlError = text;
  Prompt()->error(text);
}

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

QString CurrentConnectionString() {
  QReadLocker lock(&connectionStringLock);
  return currentConnectionString;
}

void SetCurrentConnectionString(const QString& connectionString) {
  QWriteLocker lock(&connectionStringLock);
  currentConnectionString = connectionString;
}

QString QuoteSqlText(const QString& text) {
  if (!text.contains(QLatin1Char('\''))) return text;
  QString out = text;
  out.replace(QLatin1Char('\''), QLatin1String("''"));
  return out;
}

QString FormatSql(const char* format, const std::vector<SqlArg>& args) {
  QString out;
  out.reserve(int(std::strlen(format)) + 64 * int(args.size()));
  auto arg = args.begin();
  for (const char* p = format; *p; ++p) {
    if (p[0] == '%' && (p[1] == 'd' || p[1] == 's') && arg != args.end()) {
      if (const qint64* v = std::get_if<qint64>(&*arg))
        out += QString::number(*v);
      else
        out += std::get<QString>(*arg);
      ++arg;
      ++p;
    } else {
      out += QLatin1Char(*p);
    }
  }
  return out;
}

QString FormatSql(const char* format, std::initializer_list<SqlArg> args) {
  return FormatSql(format, std::vector<SqlArg>(args));
}

QString SqlDateText(const QDateTime& date) {
  return date.isValid() ? date.date().toString(QStringLiteral("yyyy-MM-dd")) : QString();
}

QDateTime SqlDateValue(const QVariant& value) {
  if (value.isNull()) return QDateTime();
  if (value.metaType().id() == QMetaType::QDateTime) return value.toDateTime();
  if (value.metaType().id() == QMetaType::QDate) return QDateTime(value.toDate(), QTime(0, 0));
  const QString s = value.toString().trimmed();
  if (s.isEmpty()) return QDateTime();
  QDate d;
  if (s.size() == 10) {
    d = QDate::fromString(s, Qt::ISODate);
    if (d.isValid()) return QDateTime(d, QTime(0, 0));
  }
  QDateTime dt = QDateTime::fromString(s, Qt::ISODateWithMs);
  if (dt.isValid()) return dt;
  // Old rows may hold the short date of the machine that wrote them.
  const QLocale locale = QLocale::system();
  d = locale.toDate(s, QLocale::ShortFormat);
  if (d.isValid()) {
    if (d.year() < 100) d = d.addYears(2000);
    return QDateTime(d, QTime(0, 0));
  }
  dt = locale.toDateTime(s, QLocale::ShortFormat);
  return dt;
}

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
    QSqlDatabase db = database(connectionString);
    QSqlQuery q(db);
    if (!q.exec(adaptStatement(statement))) throw TSqlError(errorText(q.lastError()));
    return q.numRowsAffected();
  } catch (const std::exception& e) {
    markFailed(connectionString);
    report(kExecSqlError, TextOf(e));
    return -1;
  }
}

int OpenQuery(const QString& connectionString, const QString& statement, TQuery& query) {
  query.reset();
  try {
    QSqlDatabase db = database(connectionString);
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(adaptStatement(statement))) throw TSqlError(errorText(q.lastError()));
    query = std::make_unique<TDataSet>(std::move(q));
    return 0;
  } catch (const std::exception& e) {
    markFailed(connectionString);
    report(kOpenQueryError, TextOf(e));
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
    report(kCloseQueryError, TextOf(e));
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
    ThreadConnection& c = threadConnection(connectionString);
    connectionName_ = c.name;
    PreparedStatement& kept = c.prepared[catalogueText];
    if (kept.query) {
      query_ = std::move(kept.query);
      native_ = kept.native;
      placeholders_ = kept.placeholders;
      return;
    }
    QSqlDatabase db = database(connectionString);
    auto query = std::make_unique<QSqlQuery>(db);
    if (!query->prepare(adaptStatement(PreparedSqlText(catalogueText, &placeholders_))))
      throw TSqlError(errorText(query->lastError()));
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
  auto it = threadConnections.byString.find(connection_);
  if (it == threadConnections.byString.end() || it->second.name != connectionName_) return;
  PreparedStatement& kept = it->second.prepared[text_];
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
    if (!query_->exec()) throw TSqlError(errorText(query_->lastError()));
    const int rows = query_->numRowsAffected();
    query_->finish();
    return rows;
  } catch (const std::exception& e) {
    if (query_) query_->finish();
    markFailed(connection_);
    report(kExecSqlError, TextOf(e));
    return -1;
  }
}

TSqlTransaction::TSqlTransaction(const QString& connectionString) : connection_(connectionString) {
  try {
    ThreadConnection& c = threadConnection(connectionString);
    if (c.depth == 0) {
      QSqlDatabase db = database(connectionString);
      c.failed = false;
      if (!db.transaction()) throw TSqlError(errorText(db.lastError()));
    }
    ++c.depth;
    active_ = true;
  } catch (const std::exception& e) {
    report(kExecSqlError, TextOf(e));
  }
}

TSqlTransaction::~TSqlTransaction() {
  if (active_ && !done_) {
    markFailed(connection_);
    Commit();
  }
}

bool TSqlTransaction::Failed() const {
  if (!active_) return true;
  auto it = threadConnections.byString.find(connection_);
  return it == threadConnections.byString.end() || it->second.failed;
}

bool TSqlTransaction::Commit() {
  if (!active_ || done_) return false;
  done_ = true;
  auto it = threadConnections.byString.find(connection_);
  if (it == threadConnections.byString.end()) return false;
  ThreadConnection& c = it->second;
  const bool failed = c.failed;
  if (--c.depth > 0) return !failed;
  QSqlDatabase db = QSqlDatabase::database(c.name, false);
  c.failed = false;
  if (failed) {
    db.rollback();
    return false;
  }
  if (!db.commit()) {
    report(kExecSqlError, errorText(db.lastError()));
    db.rollback();
    return false;
  }
  return true;
}

QString LastSqlError() {
  QString text = lastSqlError;
  text.replace(QLatin1String("\r\n"), QLatin1String(" "));
  return text.trimmed();
}

void ClearLastSqlError() {
  lastSqlError.clear();
}

void CloseThreadConnections() {
  threadConnections.closeAll();
}

bool OpenThreadConnection(const QString& connectionString) {
  try {
    return database(connectionString).isOpen();
  } catch (const TSqlError&) {
    return false;
  }
}

void CloseThreadConnection(const QString& connectionString) {
  auto it = threadConnections.byString.find(connectionString);
  if (it != threadConnections.byString.end()) threadConnections.close(it);
}

namespace {
// Opens a connection of its own, counts the albums and closes it again. Empty on success,
// otherwise why not.
QString countAlbums(const QString& connectionString, int& count) {
  const QString name =
      QStringLiteral("lumenfold-test-%1").arg(connectionCounter.fetchAndAddRelaxed(1));
  QString result;
  count = -1;
  try {
    QSqlDatabase db = openDatabase(connectionString, name);
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SELECT COUNT(*) FROM album")))
      result = errorText(q.lastError());
    else if (q.next())
      count = q.value(0).toInt();
  } catch (const TSqlError& e) {
    result = e.Text();
  }
  {
    QSqlDatabase db = QSqlDatabase::database(name, false);
    if (db.isOpen()) db.close();
  }
  QSqlDatabase::removeDatabase(name);
  return result;
}
} // namespace

QString TestConnection(const QString& connectionString) {
  int count = 0;
  return countAlbums(connectionString, count);
}

int DatabaseAlbumCount(const QString& connectionString) {
  int count = -1;
  return countAlbums(connectionString, count).isEmpty() ? count : -1;
}
