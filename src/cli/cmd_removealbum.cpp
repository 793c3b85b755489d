// lumenfold-cli remove-album: takes an album out of the project. Its records (album, pictures and
// their category links) leave the database; no file on disk is touched.
#include "cli/clialbum.h"
#include "cli/clicommand.h"
#include "core/album.h"
#include "core/project.h"

#include <cstdio>

namespace {

constexpr const char* kUsage = "remove-album PROJECT.lumenfold ALBUM";

int RunRemoveAlbum(const QStringList& raw) {
  const TCliArgs args(raw, {});
  args.expectPositional(2, 2, QString::fromLatin1(kUsage));
  auto project = LoadCliProject(args.positional()[0], true);
  TLumenfoldAlbum* album = FindCliAlbum(*project, args.positional()[1]);
  const int id = album->Id;
  const QString name = album->ShortName, folder = album->Path;
  const int errorsBefore = ModelErrorCount();
  if (!album->Delete() || ModelErrorCount() != errorsBefore)
    throw TCliError(WithModelErrors(
        QStringLiteral("album %1 (%2) could not be removed from the database").arg(id).arg(name)));
  project->Albums.Delete(project->Albums.IndexOfObject(album));
  project->Modified = true;
  SaveCliProject(*project);
  std::printf("removed album %d \"%s\"; its folder %s is left as it is\n", id,
              name.toLocal8Bit().constData(), folder.toLocal8Bit().constData());
  return kExitOk;
}

} // namespace

LUMENFOLD_CLI_COMMAND("remove-album", "remove-album PROJECT.lumenfold ALBUM",
                      "Removes an album (id or short name) and the records of its pictures from "
                      "the project; no file is deleted, neither originals nor generated images.",
                      RunRemoveAlbum);
