#pragma once
// Rows read straight through SQLite, for the few queries that load thousands of rows at a time.
// The driver's result set turns every column of every row into a variant before the caller asks
// for one; these rows are read column by column from SQLite itself. Each value reads as the
// driver's would (integers, texts, NULLs and the conversions between them), so a caller may take
// either path for the same query.
#include "db/sqlaccess.h"

#include <QString>
#include <QVariant>
#include <memory>

struct sqlite3_stmt;

class TSqliteRows {
public:
  ~TSqliteRows();
  TSqliteRows(const TSqliteRows&) = delete;
  TSqliteRows& operator=(const TSqliteRows&) = delete;

  bool Eof() const { return eof_; }
  // Steps to the next row; raises TSqlError when SQLite fails.
  void Next();
  // The position of a column, ignoring letter case; -1 when absent.
  int IndexOf(const char* column) const;
  // The value of a column of the current row, as the driver gives it.
  QVariant Value(int column) const;
  // True when the driver would give a text (stored text or NULL).
  bool IsText(int column) const;
  int AsInteger(int column) const;    // NULL reads as 0
  qint64 AsInt64(int column) const;   // NULL reads as 0
  QString AsString(int column) const; // NULL reads as a null text
  bool AsBoolean(int column) const { return AsInt64(column) != 0; }

private:
  friend int OpenSqliteRows(const QString&, const QString&, std::unique_ptr<TSqliteRows>&);
  explicit TSqliteRows(sqlite3_stmt* statement);
  sqlite3_stmt* statement_;
  bool eof_ = true;
};

// Runs a query on the calling thread's connection. Returns 0 with rows set when the connection
// is an SQLite one, 0 with rows empty when it is not (the caller then uses OpenQuery), or -1
// after an error box, as OpenQuery.
int OpenSqliteRows(const QString& connectionString, const QString& statement,
                   std::unique_ptr<TSqliteRows>& rows);
