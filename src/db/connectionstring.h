#pragma once
// Parts of a connection string of the form "Provider=...;Data Source=...".
#include <QString>
#include <QStringList>

QString GetConnectionProvider(const QString& connectionString);
void SetConnectionProvider(QString& connectionString, const QString& value);
QString GetConnectionDataSource(const QString& connectionString);
void SetConnectionDataSource(QString& connectionString, const QString& value);
// Value of any other "Name=value" part (case-insensitive name), or empty.
QString GetConnectionPart(const QString& connectionString, const QString& name);

// Provider names shown to the user and the Qt SQL drivers behind them.
inline constexpr const char* kSqliteProvider = "SQLite";
// Qt SQL driver name for a provider name (case-insensitive); empty when unknown.
QString DriverForProvider(const QString& provider);
// Provider name for a Qt SQL driver name; the driver name itself when unknown.
QString ProviderForDriver(const QString& driver);
// Providers whose drivers are installed, "SQLite" first.
QStringList AvailableProviders();
// True for providers whose data source is a database file.
bool IsFileProvider(const QString& provider);

// A project keeps a database that lies in its own folder (or below it) under a relative name, so
// that a copied or moved folder finds its own database. These two convert the Data Source of a
// file provider; any other connection string is returned unchanged.
// The Data Source made absolute against folder when it is relative.
QString ResolveConnectionDataSource(const QString& connectionString, const QString& folder);
// The Data Source relative to folder when the file lies in folder or below it.
QString RelativeConnectionDataSource(const QString& connectionString, const QString& folder);
