#include "cli/clialbum.h"

#include "cli/clicommand.h"
#include "core/album.h"
#include "core/category.h"
#include "core/project.h"
#include "util/helpers.h"

#include <cstdio>

TLumenfoldAlbum* FindCliAlbum(const TLumenfoldProject& project, const QString& idOrName) {
  const TLumenfoldAlbumList& albums = project.Albums;
  bool isNumber = false;
  const int id = idOrName.toInt(&isNumber);
  if (isNumber) {
    const int at = albums.IndexOfId(id);
    if (at >= 0) return albums.Albums(at);
  }
  for (Qt::CaseSensitivity cs : {Qt::CaseSensitive, Qt::CaseInsensitive}) {
    QList<TLumenfoldAlbum*> found;
    for (int i = 0; i < albums.Count(); ++i)
      if (albums.Albums(i)->ShortName.compare(idOrName, cs) == 0) found.append(albums.Albums(i));
    if (found.size() == 1) return found.first();
    if (found.size() > 1) {
      QStringList ids;
      for (const TLumenfoldAlbum* a : found)
        ids.append(QString::number(a->Id));
      throw TCliError(QStringLiteral("album name \"%1\" is ambiguous; use one of the ids %2")
                          .arg(idOrName, ids.join(QStringLiteral(", "))));
    }
  }
  throw TCliError(QStringLiteral("no album \"%1\" in the project (give an id or a short name; "
                                 "see lumenfold-cli info)")
                      .arg(idOrName));
}

QStringList CliOptionValues(const QStringList& args, const QString& name) {
  QStringList values;
  const QString plain = QStringLiteral("--") + name;
  const QString withValue = plain + QLatin1Char('=');
  for (int i = 0; i < args.size(); ++i) {
    if (args[i] == QLatin1String("--")) break;
    if (args[i] == plain && i + 1 < args.size())
      values.append(args[++i]);
    else if (args[i].startsWith(withValue))
      values.append(args[i].mid(withValue.size()));
  }
  return values;
}

void PrintCliFields(const QStringList& fields) {
  QStringList clean;
  for (const QString& f : fields)
    clean.append(EscapeControlCharacters(f));
  std::fputs((clean.join(QLatin1Char('\t')) + QLatin1Char('\n')).toLocal8Bit().constData(), stdout);
}

TLumenfoldCategory* FindCliCategory(const TLumenfoldProject& project, const QString& titleOrId) {
  const TLumenfoldCategoryList& categories = project.Categories;
  for (Qt::CaseSensitivity cs : {Qt::CaseSensitive, Qt::CaseInsensitive}) {
    QList<TLumenfoldCategory*> found;
    for (int i = 0; i < categories.Count(); ++i)
      if (categories.Categories(i)->Title.compare(titleOrId, cs) == 0)
        found.append(categories.Categories(i));
    if (found.size() == 1) return found.first();
    if (found.size() > 1) {
      QStringList ids;
      for (const TLumenfoldCategory* c : found)
        ids.append(QString::number(c->Id));
      throw TCliError(QStringLiteral("category name \"%1\" is ambiguous; use one of the ids %2")
                          .arg(titleOrId, ids.join(QStringLiteral(", "))));
    }
  }
  bool isNumber = false;
  const int id = titleOrId.toInt(&isNumber);
  if (isNumber && categories.IndexOfId(id) >= 0)
    return categories.Categories(categories.IndexOfId(id));
  throw TCliError(QStringLiteral("no category \"%1\" in the project (give a title or an id; see "
                                 "lumenfold-cli category PROJECT list)")
                      .arg(titleOrId));
}

bool CliYesNo(const QString& option, const QString& value) {
  if (value.compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0) return true;
  if (value.compare(QLatin1String("no"), Qt::CaseInsensitive) == 0) return false;
  throw TCliError(QStringLiteral("--%1 must be yes or no, not \"%2\"").arg(option, value),
                  kExitUsage);
}

QDate CliDate(const QString& option, const QString& value, bool allowEmpty) {
  if (allowEmpty && value.isEmpty()) return QDate();
  const QDate date = QDate::fromString(value, QStringLiteral("yyyy-MM-dd"));
  if (!date.isValid())
    throw TCliError(
        QStringLiteral("--%1 must be a date written YYYY-MM-DD%2, not \"%3\"")
            .arg(option, allowEmpty ? QStringLiteral(" (or empty for none)") : QString(), value),
        kExitUsage);
  return date;
}
