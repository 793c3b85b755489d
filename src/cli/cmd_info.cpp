// lumenfold-cli info: shows a project's settings and albums, as text or JSON.
#include "cli/clicommand.h"
#include "cli/settingfields.h"
#include "core/album.h"
#include "core/category.h"
#include "core/picture.h"
#include "core/project.h"
#include "db/sqlaccess.h"
#include "util/imaging/colour.h"
#include "util/imaging/exif.h"
#include "util/helpers.h"

#include <QFileInfo>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

namespace {

constexpr const char* kUsage = "info PROJECT.lumenfold [--pictures] [--json]";

struct TAlbumInfo {
  TLumenfoldAlbum* album;
  int pictures;
  int modified;
  QString face; // file name of the face picture
};

// One line; the names in it are printed with their control characters written out.
void print(const QString& text) {
  const bool ended = text.endsWith(QLatin1Char('\n'));
  const QString line = EscapeControlCharacters(ended ? text.chopped(1) : text);
  std::fputs((ended ? line + QLatin1Char('\n') : line).toLocal8Bit().constData(), stdout);
}

// What a script needs to know about one picture before it is published.
struct TPictureInfo {
  const TLumenfoldPicture* picture;
  QString profile; // description of the original's colour profile
  bool exists;
};

TPictureInfo describePicture(const TLumenfoldPicture* p) {
  const QString path = p->OriginalPath();
  const QFileInfo file(path);
  const bool exists = file.isFile();
  QString profile = file.exists() ? QStringLiteral("unknown (original is not a regular file)")
                                  : QStringLiteral("unknown (original missing)");
  if (exists)
    profile = ColourProfileDescription(
        ReadCameraMetadata(path, TMetadataParts::ExifAndColourProfile).ColourProfile);
  return {p, profile, exists};
}

QString dateText(const QDateTime& date) {
  return date.isValid() ? date.toString(Qt::ISODate) : QString();
}

QJsonObject pictureJson(const TPictureInfo& i, const TLumenfoldCategoryList& categories) {
  const TLumenfoldPicture* p = i.picture;
  QJsonObject o;
  o.insert(QStringLiteral("Id"), p->Id);
  o.insert(QStringLiteral("FileName"), p->OriginalFileName);
  o.insert(QStringLiteral("Title"), p->Title);
  o.insert(QStringLiteral("Title2"), p->Title2);
  o.insert(QStringLiteral("IsPrivate"), p->IsPrivate);
  o.insert(QStringLiteral("IsDeleted"), p->IsDeleted);
  o.insert(QStringLiteral("IsFace"), p->IsFace);
  QJsonArray titles;
  for (const QString& id : p->CategoryIds) {
    const int at = categories.IndexOfId(id.toInt());
    if (at >= 0) titles.append(categories.Categories(at)->Title);
  }
  o.insert(QStringLiteral("Categories"), titles);
  o.insert(QStringLiteral("OriginalExists"), i.exists);
  o.insert(QStringLiteral("Orientation"), p->Orientation);
  o.insert(QStringLiteral("PictureDate"),
           p->PictureDate.isValid() ? QJsonValue(dateText(p->PictureDate)) : QJsonValue());
  o.insert(QStringLiteral("ColourProfile"), i.profile);
  o.insert(QStringLiteral("Width"), p->OriginalWidth);
  o.insert(QStringLiteral("Height"), p->OriginalHeight);
  o.insert(QStringLiteral("FileSize"), p->OriginalSize);
  o.insert(QStringLiteral("Modified"), bool(p->Modified));
  return o;
}

QString pictureLine(const TPictureInfo& i) {
  const TLumenfoldPicture* p = i.picture;
  const QString size = p->OriginalWidth > 0 && p->OriginalHeight > 0
                           ? QStringLiteral("%1 x %2").arg(p->OriginalWidth).arg(p->OriginalHeight)
                           : QStringLiteral("size not known yet");
  // One arg() call: a file name holding "%1" must not take the place of a later value.
  return QStringLiteral("        [%1] %2: orientation %3, date %4, colour %5, %6, %7 bytes\n")
      .arg(QString::number(p->Id), p->OriginalFileName, QString::number(p->Orientation),
           p->PictureDate.isValid() ? dateText(p->PictureDate) : QStringLiteral("none"), i.profile,
           size, QString::number(p->OriginalSize));
}

int RunInfo(const QStringList& raw) {
  const TCliArgs args(raw, {}, {QStringLiteral("json"), QStringLiteral("pictures")});
  const bool pictures = args.has(QStringLiteral("pictures"));
  args.expectPositional(1, 1, QString::fromLatin1(kUsage));
  bool complete = false;
  const QString file = AbsoluteCliPath(args.positional().first());
  auto project = LoadCliProject(file, false, &complete);

  // After a load an album holds all its pictures only when some of them wait for processing;
  // the others are read now so that the counts are right.
  std::vector<TAlbumInfo> albums;
  const int errorsBefore = ModelErrorCount();
  for (int i = 0; i < project->Albums.Count(); ++i) {
    TLumenfoldAlbum* album = project->Albums[i];
    if (!album->Loaded && !album->LoadPictures())
      throw TCliError(
          WithModelErrors(QStringLiteral("cannot read the pictures of album %1").arg(album->Id)));
    TLumenfoldPicture* face = album->GetFacePicture();
    albums.push_back({album, album->Pictures.Count(), album->ModifiedCount(),
                      face ? face->OriginalFileName : QString()});
  }
  if (ModelErrorCount() != errorsBefore)
    throw TCliError(WithModelErrors(QStringLiteral("cannot read the pictures of the albums")));

  if (args.has(QStringLiteral("json"))) {
    QJsonObject root;
    root.insert(QStringLiteral("FileName"), project->FileName);
    root.insert(QStringLiteral("Modified"), bool(project->Modified));
    root.insert(QStringLiteral("Complete"), complete);
    for (const TSettingField& f : SettingFields())
      root.insert(QLatin1String(f.name), f.get(*project));
    QJsonArray list;
    for (const TAlbumInfo& a : albums) {
      QJsonObject o;
      o.insert(QStringLiteral("Id"), a.album->Id);
      o.insert(QStringLiteral("ShortName"), a.album->ShortName);
      o.insert(QStringLiteral("ShortName2"), a.album->ShortName2);
      o.insert(QStringLiteral("LongName"), a.album->LongName);
      o.insert(QStringLiteral("LongName2"), a.album->LongName2);
      o.insert(QStringLiteral("AlbumDate"), SqlDateText(a.album->AlbumDate));
      o.insert(QStringLiteral("IsPrivate"), bool(a.album->IsPrivate));
      o.insert(QStringLiteral("Path"), a.album->Path);
      o.insert(QStringLiteral("PathExists"), a.album->PathExists());
      o.insert(QStringLiteral("Directory"), a.album->Directory);
      o.insert(QStringLiteral("FacePictureId"), a.album->GetFacePictureId());
      o.insert(QStringLiteral("Face"), a.face);
      o.insert(QStringLiteral("PictureCount"), a.pictures);
      o.insert(QStringLiteral("ModifiedCount"), a.modified);
      if (pictures) {
        QJsonArray items;
        for (int k = 0; k < a.album->Pictures.Count(); ++k)
          items.append(pictureJson(describePicture(a.album->Pictures[k]), project->Categories));
        o.insert(QStringLiteral("Pictures"), items);
      }
      list.append(o);
    }
    root.insert(QStringLiteral("Albums"), list);
    QJsonArray categories;
    for (int i = 0; i < project->Categories.Count(); ++i) {
      const TLumenfoldCategory* c = project->Categories.Categories(i);
      categories.append(QJsonObject{{QStringLiteral("Id"), c->Id},
                                    {QStringLiteral("Title"), c->Title},
                                    {QStringLiteral("Title2"), c->Title2},
                                    {QStringLiteral("Description"), c->Description},
                                    {QStringLiteral("Description2"), c->Description2}});
    }
    root.insert(QStringLiteral("Categories"), categories);
    std::fputs(QJsonDocument(root).toJson(QJsonDocument::Indented).constData(), stdout);
  } else {
    print(QStringLiteral("Project: %1\n").arg(file));
    print(
        QStringLiteral("Complete: %1\n").arg(complete ? "yes" : "no (damaged or truncated file)"));
    print(QStringLiteral("Modified: %1\n").arg(project->Modified ? "yes" : "no"));
    print(QStringLiteral("Settings:\n"));
    for (const TSettingField& f : SettingFields())
      print(QStringLiteral("  %1 = %2\n").arg(QLatin1String(f.name), SettingText(f, *project)));
    QStringList titles;
    for (int i = 0; i < project->Categories.Count(); ++i)
      titles.append(project->Categories.Categories(i)->Title);
    print(QStringLiteral("Categories: %1\n")
              .arg(titles.isEmpty() ? QStringLiteral("none") : titles.join(QStringLiteral(", "))));
    print(QStringLiteral("Albums: %1\n").arg(albums.size()));
    for (const TAlbumInfo& a : albums) {
      print(QStringLiteral("  [%1] %2 - %3%4\n")
                .arg(a.album->Id)
                .arg(a.album->ShortName, a.album->LongName,
                     a.album->IsPrivate ? QStringLiteral(" (private)") : QString()));
      print(QStringLiteral("      path: %1%2\n")
                .arg(a.album->Path,
                     a.album->PathExists() ? QString() : QStringLiteral(" (missing)")));
      print(QStringLiteral("      directory: %1\n").arg(a.album->Directory));
      print(QStringLiteral("      date: %1\n").arg(SqlDateText(a.album->AlbumDate)));
      print(QStringLiteral("      face: %1\n")
                .arg(a.face.isEmpty() ? QStringLiteral("none") : a.face));
      print(QStringLiteral("      pictures: %1, to be processed: %2\n")
                .arg(a.pictures)
                .arg(a.modified));
      for (int k = 0; pictures && k < a.album->Pictures.Count(); ++k)
        print(pictureLine(describePicture(a.album->Pictures[k])));
    }
  }
  if (!complete)
    std::fprintf(stderr, "warning: project file %s was not read completely\n",
                 EscapeControlCharacters(file).toLocal8Bit().constData());
  return kExitOk;
}

} // namespace

LUMENFOLD_CLI_COMMAND("info", "info PROJECT.lumenfold [--pictures] [--json]",
                      "Shows every setting and every album (pictures, pictures to be processed); "
                      "with --pictures also each picture's orientation, date, colour profile and "
                      "size.",
                      RunInfo);
