#include "db/databasepacking.h"

#include "db/connectionstring.h"
#include "db/sqlaccess.h"

#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

TDatabaseToPack CompleteDatabaseFile(const QString& connection) {
  TDatabaseToPack pack;
  const QString source = GetConnectionDataSource(connection).trimmed();
  pack.Source = source;
  if (source.isEmpty() || !QFileInfo(source).isFile()) return pack;
  pack.Entry = QFileInfo(source).fileName();
  const QString& entry = pack.Entry;
  QString& snapshotPath = pack.Snapshot;
  QString provider = GetConnectionProvider(connection).trimmed();
  if (provider.isEmpty()) provider = kSqliteProvider;
  if (DriverForProvider(provider) != QLatin1String("QSQLITE")) {
    pack.File = source;
    return pack;
  }
  // Every change of this thread is committed; closing its connections lets nothing stay behind
  // in a journal of this thread. A database kept in write-ahead-log mode may still hold
  // committed pages only in its log: fold them into the file, and when other connections keep
  // that from finishing, pack a complete copy instead of the file.
  CloseThreadConnections();
  const QString name = QStringLiteral("lumenfold-zip-%1").arg(QUuid::createUuid().toString());
  bool complete = true;
  QString failure;
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(source);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
    if (!db.open()) {
      failure = db.lastError().text();
    } else {
      QSqlQuery query(db);
      if (query.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)")) && query.next())
        complete = query.value(0).toInt() == 0;
      query.finish();
      const QFileInfo wal(source + QStringLiteral("-wal"));
      if (wal.exists() && wal.size() > 0) complete = false;
      if (!complete) {
        snapshotPath = QFileInfo(source).absolutePath() + QStringLiteral("/.") + entry +
                       QStringLiteral(".zip-%1").arg(QUuid::createUuid().toString(QUuid::Id128));
        QSqlQuery vacuum(db);
        if (!vacuum.exec(QStringLiteral("VACUUM INTO '%1'").arg(QuoteSqlText(snapshotPath))))
          failure = vacuum.lastError().text();
      }
      db.close();
    }
  }
  QSqlDatabase::removeDatabase(name);
  pack.Failure = failure;
  if (failure.isEmpty()) pack.File = complete ? source : snapshotPath;
  return pack;
}
