#include "core/album.h"

#include "core/captionimport.h"
#include "core/defaulttexts.h"
#include "core/project.h"
#include "core/renameops.h"
#include "core/renaming.h"
#include "db/sqlaccess.h"
#include "db/sqliterows.h"
#include "db/statements.h"
#include "util/helpers.h"
#include "util/lumenfolderror.h"
#include "util/safefile.h"
#include "util/tracer.h"
#include "util/userprompt.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <filesystem>
#include <optional>
#include <vector>

const QStringList& PictureExtensions() {
  static const QStringList extensions{
      QStringLiteral(".jpg"),  QStringLiteral(".jpeg"), QStringLiteral(".heic"),
      QStringLiteral(".heif"), QStringLiteral(".hif"),  QStringLiteral(".png"),
      QStringLiteral(".tif"),  QStringLiteral(".tiff"), QStringLiteral(".webp")};
  return extensions;
}

bool IsPictureFileName(const QString& fileName) {
  const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
  if (dot < 0) return false;
  return PictureExtensions().contains(fileName.mid(dot).toLower());
}

bool IsJpegFileName(const QString& fileName) {
  const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
  if (dot < 0) return false;
  // Compared in place: asked for every picture of a project in each run.
  const QStringView extension = QStringView(fileName).mid(dot);
  return extension.compare(QLatin1String(".jpg"), Qt::CaseInsensitive) == 0 ||
         extension.compare(QLatin1String(".jpeg"), Qt::CaseInsensitive) == 0;
}

QString RenamedPictureExtension(const QString& originalFileName) {
  if (!IsPictureFileName(originalFileName) || IsJpegFileName(originalFileName))
    return QStringLiteral(".jpg");
  return originalFileName.mid(originalFileName.lastIndexOf(QLatin1Char('.'))).toLower();
}

QString GeneratedBaseName(const QString& originalFileName) {
  if (IsJpegFileName(originalFileName) || !IsPictureFileName(originalFileName))
    return originalFileName;
  return originalFileName.left(originalFileName.lastIndexOf(QLatin1Char('.'))) +
         QStringLiteral(".jpg");
}

namespace {

// Files of a folder in name order (the order a user sees in a file browser); sub-folders and the
// "." and ".." entries are left out.
QFileInfoList folderFiles(const QString& folder) {
  QDir dir(folder);
  if (folder.isEmpty() || !dir.exists()) return {};
  return dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::System,
                           QDir::Name | QDir::IgnoreCase);
}

// Picture files whose names are not valid in the system's encoding: the folder listing above
// does not show them at all. Their names as far as they can be shown.
QStringList undecodablePictureNames(const QString& folder) {
  QStringList names;
  std::error_code error;
  for (std::filesystem::directory_iterator it(QFile::encodeName(folder).toStdString(), error), end;
       !error && it != end; it.increment(error)) {
    const std::string raw = it->path().filename().string();
    const QByteArray bytes(raw.data(), qsizetype(raw.size()));
    const QString name = QFile::decodeName(bytes);
    if (QFile::encodeName(name) != bytes && IsPictureFileName(name)) names << name;
  }
  return names;
}

} // namespace

QList<TSkippedFile> SkippedFolderFiles(const QString& folder) {
  QList<TSkippedFile> skipped;
  QDir dir(folder);
  if (folder.isEmpty() || !dir.exists()) return skipped;
  for (const QFileInfo& info : dir.entryInfoList(QDir::Files, QDir::Name | QDir::IgnoreCase))
    if (!IsPictureFileName(info.fileName()))
      skipped.append({info.fileName(), QStringLiteral("not a picture file")});
  return skipped;
}

TLumenfoldAlbum::TLumenfoldAlbum(TLumenfoldProject* project)
    : AlbumDate(QDateTime::currentDateTime()), ShortName(QStringLiteral("<Short Name>")),
      LongName(QLatin1String(kDefaultAlbumLongName)), Project(project) {}

