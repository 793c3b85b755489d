#include "processing/sitequery.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QStringList>
#include <QUrl>
#include <QUuid>
#include <algorithm>

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

sqlite3* TSiteQueryConnection::handle() const {
  if (!error_.isEmpty()) return nullptr;
  const QVariant h = QSqlDatabase::database(name_, false).driver()->handle();
  return h.isValid() && qstrcmp(h.typeName(), "sqlite3*") == 0
             ? *static_cast<sqlite3* const*>(h.constData())
             : nullptr;
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
  // Called for every file of every picture: parts are cut by hand, not by a pattern.
  QString result;
  result.reserve(directory.size() + relative.size() + 1);
  for (const QString& piece : {directory, relative}) {
    const QStringView whole(piece);
    qsizetype start = 0;
    while (start <= whole.size()) {
      qsizetype end = start;
      while (end < whole.size() && whole[end] != QLatin1Char('/') &&
             whole[end] != QLatin1Char('\\'))
        ++end;
      const QStringView part = whole.mid(start, end - start);
      start = end + 1;
      if (part.isEmpty() || part == QLatin1String(".")) continue;
      if (part == QLatin1String("..")) return QString();
      if (!result.isEmpty()) result += QLatin1Char('/');
      // Letters, digits and "-._~" stay as they are in an address.
      const bool plain = std::all_of(part.cbegin(), part.cend(), [](QChar c) {
        return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
               (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
               (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('-') ||
               c == QLatin1Char('.') || c == QLatin1Char('_') || c == QLatin1Char('~');
      });
      if (encode && !plain)
        result += QString::fromLatin1(QUrl::toPercentEncoding(part.toString()));
      else
        result += part;
    }
  }
  return result;
}
