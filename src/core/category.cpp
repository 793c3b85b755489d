#include "core/category.h"

#include "core/picture.h"
#include "db/sqlaccess.h"
#include "db/statements.h"

void TLumenfoldCategory::Assign(const TLumenfoldCategory& source) {
  Id = source.Id;
  Title = source.Title;
  Description = source.Description;
  Title2 = source.Title2;
  Description2 = source.Description2;
  PictureCount = source.PictureCount;
}

bool TLumenfoldCategory::Equals(const TLumenfoldCategory& other) const {
  return Id == other.Id && Title == other.Title && Description == other.Description &&
         Title2 == other.Title2 && Description2 == other.Description2 &&
         PictureCount == other.PictureCount;
}

bool TLumenfoldCategory::Save() {
  return Id == -1 ? Insert() : Update();
}

bool TLumenfoldCategory::Insert() {
  const QString cs = CurrentConnectionString();
  const int id = AllocateId(cs, SQL_CATEGORY_MAX_ID);
  return id >= 0 && InsertAs(id);
}

bool TLumenfoldCategory::InsertAs(int id) {
  const QString cs = CurrentConnectionString();
  Id = id;
  const int rows = ExecSQL(
      cs, FormatSql(SQL_CATEGORY_INSERT, {SqlInt(Id), QuoteSqlText(Title), QuoteSqlText(Title2),
                                          QuoteSqlText(Description), QuoteSqlText(Description2)}));
  if (rows < 1) {
    Id = -1; // not stored
    return false;
  }
  return true;
}

bool TLumenfoldCategory::Update() {
  if (Id < 0) return false;
  return ExecSQL(CurrentConnectionString(),
                 FormatSql(SQL_CATEGORY_UPDATE,
                           {QuoteSqlText(Title), QuoteSqlText(Title2), QuoteSqlText(Description),
                            QuoteSqlText(Description2), SqlInt(Id)})) >= 0;
}

bool TLumenfoldCategory::Delete() {
  const QString cs = CurrentConnectionString();
  TSqlTransaction transaction(cs);
  if (ExecSQL(cs, FormatSql(SQL_CATEGORY_DELETE, {SqlInt(Id)})) < 0) return false;
  if (ExecSQL(cs, FormatSql(SQL_LINKS_DELETE_BY_CATEGORY, {SqlInt(Id)})) < 0) return false;
  return transaction.Commit();
}

void TLumenfoldCategory::LoadFromDataSet(const TDataSet& query) {
  Id = query.AsInteger("category_id");
  Title = query.AsString("title");
  Description = query.AsString("description");
  Title2 = query.AsString("title2");
  Description2 = query.AsString("description2");
  PictureCount = query.AsInteger("pic_count");
}

bool TLumenfoldCategoryList::LoadAll() {
  TQuery query;
  if (OpenQuery(CurrentConnectionString(), QString::fromLatin1(SQL_CATEGORIES), query) != 0)
    return false;
  while (!query->Eof()) {
    auto* category = new TLumenfoldCategory;
    category->LoadFromDataSet(*query);
    Add(category->Title, category);
    query->Next();
  }
  return CloseQuery(query) == 0;
}

int TLumenfoldCategoryList::IndexOfId(int id) const {
  for (int i = 0; i < Count(); ++i)
    if (Objects(i)->Id == id) return i;
  return -1;
}

void TLumenfoldCategoryList::Assign(const TLumenfoldCategoryList& source) {
  if (&source == this) return;
  Clear();
  for (int i = 0; i < source.Count(); ++i) {
    auto* category = new TLumenfoldCategory;
    category->Assign(*source.Objects(i));
    Add(category->Title, category);
  }
}

QString TLumenfoldCategoryList::CategoryTitles(const QStringList& categoryIds,
                                               const QString& separator) const {
  QString result;
  for (const QString& text : categoryIds) {
    bool ok = false;
    const int id = text.trimmed().toInt(&ok);
    if (!ok) continue;
    const int index = IndexOfId(id);
    if (index < 0) continue;
    result += Objects(index)->Title + separator;
  }
  if (!result.isEmpty()) result.chop(separator.size());
  return result;
}

QString TLumenfoldCategoryList::CategoryTitles(const TLumenfoldPicture* picture,
                                               const QString& separator) const {
  if (!picture) return QString();
  return CategoryTitles(picture->CategoryIds, separator);
}
