#pragma once
// The internals shared by the parts of the statement primitives (sqlconnections.cpp,
// sqlqueries.cpp, sqlstatement.cpp): the calling thread's connections with their kept prepared
// statements, and how errors are read and reported.
#include <QAtomicInteger>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <map>
#include <memory>
#include <sqlite3.h>

namespace sql_access_detail {

// Numbers the connections this process opens, so that each has a name of its own.
extern QAtomicInteger<int> connectionCounter;

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

extern thread_local ThreadConnections threadConnections;

// The driver's message, or a plain one when it gave none.
QString errorText(const QSqlError& e);

// Opens (or reuses) the calling thread's connection for a connection string.
QSqlDatabase openDatabase(const QString& connectionString, const QString& name);
// The calling thread's connection for a connection string, opened on first use.
ThreadConnection& threadConnection(const QString& connectionString);
// The calling thread's open connection for a connection string.
QSqlDatabase database(const QString& connectionString);
// Marks the open transaction of the calling thread's connection as failed.
void markFailed(const QString& connectionString);

// The catalogue speaks the dialect that writes "DELETE * FROM"; the engines here want
// "DELETE FROM".
QString adaptStatement(const QString& statement);

// Shows an error box (the fixed text, then the reason) and keeps its text for LastSqlError().
void report(const char* fixedText, const QString& message);

} // namespace sql_access_detail
