// Write-back of the category editor and the facts its questions need.
#include "core/category.h"

#include "core/picture.h"
#include "core/project.h"
#include "db/sqlaccess.h"
#include "db/statements.h"

#include <QSet>

bool ApplyCategoryEdits(TLumenfoldProject& project, const TLumenfoldCategoryList& copy,
                        bool* deleted) {
  TLumenfoldCategoryList& list = project.Categories;
  bool ok = true;
  if (deleted) *deleted = false;
  for (int i = list.Count() - 1; i >= 0; --i) {
    TLumenfoldCategory* category = list.Categories(i);
    const int index = copy.IndexOfId(category->Id);
    if (index < 0) {
      if (!category->Delete()) {
        ok = false;
        continue;
      }
      project.RemoveCategoryFromPictures(category->Id);
      list.Delete(i);
      if (deleted) *deleted = true;
    } else if (!category->Equals(*copy.Categories(index))) {
      category->Assign(*copy.Categories(index));
      list.SetString(i, category->Title);
      ok = category->Update() && ok;
    }
  }
  for (int i = 0; i < copy.Count(); ++i) {
    const TLumenfoldCategory* source = copy.Categories(i);
    if (source->Id != -1 && list.IndexOfId(source->Id) >= 0) continue;
    auto* category = new TLumenfoldCategory;
    category->Assign(*source);
    category->Id = -1;
    const int index = list.Add(category->Title, category);
    if (!category->Insert()) {
      list.Delete(index);
      ok = false;
    }
  }
  return ok;
}

int CategoryPictureCount(const TLumenfoldProject& project, int categoryId,
                         const QList<TLumenfoldPicture*>& except) {
  QSet<int> stored;
  if (categoryId >= 0) {
    TQuery query;
    if (OpenQuery(CurrentConnectionString(),
                  FormatSql(SQL_CATEGORY_LINKED_PICTURES, {SqlInt(categoryId)}), query) != 0)
      return -1;
    for (; !query->Eof(); query->Next())
      stored.insert(query->AsInteger("picture_id"));
    if (CloseQuery(query) != 0) return -1;
  }
  const QSet<const TLumenfoldPicture*> left(except.cbegin(), except.cend());
  QSet<int> leftIds;
  for (const TLumenfoldPicture* picture : except)
    if (picture->Id >= 0) leftIds.insert(picture->Id);
  stored -= leftIds;
  // A loaded picture counts as it is in memory: its unsaved edits win over its stored links.
  const QString id = QString::number(categoryId);
  int count = 0;
  for (int a = 0; a < project.Albums.Count(); ++a) {
    const TLumenfoldPictureList& pictures = project.Albums.Albums(a)->Pictures;
    for (int p = 0; p < pictures.Count(); ++p) {
      const TLumenfoldPicture* picture = pictures.Pictures(p);
      if (picture->Id >= 0) stored.remove(picture->Id);
      if (left.contains(picture) || (picture->Id >= 0 && leftIds.contains(picture->Id))) continue;
      if (picture->CategoryIds.contains(id)) ++count;
    }
  }
  return count + int(stored.size());
}

bool DropUnknownCategories(TLumenfoldPicture& picture, const TLumenfoldCategoryList& categories) {
  const qsizetype before = picture.CategoryIds.size();
  picture.CategoryIds.removeIf([&](const QString& text) {
    bool ok = false;
    const int id = text.trimmed().toInt(&ok);
    return !ok || categories.IndexOfId(id) < 0;
  });
  return picture.CategoryIds.size() != before;
}

bool ChangePictureCategories(TLumenfoldPicture& picture, const QList<int>& add,
                             const QList<int>& remove, const TLumenfoldCategoryList& categories) {
  const QStringList before = picture.CategoryIds;
  for (int id : remove)
    picture.CategoryIds.removeAll(QString::number(id));
  for (int id : add)
    if (!picture.CategoryIds.contains(QString::number(id)))
      picture.CategoryIds.append(QString::number(id));
  DropUnknownCategories(picture, categories);
  picture.SetDirty(true);
  return picture.CategoryIds != before;
}
