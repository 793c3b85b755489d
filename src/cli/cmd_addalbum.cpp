// lumenfold-cli add-album: adds a folder of JPEG originals as a new album, its pictures marked to
// be processed, and saves the project.
#include "cli/clicommand.h"
#include "core/album.h"
#include "core/outputsettings.h"
#include "core/picture.h"
#include "core/project.h"
#include "util/helpers.h"
#include "util/programfolder.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cstdio>

namespace {

constexpr const char* kUsage = "add-album PROJECT.lumenfold FOLDER [--directory REL] "
                               "[--short-name TEXT] [--long-name TEXT] [--face FILE | --no-face] "
                               "[--no-captions]";

int RunAddAlbum(const QStringList& raw) {
  const TCliArgs args(raw,
                      {QStringLiteral("directory"), QStringLiteral("short-name"),
                       QStringLiteral("long-name"), QStringLiteral("face")},
                      {QStringLiteral("no-face"), QStringLiteral("no-captions")});
  args.expectPositional(2, 2, QString::fromLatin1(kUsage));
  const QString folder = QDir::toNativeSeparators(AbsoluteCliPath(args.positional()[1]));
  if (!QFileInfo(folder).isDir())
    throw TCliError(QStringLiteral("folder does not exist: %1").arg(folder));
  const QString lastComponent = QFileInfo(QDir::cleanPath(folder)).fileName();
  const QString directory = args.value(QStringLiteral("directory"), lastComponent);
  const QString shortName = args.value(QStringLiteral("short-name"), lastComponent);
  const QString longName = args.value(QStringLiteral("long-name"), shortName);
  if (directory.trimmed().isEmpty())
    throw TCliError(QStringLiteral("the album directory must not be empty"), kExitUsage);
  if (shortName.trimmed().isEmpty())
    throw TCliError(QStringLiteral("the album short name must not be empty"), kExitUsage);

  auto project = LoadCliProject(args.positional().first(), true);
  // The same folder written with or without a closing separator is the same album.
  const int existing = std::max(project->Albums.IndexOfPath(folder),
                                project->Albums.IndexOfPath(IncludeTrailingSeparator(folder)));
  if (existing >= 0)
    throw TCliError(QStringLiteral("folder %1 is already album %2 (%3) of the project")
                        .arg(folder)
                        .arg(project->Albums[existing]->Id)
                        .arg(project->Albums[existing]->ShortName));

  if (const QString clash = ValidateAlbumFolder(*project, folder); !clash.isEmpty())
    throw TCliError(clash);
  if (const QString clash = ValidateAlbumDirectory(*project, nullptr, directory); !clash.isEmpty())
    throw TCliError(clash);
  auto album = std::make_unique<TLumenfoldAlbum>(project.get());
  album->SetPath(folder);
  album->Directory = directory;
  album->ShortName = shortName;
  album->LongName = longName;
  // Set before the folder date is read: that reading is kept for the import.
  album->ReadsCaptions = !args.has(QStringLiteral("no-captions"));
  album->ReadFolderDate(folder);
  if (!album->ImportFolder(folder))
    throw TCliError(
        WithModelErrors(QStringLiteral("the pictures of %1 were not imported").arg(folder)));
  for (int i = 0; i < album->Pictures.Count(); ++i)
    album->Pictures[i]->SetModified(true);
  const int pictures = album->Pictures.Count();
  if (pictures == 0)
    std::fprintf(stderr, "warning: no picture file in %s\n",
                 EscapeControlCharacters(folder).toLocal8Bit().constData());

  // The site shows an album by its face picture: the one named, else the first picture.
  if (args.has(QStringLiteral("face"))) {
    const QString face = args.value(QStringLiteral("face"));
    const int at = album->Pictures.IndexOfFileName(face);
    if (at < 0)
      throw TCliError(QStringLiteral("no picture %1 in %2").arg(face, folder), kExitUsage);
    album->Pictures[at]->SetIsFace(true);
  } else if (!args.has(QStringLiteral("no-face")) && pictures > 0) {
    album->Pictures[0]->SetIsFace(true);
  }

  TLumenfoldAlbum* added = album.release();
  project->Albums.Insert(0, added->ShortName, added);
  added->AttachPictures();
  added->SetDirty(true);
  SaveCliProject(*project);
  if (added->Id < 0)
    throw TCliError(WithModelErrors(QStringLiteral("the album was not stored in the database")));
  std::printf("added album %d \"%s\" with %d pictures from %s\n", added->Id,
              EscapeControlCharacters(added->ShortName).toLocal8Bit().constData(), pictures,
              EscapeControlCharacters(folder).toLocal8Bit().constData());
  return kExitOk;
}

} // namespace

LUMENFOLD_CLI_COMMAND("add-album",
                      "add-album PROJECT.lumenfold FOLDER [--directory REL] [--short-name TEXT] "
                      "[--long-name TEXT] [--face FILE | --no-face] [--no-captions]",
                      "Adds the folder's JPEG files as a new album (pictures to be processed, face "
                      "picture the first unless named) at the top of the album list and saves "
                      "the project. Titles and keywords the files carry come along unless "
                      "--no-captions is given.",
                      RunAddAlbum);
