// lumenfold-cli set: changes project settings by field name and saves the project.
#include "cli/clicommand.h"
#include "cli/settingfields.h"
#include "core/outputsettings.h"
#include "core/project.h"
#include "db/connectionstring.h"
#include "db/sqlaccess.h"
#include "util/helpers.h"

#include <QFileInfo>
#include <cstdio>
#include <utility>

namespace {

constexpr const char* kUsage = "set PROJECT.lumenfold NAME=VALUE...";

QString suggestion(const QString& name) {
  for (const TSettingField& f : SettingFields())
    if (name.compare(QLatin1String(f.name), Qt::CaseInsensitive) == 0)
      return QStringLiteral(" (did you mean %1?)").arg(QLatin1String(f.name));
  return QString();
}

int RunSet(const QStringList& raw) {
  const TCliArgs args(raw, {});
  args.expectPositional(2, 1 << 20, QString::fromLatin1(kUsage));

  // Every assignment is checked before anything is loaded or saved.
  std::vector<std::pair<const TSettingField*, QJsonValue>> changes;
  for (const QString& assignment : args.positional().mid(1)) {
    const int eq = assignment.indexOf(QLatin1Char('='));
    if (eq <= 0)
      throw TCliError(QStringLiteral("expected NAME=VALUE, got \"%1\"").arg(assignment),
                      kExitUsage);
    const QString name = assignment.left(eq).trimmed();
    const TSettingField* field = FindSettingField(name);
    if (!field)
      throw TCliError(QStringLiteral("unknown setting \"%1\"%2").arg(name, suggestion(name)),
                      kExitUsage);
    QJsonValue value;
    QString reason;
    if (!ParseSettingValue(*field, assignment.mid(eq + 1), value, reason))
      throw TCliError(QStringLiteral("bad value for %1: %2").arg(name, reason), kExitUsage);
    changes.emplace_back(field, value);
  }

  // A new database is opened only after the change: the old one may be gone (a moved project).
  bool newDatabase = false;
  for (const auto& change : changes)
    newDatabase = newDatabase || qstrcmp(change.first->name, "ConnectionString") == 0;
  auto project = LoadCliProject(args.positional().first(), true, nullptr, !newDatabase);
  const QString projectFolder = QFileInfo(project->FileName).absolutePath();
  // The changes are shown only once they are saved.
  QStringList lines;
  for (const auto& [field, value] : changes) {
    const QString before = SettingText(*field, *project);
    field->set(*project, value);
    // A relative zip file or database name means beside the project file, wherever the command
    // runs.
    if (qstrcmp(field->name, "ZipFileName") == 0)
      project->ZipFileName = ResolveZipFileName(*project, project->ZipFileName);
    if (qstrcmp(field->name, "SiteFolder") == 0)
      project->SiteFolder = ResolveZipFileName(*project, project->SiteFolder);
    if (qstrcmp(field->name, "ConnectionString") == 0)
      project->ConnectionString =
          ResolveConnectionDataSource(project->ConnectionString, projectFolder);
    lines << QStringLiteral("%1: %2 -> %3")
                 .arg(QLatin1String(field->name), before, SettingText(*field, *project));
  }
  if (newDatabase) {
    // A project whose database cannot be opened could not be loaded again.
    const QString problem = TestConnection(project->ConnectionString);
    if (!problem.isEmpty())
      throw TCliError(QStringLiteral("bad value for ConnectionString: %1").arg(problem));
    SetCurrentConnectionString(project->ConnectionString);
    // The albums of the new database take part in the checks below.
    const int errorsBefore = ModelErrorCount();
    if (!project->LoadDatabase() || ModelErrorCount() != errorsBefore)
      throw TCliError(WithModelErrors(
          QStringLiteral("nothing was changed: the new database cannot be loaded")));
  }
  if (const QString unsafe = ValidateOutputSettings(*project); !unsafe.isEmpty())
    throw TCliError(QStringLiteral("nothing was changed: %1").arg(unsafe));
  project->Modified = true;
  SaveCliProject(*project);
  for (const QString& line : std::as_const(lines))
    std::printf("%s\n", EscapeControlCharacters(line).toLocal8Bit().constData());
  return kExitOk;
}

} // namespace

LUMENFOLD_CLI_COMMAND("set", "set PROJECT.lumenfold NAME=VALUE...",
                      "Changes settings by field name (see info) and saves the project; nothing is "
                      "saved when a name or value is wrong.",
                      RunSet);
