// lumenfold-cli read-captions: takes the titles and keywords the pictures' files carry (XMP,
// IPTC) into an album's pictures and saves the project.
#include "cli/clialbum.h"
#include "cli/clicommand.h"
#include "core/album.h"
#include "core/captionimport.h"
#include "core/picture.h"
#include "core/project.h"
#include "core/syncops.h"

#include <cstdio>

namespace {

constexpr const char* kUsage = "read-captions PROJECT.lumenfold ALBUM [--overwrite]";

int RunReadCaptions(const QStringList& raw) {
  const TCliArgs args(raw, {}, {QStringLiteral("overwrite")});
  args.expectPositional(2, 2, QString::fromLatin1(kUsage));
  auto project = LoadCliProject(args.positional()[0], true);
  TLumenfoldAlbum* album = FindCliAlbum(*project, args.positional()[1]);
  QString error;
  if (!EnsurePicturesLoaded(*album, &error)) throw TCliError(WithModelErrors(error));
  QList<TLumenfoldPicture*> pictures;
  QList<QStringList> before;
  for (int i = 0; i < album->Pictures.Count(); ++i) {
    TLumenfoldPicture* p = album->Pictures.Pictures(i);
    pictures.append(p);
    before.append({p->Title, p->Title2, p->CategoryIds.join(QLatin1Char(','))});
  }
  const TReadCaptionsResult result = ReadCaptionsIntoPictures(
      *project, pictures,
      args.has(QStringLiteral("overwrite")) ? TCaptionTitles::Replace : TCaptionTitles::Keep);
  if (result.Changed > 0) SaveCliProject(*project);
  for (int i = 0; i < pictures.size(); ++i) {
    const TLumenfoldPicture* p = pictures[i];
    if (p->Title != before[i][0])
      PrintCliFields({p->OriginalFileName, QStringLiteral("Title"), before[i][0], p->Title});
    if (p->Title2 != before[i][1])
      PrintCliFields({p->OriginalFileName, QStringLiteral("Title2"), before[i][1], p->Title2});
    const QString categories = project->Categories.CategoryTitles(p, QStringLiteral(", "));
    if (p->CategoryIds.join(QLatin1Char(',')) != before[i][2])
      PrintCliFields(
          {p->OriginalFileName, QStringLiteral("Categories"),
           project->Categories.CategoryTitles(
               before[i][2].split(QLatin1Char(','), Qt::SkipEmptyParts), QStringLiteral(", ")),
           categories});
  }
  for (const QString& line : result.Summary())
    std::fprintf(stderr, "%s\n", line.toUtf8().constData());
  if (result.TitlesKept > 0)
    std::fprintf(stderr, "give --overwrite to replace titles set already\n");
  return kExitOk;
}

} // namespace

LUMENFOLD_CLI_COMMAND(
    "read-captions", "read-captions PROJECT.lumenfold ALBUM [--overwrite]",
    "Takes the titles (XMP dc:title in the site's two languages, else IPTC Object Name or "
    "Headline) and keywords (XMP dc:subject, IPTC Keywords, the last part of "
    "lr:hierarchicalSubject) that the album's picture files carry: empty titles are filled, "
    "keywords link categories of that title (made when new). Titles set already are replaced "
    "only with --overwrite; no category is taken away. Saves the project and prints "
    "FILE<TAB>FIELD<TAB>OLD<TAB>NEW for each change.",
    RunReadCaptions);
