#pragma once
// What the site's page writer and the web image details share: a connection of its own to one
// SQLite file, and the rule that turns a stored relative path into a site address or file path.
//
// Threads: any thread; a connection is used by the thread that made it.
#include <QSqlQuery>
#include <QString>
#include <QVariantList>

struct sqlite3;

// One SQLite file on a connection of its own for the lifetime of this object.
class TSiteQueryConnection {
public:
  explicit TSiteQueryConnection(const QString& file);
  ~TSiteQueryConnection();
  TSiteQueryConnection(const TSiteQueryConnection&) = delete;
  TSiteQueryConnection& operator=(const TSiteQueryConnection&) = delete;

  const QString& error() const { return error_; }
  // The SQLite connection underneath (null when the file could not be opened), for reading many
  // rows without the driver's conversions.
  sqlite3* handle() const;
  // Runs the statement with its values; false (with the database's message kept) on failure.
  bool run(QSqlQuery& query, const QString& sql, const QVariantList& values = {});
  bool exec(const QString& sql, const QVariantList& values = {}) {
    QSqlQuery q;
    return run(q, sql, values);
  }

private:
  QString name_;
  QString error_;
};

// A stored relative path ('\' or '/' between parts) below a folder, as a site address
// (encode: each part percent-encoded) or a file path; empty when it leaves the folder or names
// nothing.
QString SiteRelativePath(const QString& directory, const QString& relative, bool encode);
