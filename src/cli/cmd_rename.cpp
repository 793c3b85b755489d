// lumenfold-cli rename: renames the originals of one album by a renaming template.
#include "cli/clialbum.h"
#include "cli/clicommand.h"
#include "cli/cliprompt.h"
#include "core/album.h"
#include "core/project.h"
#include "core/renameops.h"
#include "core/syncops.h"

#include <cstdio>

namespace {

constexpr const char* kUsage = "rename PROJECT.lumenfold ALBUM [--template T] [--start N] "
                               "[--case keep|lower|upper|first] [--special] [--dry-run]";

int caseOption(const QString& text) {
  if (text == QLatin1String("lower")) return kFileNameCaseLower;
  if (text == QLatin1String("upper")) return kFileNameCaseUpper;
  if (text == QLatin1String("keep")) return kFileNameCaseKeep;
  if (text == QLatin1String("first")) return kFileNameCaseFirst;
  throw TCliError(
      QStringLiteral("--case must be keep, lower, upper or first, not \"%1\"").arg(text),
      kExitUsage);
}

int RunRename(const QStringList& raw) {
  const TCliArgs args(raw,
                      {QStringLiteral("template"), QStringLiteral("start"), QStringLiteral("case")},
                      {QStringLiteral("special"), QStringLiteral("dry-run")});
  args.expectPositional(2, 2, QString::fromLatin1(kUsage));
  const bool dryRun = args.has(QStringLiteral("dry-run"));
  auto project = LoadCliProject(args.positional()[0], !dryRun);
  TLumenfoldAlbum* album = FindCliAlbum(*project, args.positional()[1]);

  // The project's renaming settings, as far as the options do not name others. The settings
  // themselves are not changed.
  TRenameSettings settings = RenameSettingsOf(*project, args.has(QStringLiteral("special")));
  if (args.has(QStringLiteral("template")))
    settings.Template = args.value(QStringLiteral("template"));
  if (args.has(QStringLiteral("start"))) {
    bool ok = false;
    const qlonglong start = args.value(QStringLiteral("start")).toLongLong(&ok);
    if (!ok || start < 0 || start > 2000000000)
      throw TCliError(QStringLiteral("--start must be a whole number from 0 to 2000000000"),
                      kExitUsage);
    settings.Start = int(start);
  }
  if (args.has(QStringLiteral("case")))
    settings.FileNameCase = caseOption(args.value(QStringLiteral("case")));
  if (settings.Template.trimmed().isEmpty())
    throw TCliError(QStringLiteral("the renaming template is empty"), kExitUsage);

  QString error;
  if (!EnsurePicturesLoaded(*album, &error)) throw TCliError(WithModelErrors(error));
  const TRenamePlan plan = PlanAlbumRename(*album, settings);
  if (!plan.Ok())
    throw TCliError(QStringLiteral("album %1 was not renamed, nothing changed: %2")
                        .arg(album->Id)
                        .arg(plan.Problems.join(QStringLiteral("; "))));
  auto warn = [](const QString& text) {
    std::fprintf(stderr, "warning: %s\n", OneLine(text).toLocal8Bit().constData());
  };
  if (dryRun) {
    for (const TRenameItem& item : plan.Items)
      PrintCliFields({item.OldName, item.NewName});
    for (const QString& s : plan.Skipped)
      warn(s);
    return plan.Skipped.isEmpty() ? kExitOk : kExitIncomplete;
  }

  TRenameResult result;
  {
    // A stop signal waits until the files and the database agree again; the journal covers a
    // harder end.
    TCliInterruptGuard stopSignals;
    result = ApplyRename(*album, plan);
    if (CliInterrupted()) warn(QStringLiteral("stop requested; the renaming was finished first"));
  }
  for (const TRenameItem& item : plan.Items) {
    const TLumenfoldPicture* p = album->Pictures.Pictures(item.Position);
    if (p->OriginalFileName == item.NewName) PrintCliFields({item.OldName, item.NewName});
  }
  if (!result.Ok()) {
    QStringList parts;
    if (!result.Error.isEmpty()) parts.append(result.Error);
    parts.append(result.Failed);
    throw TCliError(WithModelErrors(QStringLiteral("album %1: %2 of %3 pictures renamed; %4")
                                        .arg(album->Id)
                                        .arg(result.Renamed)
                                        .arg(plan.Changes())
                                        .arg(parts.join(QStringLiteral("; ")))));
  }
  for (const QString& w : result.Warnings)
    warn(w);
  for (const QString& w : result.Skipped)
    warn(w);
  return result.Skipped.isEmpty() ? kExitOk : kExitIncomplete;
}

} // namespace

LUMENFOLD_CLI_COMMAND("rename",
                      "rename PROJECT.lumenfold ALBUM [--template T] [--start N] "
                      "[--case keep|lower|upper|first] [--special] [--dry-run]",
                      "Renames the original files of an album (given by id or short name) and "
                      "their generated files by a template of %MACROS% (default: the project's "
                      "renaming settings, which are not changed; --special turns characters "
                      "other than letters and digits into \"_\"). Prints OLD<TAB>NEW for each "
                      "renamed file; --dry-run prints them and changes nothing. Names that would "
                      "be equal (ignoring case) or equal to other files of the folder refuse the "
                      "whole rename. A picture whose original is missing keeps its name (a "
                      "warning, exit status 3).",
                      RunRename);
