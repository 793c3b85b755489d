#include "core/captionimport.h"

#include "core/category.h"
#include "core/picture.h"
#include "core/project.h"
#include "db/sqlaccess.h"
#include "db/statements.h"
#include "util/programfolder.h"
#include "util/tracer.h"
#include "util/userprompt.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

TCaptionCategories::TCaptionCategories(TLumenfoldProject& project) : project_(project) {
  for (int i = 0; i < project.Categories.Count(); ++i) {
    const TLumenfoldCategory* c = project.Categories.Categories(i);
    if (!c) continue;
    const QString key = c->Title.trimmed().toCaseFolded();
    if (!idByKey_.contains(key)) idByKey_.insert(key, QString::number(c->Id));
  }
}

QString TCaptionCategories::IdOf(const QString& title, QStringList* created) {
  for (const auto& [text, id] : recent_)
    if (text == title) return id;
  const QString id = idOf(title, created);
  if (id.isEmpty()) return id;
  constexpr size_t kRecent = 16;
  if (recent_.size() < kRecent)
    recent_.emplace_back(title, id);
  else
    recent_[nextRecent_++ % kRecent] = {title, id};
  return id;
}

QString TCaptionCategories::idOf(const QString& title, QStringList* created) {
  const QString key = title.toCaseFolded();
  if (const auto it = idByKey_.constFind(key); it != idByKey_.constEnd()) return *it;
  // Ids are MAX + 1 when Save() writes them; nothing else makes categories in between.
  if (nextId_ < 0) nextId_ = AllocateId(CurrentConnectionString(), SQL_CATEGORY_MAX_ID);
  if (nextId_ < 0) return {};
  auto* category = new TLumenfoldCategory;
  category->Id = nextId_++;
  category->Title = title;
  category->Title2 = title;
  category->Description.clear();
  category->Description2.clear();
  project_.Categories.Add(title, category);
  made_.append(category);
  if (created) created->append(title);
  return *idByKey_.insert(key, QString::number(category->Id));
}

bool TCaptionCategories::Save(const QList<TLumenfoldPicture*>& pictures) {
  if (made_.isEmpty()) return true;
  bool ok;
  {
    TSqlTransaction transaction(CurrentConnectionString());
    ok = std::all_of(made_.begin(), made_.end(),
                     [](TLumenfoldCategory* c) { return c->InsertAs(c->Id); }) &&
         transaction.Commit();
  }
  if (!ok) {
    for (TLumenfoldCategory* c : std::as_const(made_)) {
      const QString id = QString::number(c->Id);
      for (TLumenfoldPicture* p : pictures)
        if (p) p->CategoryIds.removeAll(id);
      idByKey_.remove(c->Title.toCaseFolded());
      const int index = project_.Categories.IndexOfId(c->Id);
      if (index >= 0) project_.Categories.Delete(index);
    }
    nextId_ = -1;
    recent_.clear();
  }
  made_.clear();
  return ok;
}

QStringList SiteLanguageCodes(const TLumenfoldProject& project) {
  QStringList codes{QString(), QString()};
  if (project.SiteTemplate.trimmed().isEmpty()) return codes;
  QFile file(DataFolder() + QStringLiteral("templates/") + project.SiteTemplate +
             QStringLiteral("/settings.json"));
  if (!file.open(QIODevice::ReadOnly)) return codes;
  const QJsonArray languages = QJsonDocument::fromJson(file.read(1 << 20))
                                   .object()
                                   .value(QLatin1String("languages"))
                                   .toArray();
  for (int i = 0; i < 2 && i < languages.size(); ++i)
    codes[i] = languages[i].toObject().value(QLatin1String("code")).toString().trimmed();
  return codes;
}

TEmbeddedCaptions ReadPictureCaptions(const TLumenfoldProject& project,
                                      const TLumenfoldPicture& picture) {
  const QStringList codes = SiteLanguageCodes(project);
  return ReadEmbeddedCaptions(picture.OriginalPath(), codes[0], codes[1]);
}

