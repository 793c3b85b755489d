// Statement texts and the dates written into them.
#include "db/sqlaccess.h"

#include <QLocale>
#include <cstring>

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