TLumenfoldAlbum::~TLumenfoldAlbum() {
  FacePicture = nullptr;
  Pictures.Clear();
}

int TLumenfoldAlbum::faceIdOf(const TLumenfoldAlbum& album) {
  if (album.FacePictureId != -1) return album.FacePictureId;
  for (int i = 0; i < album.Pictures.Count(); ++i)
    if (album.Pictures.Pictures(i)->IsFace) return album.Pictures.Pictures(i)->Id;
  return -1;
}

void TLumenfoldAlbum::AssignFields(const TLumenfoldAlbum& s) {
  Loaded = s.Loaded;
  Dirty = s.Dirty;
  Id = s.Id;
  FacePictureId = faceIdOf(s);
  AlbumDate = s.AlbumDate;
  ShortName = s.ShortName;
  ShortName2 = s.ShortName2;
  LongName = s.LongName;
  LongName2 = s.LongName2;
  Description = s.Description;
  Description2 = s.Description2;
  Directory = s.Directory;
  Path = s.Path;
  IsPrivate = s.IsPrivate;
  Project = s.Project;
}

void TLumenfoldAlbum::Assign(const TLumenfoldAlbum& source) {
  if (&source == this) return;
  AssignFields(source);
  // The face picture object belongs to the list that is replaced; it is found again lazily.
  FacePicture = nullptr;
  Pictures.Assign(source.Pictures);
  // The copies belong to this album: a working copy's pictures must never point at the album
  // they were copied from, nor the real album's at a working copy that is freed afterwards.
  for (int i = 0; i < Pictures.Count(); ++i)
    Pictures.Pictures(i)->Album = this;
}

bool TLumenfoldAlbum::Equals(const TLumenfoldAlbum& o) const {
  return Id == o.Id && FacePictureId == faceIdOf(o) && AlbumDate == o.AlbumDate &&
         ShortName == o.ShortName && ShortName2 == o.ShortName2 && LongName == o.LongName &&
         LongName2 == o.LongName2 && Description == o.Description &&
         Description2 == o.Description2 && Directory == o.Directory && Path == o.Path &&
         IsPrivate == o.IsPrivate;
}

void TLumenfoldAlbum::FindFacePicture() {
  for (int i = 0; i < Pictures.Count(); ++i) {
    TLumenfoldPicture* p = Pictures.Pictures(i);
    if (p->IsFace) {
      FacePicture = p;
      FacePictureId = p->Id;
      return;
    }
  }
}

int TLumenfoldAlbum::GetFacePictureId() {
  if (FacePictureId == -1) FindFacePicture();
  return FacePictureId;
}

TLumenfoldPicture* TLumenfoldAlbum::GetFacePicture() {
  if (!FacePicture) FindFacePicture();
  return FacePicture;
}

bool TLumenfoldAlbum::PathExists() const {
  return !Path.isEmpty() && QDir(Path).exists();
}

bool TLumenfoldAlbum::HasModifiedPictures() {
  if (Pictures.IsEmpty()) return HasModified;
  for (int i = 0; i < Pictures.Count(); ++i)
    if (Pictures.Pictures(i)->Modified) {
      HasModified = true;
      return true;
    }
  return false;
}

int TLumenfoldAlbum::ModifiedCount() const {
  int n = 0;
  for (int i = 0; i < Pictures.Count(); ++i)
    if (Pictures.Pictures(i)->Modified) ++n;
  return n;
}

void TLumenfoldAlbum::SetPath(const QString& path) {
  if (path == Path) return;
  Path = path;
  SetDirty(true);
}

void TLumenfoldAlbum::SetDirty(bool value) {
  Dirty = value;
  if (value && Project) Project->Modified = true;
}

