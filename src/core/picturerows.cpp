// A picture's rows: reading them from a result set, inserting, updating and deleting them with
// their category links.
#include "core/picture.h"

#include "core/album.h"
#include "db/connectionstring.h"
#include "db/sqlaccess.h"
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

int column(const TDataSet& q, const char* name) {
  const int i = q.IndexOf(name);
  if (i < 0) throw TSqlError(QStringLiteral("Column \"%1\" not found.").arg(name));
  return i;
}

} // namespace

TPictureColumns::TPictureColumns(const TDataSet& q)
    : Id(column(q, "picture_id")), Orientation(column(q, "orientation")), X1(column(q, "crop_X1")),
      Y1(column(q, "crop_Y1")), X2(column(q, "crop_X2")), Y2(column(q, "crop_Y2")),
      PictureDate(column(q, "picture_date")), Title(column(q, "title")),
      Title2(column(q, "title2")), OriginalFileName(column(q, "original_filename")),
      OriginalHash(column(q, "original_hash")), OriginalDate(column(q, "original_date")),
      OriginalSize(column(q, "original_size")), OriginalWidth(column(q, "original_width")),
      OriginalHeight(column(q, "original_height")), LargeFileName(column(q, "large_filename")),
      LargeSize(column(q, "large_size")), MediumFileName(column(q, "medium_filename")),
      MediumSize(column(q, "medium_size")), ThumbFileName(column(q, "thumb_filename")),
      ThumbSize(column(q, "thumb_size")), SortOrder(column(q, "sort_order")),
      Modified(column(q, "modified")), ThumbSignatureId(column(q, "thumb_signature_id")),
      MediumSignatureId(column(q, "medium_signature_id")), IsDeleted(column(q, "is_deleted")),
      IsPrivate(column(q, "is_private")), AlbumId(column(q, "album_id")) {}

void TLumenfoldPicture::LoadFromDataSet(const TDataSet& q) {
  TPictureColumns columns(q);
  LoadFromDataSet(q, columns);
}

void TLumenfoldPicture::LoadFromDataSet(const TDataSet& q, TPictureColumns& c) {
  const QSqlQuery& row = const_cast<TDataSet&>(q).Query();
  auto integer = [&row](int i) { return row.value(i).toInt(); };
  auto text = [&row](int i) { return row.value(i).toString(); };
  auto boolean = [&row](int i) { return row.value(i).toLongLong() != 0; };
  Id = integer(c.Id);
  Orientation = integer(c.Orientation);
  CropRect.X1 = integer(c.X1);
  CropRect.Y1 = integer(c.Y1);
  CropRect.X2 = integer(c.X2);
  CropRect.Y2 = integer(c.Y2);
  const QVariant date = row.value(c.PictureDate);
  if (date.metaType().id() == QMetaType::QString) {
    auto known = c.Dates.constFind(date.toString());
    if (known == c.Dates.constEnd()) {
      if (c.Dates.size() > 4096) c.Dates.clear();
      known = c.Dates.insert(date.toString(), SqlDateValue(date));
    }
    PictureDate = *known;
  } else {
    PictureDate = SqlDateValue(date);
  }
  Title = text(c.Title);
  Title2 = text(c.Title2);
  OriginalFileName = text(c.OriginalFileName);
  OriginalHash = text(c.OriginalHash);
  OriginalDate = integer(c.OriginalDate);
  OriginalSize = integer(c.OriginalSize);
  OriginalWidth = integer(c.OriginalWidth);
  OriginalHeight = integer(c.OriginalHeight);
  LargeFileName = text(c.LargeFileName);
  LargeSize = integer(c.LargeSize);
  MediumFileName = text(c.MediumFileName);
  MediumSize = integer(c.MediumSize);
  ThumbFileName = text(c.ThumbFileName);
  ThumbSize = integer(c.ThumbSize);
  SortOrder = integer(c.SortOrder);
  Modified = boolean(c.Modified);
  ThumbSignatureId = integer(c.ThumbSignatureId);
  MediumSignatureId = integer(c.MediumSignatureId);
  IsDeleted = boolean(c.IsDeleted);
  IsPrivate = boolean(c.IsPrivate);
  AlbumId = integer(c.AlbumId);
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
