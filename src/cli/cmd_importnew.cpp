// lumenfold-cli import-new: adds the new files of an album's folder to the album.
#include "cli/clialbum.h"
#include "cli/clicommand.h"
#include "core/album.h"
#include "core/picture.h"
#include "core/project.h"
#include "core/syncops.h"

namespace {

constexpr const char* kUsage = "import-new PROJECT.lumenfold ALBUM";

int RunImportNew(const QStringList& raw) {
  const TCliArgs args(raw, {});
  args.expectPositional(2, 2, QString::fromLatin1(kUsage));
  auto project = LoadCliProject(args.positional()[0], true);
  TLumenfoldAlbum* album = FindCliAlbum(*project, args.positional()[1]);
  const TImportResult result = ImportNewAlbumFiles(*album);
  if (!result.Error.isEmpty()) throw TCliError(WithModelErrors(result.Error));
  if (!result.Added.empty()) SaveCliProject(*project);
  for (const TLumenfoldPicture* p : result.Added) {
    if (p->Id < 0)
      throw TCliError(WithModelErrors(
          QStringLiteral("the new pictures of album %1 were not stored").arg(album->Id)));
    PrintCliFields({QString::number(p->Id), p->OriginalFileName});
  }
  return kExitOk;
}

} // namespace

LUMENFOLD_CLI_COMMAND("import-new", "import-new PROJECT.lumenfold ALBUM",
                      "Adds the picture files (JPEG, HEIF, PNG, TIFF, WebP) of the album's folder "
                      "that the album (given "
                      "by id or short name) does not have yet, marked to be processed, and saves "
                      "the project. Prints PICTURE_ID<TAB>FILE for each added file.",
                      RunImportNew);