bool TLumenfoldAlbum::Save() {
  if (!Dirty) return false;
  // What a failed save must put back: ids given out inside it and the unsaved marks.
  struct Before {
    TLumenfoldPicture* picture;
    int id, albumId;
    bool dirty;
  };
  std::vector<Before> before;
  before.reserve(size_t(Pictures.Count()));
  for (int i = 0; i < Pictures.Count(); ++i) {
    TLumenfoldPicture* p = Pictures.Pictures(i);
    before.push_back({p, p->Id, p->AlbumId, p->Dirty});
  }
  const int oldId = Id, oldFaceId = FacePictureId;

  bool ok;
  {
    TSqlTransaction transaction(CurrentConnectionString());
    const bool inserting = Id == -1;
    ok = inserting ? Insert() : Update();
    // Without a commit the guard rolls everything back.
    if (ok) ok = transaction.Commit();
    // A new album holds all its pictures.
    if (ok && inserting) Loaded = true;
  }
  if (ok) {
    Dirty = false;
    return true;
  }
  Id = oldId;
  FacePictureId = oldFaceId;
  for (const Before& b : before) {
    b.picture->Id = b.id;
    b.picture->AlbumId = b.albumId;
    if (b.dirty) b.picture->Dirty = true;
  }
  SetDirty(true);
  Prompt()->error(QStringLiteral("The album \"%1\" could not be saved. Its changes are kept and "
                                 "will be written at the next save.")
                      .arg(ShortName));
  return false;
}

bool TLumenfoldAlbum::Insert() {
  const QString cs = CurrentConnectionString();
  const int newId = AllocateId(cs, SQL_ALBUM_MAX_ID);
  if (newId < 0) return false;
  Id = newId;
  bool ok =
      ExecSQL(cs, FormatSql(SQL_ALBUM_INSERT,
                            {SqlInt(Id), SqlInt(FacePictureId), SqlDateText(AlbumDate),
                             QuoteSqlText(ShortName), QuoteSqlText(ShortName2),
                             QuoteSqlText(LongName), QuoteSqlText(LongName2),
                             QuoteSqlText(Description), QuoteSqlText(Description2),
                             SqlInt(IsPrivate), QuoteSqlText(Directory), QuoteSqlText(Path)})) >= 0;
  if (!ok) return false;
  // Pictures saved on their own before the album had a row (by the thumbnail loader) carry no
  // album id yet: their rows are updated, never inserted a second time.
  for (int i = 0; i < Pictures.Count(); ++i) {
    TLumenfoldPicture* p = Pictures.Pictures(i);
    if (p->Id != -1 && p->AlbumId != Id) p->Dirty = true;
  }
  AttachPictures();
  for (int i = 0; i < Pictures.Count(); ++i) {
    TLumenfoldPicture* p = Pictures.Pictures(i);
    if (p->Dirty && p->Id != -1 && !p->Update()) return false;
  }
  return insertNewPictures();
}

bool TLumenfoldAlbum::UpdateRow() {
  return ExecSQL(
             CurrentConnectionString(),
             FormatSql(SQL_ALBUM_UPDATE,
                       {SqlInt(FacePictureId), SqlDateText(AlbumDate), QuoteSqlText(ShortName),
                        QuoteSqlText(ShortName2), QuoteSqlText(LongName), QuoteSqlText(LongName2),
                        QuoteSqlText(Description), QuoteSqlText(Description2), SqlInt(IsPrivate),
                        QuoteSqlText(Directory), QuoteSqlText(Path), SqlInt(Id)})) >= 0;
}

bool TLumenfoldAlbum::Update() {
  // Stops at the first failure: the save's transaction is rolled back anyway, and one error
  // box is enough.
  if (!UpdateRow()) return false;
  for (int i = 0; i < Pictures.Count(); ++i) {
    TLumenfoldPicture* p = Pictures.Pictures(i);
    if (p->Dirty && p->Id != -1 && !p->Update()) return false;
  }
  // Pictures added to a stored album (new files of its folder) have no row yet.
  for (int i = 0; i < Pictures.Count(); ++i) {
    TLumenfoldPicture* p = Pictures.Pictures(i);
    if (p->Dirty && p->Id == -1) p->AlbumId = Id;
  }
  return insertNewPictures();
}

