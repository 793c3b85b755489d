// A picture's rows: reading them from a result set, inserting, updating and deleting them with
// their category links.
#include "core/picture.h"

#include "core/album.h"
#include "db/connectionstring.h"
#include "db/sqlaccess.h"
#include "db/sqliterows.h"
#include "db/statements.h"

#include <QSqlQuery>

#include <algorithm>
#include <vector>

namespace {

// The database keeps 32-bit integers; category ids are kept as decimal texts.
bool categoryId(const QString& text, int& id) {
  // Ids as this program writes them: up to nine digits, read without a conversion.
  if (text.size() > 0 && text.size() <= 9 &&
      std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; })) {
    id = 0;
    for (const QChar c : text)
      id = id * 10 + (c.unicode() - u'0');
    return true;
  }
  bool ok = false;
  id = text.trimmed().toInt(&ok);
  return ok;
}

} // namespace

namespace {

template <class IndexOf> void findColumns(TPictureColumns& c, const IndexOf& indexOf) {
  auto column = [&indexOf](const char* name) {
    const int i = indexOf(name);
    if (i < 0) throw TSqlError(QStringLiteral("Column \"%1\" not found.").arg(name));
    return i;
  };
  c.Id = column("picture_id");
  c.Orientation = column("orientation");
  c.X1 = column("crop_X1");
  c.Y1 = column("crop_Y1");
  c.X2 = column("crop_X2");
  c.Y2 = column("crop_Y2");
  c.PictureDate = column("picture_date");
  c.Title = column("title");
  c.Title2 = column("title2");
  c.OriginalFileName = column("original_filename");
  c.OriginalHash = column("original_hash");
  c.OriginalDate = column("original_date");
  c.OriginalSize = column("original_size");
  c.OriginalWidth = column("original_width");
  c.OriginalHeight = column("original_height");
  c.LargeFileName = column("large_filename");
  c.LargeSize = column("large_size");
  c.MediumFileName = column("medium_filename");
  c.MediumSize = column("medium_size");
  c.ThumbFileName = column("thumb_filename");
  c.ThumbSize = column("thumb_size");
  c.SortOrder = column("sort_order");
  c.Modified = column("modified");
  c.ThumbSignatureId = column("thumb_signature_id");
  c.MediumSignatureId = column("medium_signature_id");
  c.IsDeleted = column("is_deleted");
  c.IsPrivate = column("is_private");
  c.AlbumId = column("album_id");
}

// A row of the driver's result set.
struct TDriverRow {
  const QSqlQuery& row;
  int integer(int i) const { return row.value(i).toInt(); }
  QString text(int i) const { return row.value(i).toString(); }
  bool boolean(int i) const { return row.value(i).toLongLong() != 0; }
  bool isText(int i) const { return row.value(i).metaType().id() == QMetaType::QString; }
  QVariant value(int i) const { return row.value(i); }
};

// A row read through SQLite itself.
struct TNativeRow {
  const TSqliteRows& row;
  int integer(int i) const { return row.AsInteger(i); }
  QString text(int i) const { return row.AsString(i); }
  bool boolean(int i) const { return row.AsBoolean(i); }
  bool isText(int i) const { return row.IsText(i); }
  QVariant value(int i) const { return row.Value(i); }
};

template <class Row> void loadPicture(TLumenfoldPicture& p, const Row& row, TPictureColumns& c) {
  p.Id = row.integer(c.Id);
  p.Orientation = row.integer(c.Orientation);
  p.CropRect.X1 = row.integer(c.X1);
  p.CropRect.Y1 = row.integer(c.Y1);
  p.CropRect.X2 = row.integer(c.X2);
  p.CropRect.Y2 = row.integer(c.Y2);
  if (row.isText(c.PictureDate)) {
    const QString date = row.text(c.PictureDate);
    auto known = c.Dates.constFind(date);
    if (known == c.Dates.constEnd()) {
      if (c.Dates.size() > 4096) c.Dates.clear();
      known = c.Dates.insert(date, SqlDateValue(row.value(c.PictureDate)));
    }
    p.PictureDate = *known;
  } else {
    p.PictureDate = SqlDateValue(row.value(c.PictureDate));
  }
  p.Title = row.text(c.Title);
  p.Title2 = row.text(c.Title2);
  p.OriginalFileName = row.text(c.OriginalFileName);
  p.OriginalHash = row.text(c.OriginalHash);
  p.OriginalDate = row.integer(c.OriginalDate);
  p.OriginalSize = row.integer(c.OriginalSize);
  p.OriginalWidth = row.integer(c.OriginalWidth);
  p.OriginalHeight = row.integer(c.OriginalHeight);
  p.LargeFileName = row.text(c.LargeFileName);
  p.LargeSize = row.integer(c.LargeSize);
  p.MediumFileName = row.text(c.MediumFileName);
  p.MediumSize = row.integer(c.MediumSize);
  p.ThumbFileName = row.text(c.ThumbFileName);
  p.ThumbSize = row.integer(c.ThumbSize);
  p.SortOrder = row.integer(c.SortOrder);
  p.Modified = row.boolean(c.Modified);
  p.ThumbSignatureId = row.integer(c.ThumbSignatureId);
  p.MediumSignatureId = row.integer(c.MediumSignatureId);
  p.IsDeleted = row.boolean(c.IsDeleted);
  p.IsPrivate = row.boolean(c.IsPrivate);
  p.AlbumId = row.integer(c.AlbumId);
}

} // namespace