bool CaptionsReplaceTitles(const TLumenfoldPicture& picture, const TEmbeddedCaptions& captions) {
  auto replaces = [](const QString& own, const QString& file) {
    return !own.trimmed().isEmpty() && !file.isEmpty() && own.trimmed() != file;
  };
  return replaces(picture.Title, captions.Title) || replaces(picture.Title2, captions.Title2);
}

bool ApplyEmbeddedCaptions(TCaptionCategories& categories, TLumenfoldPicture& picture,
                           const TEmbeddedCaptions& captions, bool replaceTitles,
                           QStringList* created) {
  bool titles = false;
  auto take = [&](QString& own, const QString& file) {
    if (file.isEmpty() || own.trimmed() == file) return;
    if (!own.trimmed().isEmpty() && !replaceTitles) return;
    own = file;
    titles = true;
  };
  take(picture.Title, captions.Title);
  take(picture.Title2, captions.Title2);
  bool linked = false;
  picture.CategoryIds.reserve(picture.CategoryIds.size() + captions.Keywords.size());
  for (const QString& keyword : captions.Keywords) {
    const QString id = categories.IdOf(keyword, created);
    if (id.isEmpty() || picture.CategoryIds.contains(id)) continue; // a failure has been shown
    picture.CategoryIds.append(id);
    linked = true;
  }
  if (titles) picture.SetModified(true);
  if (titles || linked) picture.SetDirty(true);
  return titles || linked;
}

QStringList TReadCaptionsResult::Summary() const {
  QStringList lines;
  lines << QStringLiteral("Captions read from %1 picture file(s); %2 picture(s) changed.")
               .arg(Pictures)
               .arg(Changed);
  if (TitlesKept > 0)
    lines << QStringLiteral("%1 picture(s) kept their own titles, which differ from their files.")
                 .arg(TitlesKept);
  if (!NewCategories.isEmpty())
    lines << QStringLiteral("New categories: %1.").arg(NewCategories.join(QStringLiteral(", ")));
  for (const QString& problem : Problems)
    lines << problem;
  return lines;
}

TReadCaptionsResult ReadCaptionsIntoPictures(TLumenfoldProject& project,
                                             const QList<TLumenfoldPicture*>& pictures,
                                             TCaptionTitles titles) {
  TReadCaptionsResult result;
  const QStringList codes = SiteLanguageCodes(project);
  QList<TEmbeddedCaptions> read;
  int replacing = 0;
  for (TLumenfoldPicture* p : pictures) {
    read.append(p ? ReadEmbeddedCaptions(p->OriginalPath(), codes[0], codes[1])
                  : TEmbeddedCaptions());
    if (!p) continue;
    ++result.Pictures;
    if (!read.last().Problem.isEmpty())
      result.Problems << QStringLiteral("%1: %2").arg(p->OriginalFileName, read.last().Problem);
    if (CaptionsReplaceTitles(*p, read.last())) ++replacing;
  }
  bool replace = titles == TCaptionTitles::Replace;
  if (titles == TCaptionTitles::Ask && replacing > 0)
    replace = Prompt()->confirm(
        QStringLiteral("%1 picture(s) have titles of their own that differ from the titles in "
                       "their files. Replace them with the files' titles?")
            .arg(replacing));
  if (!replace) result.TitlesKept = replacing;
  TCaptionCategories categories(project);
  for (int i = 0; i < pictures.size(); ++i)
    if (pictures[i] &&
        ApplyEmbeddedCaptions(categories, *pictures[i], read[i], replace, &result.NewCategories))
      ++result.Changed;
  if (!categories.Save(pictures)) {
    result.Problems << QStringLiteral("The categories made from the keywords (%1) could not be "
                                      "saved; the pictures are not linked to them.")
                           .arg(result.NewCategories.join(QStringLiteral(", ")));
    result.NewCategories.clear();
  }
  return result;
}