bool TLumenfoldAlbum::insertNewPictures() {
  // Ids are MAX + 1 at the time of each insert. The save runs in one transaction on this thread,
  // so the maximum is read once and counted on.
  // Their category links are written together at the end (an import of a thousand pictures
  // with keywords makes thousands of them).
  int firstId = -1, nextId = -1;
  std::vector<std::pair<int, int>> links;
  for (int i = 0; i < Pictures.Count(); ++i) {
    TLumenfoldPicture* p = Pictures.Pictures(i);
    if (!p->Dirty || p->Id != -1) continue;
    if (nextId < 0) {
      nextId = firstId = AllocateId(CurrentConnectionString(), SQL_PICTURE_MAX_ID);
      if (nextId < 0) return false;
    }
    if (!p->insertRow(nextId, &links)) return false;
    ++nextId;
  }
  return firstId < 0 || TLumenfoldPicture::writeNewLinks(firstId, nextId - 1, links);
}

bool TLumenfoldAlbum::Delete() {
  const QString cs = CurrentConnectionString();
  // Rows of pictures that are not in memory would stay behind without their album.
  if (!Loaded && Id != -1) LoadPictures();
  TSqlTransaction transaction(cs);
  if (ExecSQL(cs, FormatSql(SQL_ALBUM_DELETE, {SqlInt(Id)})) < 0) return false;
  for (int i = 0; i < Pictures.Count(); ++i)
    if (!Pictures.Pictures(i)->Delete()) return false;
  return transaction.Commit();
}

void TLumenfoldAlbum::LoadFromDataSet(const TDataSet& q) {
  Id = q.AsInteger("album_id");
  FacePictureId = q.AsInteger("face_picture_id");
  AlbumDate = q.AsDateTime("album_date");
  ShortName = q.AsString("short_name");
  ShortName2 = q.AsString("short_name2");
  LongName = q.AsString("long_name");
  LongName2 = q.AsString("long_name2");
  Description = q.AsString("description");
  Description2 = q.AsString("description2");
  IsPrivate = q.AsBoolean("is_private");
  Directory = q.AsString("directory");
  Path = q.AsString("path");
  HasModified = q.AsInteger("PictureCount") != 0;
  if (HasModified) LoadPictures();
}

bool TLumenfoldAlbum::HasUnsavedPictures() const {
  for (int i = 0; i < Pictures.Count(); ++i) {
    const TLumenfoldPicture* p = Pictures.Pictures(i);
    if (p->Dirty || p->Id == -1) return true;
  }
  return false;
}

