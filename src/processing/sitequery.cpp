#include "processing/sitequery.h"

#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QStringList>
#include <QUrl>
#include <QUuid>

TSiteQueryConnection::TSiteQueryConnection(const QString& file)
    : name_(QStringLiteral("lumenfold-pages-%1").arg(QUuid::createUuid().toString())) {
  QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
  db.setDatabaseName(file);
  if (!db.open()) error_ = db.lastError().text();
}

TSiteQueryConnection::~TSiteQueryConnection() {
  {
    QSqlDatabase db = QSqlDatabase::database(name_, false);
    if (db.isOpen()) db.close();
  }
  QSqlDatabase::removeDatabase(name_);
}

bool TSiteQueryConnection::run(QSqlQuery& query, const QString& sql, const QVariantList& values) {
  if (!error_.isEmpty()) return false;
  query = QSqlQuery(QSqlDatabase::database(name_, false));
  query.setForwardOnly(true);
  bool ok = query.prepare(sql);
  for (const QVariant& v : values)
    query.addBindValue(v);
  ok = ok && query.exec();
  if (!ok) error_ = query.lastError().text();
  return ok;
}

QString SiteRelativePath(const QString& directory, const QString& relative, bool encode) {
  static const QRegularExpression separators(QStringLiteral("[\\\\/]+"));
  QStringList parts;
  for (const QString& piece : {directory, relative})
    for (const QString& part : piece.split(separators)) {
      if (part.isEmpty() || part == QLatin1String(".")) continue;
      if (part == QLatin1String("..")) return QString();
      parts << (encode ? QString::fromLatin1(QUrl::toPercentEncoding(part)) : part);
    }
  return parts.join(QLatin1Char('/'));
}
