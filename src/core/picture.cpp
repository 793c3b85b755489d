#include "core/picture.h"

#include "core/album.h"
#include "core/previewcache.h"
#include "core/project.h"
#include "core/renaming.h"
#include "util/helpers.h"
#include "util/programfolder.h"
#include "util/safefile.h"

#include <QDir>
#include <QHash>

namespace {

QString separator() {
  return QString(QDir::separator());
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
  // Made for every generated file of a project before each run: no more copies than needed.
  return folder + QDir::separator() +
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
  // Each part: not empty, not "." or "..", no control character (PlainFileNameProblem's rules
  // for a name without separators), checked in place.
  const QChar* const data = stored.constData();
  qsizetype start = 0;
  for (qsizetype i = 0; i <= stored.size(); ++i) {
    const char16_t c = i < stored.size() ? data[i].unicode() : u'/';
    if (c != u'/' && c != u'\\') {
      if (c < 0x20 || c == 0x7F) return QString();
      continue;
    }
    const qsizetype length = i - start;
    if (length == 0 || (data[start] == QLatin1Char('.') &&
                        (length == 1 || (length == 2 && data[start + 1] == QLatin1Char('.')))))
      return QString();
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
