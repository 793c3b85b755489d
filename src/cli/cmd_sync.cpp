// lumenfold-cli sync: compares the project with the files on disk and, when asked, relocates
// albums and removes the records of pictures whose original is gone.
#include "cli/clialbum.h"
#include "cli/clicommand.h"
#include "cli/cliprompt.h"
#include "core/album.h"
#include "core/outputsettings.h"
#include "core/picture.h"
#include "core/project.h"
#include "core/syncops.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>

namespace {

constexpr const char* kUsage = "sync PROJECT.lumenfold [--remove-missing-pictures] "
                               "[--relocate ALBUM=FOLDER]... [--hash] [--yes]";
// The project and the disk still differ after the requested changes.
constexpr int kExitDifferences = 3;

int RunSync(const QStringList& raw) {
  const TCliArgs args(
      raw, {QStringLiteral("relocate")},
      {QStringLiteral("remove-missing-pictures"), QStringLiteral("hash"), QStringLiteral("yes")});
  args.expectPositional(1, 1, QString::fromLatin1(kUsage));
  const QStringList relocations = CliOptionValues(raw, QStringLiteral("relocate"));
  const bool remove = args.has(QStringLiteral("remove-missing-pictures"));
  const bool changes = remove || !relocations.isEmpty();
  // The answer to "remove the records of every picture of an album?".
  if (args.has(QStringLiteral("yes")))
    if (CliPrompt* prompt = CliPrompt::instance()) prompt->setDefaultAnswer(true);
  auto project = LoadCliProject(args.positional()[0], changes);

  // Every relocation is checked before the first one is made.
  struct TMove {
    TLumenfoldAlbum* album;
    QString folder;
  };
  std::vector<TMove> moves;
  for (const QString& r : relocations) {
    const int eq = r.indexOf(QLatin1Char('='));
    if (eq <= 0 || eq == r.size() - 1)
      throw TCliError(QStringLiteral("--relocate needs ALBUM=FOLDER, not \"%1\"").arg(r),
                      kExitUsage);
    TLumenfoldAlbum* album = FindCliAlbum(*project, r.left(eq));
    const QString folder = QDir::toNativeSeparators(AbsoluteCliPath(r.mid(eq + 1)));
    for (const TMove& m : moves)
      if (m.album == album)
        throw TCliError(QStringLiteral("album %1 is relocated twice").arg(album->Id), kExitUsage);
    if (!QFileInfo(folder).isDir())
      throw TCliError(QStringLiteral("folder does not exist: %1").arg(folder));
    for (const TMove& m : moves)
      if (QDir::cleanPath(m.folder).compare(QDir::cleanPath(folder), Qt::CaseInsensitive) == 0)
        throw TCliError(QStringLiteral("two albums cannot move to the same folder %1").arg(folder),
                        kExitUsage);
    moves.push_back({album, folder});
  }
  for (const TMove& m : moves) {
    // Albums that move away free their folders for the others.
    const TLumenfoldAlbum* other = AlbumUsingFolder(*project, m.folder, m.album);
    bool leaving = false;
    for (const TMove& n : moves)
      leaving = leaving || n.album == other;
    if (other && !leaving)
      throw TCliError(QStringLiteral("folder %1 is already album %2 (%3)")
                          .arg(m.folder)
                          .arg(other->Id)
                          .arg(other->ShortName));
  }
  for (const TMove& m : moves)
    m.album->SetPath(m.folder);
  // Checked once all have moved: an album may take a folder another one leaves.
  for (const TMove& m : moves)
    if (const QString clash = ValidateAlbumFolder(*project, m.folder, m.album); !clash.isEmpty())
      throw TCliError(QStringLiteral("nothing was changed: %1").arg(clash));
  for (const TMove& m : moves)
    PrintCliFields({QStringLiteral("relocated"), QString::number(m.album->Id), m.folder});

  TSyncReport report = CheckProjectFiles(*project, args.has(QStringLiteral("hash")));
  if (!report.Errors.isEmpty())
    throw TCliError(WithModelErrors(report.Errors.join(QStringLiteral("; "))));

  int removed = 0;
  for (TLumenfoldAlbum* album : report.MissingFolders)
    PrintCliFields({QStringLiteral("missing-folder"), QString::number(album->Id), album->ShortName,
                    album->Path});
  // Findings come album by album; each album's missing pictures are removed in one go.
  for (size_t i = 0; i < report.Findings.size();) {
    TLumenfoldAlbum* album = report.Findings[i].Album;
    const QString albumId = QString::number(album->Id);
    QList<QStringList> lines;
    QHash<TLumenfoldPicture*, int> missing; // picture -> its line
    for (; i < report.Findings.size() && report.Findings[i].Album == album; ++i) {
      const TSyncFinding& f = report.Findings[i];
      const bool isMissing = f.State == TOriginalState::Missing;
      if (isMissing) missing.insert(f.Picture, int(lines.size()));
      lines.append({isMissing ? QStringLiteral("missing") : QStringLiteral("changed"), albumId,
                    QString::number(f.Picture->Id), f.Picture->OriginalFileName});
    }
    if (remove && !missing.isEmpty()) {
      QList<int> chosen;
      const int gone = RemoveMissingPictures(*album, [&](TLumenfoldPicture& p) {
        const int line = missing.value(&p, -1);
        if (line >= 0) chosen.append(line);
        return line >= 0;
      });
      if (gone != chosen.size())
        throw TCliError(WithModelErrors(
            QStringLiteral("the missing pictures of album %1 could not be removed").arg(albumId)));
      for (int line : chosen)
        lines[line][0] = QStringLiteral("removed");
      removed += gone;
    }
    for (const QStringList& l : lines)
      PrintCliFields(l);
  }
  for (const TSyncFinding& f : report.Skipped)
    PrintCliFields({QStringLiteral("skipped"), QString::number(f.Album->Id),
                    QString::number(f.Picture->Id), f.Picture->OriginalFileName, f.Reason});
  if (!moves.empty() || removed > 0 || project->Modified) SaveCliProject(*project);

  const int missingFolders = int(report.MissingFolders.size());
  const int missing = report.Count(TOriginalState::Missing) - removed;
  const int changed = report.Count(TOriginalState::Changed);
  PrintCliFields({QStringLiteral("summary"), QStringLiteral("albums=%1").arg(report.AlbumsChecked),
                  QStringLiteral("pictures=%1").arg(report.PicturesChecked),
                  QStringLiteral("missing-folders=%1").arg(missingFolders),
                  QStringLiteral("missing=%1").arg(missing),
                  QStringLiteral("changed=%1").arg(changed),
                  QStringLiteral("removed=%1").arg(removed),
                  QStringLiteral("relocated=%1").arg(moves.size())});
  return missingFolders + missing + changed + int(report.Skipped.size()) > 0 ? kExitDifferences
                                                                             : kExitOk;
}

} // namespace

LUMENFOLD_CLI_COMMAND(
    "sync",
    "sync PROJECT.lumenfold [--remove-missing-pictures] [--relocate ALBUM=FOLDER]... [--hash] "
    "[--yes]",
    "Compares the project with the disk and prints one tab-separated line per finding: "
    "relocated ALBUM_ID FOLDER, missing-folder ALBUM_ID NAME PATH, "
    "missing|changed|removed ALBUM_ID PICTURE_ID FILE, skipped ALBUM_ID PICTURE_ID FILE REASON "
    "(a stored name or file that must not be used), then summary KEY=COUNT.... "
    "A changed original has another time stamp or size (--hash: another size or checksum, so a "
    "file only touched is not changed), as process counts them. Changes only what "
    "the options name: --relocate points an album (id or short name) at another folder, "
    "--remove-missing-pictures removes the records of missing pictures (never while their album's "
    "folder is missing, nor all pictures of an album without --yes, since an empty folder may be "
    "a drive that is not connected; files are not touched). Exit status 3: differences remain.",
    RunSync);
