// lumenfold-cli album-edit: changes an album's names, date and private mark as the album details
// do and saves the project.
#include "cli/clialbum.h"
#include "cli/clicommand.h"
#include "core/album.h"
#include "core/project.h"
#include "db/sqlaccess.h"

#include <algorithm>
#include <cstdio>
#include <optional>

namespace {

constexpr const char* kUsage =
    "album-edit PROJECT.lumenfold ALBUM [--short-name T] [--long-name T] [--short-name2 T] "
    "[--long-name2 T] [--date YYYY-MM-DD] [--private yes|no]";

int RunAlbumEdit(const QStringList& raw) {
  const QStringList names{QStringLiteral("short-name"),  QStringLiteral("long-name"),
                          QStringLiteral("short-name2"), QStringLiteral("long-name2"),
                          QStringLiteral("date"),        QStringLiteral("private")};
  const TCliArgs args(raw, names);
  args.expectPositional(2, 2, QString::fromLatin1(kUsage));
  if (std::none_of(names.begin(), names.end(), [&](auto& o) { return args.has(o); }))
    throw TCliError(
        QStringLiteral("nothing to change; usage: lumenfold-cli %1").arg(QLatin1String(kUsage)),
        kExitUsage);
  if (args.has(names[0]) && args.value(names[0]).trimmed().isEmpty())
    throw TCliError(QStringLiteral("the album short name must not be empty"), kExitUsage);
  const bool setDate = args.has(QStringLiteral("date"));
  const QDate date =
      setDate ? CliDate(QStringLiteral("date"), args.value(QStringLiteral("date"))) : QDate();
  std::optional<bool> isPrivate;
  if (args.has(QStringLiteral("private")))
    isPrivate = CliYesNo(QStringLiteral("private"), args.value(QStringLiteral("private")));

  auto project = LoadCliProject(args.positional().first(), true);
  TLumenfoldAlbum* album = FindCliAlbum(*project, args.positional()[1]);
  // The fields go through a copy, as the album details write them back.
  TLumenfoldAlbum copy(project.get());
  copy.AssignFields(*album);
  QString* texts[] = {&copy.ShortName, &copy.LongName, &copy.ShortName2, &copy.LongName2};
  for (int i = 0; i < 4; ++i)
    if (args.has(names[i])) *texts[i] = args.value(names[i]);
  if (setDate) {
    const QTime time = album->AlbumDate.isValid() ? album->AlbumDate.time() : QTime(0, 0);
    copy.AlbumDate = QDateTime(date, time);
  }
  if (isPrivate) copy.IsPrivate = *isPrivate;

  // One output line FIELD, OLD, NEW per change, shown once it is saved.
  QList<QStringList> changes;
  auto note = [&](const char* field, const QString& before, const QString& after) {
    if (before != after) changes.append({QLatin1String(field), before, after});
  };
  note("ShortName", album->ShortName, copy.ShortName);
  note("LongName", album->LongName, copy.LongName);
  note("ShortName2", album->ShortName2, copy.ShortName2);
  note("LongName2", album->LongName2, copy.LongName2);
  note("AlbumDate", SqlDateText(album->AlbumDate), SqlDateText(copy.AlbumDate));
  note("IsPrivate", album->IsPrivate ? QStringLiteral("yes") : QStringLiteral("no"),
       copy.IsPrivate ? QStringLiteral("yes") : QStringLiteral("no"));
  if (changes.isEmpty()) {
    std::fprintf(stderr, "nothing changed\n");
    return kExitOk;
  }
  album->AssignFields(copy);
  album->SetDirty(true);
  project->Albums.SetString(project->Albums.IndexOfId(album->Id), album->ShortName);
  SaveCliProject(*project);
  for (const QStringList& change : std::as_const(changes))
    PrintCliFields(change);
  return kExitOk;
}

} // namespace

LUMENFOLD_CLI_COMMAND("album-edit",
                      "album-edit PROJECT.lumenfold ALBUM [--short-name T] [--long-name T] "
                      "[--short-name2 T] [--long-name2 T] [--date YYYY-MM-DD] [--private yes|no]",
                      "Changes the names, date or private mark of an album (given by id or short "
                      "name), saves the project and prints FIELD<TAB>OLD<TAB>NEW for each change.",
                      RunAlbumEdit);