bool TLumenfoldAlbum::LoadPictures() {
  // An album without a row has nothing to read: all its pictures are the ones in memory.
  if (Id == -1) {
    Loaded = true;
    return true;
  }
  if (HasUnsavedPictures()) {
    Prompt()->error(QStringLiteral("The pictures of album \"%1\" have changes that are not saved "
                                   "yet, so they were not read again from the database. Save "
                                   "the project first.")
                        .arg(ShortName));
    return false;
  }
  FacePicture = nullptr;
  Loaded = false;
  if (!Pictures.IsEmpty()) Pictures.ClearThumbnails();
  const QString cs = CurrentConnectionString();
  try {
    QHash<int, TLumenfoldPicture*> byId;
    auto add = [this, &byId](TLumenfoldPicture* p) {
      byId.insert(p->Id, p);
      if (p->Id == FacePictureId) {
        p->IsFace = true;
        p->LoadThumbnail();
        FindFacePicture();
      }
    };
    const QString pictures = FormatSql(SQL_PICTURES_OF_ALBUM, {SqlInt(Id)});
    const QString links = FormatSql(SQL_CATEGORY_LINKS_OF_ALBUM, {SqlInt(Id)});
    // SQLite's rows are read straight from SQLite: an album of thousands of pictures loads in a
    // fraction of the driver's time. Other engines go through the driver.
    auto readPictures = [this, &add](auto& set, auto load) {
      std::optional<TPictureColumns> columns;
      for (; !set.Eof(); set.Next()) {
        if (!columns) columns.emplace(set);
        auto* p = new TLumenfoldPicture(this);
        Pictures.Add(QString(), p);
        (p->*load)(set, *columns);
        add(p);
      }
    };
    std::unique_ptr<TSqliteRows> rows;
    if (OpenSqliteRows(cs, pictures, rows) != 0) return false;
    if (rows) {
      readPictures(*rows, &TLumenfoldPicture::LoadFromRows);
      if (OpenSqliteRows(cs, links, rows) != 0 || !rows) return false;
      const int picture = rows->IndexOf("picture_id"), category = rows->IndexOf("category_id");
      for (; !rows->Eof(); rows->Next())
        if (TLumenfoldPicture* p = byId.value(rows->AsInteger(picture), nullptr))
          p->CategoryIds.append(QString::number(rows->AsInteger(category)));
    } else {
      TQuery q;
      if (OpenQuery(cs, pictures, q) != 0) return false;
      readPictures(*q, static_cast<void (TLumenfoldPicture::*)(const TDataSet&, TPictureColumns&)>(
                           &TLumenfoldPicture::LoadFromDataSet));
      CloseQuery(q);
      if (OpenQuery(cs, links, q) != 0) return false;
      for (; !q->Eof(); q->Next()) {
        if (TLumenfoldPicture* p = byId.value(q->AsInteger("picture_id"), nullptr))
          p->CategoryIds.append(QString::number(q->AsInteger("category_id")));
      }
      CloseQuery(q);
    }
  } catch (const std::exception& e) {
    Prompt()->error(TextOf(e));
    return false;
  }
  Loaded = true;
  return true;
}

void TLumenfoldAlbum::useCaptionLanguages() {
  const QStringList codes =
      Project ? SiteLanguageCodes(*Project) : QStringList{QString(), QString()};
  if (codes == captionLanguages_) return;
  captionLanguages_ = codes;
  metadata_.clear();
}

const TLumenfoldAlbum::TFileMetadata& TLumenfoldAlbum::fileMetadata(const QFileInfo& file) {
  const QString key = file.absoluteFilePath() + QLatin1Char('|') + QString::number(file.size()) +
                      QLatin1Char('|') + QString::number(file.lastModified().toMSecsSinceEpoch());
  auto it = metadata_.constFind(key);
  if (it != metadata_.constEnd()) return *it;
  // Titles and keywords come from the same reading of the header (JPEG files).
  TFileMetadata read;
  TCameraMetadata& m = read.Camera;
  m = ReadCameraMetadata(file.absoluteFilePath(), ReadsCaptions ? TMetadataParts::ExifAndCaptions
                                                                : TMetadataParts::ExifOnly);
  if (!m.Problem.isEmpty() && m.HasExif)
    Tracer().Write(QStringLiteral("Camera metadata of %1 is damaged (%2); the picture keeps the "
                                  "default orientation and date where they could not be read.")
                       .arg(QDir::toNativeSeparators(file.absoluteFilePath()), m.Problem));
  else if (!m.Problem.isEmpty())
    Tracer().Write(QStringLiteral("No camera metadata read from %1: %2.")
                       .arg(QDir::toNativeSeparators(file.absoluteFilePath()), m.Problem));
  if (m.CaptionsRead) {
    read.Captions = ParseEmbeddedCaptions(m.XmpPacket, m.PhotoshopBlock, captionLanguages_[0],
                                          captionLanguages_[1]);
    m.XmpPacket = QByteArray();
    m.PhotoshopBlock = QByteArray();
  }
  return *metadata_.insert(key, std::move(read));
}