TPictureColumns::TPictureColumns(const TDataSet& q) {
  findColumns(*this, [&q](const char* name) { return q.IndexOf(name); });
}

TPictureColumns::TPictureColumns(const TSqliteRows& rows) {
  findColumns(*this, [&rows](const char* name) { return rows.IndexOf(name); });
}

void TLumenfoldPicture::LoadFromDataSet(const TDataSet& q) {
  TPictureColumns columns(q);
  LoadFromDataSet(q, columns);
}

void TLumenfoldPicture::LoadFromDataSet(const TDataSet& q, TPictureColumns& c) {
  loadPicture(*this, TDriverRow{const_cast<TDataSet&>(q).Query()}, c);
}

void TLumenfoldPicture::LoadFromRows(const TSqliteRows& rows, TPictureColumns& c) {
  loadPicture(*this, TNativeRow{rows}, c);
}

bool TLumenfoldPicture::Save() {
  if (!Dirty) return false;
  const int oldId = Id;
  const int oldFaceId = Album ? Album->FacePictureId : -1;
  bool ok;
  {
    TSqlTransaction transaction(CurrentConnectionString());
    ok = Id == -1 ? Insert() : Update();
    // Without a commit the guard rolls everything back.
    if (ok) ok = transaction.Commit();
  }
  if (!ok) {
    // Nothing was stored: the picture keeps its unsaved state and inserts again next time.
    Id = oldId;
    if (Album && Album->FacePictureId != oldFaceId) Album->FacePictureId = oldFaceId;
    Dirty = true;
  }
  return ok;
}

namespace {

bool validCategoryIds(const QStringList& categoryIds) {
  int id;
  for (const QString& text : categoryIds)
    if (!categoryId(text, id)) return false;
  return true;
}

// Replaces the picture's category links (ids checked beforehand), through statements prepared
// once per connection; stops at the first failed statement, since the surrounding transaction is
// rolled back anyway.
bool writeLinks(const QString& cs, int pictureId, const QStringList& categoryIds) {
  if (TSqlStatement(cs, SQL_LINKS_DELETE_BY_PICTURE).Exec({SqlInt(pictureId)}) < 0) return false;
  if (categoryIds.isEmpty()) return true;
  TSqlStatement insert(cs, SQL_LINK_INSERT);
  for (const QString& text : categoryIds) {
    int id;
    categoryId(text, id);
    if (insert.Exec({SqlInt(pictureId), SqlInt(id)}) < 0) return false;
  }
  return true;
}

} // namespace

void TLumenfoldPicture::appendColumnValues(std::vector<SqlArg>& values) const {
  // The 27 non-key columns in the order both the insert and the update statements name them;
  // texts unquoted, for bound values.
  values.insert(values.end(), {SqlInt(Orientation),
                               SqlInt(CropRect.X1),
                               SqlInt(CropRect.Y1),
                               SqlInt(CropRect.X2),
                               SqlInt(CropRect.Y2),
                               SqlDateText(PictureDate),
                               Title,
                               Title2,
                               OriginalFileName,
                               OriginalHash,
                               SqlInt(OriginalDate),
                               SqlInt(OriginalSize),
                               SqlInt(OriginalWidth),
                               SqlInt(OriginalHeight),
                               LargeFileName,
                               SqlInt(LargeSize),
                               MediumFileName,
                               SqlInt(MediumSize),
                               ThumbFileName,
                               SqlInt(ThumbSize),
                               SqlInt(SortOrder),
                               SqlInt(Modified),
                               SqlInt(ThumbSignatureId),
                               SqlInt(MediumSignatureId),
                               SqlInt(IsDeleted),
                               SqlInt(IsPrivate),
                               SqlInt(AlbumId)});
}

