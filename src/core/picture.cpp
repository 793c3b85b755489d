#include "core/picture.h"

#include "core/album.h"
#include "core/previewcache.h"
#include "core/project.h"
#include "core/renaming.h"
#include "db/connectionstring.h"
#include "db/sqlaccess.h"
#include "db/statements.h"
#include "util/helpers.h"
#include "util/imaging/imageerror.h"
#include "util/imaging/jpegcodec.h"
#include "util/programfolder.h"
#include "util/safefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSqlQuery>

#include <algorithm>

namespace {

QString separator() {
  return QString(QDir::separator());
}

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

TLumenfoldPicture::TLumenfoldPicture(TLumenfoldAlbum* album) : Album(album) {
  if (album) AlbumId = album->Id;
}

TLumenfoldPicture::~TLumenfoldPicture() {
  if (thumbnail_) SetThumbnail(nullptr);
}

TLumenfoldProject* TLumenfoldPicture::Project() const {
  return Album ? Album->Project : nullptr;
}

void TLumenfoldPicture::Assign(const TLumenfoldPicture& s) {
  if (&s == this) return;
  AssignRecord(s);
  // The copy shares the bitmap; the list keeps one entry per holder.
  SetThumbnail(s.Thumbnail());
  PreviewError = s.PreviewError;
}

void TLumenfoldPicture::AssignRecord(const TLumenfoldPicture& s) {
  if (&s == this) return;
  IsFace = s.IsFace;
  Dirty = s.Dirty;
  Modified = s.Modified;
  Id = s.Id;
  Orientation = s.Orientation;
  CropRect = s.CropRect;
  PictureDate = s.PictureDate;
  Title = s.Title;
  Title2 = s.Title2;
  OriginalFileName = s.OriginalFileName;
  OriginalHash = s.OriginalHash;
  OriginalDate = s.OriginalDate;
  OriginalSize = s.OriginalSize;
  OriginalWidth = s.OriginalWidth;
  OriginalHeight = s.OriginalHeight;
  LargeFileName = s.LargeFileName;
  LargeSize = s.LargeSize;
  MediumFileName = s.MediumFileName;
  MediumSize = s.MediumSize;
  ThumbFileName = s.ThumbFileName;
  ThumbSize = s.ThumbSize;
  IsDeleted = s.IsDeleted;
  IsPrivate = s.IsPrivate;
  AlbumId = s.AlbumId;
  SortOrder = s.SortOrder;
  Album = s.Album;
  CategoryIds = s.CategoryIds;
  ThumbSignatureId = s.ThumbSignatureId;
  MediumSignatureId = s.MediumSignatureId;
}

bool TLumenfoldPicture::Equals(const TLumenfoldPicture& o) const {
  return IsFace == o.IsFace && Orientation == o.Orientation && CropRect == o.CropRect &&
         Id == o.Id && PictureDate == o.PictureDate && Title == o.Title && Title2 == o.Title2 &&
         OriginalFileName == o.OriginalFileName && OriginalDate == o.OriginalDate &&
         OriginalSize == o.OriginalSize && SortOrder == o.SortOrder && IsDeleted == o.IsDeleted &&
         IsPrivate == o.IsPrivate && AlbumId == o.AlbumId &&
         ThumbSignatureId == o.ThumbSignatureId && MediumSignatureId == o.MediumSignatureId &&
         CategoryIds == o.CategoryIds;
}

void TLumenfoldPicture::SetIsFace(bool value) {
  if (IsFace == value) return;
  if (!value) {
    IsFace = false;
    return;
  }
  if (Album) {
    for (int i = 0; i < Album->Pictures.Count(); ++i)
      Album->Pictures.Pictures(i)->IsFace = false;
  }
  IsFace = true;
  SetDirty(true);
  if (Album) {
    Album->FacePictureId = Id;
    Album->FacePicture = this;
    Album->SetDirty(true);
  }
}

void TLumenfoldPicture::SetModified(bool value) {
  if (Modified == value) return;
  Modified = value;
  if (value && Album) Album->HasModified = true;
}

void TLumenfoldPicture::SetDirty(bool value) {
  Dirty = value;
  if (value && Album) Album->SetDirty(true);
}

void TLumenfoldPicture::SetThumbnail(const TLumenfoldBitmap& bitmap) {
  QMutexLocker lock(&ThumbnailLock());
  if (thumbnail_ == bitmap) return;
  if (thumbnail_) BitmapList().Remove(thumbnail_);
  thumbnail_ = bitmap;
  if (thumbnail_ && BitmapList().Add(thumbnail_) < 0) {
    // Only 32-bit bitmaps are kept; anything else is converted once here.
    thumbnail_ = MakeBitmap(*bitmap);
    if (thumbnail_) BitmapList().Add(thumbnail_);
  }
  // Entering may drop older previews, never this one.
  if (thumbnail_)
    PreviewCache().enter(this, thumbnail_->sizeInBytes());
  else
    PreviewCache().leave(this);
}

TLumenfoldBitmap TLumenfoldPicture::Thumbnail() const {
  QMutexLocker lock(&ThumbnailLock());
  if (thumbnail_) PreviewCache().touch(this);
  return thumbnail_;
}

void TLumenfoldPicture::LoadThumbnail(int step) {
  // A missing, torn or damaged preview is remade by the thumbnail loader.
  QImage image = ReadPreviewFile(PreviewStepPath(TempThumbPath(), step));
  if (!image.isNull()) SetThumbnail(MakeBitmap(std::move(image)));
}

QString TLumenfoldPicture::NameProblem() const {
  if (OriginalFileName.isEmpty()) return QString();
  const QString why = PlainFileNameProblem(OriginalFileName);
  if (why.isEmpty()) return QString();
  return QStringLiteral("The picture \"%1\" of album \"%2\" is skipped: %3.")
      .arg(OriginalFileName, Album ? Album->ShortName : QString(), why);
}

QString TLumenfoldPicture::OriginalPath() const {
  if (!NameProblem().isEmpty()) return QString();
  return IncludeTrailingSeparator(Album ? Album->Path : QString()) + OriginalFileName;
}

QString GeneratedFileName(const TLumenfoldProject& project, TGeneratedSize size,
                          const QString& originalFileName) {
  const QString& folder = size == TGeneratedSize::Large    ? project.LargeFolder
                          : size == TGeneratedSize::Medium ? project.MediumFolder
                                                           : project.ThumbFolder;
  const QString& prefix = size == TGeneratedSize::Large    ? project.LargePrefix
                          : size == TGeneratedSize::Medium ? project.MediumPrefix
                                                           : project.ThumbPrefix;
  return folder + separator() +
         ApplyFileNameCase(prefix + GeneratedBaseName(originalFileName), project.FileNameCase);
}

QString GeneratedNameClash(const TLumenfoldProject* project, const QStringList& originalNames,
                           int known) {
  QHash<QString, QString> byFile; // generated name, case folded -> original name
  byFile.reserve(originalNames.size());
  for (int i = 0; i < originalNames.size(); ++i) {
    const QString& name = originalNames[i];
    const QString file = project ? GeneratedFileName(*project, TGeneratedSize::Medium, name) : name;
    const QString key = file.toCaseFolded();
    const auto other = byFile.constFind(key);
    if (other == byFile.constEnd() || i < known) {
      byFile.insert(key, name);
      continue;
    }
    return QStringLiteral("The pictures \"%1\" and \"%2\" would both be written as \"%3\"; "
                          "rename one of them.")
        .arg(*other, name, QDir::fromNativeSeparators(file));
  }
  return QString();
}

QString TLumenfoldPicture::GeneratedPath(TGeneratedSize size) const {
  if (!NameProblem().isEmpty()) return QString();
  const TLumenfoldProject* p = Project();
  const QString folder = IncludeTrailingSeparator(Album ? Album->Path : QString());
  if (!p) return folder + separator() + OriginalFileName;
  return folder + GeneratedFileName(*p, size, OriginalFileName);
}

QString TLumenfoldPicture::LargePath() const {
  return GeneratedPath(TGeneratedSize::Large);
}

QString TLumenfoldPicture::MediumPath() const {
  return GeneratedPath(TGeneratedSize::Medium);
}

QString TLumenfoldPicture::ThumbPath() const {
  return GeneratedPath(TGeneratedSize::Thumb);
}

QString TLumenfoldPicture::StoredFileName(TGeneratedSize size) const {
  const QString& stored = size == TGeneratedSize::Large    ? LargeFileName
                          : size == TGeneratedSize::Medium ? MediumFileName
                                                           : ThumbFileName;
  // A name from the database is used only when every part of it is a plain name below the
  // album folder (either separator, as older versions stored them). A plain scan: this runs for
  // every file of a project in each run.
  qsizetype start = 0;
  for (qsizetype i = 0; i <= stored.size(); ++i) {
    if (i < stored.size() && stored[i] != QLatin1Char('/') && stored[i] != QLatin1Char('\\'))
      continue;
    if (!PlainFileNameProblem(stored.mid(start, i - start)).isEmpty()) return QString();
    start = i + 1;
  }
  return stored;
}

bool TLumenfoldPicture::GeneratedFilesCurrent(TFolderListings* listings) const {
  const TLumenfoldProject* p = Project();
  if (!p) return true;
  const bool enabled[] = {p->LargeEnabled, p->MediumEnabled, p->ThumbEnabled};
  const TGeneratedSize sizes[] = {TGeneratedSize::Large, TGeneratedSize::Medium,
                                  TGeneratedSize::Thumb};
  // Run for every picture of a project before processing: one name and one system call per
  // file.
  const QString folder = IncludeTrailingSeparator(Album ? Album->Path : QString());
  for (int k = 0; k < 3; ++k) {
    if (!enabled[k]) continue;
    // Names stored by an older version may use the other separator.
    QString stored = StoredFileName(sizes[k]);
    stored.replace(QLatin1Char('\\'), QDir::separator());
    stored.replace(QLatin1Char('/'), QDir::separator());
    const QString name = GeneratedFileName(*p, sizes[k], OriginalFileName);
    const QString path = folder + name;
    if (stored != name || !(listings ? listings->IsRegularFile(path) : IsRegularFile(path)))
      return false;
  }
  return true;
}

bool TLumenfoldPicture::NeedsProcessing(TFolderListings* listings) const {
  return !IsDeleted && (Modified || !GeneratedFilesCurrent(listings));
}

QString TLumenfoldPicture::TempThumbPath() const {
  if (!NameProblem().isEmpty()) return QString();
  // Only the part below the album folder is lowercased: on a case-sensitive file system the
  // album folder has to keep its own spelling.
  return IncludeTrailingSeparator(Album ? Album->Path : QString()) +
         (QStringLiteral("ps_tmp") + separator() + QStringLiteral("tmp_") + OriginalFileName)
             .toLower();
}

namespace {
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

bool TLumenfoldPicture::DeleteWithFiles() {
  const bool ok = Delete();
  TLumenfoldAlbum* album = Album;
  // The entry is this very object, or the stored picture this one is a copy of. An unsaved
  // picture (id -1) is only ever found as itself, never as another unsaved picture.
  int index = album ? album->Pictures.IndexOfObject(this) : -1;
  if (index < 0 && album && Id != -1) index = album->Pictures.IndexOfId(Id);
  for (const QString& path :
       {TempThumbPath(), ThumbPath(), MediumPath(), LargePath(), OriginalPath()})
    QFile::remove(path);
  for (int step = 1; step < kPreviewSteps; ++step)
    if (const QString path = PreviewStepPath(TempThumbPath(), step); !path.isEmpty())
      QFile::remove(path);
  TLumenfoldPicture* listed = index >= 0 ? album->Pictures.Pictures(index) : nullptr;
  if (album) {
    if (album->FacePicture == this || album->FacePicture == listed) album->FacePicture = nullptr;
    album->SetDirty(true);
  }
  if (listed) album->Pictures.Delete(index);
  if (listed != this) delete this;
  return ok;
}

bool TLumenfoldPicture::CheckOriginal() {
  const QString path = OriginalPath();
  bool unchanged = false;
  if (CheckRegularFile(path) == TFileRefusal::None) {
    const int date = FileDosDateTime(path);
    const int size = GetFileSizeBytes(path);
    const QString hash = GetFileHash(path);
    if (date == OriginalDate && size == OriginalSize) {
      if (hash != OriginalHash)
        OriginalHash = hash;
      else
        unchanged = true;
    } else {
      OriginalDate = date;
      OriginalSize = size;
      OriginalHash = hash;
    }
  }
  if (!unchanged) Modified = true;
  return unchanged;
}

namespace {
bool isOdd(int orientation) {
  const int a = orientation < 0 ? -orientation : orientation;
  return a == 1 || a == 3;
}
} // namespace

void TLumenfoldPicture::RotateCW() {
  static const int next[5] = {0, 2, 3, 4, 1};
  static const int nextNeg[5] = {0, 4, 1, 2, 3}; // by magnitude: -1→-4, -2→-1, ...
  Orientation =
      Orientation > 0 ? next[qBound(1, Orientation, 4)] : -nextNeg[qBound(1, -Orientation, 4)];
  if (CropRect.IsSet()) {
    const int c = isOdd(Orientation) ? OriginalWidth : OriginalHeight;
    const TCropRect o = CropRect;
    CropRect = {c - o.Y2, o.X1, c - o.Y1, o.X2};
  }
  Modified = true;
  SetDirty(true);
}

void TLumenfoldPicture::RotateCCW() {
  static const int next[5] = {0, 4, 1, 2, 3};
  static const int nextNeg[5] = {0, 2, 3, 4, 1};
  Orientation =
      Orientation > 0 ? next[qBound(1, Orientation, 4)] : -nextNeg[qBound(1, -Orientation, 4)];
  if (CropRect.IsSet()) {
    const int c = isOdd(Orientation) ? OriginalHeight : OriginalWidth;
    const TCropRect o = CropRect;
    CropRect = {o.Y1, c - o.X2, o.Y2, c - o.X1};
  }
  Modified = true;
  SetDirty(true);
}

void TLumenfoldPicture::Rotate180() {
  static const int next[5] = {0, 3, 4, 1, 2};
  Orientation =
      Orientation > 0 ? next[qBound(1, Orientation, 4)] : -next[qBound(1, -Orientation, 4)];
  if (CropRect.IsSet()) {
    const bool odd = isOdd(Orientation);
    const int c = odd ? OriginalWidth : OriginalHeight;
    const int d = odd ? OriginalHeight : OriginalWidth;
    const TCropRect o = CropRect;
    CropRect = {c - o.X2, d - o.Y2, c - o.X1, d - o.Y1};
  }
  Modified = true;
  SetDirty(true);
}

void TLumenfoldPicture::Flip() {
  Orientation = -Orientation;
  if (CropRect.IsSet()) {
    const int c = isOdd(Orientation) ? OriginalWidth : OriginalHeight;
    const TCropRect o = CropRect;
    CropRect = {c - o.X2, o.Y1, c - o.X1, o.Y2};
  }
  Modified = true;
  SetDirty(true);
}

bool TLumenfoldPicture::RenameTo(const QString& newName) {
  const QString original = OriginalPath();
  if (newName == OriginalFileName) {
    // Already named so: nothing to move (the file would otherwise count as being in the way).
    UpdateFileNames();
  } else if (QFileInfo(original).isFile()) {
    const QString target = IncludeTrailingSeparator(Album ? Album->Path : QString()) + newName;
    if (RenameFileNoReplace(original, target)) {
      const QString oldTemp = TempThumbPath(), oldLarge = LargePath(), oldMedium = MediumPath(),
                    oldThumb = ThumbPath();
      OriginalFileName = newName;
      // The new names follow the same rule as processing (GeneratedFileName).
      RenameFileNoReplace(oldLarge, LargePath());
      RenameFileNoReplace(oldMedium, MediumPath());
      RenameFileNoReplace(oldThumb, ThumbPath());
      RenameFileNoReplace(oldTemp, TempThumbPath());
      UpdateFileNames();
    } else {
      SetDirty(true);
      return false;
    }
  } else {
    OriginalFileName = newName;
    UpdateFileNames();
  }
  SetDirty(true);
  return true;
}

void TLumenfoldPicture::UpdateFileNames() {
  const TLumenfoldProject* p = Project();
  if (!p) return;
  LargeFileName = GeneratedFileName(*p, TGeneratedSize::Large, OriginalFileName);
  MediumFileName = GeneratedFileName(*p, TGeneratedSize::Medium, OriginalFileName);
  ThumbFileName = GeneratedFileName(*p, TGeneratedSize::Thumb, OriginalFileName);
}

void TLumenfoldPicture::RefreshOriginalInfo() {
  const QString path = OriginalPath();
  if (CheckRegularFile(path) == TFileRefusal::None) {
    OriginalDate = FileDosDateTime(path);
    OriginalSize = GetFileSizeBytes(path);
    OriginalHash = GetFileHash(path);
    // The header is enough for the dimensions; the picture is not decoded.
    try {
      const QSize size = ReadJpegSize(path);
      OriginalWidth = size.width();
      OriginalHeight = size.height();
    } catch (const EImageError&) {
      // Not a readable JPEG: the dimensions stay as they were; processing reports the file.
    }
  }
  SetDirty(true);
}

void TLumenfoldPicture::Synchronize() {
  if (OriginalFileName.isEmpty()) return;
  RefreshOriginalInfo();
  UpdateFileNames();
  auto sizeOf = [](const QString& path, int& size) {
    if (QFileInfo(path).isFile()) size = GetFileSizeBytes(path);
  };
  sizeOf(LargePath(), LargeSize);
  sizeOf(MediumPath(), MediumSize);
  sizeOf(ThumbPath(), ThumbSize);
  SetDirty(true);
}

void RecordOriginalFacts(TLumenfoldPicture& picture) {
  if (picture.Id != -1 && !picture.Dirty) {
    picture.Dirty = true; // for Save only; SetDirty would mark the album and the project
    if (picture.Save()) return;
  }
  picture.SetDirty(true);
}

void TLumenfoldPictureList::Assign(const TLumenfoldPictureList& source) {
  Clear();
  for (int i = 0; i < source.Count(); ++i) {
    auto* picture = new TLumenfoldPicture(nullptr);
    Add(source.Strings(i), picture);
    picture->Assign(*source.Pictures(i));
  }
}

void TLumenfoldPictureList::ClearThumbnails() {
  for (int i = Count() - 1; i >= 0; --i)
    Pictures(i)->SetThumbnail(nullptr);
  Clear();
}

int TLumenfoldPictureList::IndexOfId(int id) const {
  for (int i = 0; i < Count(); ++i)
    if (Pictures(i)->Id == id) return i;
  return -1;
}

int TLumenfoldPictureList::IndexOfFileName(const QString& name) const {
  for (int i = 0; i < Count(); ++i)
    if (Pictures(i)->OriginalFileName == name) return i;
  return -1;
}
