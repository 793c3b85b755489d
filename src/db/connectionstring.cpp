#include "db/connectionstring.h"

#include <QDir>
#include <QRegularExpression>
#include <QSqlDatabase>

namespace {

const QRegularExpression& providerPattern() {
  static const QRegularExpression re("Provider\\s*=\\s*([^;$]*)",
                                     QRegularExpression::CaseInsensitiveOption |
                                         QRegularExpression::DotMatchesEverythingOption);
  return re;
}

const QRegularExpression& dataSourcePattern() {
  static const QRegularExpression re("Data Source\\s*=\\s*([^;$]*)",
                                     QRegularExpression::CaseInsensitiveOption |
                                         QRegularExpression::DotMatchesEverythingOption);
  return re;
}

QString firstGroup(const QRegularExpression& re, const QString& text) {
  const QRegularExpressionMatch m = re.match(text);
  return m.hasMatch() ? m.captured(1) : QString();
}

void replaceAll(const QRegularExpression& re, QString& text, const QString& replacement) {
  // The replacement is literal: no back references are expanded.
  QString out;
  qsizetype last = 0;
  auto it = re.globalMatch(text);
  if (!it.hasNext()) return;
  while (it.hasNext()) {
    const QRegularExpressionMatch m = it.next();
    out += text.mid(last, m.capturedStart(0) - last);
    out += replacement;
    last = m.capturedEnd(0);
  }
  out += text.mid(last);
  text = out;
}

struct ProviderName {
  const char* provider;
  const char* driver;
};

constexpr ProviderName kProviders[] = {
    {"SQLite", "QSQLITE"},   {"PostgreSQL", "QPSQL"}, {"MySQL", "QMYSQL"},
    {"MariaDB", "QMARIADB"}, {"ODBC", "QODBC"},       {"InterBase", "QIBASE"},
    {"Oracle", "QOCI"},      {"DB2", "QDB2"},         {"Mimer SQL", "QMIMER"},
};

} // namespace

QString GetConnectionProvider(const QString& connectionString) {
  return firstGroup(providerPattern(), connectionString);
}

void SetConnectionProvider(QString& connectionString, const QString& value) {
  replaceAll(providerPattern(), connectionString, "Provider=" + value);
}

QString GetConnectionDataSource(const QString& connectionString) {
  return firstGroup(dataSourcePattern(), connectionString);
}

void SetConnectionDataSource(QString& connectionString, const QString& value) {
  replaceAll(dataSourcePattern(), connectionString, "Data Source=" + value);
}

QString GetConnectionPart(const QString& connectionString, const QString& name) {
  const QRegularExpression re(QRegularExpression::escape(name) + "\\s*=\\s*([^;]*)",
                              QRegularExpression::CaseInsensitiveOption);
  return firstGroup(re, connectionString).trimmed();
}

QString DriverForProvider(const QString& provider) {
  const QString p = provider.trimmed();
  for (const auto& entry : kProviders)
    if (p.compare(QLatin1String(entry.provider), Qt::CaseInsensitive) == 0)
      return QLatin1String(entry.driver);
  // A provider may also be named by its driver.
  if (QSqlDatabase::drivers().contains(p.toUpper())) return p.toUpper();
  return QString();
}

QString ProviderForDriver(const QString& driver) {
  for (const auto& entry : kProviders)
    if (driver == QLatin1String(entry.driver)) return QLatin1String(entry.provider);
  return driver;
}

QStringList AvailableProviders() {
  const QStringList drivers = QSqlDatabase::drivers();
  QStringList result;
  if (drivers.contains("QSQLITE")) result << kSqliteProvider;
  for (const QString& d : drivers) {
    if (d == "QSQLITE" || d == "QSQLITE3" || d.endsWith("7")) continue;
    const QString p = ProviderForDriver(d);
    if (!result.contains(p)) result << p;
  }
  return result;
}

bool IsFileProvider(const QString& provider) {
  return provider.trimmed().isEmpty() ||
         provider.trimmed().compare(kSqliteProvider, Qt::CaseInsensitive) == 0;
}

namespace {
// The Data Source of a file provider, or empty when the connection string has none.
QString fileDataSource(const QString& connectionString) {
  if (!IsFileProvider(GetConnectionProvider(connectionString))) return QString();
  return GetConnectionDataSource(connectionString).trimmed();
}

// A drive letter or a leading backslash: absolute on another system, never relative here.
bool foreignAbsolute(const QString& path) {
  return path.startsWith(QLatin1Char('\\')) || (path.size() > 1 && path[1] == QLatin1Char(':'));
}
} // namespace

QString ResolveConnectionDataSource(const QString& connectionString, const QString& folder) {
  const QString source = fileDataSource(connectionString);
  if (source.isEmpty() || folder.isEmpty() || QDir::isAbsolutePath(source) ||
      foreignAbsolute(source))
    return connectionString;
  QString result = connectionString;
  SetConnectionDataSource(
      result, QDir::toNativeSeparators(QDir::cleanPath(QDir(folder).absoluteFilePath(source))));
  return result;
}

QString RelativeConnectionDataSource(const QString& connectionString, const QString& folder) {
  const QString source = fileDataSource(connectionString);
  if (source.isEmpty() || folder.isEmpty() || !QDir::isAbsolutePath(source))
    return connectionString;
  const QString relative = QDir(QDir::cleanPath(folder)).relativeFilePath(QDir::cleanPath(source));
  if (relative.isEmpty() || QDir::isAbsolutePath(relative) ||
      relative.startsWith(QLatin1String("..")))
    return connectionString;
  QString result = connectionString;
  SetConnectionDataSource(result, QDir::toNativeSeparators(relative));
  return result;
}