bool TLumenfoldPicture::Insert() {
  return insertRow(-1);
}

bool TLumenfoldPicture::insertRow(int newId, std::vector<std::pair<int, int>>* links) {
  const QString cs = CurrentConnectionString();
  if (!validCategoryIds(CategoryIds)) return false;
  if (newId < 0) newId = AllocateId(cs, SQL_PICTURE_MAX_ID);
  if (newId < 0) return false;
  Id = newId;
  std::vector<SqlArg> values{SqlInt(Id)};
  appendColumnValues(values);
  bool ok = TSqlStatement(cs, SQL_PICTURE_INSERT).Exec(values) >= 0;
  if (!ok) return false;
  if (links) {
    int category;
    for (const QString& text : std::as_const(CategoryIds))
      if (categoryId(text, category)) links->emplace_back(Id, category);
  } else if (!writeLinks(cs, Id, CategoryIds)) {
    return false;
  }
  if (IsFace && Album) {
    Album->FacePictureId = Id;
    Album->FacePicture = this;
    // Only the album row: the album's other pictures are written by their own save.
    if (!Album->UpdateRow()) ok = false;
  }
  if (ok) Dirty = false;
  return ok;
}

bool TLumenfoldPicture::writeNewLinks(int firstId, int lastId,
                                      const std::vector<std::pair<int, int>>& links) {
  const QString cs = CurrentConnectionString();
  if (ExecSQL(cs, FormatSql(SQL_LINKS_DELETE_BY_PICTURE_RANGE, {SqlInt(firstId), SqlInt(lastId)})) <
      0)
    return false;
  if (links.empty()) return true;
  TSqlStatement single(cs, SQL_LINK_INSERT);
  size_t at = 0;
  if (IsFileProvider(GetConnectionProvider(cs))) {
    // Whole batches in one statement each, in the order listed (pairs of one picture keep
    // their order); the rest one by one.
    TSqlStatement batch(cs, SQL_LINK_INSERT_BATCH);
    std::vector<SqlArg> values(2 * size_t(kLinkBatch));
    for (; links.size() - at >= size_t(kLinkBatch); at += kLinkBatch) {
      for (size_t i = 0; i < size_t(kLinkBatch); ++i) {
        values[2 * i] = SqlInt(links[at + i].first);
        values[2 * i + 1] = SqlInt(links[at + i].second);
      }
      if (batch.Exec(values) < 0) return false;
    }
  }
  return std::all_of(links.begin() + std::ptrdiff_t(at), links.end(),
                     [&](const std::pair<int, int>& link) {
                       return single.Exec({SqlInt(link.first), SqlInt(link.second)}) >= 0;
                     });
}

bool TLumenfoldPicture::Update() {
  const QString cs = CurrentConnectionString();
  if (!validCategoryIds(CategoryIds)) return false;
  std::vector<SqlArg> values;
  appendColumnValues(values);
  values.push_back(SqlInt(Id));
  const bool ok = TSqlStatement(cs, SQL_PICTURE_UPDATE).Exec(values) >= 0;
  if (!ok || !writeLinks(cs, Id, CategoryIds)) return false;
  Dirty = false;
  return true;
}

bool TLumenfoldPicture::Delete() {
  const QString cs = CurrentConnectionString();
  TSqlTransaction transaction(cs);
  const bool ok = ExecSQL(cs, FormatSql(SQL_PICTURE_DELETE, {SqlInt(Id)})) >= 0 &&
                  ExecSQL(cs, FormatSql(SQL_LINKS_DELETE_BY_PICTURE, {SqlInt(Id)})) >= 0;
  return ok && transaction.Commit();
}

void RecordOriginalFacts(TLumenfoldPicture& picture) {
  if (picture.Id != -1 && !picture.Dirty) {
    picture.Dirty = true; // for Save only; SetDirty would mark the album and the project
    if (picture.Save()) return;
  }
  picture.SetDirty(true);
}
