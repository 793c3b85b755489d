// The calling thread's connections, their transactions, the process-wide connection string and
// connection checks.
#include "db/sqlaccess.h"
#include "db/sqlaccessdetail.h"

#include "db/connectionstring.h"
#include "util/lumenfolderror.h"

#include <QFileInfo>
#include <QReadWriteLock>

namespace {

QReadWriteLock connectionStringLock;
QString currentConnectionString;

} // namespace

namespace sql_access_detail {

QAtomicInteger<int> connectionCounter;

thread_local ThreadConnections threadConnections;

QString errorText(const QSqlError& e) {
  QString t = e.text().trimmed();
  return t.isEmpty() ? QStringLiteral("Unknown database error.") : t;
}

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

} // namespace sql_access_detail

QString CurrentConnectionString() {
  QReadLocker lock(&connectionStringLock);
  return currentConnectionString;
}

void SetCurrentConnectionString(const QString& connectionString) {
  QWriteLocker lock(&connectionStringLock);
  currentConnectionString = connectionString;
}

TSqlTransaction::TSqlTransaction(const QString& connectionString) : connection_(connectionString) {
  try {
    sql_access_detail::ThreadConnection& c = sql_access_detail::threadConnection(connectionString);
    if (c.depth == 0) {
      QSqlDatabase db = sql_access_detail::database(connectionString);
      c.failed = false;
      if (!db.transaction()) throw TSqlError(sql_access_detail::errorText(db.lastError()));
    }
    ++c.depth;
    active_ = true;
  } catch (const std::exception& e) {
    sql_access_detail::report(kExecSqlError, TextOf(e));
  }
}

TSqlTransaction::~TSqlTransaction() {
  if (active_ && !done_) {
    sql_access_detail::markFailed(connection_);
    Commit();
  }
}

bool TSqlTransaction::Failed() const {
  if (!active_) return true;
  auto it = sql_access_detail::threadConnections.byString.find(connection_);
  return it == sql_access_detail::threadConnections.byString.end() || it->second.failed;
}

bool TSqlTransaction::Commit() {
  if (!active_ || done_) return false;
  done_ = true;
  auto it = sql_access_detail::threadConnections.byString.find(connection_);
  if (it == sql_access_detail::threadConnections.byString.end()) return false;
  sql_access_detail::ThreadConnection& c = it->second;
  const bool failed = c.failed;
  if (--c.depth > 0) return !failed;
  QSqlDatabase db = QSqlDatabase::database(c.name, false);
  c.failed = false;
  if (failed) {
    db.rollback();
    return false;
  }
  if (!db.commit()) {
    sql_access_detail::report(kExecSqlError, sql_access_detail::errorText(db.lastError()));
    db.rollback();
    return false;
  }
  return true;
}

void CloseThreadConnections() {
  sql_access_detail::threadConnections.closeAll();
}

bool OpenThreadConnection(const QString& connectionString) {
  try {
    return sql_access_detail::database(connectionString).isOpen();
  } catch (const TSqlError&) {
    return false;
  }
}

void CloseThreadConnection(const QString& connectionString) {
  auto it = sql_access_detail::threadConnections.byString.find(connectionString);
  if (it != sql_access_detail::threadConnections.byString.end())
    sql_access_detail::threadConnections.close(it);
}

namespace {
// Opens a connection of its own, counts the albums and closes it again. Empty on success,
// otherwise why not.
QString countAlbums(const QString& connectionString, int& count) {
  const QString name = QStringLiteral("lumenfold-test-%1")
                           .arg(sql_access_detail::connectionCounter.fetchAndAddRelaxed(1));
  QString result;
  count = -1;
  try {
    QSqlDatabase db = sql_access_detail::openDatabase(connectionString, name);
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SELECT COUNT(*) FROM album")))
      result = sql_access_detail::errorText(q.lastError());
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
