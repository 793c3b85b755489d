// lumenfold-cli new: creates a project with default settings and its database.
#include "cli/clicommand.h"
#include "core/project.h"
#include "core/projectops.h"
#include "db/sqlaccess.h"
#include "util/helpers.h"

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
  if (!QFileInfo(fileInfo.absolutePath()).isDir())
    throw TCliError(QStringLiteral("folder does not exist: %1").arg(fileInfo.absolutePath()));

  const QString db = args.has(QStringLiteral("db"))
                         ? AbsoluteCliPath(args.value(QStringLiteral("db")))
                         : QDir::cleanPath(fileInfo.absolutePath() + QStringLiteral("/db.sqlite"));
  TCreatedFiles created;
  const QFileInfo dbInfo(db);
  if (!dbInfo.exists() && !QFileInfo(dbInfo.absolutePath()).isDir())
    throw TCliError(QStringLiteral("folder does not exist: %1").arg(dbInfo.absolutePath()));
  const TDatabaseCopy copy = CopyTemplateDatabase(db);
  if (!copy.ok) throw TCliError(copy.error);
  if (copy.created) created.files << db;
  const bool copied = copy.created;

  TLumenfoldProject project;
  project.Reset();
  project.FileName = file;
  project.ConnectionString = QStringLiteral("Provider=SQLite;Data Source=") + db;

  const int errorsBefore = ModelErrorCount();
  bool loaded = false;
  try {
    loaded = OpenNewProject(project);
  } catch (const std::exception& e) {
    throw TCliError(
        QStringLiteral("cannot load database %1: %2").arg(db, QString::fromLocal8Bit(e.what())));
  }
  if (!loaded || ModelErrorCount() != errorsBefore)
    throw TCliError(WithModelErrors(QStringLiteral("cannot load database %1").arg(db)));

  created.files << file;
  SaveCliProject(project);
  created.keep = true;
  std::printf("created project %s\n", EscapeControlCharacters(file).toLocal8Bit().constData());
  std::printf("database %s%s\n", EscapeControlCharacters(db).toLocal8Bit().constData(),
              copied ? " (new, from the template)" : " (existing, kept)");
  return kExitOk;
}

} // namespace

LUMENFOLD_CLI_COMMAND("new", "new PROJECT.lumenfold [--db FILE]",
                      "Creates a project with default settings; the database (default db.sqlite "
                      "beside the project) is made from the template unless it exists.",
                      RunNew);
