// lumenfold-cli category: lists, adds, renames and removes the project's categories through the
// category editor's write-back.
#include "cli/clialbum.h"
#include "cli/clicommand.h"
#include "core/category.h"
#include "core/project.h"

#include <cstdio>

namespace {

constexpr const char* kUsage =
    "category PROJECT.lumenfold list | add TITLE | rename NAME TITLE | remove NAME "
    "[--title2 T] [--description T] [--description2 T]";

// A title no other category has (ignoring letter case): categories are named by their titles here.
void checkTitle(const TLumenfoldProject& project, const QString& title,
                const TLumenfoldCategory* except) {
  if (title.trimmed().isEmpty())
    throw TCliError(QStringLiteral("the title of a category must not be empty"), kExitUsage);
  for (int i = 0; i < project.Categories.Count(); ++i) {
    const TLumenfoldCategory* c = project.Categories.Categories(i);
    if (c != except && c->Title.compare(title, Qt::CaseInsensitive) == 0)
      throw TCliError(QStringLiteral("there is a category \"%1\" already (id %2)")
                          .arg(c->Title, QString::number(c->Id)));
  }
}

int RunCategory(const QStringList& raw) {
  const QString title2 = QStringLiteral("title2"), description = QStringLiteral("description"),
                description2 = QStringLiteral("description2");
  const TCliArgs args(raw, {title2, description, description2});
  const QStringList& pos = args.positional();
  const QString action = pos.value(1);
  const int wanted = action == QLatin1String("list")     ? 2
                     : action == QLatin1String("add")    ? 3
                     : action == QLatin1String("remove") ? 3
                     : action == QLatin1String("rename") ? 4
                                                         : -1;
  args.expectPositional(wanted, wanted, QString::fromLatin1(kUsage));
  const bool listing = action == QLatin1String("list");
  if ((listing || action == QLatin1String("remove")) &&
      (args.has(title2) || args.has(description) || args.has(description2)))
    throw TCliError(
        QStringLiteral("%1 takes no --title2, --description or --description2").arg(action),
        kExitUsage);

  auto project = LoadCliProject(pos.first(), !listing);
  if (listing) {
    for (int i = 0; i < project->Categories.Count(); ++i) {
      const TLumenfoldCategory* c = project->Categories.Categories(i);
      PrintCliFields({QString::number(c->Id), c->Title, c->Title2});
    }
    return kExitOk;
  }

  // The change is made on a copy of the list and written back as the category editor's OK does.
  TLumenfoldCategoryList copy;
  copy.Assign(project->Categories);
  QStringList report;
  if (action == QLatin1String("remove")) {
    const TLumenfoldCategory* c = FindCliCategory(*project, pos[2]);
    const int pictures = CategoryPictureCount(*project, c->Id);
    if (pictures < 0)
      throw TCliError(WithModelErrors(QStringLiteral("cannot count the pictures of category "
                                                     "\"%1\"; nothing was removed")
                                          .arg(c->Title)));
    report = {QStringLiteral("removed"), QString::number(c->Id), c->Title,
              pictures == 1 ? QStringLiteral("1 picture lost it")
                            : QStringLiteral("%1 pictures lost it").arg(pictures)};
    copy.Delete(copy.IndexOfId(c->Id));
  } else {
    TLumenfoldCategory* c = nullptr;
    if (action == QLatin1String("add")) {
      checkTitle(*project, pos[2], nullptr);
      c = new TLumenfoldCategory;
      c->Title2 = pos[2];
      c->Description.clear();
      c->Description2.clear();
      copy.Add(pos[2], c);
      report = {QStringLiteral("added"), pos[2]};
    } else {
      const TLumenfoldCategory* old = FindCliCategory(*project, pos[2]);
      checkTitle(*project, pos[3], old);
      const int at = copy.IndexOfId(old->Id);
      c = copy.Categories(at);
      copy.SetString(at, pos[3]);
      report = {QStringLiteral("renamed"), QString::number(old->Id), old->Title, pos[3]};
    }
    c->Title = pos.last();
    if (args.has(title2)) c->Title2 = args.value(title2);
    if (args.has(description)) c->Description = args.value(description);
    if (args.has(description2)) c->Description2 = args.value(description2);
  }
  const int errorsBefore = ModelErrorCount();
  if (!ApplyCategoryEdits(*project, copy) || ModelErrorCount() != errorsBefore)
    throw TCliError(WithModelErrors(QStringLiteral("the categories could not be written")));
  if (report.first() == QLatin1String("added"))
    report.insert(1, QString::number(FindCliCategory(*project, pos[2])->Id));
  PrintCliFields(report);
  return kExitOk;
}

} // namespace

LUMENFOLD_CLI_COMMAND("category",
                      "category PROJECT.lumenfold list | add TITLE | rename NAME TITLE | remove "
                      "NAME [--title2 T] [--description T] [--description2 T]",
                      "Lists the categories (ID<TAB>TITLE<TAB>TITLE2), adds one (second title the "
                      "same unless given), renames one or removes one (given by title or id) from "
                      "the project and every picture. Titles must differ, ignoring letter case.",
                      RunCategory);
