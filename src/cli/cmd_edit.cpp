// lumenfold-cli edit: changes pictures of one album as the desktop's picture commands do (titles,
// date and marks as the picture properties, turns, face picture, category choice) and saves the
// project.
#include "cli/clialbum.h"
#include "cli/clicommand.h"
#include "core/album.h"
#include "core/category.h"
#include "core/picture.h"
#include "core/project.h"
#include "core/syncops.h"

#include <QRegularExpression>
#include <QSet>
#include <algorithm>
#include <cstdio>
#include <optional>

namespace {

constexpr const char* kUsage =
    "edit PROJECT.lumenfold ALBUM PICTURE... | --all [--title T] [--title2 T] "
    "[--date YYYY-MM-DD] [--private yes|no] [--deleted yes|no] [--turn left|right|half] "
    "[--face] [--category NAME]... [--no-category NAME]...";

enum class TTurnOption { None, Left, Right, Half };

TTurnOption turnOption(const QString& text) {
  if (text == QLatin1String("left")) return TTurnOption::Left;
  if (text == QLatin1String("right")) return TTurnOption::Right;
  if (text == QLatin1String("half")) return TTurnOption::Half;
  throw TCliError(QStringLiteral("--turn must be left, right or half, not \"%1\"").arg(text),
                  kExitUsage);
}

// The pictures named on the command line, in album order: each name is a picture id, a file name
// or a pattern of file names with * ? and [...]. A name that finds no picture refuses the command.
QList<TLumenfoldPicture*> findPictures(const TLumenfoldAlbum& album, const QStringList& names) {
  const TLumenfoldPictureList& pictures = album.Pictures;
  QSet<const TLumenfoldPicture*> chosen;
  static const QRegularExpression wildcard(QStringLiteral("[*?[]"));
  for (const QString& name : names) {
    bool isNumber = false;
    const int id = name.toInt(&isNumber);
    int at = isNumber ? pictures.IndexOfId(id) : -1;
    if (at < 0) at = pictures.IndexOfFileName(name);
    if (at >= 0) {
      chosen.insert(pictures.Pictures(at));
      continue;
    }
    bool found = false;
    if (name.contains(wildcard)) {
      const QRegularExpression pattern = QRegularExpression::fromWildcard(name);
      for (int i = 0; i < pictures.Count(); ++i)
        if (pattern.match(pictures.Pictures(i)->OriginalFileName).hasMatch()) {
          chosen.insert(pictures.Pictures(i));
          found = true;
        }
    }
    if (!found)
      throw TCliError(QStringLiteral("no picture \"%1\" in album %2 (give an id, a file name or "
                                     "a pattern; see lumenfold-cli info --pictures)")
                          .arg(name, album.ShortName));
  }
  QList<TLumenfoldPicture*> result;
  for (int i = 0; i < pictures.Count(); ++i)
    if (chosen.contains(pictures.Pictures(i))) result.append(pictures.Pictures(i));
  return result;
}

QList<int> categoryIds(const TLumenfoldProject& project, const QStringList& names) {
  QList<int> ids;
  for (const QString& name : names)
    ids.append(FindCliCategory(project, name)->Id);
  return ids;
}

QString yesNo(bool value) {
  return value ? QStringLiteral("yes") : QStringLiteral("no");
}

QString dateText(const QDateTime& date) {
  return date.isValid() ? date.date().toString(Qt::ISODate) : QString();
}

int RunEdit(const QStringList& raw) {
  const QStringList values{QStringLiteral("title"),    QStringLiteral("title2"),
                           QStringLiteral("date"),     QStringLiteral("private"),
                           QStringLiteral("deleted"),  QStringLiteral("turn"),
                           QStringLiteral("category"), QStringLiteral("no-category")};
  const TCliArgs args(raw, values, {QStringLiteral("all"), QStringLiteral("face")});
  const bool all = args.has(QStringLiteral("all"));
  args.expectPositional(all ? 2 : 3, all ? 2 : 1 << 20, QString::fromLatin1(kUsage));
  const bool face = args.has(QStringLiteral("face"));
  if (!face && std::none_of(values.begin(), values.end(), [&](auto& o) { return args.has(o); }))
    throw TCliError(
        QStringLiteral("nothing to change; usage: lumenfold-cli %1").arg(QLatin1String(kUsage)),
        kExitUsage);

  // Every value is checked before the project is loaded.
  auto text = [&](const char* name) {
    const QString option = QLatin1String(name);
    return args.has(option) ? std::optional<QString>(args.value(option)) : std::nullopt;
  };
  const std::optional<QString> title = text("title"), title2 = text("title2");
  const bool setDate = args.has(QStringLiteral("date"));
  const QDate date =
      setDate ? CliDate(QStringLiteral("date"), args.value(QStringLiteral("date")), true) : QDate();
  std::optional<bool> isPrivate, isDeleted;
  if (const auto v = text("private")) isPrivate = CliYesNo(QStringLiteral("private"), *v);
  if (const auto v = text("deleted")) isDeleted = CliYesNo(QStringLiteral("deleted"), *v);
  const TTurnOption turn = args.has(QStringLiteral("turn"))
                               ? turnOption(args.value(QStringLiteral("turn")))
                               : TTurnOption::None;

  auto project = LoadCliProject(args.positional().first(), true);
  TLumenfoldAlbum* album = FindCliAlbum(*project, args.positional()[1]);
  const QList<int> add = categoryIds(*project, CliOptionValues(raw, QStringLiteral("category")));
  const QList<int> remove =
      categoryIds(*project, CliOptionValues(raw, QStringLiteral("no-category")));
  for (int id : add)
    if (remove.contains(id))
      throw TCliError(QStringLiteral("category %1 is both given and taken away").arg(id),
                      kExitUsage);
  QString error;
  if (!EnsurePicturesLoaded(*album, &error)) throw TCliError(WithModelErrors(error));
  QList<TLumenfoldPicture*> pictures;
  for (int i = 0; all && i < album->Pictures.Count(); ++i)
    pictures.append(album->Pictures.Pictures(i));
  if (!all) pictures = findPictures(*album, args.positional().mid(2));
  if (pictures.isEmpty())
    throw TCliError(QStringLiteral("album %1 has no pictures").arg(album->ShortName));
  if (face && pictures.size() != 1)
    throw TCliError(QStringLiteral("--face takes exactly one picture, not %1").arg(pictures.size()),
                    kExitUsage);

  // Each change is one output line FILE, FIELD, OLD, NEW, shown once it is saved.
  QList<QStringList> changes;
  const int errorsBefore = ModelErrorCount();
  for (TLumenfoldPicture* p : pictures) {
    auto note = [&](const QString& field, const QString& before, const QString& after) {
      if (before != after) changes.append({p->OriginalFileName, field, before, after});
    };
    // Titles, date and marks go through a copy, as the picture properties write them back.
    TLumenfoldPicture copy(album);
    copy.Assign(*p);
    if (title) copy.Title = *title;
    if (title2) copy.Title2 = *title2;
    if (setDate) {
      const QTime time = p->PictureDate.isValid() ? p->PictureDate.time() : QTime(0, 0);
      copy.PictureDate = date.isValid() ? QDateTime(date, time) : QDateTime();
    }
    if (isPrivate) copy.IsPrivate = *isPrivate;
    if (isDeleted) copy.IsDeleted = *isDeleted;
    note(QStringLiteral("Title"), p->Title, copy.Title);
    note(QStringLiteral("Title2"), p->Title2, copy.Title2);
    note(QStringLiteral("PictureDate"), dateText(p->PictureDate), dateText(copy.PictureDate));
    note(QStringLiteral("IsPrivate"), yesNo(p->IsPrivate), yesNo(copy.IsPrivate));
    note(QStringLiteral("IsDeleted"), yesNo(p->IsDeleted), yesNo(copy.IsDeleted));
    ApplyPictureEdits(*p, copy);

    const QString orientation = QString::number(p->Orientation);
    if (turn == TTurnOption::Left) p->RotateCCW();
    if (turn == TTurnOption::Right) p->RotateCW();
    if (turn == TTurnOption::Half) p->Rotate180();
    note(QStringLiteral("Orientation"), orientation, QString::number(p->Orientation));

    if (face && !p->IsFace) {
      note(QStringLiteral("IsFace"), yesNo(false), yesNo(true));
      p->SetIsFace(true);
    }
    if (!add.isEmpty() || !remove.isEmpty()) {
      const QString separator = QStringLiteral(", ");
      const QString before = project->Categories.CategoryTitles(p->CategoryIds, separator);
      if (ChangePictureCategories(*p, add, remove, project->Categories))
        note(QStringLiteral("Categories"), before,
             project->Categories.CategoryTitles(p->CategoryIds, separator));
    }
  }
  if (ModelErrorCount() != errorsBefore)
    throw TCliError(WithModelErrors(QStringLiteral("nothing was saved")));
  if (changes.isEmpty()) {
    std::fprintf(stderr, "nothing changed\n");
    return kExitOk;
  }
  SaveCliProject(*project);
  for (const QStringList& change : std::as_const(changes))
    PrintCliFields(change);
  return kExitOk;
}

} // namespace

LUMENFOLD_CLI_COMMAND(
    "edit",
    "edit PROJECT.lumenfold ALBUM PICTURE... | --all [--title T] [--title2 T] "
    "[--date YYYY-MM-DD] [--private yes|no] [--deleted yes|no] [--turn left|right|half] "
    "[--face] [--category NAME]... [--no-category NAME]...",
    "Changes pictures of an album (given by id or short name): each PICTURE is an id, a file "
    "name or a pattern such as '*.jpg'; --all takes every picture. An empty --date removes the "
    "date; --face makes the one picture the album's face; --category and --no-category give and "
    "take away categories by title or id. Changed titles, date and marks and turns mark the "
    "picture to be processed. Saves the project and prints FILE<TAB>FIELD<TAB>OLD<TAB>NEW for "
    "each change; an unknown album, picture or category changes nothing.",
    RunEdit);
