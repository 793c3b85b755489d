// lumenfold-cli new: creates a project with default settings and its database.
#include "cli/clicommand.h"
#include "core/project.h"
#include "db/sqlaccess.h"
#include "util/programfolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdio>

namespace {

constexpr const char* kUsage = "new PROJECT.lumenfold [--db FILE]";

// Removes what a failed `new` created, so that a second try starts clean.
struct TCreatedFiles {
  QStringList files;
  bool keep = false;
  ~TCreatedFiles() {
    if (!keep)
      for (const QString& f : files)
        QFile::remove(f);
  }
};

int RunNew(const QStringList& raw) {
  const TCliArgs args(raw, {QStringLiteral("db")});
  args.expectPositional(1, 1, QString::fromLatin1(kUsage));
  const QString file = AbsoluteCliPath(args.positional().first());
  const QFileInfo fileInfo(file);
  if (fileInfo.exists())
    throw TCliError(QStringLiteral("project file already exists: %1").arg(file));
  const QString folder =
      IncludeTrailingSeparator(QDir::toNativeSeparators(fileInfo.absolutePath()));
  if (!QFileInfo(fileInfo.absolutePath()).isDir())
    throw TCliError(QStringLiteral("folder does not exist: %1").arg(fileInfo.absolutePath()));

  const QString db = args.has(QStringLiteral("db"))
                         ? AbsoluteCliPath(args.value(QStringLiteral("db")))
                         : QDir::cleanPath(fileInfo.absolutePath() + QStringLiteral("/db.sqlite"));
  TCreatedFiles created;
  const QFileInfo dbInfo(db);
  bool copied = false;
  if (dbInfo.exists()) {
    if (!dbInfo.isFile()) throw TCliError(QStringLiteral("not a database file: %1").arg(db));
  } else {
    if (!QFileInfo(dbInfo.absolutePath()).isDir())
      throw TCliError(QStringLiteral("folder does not exist: %1").arg(dbInfo.absolutePath()));
    const QString templateDb = DataFolder() + QStringLiteral("template.db");
    if (!QFileInfo(templateDb).isFile())
      throw TCliError(QStringLiteral("template database not found: %1").arg(templateDb));
    QFile source(templateDb);
    if (!source.copy(db))
      throw TCliError(
          QStringLiteral("cannot create database %1: %2").arg(db, source.errorString()));
    created.files << db;
    // The template may be read-only where it is installed; the copy must be writable.
    QFile(db).setPermissions(QFile(db).permissions() | QFile::WriteOwner | QFile::ReadOwner);
    copied = true;
  }

  TLumenfoldProject project;
  project.Reset();
  project.FileName = file;
  project.ConnectionString = QStringLiteral("Provider=SQLite;Data Source=") + db;
  SetCurrentConnectionString(project.ConnectionString);
  project.ZipEnabled = true;
  project.ZipFileName = folder + QStringLiteral("albums.zip");
  project.Modified = true;

  const int errorsBefore = ModelErrorCount();
  bool loaded = false;
  try {
    loaded = project.LoadDatabase();
  } catch (const std::exception& e) {
    throw TCliError(
        QStringLiteral("cannot load database %1: %2").arg(db, QString::fromLocal8Bit(e.what())));
  }
  if (!loaded || ModelErrorCount() != errorsBefore)
    throw TCliError(WithModelErrors(QStringLiteral("cannot load database %1").arg(db)));

  created.files << file;
  SaveCliProject(project);
  created.keep = true;
  std::printf("created project %s\n", file.toLocal8Bit().constData());
  std::printf("database %s%s\n", db.toLocal8Bit().constData(),
              copied ? " (new, from the template)" : " (existing, kept)");
  return kExitOk;
}

} // namespace

LUMENFOLD_CLI_COMMAND("new", "new PROJECT.lumenfold [--db FILE]",
                      "Creates a project with default settings; the database (default db.sqlite "
                      "beside the project) is made from the template unless it exists.",
                      RunNew);
