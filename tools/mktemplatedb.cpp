// Builds the empty project database (template.db) from schema.sql.
// Usage: mktemplatedb SCHEMA.sql OUTPUT.db
// The output is written to a temporary file first and moved into place when complete.
#include <QCoreApplication>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTextStream>
#include <cstdio>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: mktemplatedb SCHEMA.sql OUTPUT.db\n");
    return 2;
  }
  QFile schema(QString::fromLocal8Bit(argv[1]));
  if (!schema.open(QIODevice::ReadOnly)) {
    std::fprintf(stderr, "cannot read %s\n", argv[1]);
    return 1;
  }
  const QString text = QString::fromUtf8(schema.readAll());
  const QString out = QString::fromLocal8Bit(argv[2]);
  const QString tmp = out + ".tmp";
  QFile::remove(tmp);
  int rc = 0;
  {
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "schema");
    db.setDatabaseName(tmp);
    if (!db.open()) {
      std::fprintf(stderr, "cannot create %s: %s\n", qPrintable(tmp),
                   qPrintable(db.lastError().text()));
      return 1;
    }
    QString stmt;
    for (const QString& line : text.split('\n')) {
      const QString trimmed = line.trimmed();
      if (trimmed.startsWith("--")) continue;
      stmt += line + '\n';
      if (trimmed.endsWith(';')) {
        QSqlQuery q(db);
        if (!q.exec(stmt)) {
          std::fprintf(stderr, "schema statement failed: %s\n%s\n",
                       qPrintable(q.lastError().text()), qPrintable(stmt));
          rc = 1;
          break;
        }
        stmt.clear();
      }
    }
    db.close();
  }
  QSqlDatabase::removeDatabase("schema");
  if (rc != 0) {
    QFile::remove(tmp);
    return rc;
  }
  QFile::remove(out);
  if (!QFile::rename(tmp, out)) {
    std::fprintf(stderr, "cannot move %s into place\n", qPrintable(out));
    return 1;
  }
  return 0;
}