void TLumenfoldAlbum::ReadFolderDate(const QString& folder) {
  useCaptionLanguages();
  QDateTime firstFileTime, oldestCapture;
  for (const QFileInfo& info : folderPictures(folder, false).Files) {
    if (!firstFileTime.isValid()) firstFileTime = info.lastModified();
    const QDateTime captured = fileMetadata(info).Camera.CaptureDate();
    if (captured.isValid() && (!oldestCapture.isValid() || captured < oldestCapture))
      oldestCapture = captured;
  }
  if (oldestCapture.isValid())
    AlbumDate = oldestCapture;
  else if (firstFileTime.isValid())
    AlbumDate = firstFileTime;
}

TLumenfoldAlbum::TFolderPictures TLumenfoldAlbum::folderPictures(const QString& folder,
                                                                 bool onlyNew) const {
  QSet<QString> known;
  if (onlyNew)
    for (int i = 0; i < Pictures.Count(); ++i)
      known.insert(Pictures.Pictures(i)->OriginalFileName);
  TFolderPictures result;
  for (const QFileInfo& info : folderFiles(folder)) {
    const QString name = info.fileName();
    if (!IsPictureFileName(name) || (onlyNew && known.contains(name))) continue;
    // A '\' reads as a folder separator in stored names, and a name that is not valid in the
    // system's encoding cannot be opened again under its decoded form. Only regular files of
    // the folder are pictures: a FIFO or device would block the reading, a link out of the
    // folder would publish a file that is not the album's. Such files are left out and named,
    // never dropped silently.
    QString why = PlainFileNameProblem(name);
    if (why.isEmpty() && CheckRegularFile(info.filePath(), &why) == TFileRefusal::None) {
      result.Files.append(info);
      continue;
    }
    result.LeftOut << QStringLiteral("%1 (%2)").arg(name, why);
  }
  for (const QString& name : undecodablePictureNames(folder))
    result.LeftOut << QStringLiteral("%1 (its name holds bytes that are not valid text)").arg(name);
  return result;
}

QString TLumenfoldAlbum::ImportProblem(const QString& folder, bool onlyNew) const {
  QStringList names;
  if (onlyNew)
    for (int i = 0; i < Pictures.Count(); ++i)
      names << Pictures.Pictures(i)->OriginalFileName;
  for (const QFileInfo& info : folderPictures(folder, onlyNew).Files)
    names << info.fileName();
  return GeneratedNameClash(Project, names, onlyNew ? Pictures.Count() : 0);
}

