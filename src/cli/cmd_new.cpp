// lumenfold-cli new: creates a project with default settings and its database.
#include "cli/clicommand.h"
#include "core/project.h"
#include "core/projectlock.h"
#include "core/projectops.h"
#include "db/sqlaccess.h"
#include "util/helpers.h"
#include "util/lumenfolderror.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cstdio>

namespace {

constexpr const char* kUsage = "new PROJECT.lumenfold [--db FILE]";

// Removes what a failed `new` created (files, then the folders it made, deepest first, when they
// are empty), so that a second try starts clean.
struct TCreatedFiles {
  QStringList files, folders;
  bool keep = false;
  ~TCreatedFiles() {
    if (keep) return;
    for (const QString& f : std::as_const(files))
      QFile::remove(f);
    std::sort(folders.begin(), folders.end(),
              [](const QString& a, const QString& b) { return a.size() > b.size(); });
    for (const QString& d : std::as_const(folders))
      QDir().rmdir(d);
  }
  // Makes the folder and its missing parents; false when that fails.
  bool makeFolder(const QString& folder) {
    QStringList missing;
    for (QString d = QDir::cleanPath(folder); !QFileInfo::exists(d);
         d = QFileInfo(d).absolutePath()) {
      missing << d;
      if (QFileInfo(d).absolutePath() == d) break;
    }
    if (missing.isEmpty()) return QFileInfo(folder).isDir();
    if (!QDir().mkpath(folder)) return false;
    folders << missing;
    return true;
  }
};

bool samePath(const QString& a, const QString& b) {
  return QDir::cleanPath(a).compare(QDir::cleanPath(b), Qt::CaseInsensitive) == 0;
}

int RunNew(const QStringList& raw) {
  const TCliArgs args(raw, {QStringLiteral("db")});
  args.expectPositional(1, 1, QString::fromLatin1(kUsage));
  const QString file = AbsoluteCliPath(args.positional().first());
  const QFileInfo fileInfo(file);
  if (fileInfo.exists())
    throw TCliError(QStringLiteral("project file already exists: %1").arg(file));

  QString db, why;
  if (args.has(QStringLiteral("db"))) {
    db = AbsoluteCliPath(args.value(QStringLiteral("db")));
    if (samePath(db, file) || samePath(db, TProjectLock::LockFileName(file)))
      throw TCliError(
          QStringLiteral("the database %1 cannot be the project file or its lock file").arg(db),
          kExitUsage);
  } else {
    // A second project beside the first one gets a database of its own.
    const TDatabaseProposal proposal = ProposeProjectDatabase(file);
    db = proposal.path;
    why = proposal.reason;
  }
  TCreatedFiles created;
  for (const QString& folder : {fileInfo.absolutePath(), QFileInfo(db).absolutePath()})
    if (!created.makeFolder(folder))
      throw TCliError(QStringLiteral("cannot create folder %1").arg(folder));
  const TDatabaseCopy copy = CopyTemplateDatabase(db);
  if (!copy.ok) throw TCliError(copy.error);
  if (copy.created) created.files << db;
  const bool copied = copy.created;

  TLumenfoldProject project;
  project.Reset();
  ApplyNewProjectDefaults(project);
  project.FileName = file;
  project.ConnectionString = QStringLiteral("Provider=SQLite;Data Source=") + db;

  const int errorsBefore = ModelErrorCount();
  bool loaded = false;
  try {
    loaded = OpenNewProject(project);
  } catch (const std::exception& e) {
    throw TCliError(QStringLiteral("cannot load database %1: %2").arg(db, TextOf(e)));
  }
  if (!loaded || ModelErrorCount() != errorsBefore)
    throw TCliError(WithModelErrors(QStringLiteral("cannot load database %1").arg(db)));

  created.files << file;
  SaveCliProject(project);
  created.keep = true;
  std::printf("created project %s\n", EscapeControlCharacters(file).toLocal8Bit().constData());
  std::printf("database %s%s\n", EscapeControlCharacters(db).toLocal8Bit().constData(),
              copied ? " (new, from the template)" : " (existing, kept)");
  if (!why.isEmpty()) std::printf("note: %s\n", why.toLocal8Bit().constData());
  return kExitOk;
}

} // namespace

LUMENFOLD_CLI_COMMAND("new", "new PROJECT.lumenfold [--db FILE]",
                      "Creates a project with default settings, making missing folders; the "
                      "database (default db.sqlite beside the project, or <project name>.sqlite "
                      "when db.sqlite holds another project's albums) is made from the template "
                      "unless it exists.",
                      RunNew);
