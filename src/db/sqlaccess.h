#pragma once
// The three statement primitives (ExecSQL, OpenQuery, CloseQuery), statement building and the
// process-wide connection string.
//
// Threads: every function here may be called from any thread. Connections are kept per thread
// and per connection string; a TSqlTransaction groups the statements of one save on the calling
// thread's connection.
#include "util/lumenfolderror.h"

#include <QDateTime>
#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <initializer_list>
#include <memory>
#include <variant>
#include <vector>

// Fixed texts of the error boxes shown by the primitives.
inline constexpr const char* kExecSqlError = "An error occur during sql execution:";
inline constexpr const char* kOpenQueryError = "An error occured during opening the query";
inline constexpr const char* kCloseQueryError = "An error occured during closing the query";

// The connection string every statement uses.
QString CurrentConnectionString();
void SetCurrentConnectionString(const QString& connectionString);

// Doubles every apostrophe; nothing else is escaped.
QString QuoteSqlText(const QString& text);

// One placeholder value: %d takes an integer (a bool is 0 or 1), %s a text.
using SqlArg = std::variant<qint64, QString>;
inline SqlArg SqlInt(qint64 v) {
  return SqlArg(v);
}
// Fills the %d and %s placeholders of a catalogue text in order. Texts are inserted as given:
// quote them with QuoteSqlText first.
QString FormatSql(const char* format, std::initializer_list<SqlArg> args);
QString FormatSql(const char* format, const std::vector<SqlArg>& args);

// Dates in statements are written as ISO yyyy-MM-dd (an invalid date as the empty text), so a
// database keeps its dates when it moves between machines. Reading accepts ISO dates and date
// times and, for old rows, the short date of the user's locale.
QString SqlDateText(const QDateTime& date);
QDateTime SqlDateValue(const QVariant& value);

// A read-only result set; rows are read forward only.
class TDataSet {
public:
  explicit TDataSet(QSqlQuery&& query);
  bool Eof() const { return eof_; }
  void Next();
  bool IsNull(const char* column) const;
  int AsInteger(const char* column) const;    // NULL reads as 0
  QString AsString(const char* column) const; // NULL reads as empty
  QDateTime AsDateTime(const char* column) const;
  bool AsBoolean(const char* column) const; // non-zero is true
  int FirstAsInteger() const;
  QVariant Value(const char* column) const;
  int IndexOf(const char* column) const; // -1 when absent
  QSqlQuery& Query() { return query_; }

private:
  QSqlQuery query_;
  bool eof_ = true;
  mutable QHash<QByteArray, int> columns_;
};

using TQuery = std::unique_ptr<TDataSet>;

// Runs an INSERT, UPDATE or DELETE; returns the number of rows affected, or -1 after an error box.
int ExecSQL(const QString& connectionString, const QString& statement);
// Opens a result set; returns 0, or -1 after an error box (query is then empty).
int OpenQuery(const QString& connectionString, const QString& statement, TQuery& query);
// Closes and frees the result set; returns 0, or -1 after an error box.
int CloseQuery(TQuery& query);

// The text of the last error box a primitive (or a transaction guard) showed on the calling
// thread, on one line; empty when there was none since ClearLastSqlError(). A caller that sees
// -1 or false reads the database's own reason here instead of listening to the boxes.
QString LastSqlError();
void ClearLastSqlError();

// Runs the MAX(id) statement and returns its value plus one (an empty table gives 1);
// returns -1 when the query could not be run (an error box has been shown).
int AllocateId(const QString& connectionString, const char* maxStatement);

// Groups statements of the calling thread on one connection into one transaction. Nested guards
// join the outermost one. Commit() of the outermost guard commits when no statement inside failed
// and otherwise rolls everything back and returns false; a guard that is destroyed without
// Commit() rolls back.
class TSqlTransaction {
public:
  explicit TSqlTransaction(const QString& connectionString);
  ~TSqlTransaction();
  TSqlTransaction(const TSqlTransaction&) = delete;
  TSqlTransaction& operator=(const TSqlTransaction&) = delete;
  bool Commit();
  bool Failed() const;

private:
  QString connection_;
  bool active_ = false;
  bool done_ = false;
};

struct sqlite3_stmt;

// A catalogue statement prepared once on the calling thread's connection and run again for each
// row. The access layer keeps the prepared statement with its connection (it goes when the
// connection is closed); a TSqlStatement borrows it for one scope. Every run binds all its
// values afresh: a run with more or fewer values than the statement has placeholders is refused,
// so no value of an earlier row is ever taken for this one. Texts are bound as given (no
// quoting). A statement borrowed already (nested use) gets a copy of its own for this scope.
// On SQLite the values are bound and the statement stepped through SQLite itself (the
// connection's own library), which costs a fraction of the driver's general binding.
class TSqlStatement {
public:
  TSqlStatement(const QString& connectionString, const char* catalogueText);
  ~TSqlStatement();
  TSqlStatement(const TSqlStatement&) = delete;
  TSqlStatement& operator=(const TSqlStatement&) = delete;
  // Runs the statement with one value per placeholder, in order; returns the number of rows
  // affected, or -1 after an error box (as ExecSQL; a transaction around it will roll back).
  int Exec(const std::vector<SqlArg>& values);
  int Exec(std::initializer_list<SqlArg> values) { return Exec(std::vector<SqlArg>(values)); }

private:
  QString connection_, connectionName_;
  const char* text_;
  std::unique_ptr<QSqlQuery> query_;
  sqlite3_stmt* native_ = nullptr; // the prepared SQLite statement inside query_, if any
  int placeholders_ = 0;
  QString problem_; // why the statement could not be prepared
};

// The catalogue text with each %d and '%s' placeholder made a bound one ("?"), and their count.
QString PreparedSqlText(const char* catalogueText, int* placeholders = nullptr);

// Opens the calling thread's connection ahead of its first statement, so that the opening
// overlaps other work. Shows no box: false when it cannot be opened (the first statement then
// reports why).
bool OpenThreadConnection(const QString& connectionString);

// Closes the calling thread's connections (all of them, or those of one connection string).
// Worker threads call this before they end; the database file is complete afterwards.
void CloseThreadConnections();
void CloseThreadConnection(const QString& connectionString);
// Raised inside the access layer; never leaves a primitive.
class TSqlError : public TLumenfoldError {
public:
  using TLumenfoldError::TLumenfoldError;
};
// Checks that a connection string can be opened (file exists, driver present, login works);
// returns the empty text on success or the reason. Shows no box.
QString TestConnection(const QString& connectionString);
// The number of albums in the database, or -1 when it cannot be opened or read. Shows no box.
int DatabaseAlbumCount(const QString& connectionString);