bool TLumenfoldAlbum::importFiles(const QString& folder, bool onlyNew) {
  // Two pictures whose generated images would be one file: nothing is imported.
  if (const QString clash = ImportProblem(folder, onlyNew); !clash.isEmpty()) {
    Prompt()->error(clash);
    return false;
  }
  const TFolderPictures found = folderPictures(folder, onlyNew);
  int sortOrder = onlyNew ? Pictures.Count() + 1 : 1;
  // Titles and keywords the photographer wrote in their editor come along.
  useCaptionLanguages();
  const QStringList& languages = captionLanguages_;
  QSet<int> categoriesBefore;
  if (Project)
    for (int i = 0; i < Project->Categories.Count(); ++i)
      categoriesBefore.insert(Project->Categories.Categories(i)->Id);
  std::optional<TCaptionCategories> categories; // looked up once for all the files
  if (Project && ReadsCaptions) categories.emplace(*Project);
  QList<TLumenfoldPicture*> imported;
  for (const QFileInfo& info : found.Files) {
    auto* p = new TLumenfoldPicture(this);
    p->OriginalFileName = info.fileName();
    p->UpdateFileNames();
    p->OriginalSize = info.size() > 0x7FFFFFFF ? -1 : int(info.size());
    p->OriginalDate = DateTimeToDosDateTime(info.lastModified());
    p->PictureDate = DosDateTimeToDateTime(p->OriginalDate);
    const TFileMetadata& read = fileMetadata(info);
    const TCameraMetadata& camera = read.Camera;
    p->Orientation = camera.PictureOrientation();
    if (const QDateTime captured = camera.CaptureDate(); captured.isValid())
      p->PictureDate = captured;
    if (categories) {
      const TEmbeddedCaptions captions =
          read.Captions ? *read.Captions
                        : ReadEmbeddedCaptions(info.absoluteFilePath(), languages[0], languages[1]);
      if (!captions.Problem.isEmpty())
        Tracer().Write(
            QStringLiteral("Captions of %1 are damaged (%2); what could be read is used.")
                .arg(QDir::toNativeSeparators(info.absoluteFilePath()), captions.Problem));
      ApplyEmbeddedCaptions(*categories, *p, captions, false);
    }
    p->SortOrder = sortOrder++;
    Pictures.Add(QString(), p);
    imported.append(p);
    p->SetDirty(true);
  }
  if (categories && !categories->Save(imported))
    Prompt()->warning(QStringLiteral("The categories made from the keywords of the files in "
                                     "\"%1\" could not be saved; the pictures were imported "
                                     "without them.")
                          .arg(folder));
  if (Project)
    for (int i = 0; i < Project->Categories.Count(); ++i)
      if (const int id = Project->Categories.Categories(i)->Id; !categoriesBefore.contains(id))
        CategoriesMadeByImport.append(id);
  if (!found.LeftOut.isEmpty())
    Prompt()->warning(QStringLiteral("%1 picture file(s) of \"%2\" were not imported; rename or "
                                     "replace them and import again: %3")
                          .arg(found.LeftOut.size())
                          .arg(folder, found.LeftOut.join(QStringLiteral(", "))));
  return true;
}

bool TLumenfoldAlbum::ImportFolder(const QString& folder) {
  return importFiles(folder, false);
}

bool TLumenfoldAlbum::ImportNewFiles(const QString& folder) {
  return importFiles(folder, true);
}

void TLumenfoldAlbum::RemovePicture(TLumenfoldPicture* picture) {
  if (!picture) return;
  picture->Delete();
  const int index = Pictures.IndexOfObject(picture);
  if (index < 0) return;
  if (FacePicture == picture) FacePicture = nullptr;
  Pictures.Delete(index);
}

bool TLumenfoldAlbum::RenamePictures(bool replaceSpecialChars) {
  if (!Project) return false;
  const TRenameResult result =
      ApplyRename(*this, PlanAlbumRename(*this, RenameSettingsOf(*Project, replaceSpecialChars)));
  if (!result.Ok())
    Prompt()->error(result.Summary());
  else if (!result.Skipped.isEmpty())
    Prompt()->warning(result.Summary());
  return result.Ok();
}

void TLumenfoldAlbum::AttachPictures() {
  for (int i = 0; i < Pictures.Count(); ++i) {
    TLumenfoldPicture* p = Pictures.Pictures(i);
    p->Album = this;
    p->AlbumId = Id;
  }
}

bool TLumenfoldAlbum::UsesSignatures() const {
  for (int i = 0; i < Pictures.Count(); ++i) {
    const TLumenfoldPicture* p = Pictures.Pictures(i);
    if (p->ThumbSignatureId != -1 || p->MediumSignatureId != -1) return true;
  }
  return false;
}

bool TLumenfoldAlbum::UsesCategories() const {
  for (int i = 0; i < Pictures.Count(); ++i)
    if (!Pictures.Pictures(i)->CategoryIds.isEmpty()) return true;
  return false;
}

int TLumenfoldAlbumList::IndexOfId(int id) const {
  for (int i = 0; i < Count(); ++i)
    if (Albums(i)->Id == id) return i;
  return -1;
}

int TLumenfoldAlbumList::IndexOfPath(const QString& path) const {
  for (int i = 0; i < Count(); ++i)
    if (Albums(i)->Path.compare(path, Qt::CaseInsensitive) == 0) return i;
  return -1;
}
