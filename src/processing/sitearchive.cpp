#include "processing/sitearchive.h"

#include "core/album.h"
#include "core/outputsettings.h"
#include "core/picture.h"
#include "core/project.h"
#include "db/databasepacking.h"
#include "processing/archive/archivebuilder.h"
#include "processing/archive/archivefiles.h"
#include "processing/archive/archivemark.h"
#include "processing/publicsite.h"
#include "processing/sitefolder.h"
#include "processing/sitepages.h"
#include "util/helpers.h"
#include "util/programfolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QtEndian>
#include <algorithm>

namespace {

// The template is one folder inside the templates folder, never a path leading elsewhere.
bool isTemplateFolderName(const QString& name) {
  return !name.trimmed().isEmpty() && !name.contains(QLatin1Char('/')) &&
         !name.contains(QLatin1Char('\\')) && name != QLatin1String(".") &&
         name != QLatin1String("..") && !QDir::isAbsolutePath(name) &&
         !name.contains(QLatin1Char(':'));
}

QString templatesRoot() {
  return DataFolder() + QStringLiteral("templates");
}

constexpr int kSizes = 3;
// The digest of the site's inputs, and the key of an album's pages (sitepages.h).
constexpr qsizetype kSiteDigestSize = 32;
constexpr qsizetype kAlbumKeySize = 20;
// Hex digits of the digest and keys the archive's comment may hold.
constexpr qsizetype kMaxSiteDigestHex = 60000;
// The details keys follow the albums' page keys in the same records, the album's id with this
// bit set.
constexpr quint32 kDetailKeyBit = 0x80000000u;
// The largest previous public copy read back for its image details.
constexpr qint64 kMaxPreviousDatabase = qint64(512) << 20;
const TGeneratedSize kGeneratedSizes[kSizes] = {TGeneratedSize::Large, TGeneratedSize::Medium,
                                                TGeneratedSize::Thumb};

} // namespace

TSiteArchive::TSiteArchive(TLumenfoldProject& project)
    : project_(project), site_(std::make_unique<TSitePacking>()) {}

TSiteArchive::~TSiteArchive() {
  archive_.reset();
  removeSnapshot();
}

void TSiteArchive::Open(bool copyAhead) {
  const QString path = ResolveZipFileName(project_, project_.ZipFileName);
  // Only the project's own archive is ever replaced.
  if (const QString foreign = ForeignArchiveReason(project_, path); !foreign.isEmpty())
    throw TZipError(foreign);
  archive_ = std::make_unique<TArchiveBuilder>(path, copyAhead);
}

void TSiteArchive::CancelPrefill() {
  if (archive_) archive_->CancelPrefill();
}

void TSiteArchive::Close() {
  archive_.reset();
  removeSnapshot();
}

void TSiteArchive::removeSnapshot() {
  if (snapshotPath_.isEmpty()) return;
  QFile::remove(snapshotPath_);
  snapshotPath_.clear();
}

bool TSiteArchive::Published(const TLumenfoldPicture* picture) const {
  return picture && !picture->IsDeleted;
}

bool TSiteArchive::Packs(const TLumenfoldPicture* picture, bool original) const {
  return Published(picture) &&
         site_->PacksFile(*picture, original ? TPictureFile::Original : TPictureFile::Generated);
}

bool TSiteArchive::OriginalUnchanged(const TLumenfoldPicture* p) const {
  return archive_->Unchanged(AlbumEntry(p->Album, p->OriginalFileName), p->OriginalPath());
}

void TSiteArchive::Spool(const TLumenfoldPicture* p, const QString& relative, const QString& path,
                         const TCompressedEntry& entry) {
  archive_->Spool(AlbumEntry(p->Album, relative), path, entry);
}

void TSiteArchive::CheckBeforeRun() {
  const QString name = project_.SiteTemplate;
  if (!name.isEmpty()) {
    if (!isTemplateFolderName(name))
      throw TZipError(
          QStringLiteral("The site template \"%1\" is not a template folder name.").arg(name));
    const QString folder = IncludeTrailingSeparator(templatesRoot()) + name;
    if (!QFileInfo(folder).isDir())
      throw TZipError(QStringLiteral("The site template \"%1\" does not exist (no folder \"%2\").")
                          .arg(name, folder));
  }
  QString error;
  if (!site_->LoadTemplate(templatesRoot(), project_.SiteTemplate, &error))
    throw TZipError(QStringLiteral("The site template \"%1\" cannot be used: %2")
                        .arg(project_.SiteTemplate, error));
  site_->Download = project_.SiteDownload;
  site_->CameraDetails = project_.SiteCameraDetails;
  // A site that reads the packed database cannot load without it.
  if (site_->Manifest().PublicStaticSite && !project_.ZipDatabase)
    throw TZipError(QStringLiteral("The site template \"%1\" reads the database from the zip "
                                   "archive, but adding the database is off (ZipDatabase), so the "
                                   "site could not load. Turn adding the database on, or choose "
                                   "another template.")
                        .arg(project_.SiteTemplate));
  // Two albums whose site folders give the same entries would overwrite each other's files.
  QHash<QString, const TLumenfoldAlbum*> folders;
  for (int a = 0; a < project_.Albums.Count(); ++a) {
    const TLumenfoldAlbum* album = project_.Albums.Albums(a);
    const QString key = ZipEntryName(album->Directory).toCaseFolded();
    if (const TLumenfoldAlbum* other = folders.value(key, nullptr))
      throw TZipError(QStringLiteral("The albums \"%1\" and \"%2\" have the same site folder "
                                     "\"%3\"; their files would overwrite each other in the zip "
                                     "archive. Give one of them another folder.")
                          .arg(other->ShortName, album->ShortName, album->Directory));
    folders.insert(key, album);
  }
}

void TSiteArchive::WriteStages(const QList<TLumenfoldPicture*>& visited,
                               const QSet<const TLumenfoldPicture*>& skipped, int jobs,
                               TArchiveFindings& findings, const TZipStageHooks& hooks) {
  // The callbacks below refer to this call's locals: they go when it ends, however it ends.
  struct TClearCallbacks {
    TArchiveBuilder& archive;
    ~TClearCallbacks() {
      archive.Progress = nullptr;
      archive.BeforeEntry = nullptr;
    }
  } clear{*archive_};
  // Compressing and writing report their bytes as parts of the stage last posted.
  TZipStage stage = TZipStage::Pictures;
  archive_->Progress = [&](qint64 done, qint64 total) { hooks.PostPart(done, total, stage); };
  hooks.Post(stage);
  hooks.CheckStop();
  wantPictures(visited, skipped, findings);
  archive_->CompressRemaining(jobs);

  hooks.Post(stage = TZipStage::Database);
  hooks.CheckStop();
  if (project_.ZipDatabase) wantDatabase();
  archive_->CompressRemaining(jobs);

  hooks.Post(stage = TZipStage::Template);
  hooks.CheckStop();
  if (!project_.SiteTemplate.isEmpty()) wantTemplate();
  // The last stage compresses the template (its first tenth) and writes the archive.
  archive_->Progress = [&](qint64 done, qint64 total) {
    hooks.PostPart(done, total * 10, TZipStage::Template);
  };
  archive_->CompressRemaining(jobs);
  hooks.CheckStop();
  archive_->Progress = [&](qint64 done, qint64 total) {
    hooks.PostPart(total + 9 * done, 10 * std::max<qint64>(total, 1), TZipStage::Template);
  };
  archive_->BeforeEntry = hooks.BeforeEntry;
  archive_->Write();
  // The site folder follows the archive just written (sitefolder.h).
  if (const QString folder = ResolvedSiteFolder(project_); !folder.isEmpty())
    if (const TSiteMirrorResult m = MirrorArchive(archive_->ArchivePath(), folder);
        !m.Error.isEmpty())
      throw TZipError(m.Error);
  removeSnapshot();
}

void TSiteArchive::wantDatabase() {
  const TDatabaseToPack pack = CompleteDatabaseFile(project_.ConnectionString);
  if (!pack.Snapshot.isEmpty()) snapshotPath_ = pack.Snapshot;
  if (!pack.Failure.isEmpty())
    throw TZipError(QStringLiteral("The database \"%1\" cannot be added to the zip archive: %2")
                        .arg(pack.Source, pack.Failure));
  if (pack.File.isEmpty()) return;
  // Made from the same inputs, the site's database, "site.json" and pages would be the ones the
  // previous archive holds: those are kept, and nothing is made.
  QByteArray digest;
  if (site_->Manifest().PublicStaticSite) {
    digest = siteDigest(pack.File, pack.Entry);
    // The previous digest goes on with the keys of the albums' pages that follow it.
    const QByteArray previous = archive_->PreviousSiteDigest();
    if (!digest.isEmpty() && previous.startsWith(digest) && keepSite(pack.Entry)) {
      archive_->SiteDigest = previous;
      return;
    }
  }
  // A public static site gets a public copy of the database and "site.json" naming it.
  const QHash<int, QByteArray> previousKeys = albumKeys(archive_->PreviousSiteDigest());
  const QByteArray detailRecords =
      digest.isEmpty() ? QByteArray() : sameDetails(pack.Entry, previousKeys);
  QString error;
  const QString file = site_->DatabaseFile(pack.File, &error);
  const QString info = file.isEmpty() ? QString() : site_->SiteInfoFile(pack.Entry, &error);
  if (file.isEmpty() || !error.isEmpty())
    throw TZipError(QStringLiteral("The database \"%1\" cannot be added to the zip archive: %2")
                        .arg(pack.File, error));
  if (!info.isEmpty()) archive_->Want(QLatin1String(kSiteInfoName), info);
  const QString packedAs = archive_->WantedAs(pack.Entry);
  if (!packedAs.isEmpty())
    throw TZipError(QStringLiteral("The database file \"%1\" would replace \"%2\", which "
                                   "is already in the zip archive.")
                        .arg(file, packedAs));
  archive_->Want(pack.Entry, file);
  // The pages of an album whose key is the one the previous archive names for it are kept as
  // they are, when it holds them all; the others are made, and each is compared with the
  // previous archive's entry: only pages whose bytes differ are compressed and written. The
  // keys follow the digest, each as the album's id (4 bytes) and its key.
  QByteArray keys;
  const auto keep = [&](int albumId, const QByteArray& key, const QStringList& entries) {
    keys += QByteArray::number(uint(albumId), 16).rightJustified(8, '0');
    keys += key.toHex();
    return key.size() == kAlbumKeySize && previousKeys.value(albumId) == key &&
           archive_->KeepAllPrevious(entries);
  };
  if (!site_->PageFiles(
          IncludeTrailingSeparator(templatesRoot()) + project_.SiteTemplate, project_.SiteAddress,
          [&](const QString& entry, const QByteArray& bytes, QString*) {
            archive_->WantMade(entry, bytes);
            return true;
          },
          &error, digest.isEmpty() ? decltype(TSitePagesInput::KeepAlbum)() : keep))
    throw TZipError(QStringLiteral("The pages of the site cannot be made: %1").arg(error));
  // The archive's comment holds at most 64 KiB: beyond that the next run makes every page.
  const QByteArray withKeys = digest + QByteArray::fromHex(keys) + detailRecords;
  archive_->SiteDigest = withKeys.size() * 2 < kMaxSiteDigestHex ? withKeys : digest;
}

QByteArray TSiteArchive::sameDetails(const QString& databaseEntry,
                                     const QHash<int, QByteArray>& previousKeys) {
  // What the details are made with besides the files.
  QByteArray common = QStringLiteral("details 1 %1 %2 %3")
                          .arg(QCoreApplication::applicationVersion(), databaseEntry)
                          .arg(int(site_->CameraDetails))
                          .toUtf8();
  for (int size : site_->Manifest().WebSizes)
    common += ' ' + QByteArray::number(size);
  common += '\0';
  QList<int> albums = detailKeys_.keys();
  std::sort(albums.begin(), albums.end());
  QByteArray records;
  QList<int> same;
  for (int album : std::as_const(albums)) {
    const QByteArray inputs = detailKeys_.value(album);
    if (inputs.isEmpty() || album < 0) continue;
    QCryptographicHash hash(QCryptographicHash::Blake2b_160);
    hash.addData(common);
    hash.addData(inputs);
    const QByteArray key = hash.result();
    const quint32 id = quint32(album) | kDetailKeyBit;
    char idBytes[4];
    qToBigEndian(id, idBytes);
    records += QByteArray(idBytes, 4) + key;
    if (previousKeys.value(int(id)) == key) same << album;
  }
  site_->SameDetailAlbums = same;
  site_->PreviousDatabase =
      same.isEmpty() ? QByteArray() : archive_->PreviousBytes(databaseEntry, kMaxPreviousDatabase);
  return records;
}

QHash<int, QByteArray> TSiteArchive::albumKeys(const QByteArray& siteDigest) {
  QHash<int, QByteArray> keys;
  constexpr qsizetype record = 4 + kAlbumKeySize;
  if (siteDigest.size() < kSiteDigestSize || (siteDigest.size() - kSiteDigestSize) % record != 0)
    return keys;
  for (qsizetype at = kSiteDigestSize; at < siteDigest.size(); at += record)
    keys.insert(int(qFromBigEndian<quint32>(siteDigest.constData() + at)),
                siteDigest.mid(at + 4, kAlbumKeySize));
  return keys;
}

QByteArray TSiteArchive::siteDigest(const QString& databaseFile, const QString& databaseEntry) {
  QCryptographicHash hash(QCryptographicHash::Blake2b_256);
  auto text = [&](const QString& t) {
    hash.addData(t.toUtf8());
    hash.addData(QByteArrayView("\0", 1));
  };
  // What this build of the program makes of them, and the texts it blanks.
  text(QStringLiteral("site 1 ") + QCoreApplication::applicationVersion());
  text(QLocale().name());
  text(databaseEntry);
  QFile database(databaseFile);
  if (!database.open(QIODevice::ReadOnly) || !hash.addData(&database)) return QByteArray();
  text(QStringLiteral("%1 %2 %3")
           .arg(site_->Download)
           .arg(int(site_->CameraDetails))
           .arg(int(project_.ZipDatabase)));
  text(project_.SiteAddress);
  QList<int> leftOut(site_->LeftOutPictures.cbegin(), site_->LeftOutPictures.cend());
  std::sort(leftOut.begin(), leftOut.end());
  for (int id : std::as_const(leftOut))
    text(QString::number(id));
  // The template's files: the pages' skeleton and whatever else it ships.
  text(project_.SiteTemplate);
  if (!project_.SiteTemplate.isEmpty()) {
    QStringList files;
    ListTemplateFiles(templatesRoot(), project_.SiteTemplate, files);
    files.sort();
    const QString base = IncludeTrailingSeparator(templatesRoot()) + project_.SiteTemplate;
    for (const QString& file : std::as_const(files)) {
      const QString path = PathBelow(base, file);
      const TFileStamp stamp = FileStampOf(path);
      text(QStringLiteral("%1 %2 %3 %4 %5")
               .arg(path)
               .arg(int(stamp.IsFile))
               .arg(stamp.Size)
               .arg(qint64(stamp.MTime.tv_sec))
               .arg(qint64(stamp.MTime.tv_nsec)));
    }
  }
  hash.addData(siteInputs_.result());
  return hash.result();
}

bool TSiteArchive::keepSite(const QString& databaseEntry) {
  const QString info = QLatin1String(kSiteInfoName);
  if (!archive_->HasPrevious(databaseEntry) || !archive_->HasPrevious(info)) return false;
  const QStringList pages = archive_->PreviousEntries([](const QString& name) {
    return !name.contains(QLatin1Char('/')) && IsSitePageEntry(name);
  });
  QStringList names = pages;
  names << info << databaseEntry;
  for (const QString& name : std::as_const(names))
    if (!archive_->WantedAs(name).isEmpty()) return false;
  for (const QString& name : std::as_const(names))
    archive_->KeepPrevious(name);
  site_->KeepPages(pages);
  return true;
}

void TSiteArchive::wantPictures(const QList<TLumenfoldPicture*>& workList,
                                const QSet<const TLumenfoldPicture*>& skipped,
                                TArchiveFindings& findings) {
  const bool enabled[kSizes] = {project_.LargeEnabled, project_.MediumEnabled,
                                project_.ThumbEnabled};
  // A public site's database holds every image's size, and the shot's details when asked: the
  // files it is made from go into its digest.
  const bool site = project_.ZipDatabase && site_->Manifest().PublicStaticSite;
  const bool camera = site && project_.SiteCameraDetails;
  siteInputs_.reset();
  detailKeys_.clear();
  detailAlbum_ = -1;
  const QSet<const TLumenfoldPicture*> visited(workList.cbegin(), workList.cend());
  for (int a = 0; a < project_.Albums.Count(); ++a) {
    const TLumenfoldAlbum* album = project_.Albums.Albums(a);
    if (site) addSiteAlbum(album);
    // The album's folders are each listed once: most of the files are looked at from there.
    TFolderStamps stamps;
    for (int i = 0; i < album->Pictures.Count(); ++i) {
      const TLumenfoldPicture* p = album->Pictures.Pictures(i);
      if (!Published(p)) continue;
      if (site) addDetailPicture(p, Packs(p, false), stamps);
      const QString original = p->OriginalPath();
      // One look at each file: a regular file is taken as it is, anything else looked at closer.
      bool found = false;
      const TFileStamp originalStamp = stamps.Own(original, found);
      if (!found) {
        // Counted at its turn when it was in the work list, here otherwise.
        keepPublished(p, visited.contains(p), findings);
        continue;
      }
      if (camera) addSiteInput(p->OriginalFileName, original, originalStamp, true);
      // Only what decoded as a picture of the album goes in: never a file the link or the
      // name merely points at.
      QString refused;
      if (Packs(p, true) && !skipped.contains(p)) {
        refused = UnpackableReason(album->Path, original, true);
        if (refused.isEmpty())
          archive_->Want(AlbumEntry(album, p->OriginalFileName), original);
        else
          findings.RefusedFile(refused);
      }
      if (!Packs(p, false)) continue;
      for (int k = 0; k < kSizes; ++k) {
        if (!enabled[k] && !site) continue;
        const QString stored = p->StoredFileName(kGeneratedSizes[k]);
        const QString file = PathBelow(album->Path, stored);
        bool exists = false;
        const TFileStamp stamp = stamps.Own(file, exists);
        if (site) addSiteInput(stored, file, stamp, exists);
        if (!enabled[k]) continue;
        if (!exists) {
          if (!skipped.contains(p) && refused.isEmpty()) findings.MissingFile();
        } else if (stamp.IsFile) {
          archive_->Want(AlbumEntry(album, stored), file, stamp);
        } else if (const QString why = UnpackableReason(album->Path, file, false); !why.isEmpty()) {
          findings.RefusedFile(why);
        } else {
          archive_->Want(AlbumEntry(album, stored), file);
        }
      }
      if (Packs(p, false)) wantWebSizes(p, stamps, findings);
    }
  }
  finishDetailKey();
}

void TSiteArchive::addDetailPicture(const TLumenfoldPicture* p, bool packed,
                                    TFolderStamps& stamps) {
  const qint64 fields[] = {-1, p->Id, packed ? 1 : 0};
  detailInputs_.addData(QByteArrayView(reinterpret_cast<const char*>(fields), sizeof(fields)));
  if (packed) return;
  // Not packed, so not looked at for the archive: should the public copy take it all the same,
  // its details must not outlive its files.
  QStringList names;
  for (const TGeneratedSize size : kGeneratedSizes)
    names << p->StoredFileName(size);
  for (int size : site_->Manifest().WebSizes)
    names << WebSizeFileName(p->StoredFileName(TGeneratedSize::Medium), size);
  for (const QString& name : std::as_const(names)) {
    if (name.isEmpty()) continue;
    const QString file = PathBelow(p->Album->Path, name);
    bool exists = false;
    TFileStamp stamp = stamps.Own(file, exists);
    if (exists && !stamp.IsFile) stamp = FileStampOf(file);
    const qint64 seen[] = {name.size(), exists ? 1 : 0, stamp.Size, qint64(stamp.MTime.tv_sec),
                           qint64(stamp.MTime.tv_nsec)};
    detailInputs_.addData(QByteArrayView(reinterpret_cast<const char*>(seen), sizeof(seen)));
    detailInputs_.addData(QByteArrayView(reinterpret_cast<const char*>(name.constData()),
                                         name.size() * qsizetype(sizeof(QChar))));
  }
}

void TSiteArchive::finishDetailKey() {
  if (detailAlbum_ < 0) return;
  const QByteArray key = detailInputs_.result();
  detailKeys_.insert(detailAlbum_, key);
  // The site's inputs are those of its albums, in their order.
  const qint64 album = detailAlbum_;
  siteInputs_.addData(QByteArrayView(reinterpret_cast<const char*>(&album), sizeof(album)));
  siteInputs_.addData(key);
  detailAlbum_ = -1;
}

void TSiteArchive::addSiteAlbum(const TLumenfoldAlbum* album) {
  if (album->Id != detailAlbum_) {
    finishDetailKey();
    detailAlbum_ = album->Id;
    detailInputs_.reset();
  }
  // The names below are relative to the album's folder.
  addSiteInput(album->Path, QString(), TFileStamp(), false);
}

void TSiteArchive::addSiteInput(const QString& name, const QString& path, const TFileStamp& stamp,
                                bool exists) {
  // A link is read through by the site's database.
  const TFileStamp s = exists && !stamp.IsFile ? FileStampOf(path) : stamp;
  const qint64 fields[] = {name.size(), exists ? 1 : 0,         s.IsFile ? 1 : 0,
                           s.Size,      qint64(s.MTime.tv_sec), qint64(s.MTime.tv_nsec)};
  const QByteArrayView seen(reinterpret_cast<const char*>(fields), sizeof(fields));
  const QByteArrayView named(reinterpret_cast<const char*>(name.constData()),
                             name.size() * qsizetype(sizeof(QChar)));
  detailInputs_.addData(seen);
  detailInputs_.addData(named);
}

void TSiteArchive::wantWebSizes(const TLumenfoldPicture* p, TFolderStamps& stamps,
                                TArchiveFindings& findings) {
  // Only the sizes the template asks for today, and only those made for the picture (a small
  // picture skips the larger ones).
  // The site's database names them with their sizes: they go into its digest.
  const TLumenfoldAlbum* album = p->Album;
  const bool site = project_.ZipDatabase && site_->Manifest().PublicStaticSite;
  const QString medium = p->StoredFileName(TGeneratedSize::Medium);
  for (int size : site_->Manifest().WebSizes) {
    const QString stored = WebSizeFileName(medium, size);
    if (stored.isEmpty()) continue;
    const QString file = PathBelow(album->Path, stored);
    bool exists = false;
    const TFileStamp stamp = stamps.Own(file, exists);
    if (site) addSiteInput(stored, file, stamp, exists);
    if (!exists) continue;
    // A regular file is taken with the stamp just read; a link or anything else is judged.
    if (stamp.IsFile)
      archive_->Want(AlbumEntry(album, stored), file, stamp);
    else if (const QString why = UnpackableReason(album->Path, file, false); !why.isEmpty())
      findings.RefusedFile(why);
    else
      archive_->Want(AlbumEntry(album, stored), file);
  }
}

void TSiteArchive::keepPublished(const TLumenfoldPicture* p, bool counted,
                                 TArchiveFindings& findings) {
  if (!counted) findings.MissingOriginal(p->OriginalPath());
  if (!Packs(p, false) && !Packs(p, true)) return; // nothing of it is published
  const TLumenfoldAlbum* album = p->Album;
  if (project_.ZipDatabase && site_->Manifest().PublicStaticSite) {
    addSiteAlbum(album);
    addSiteInput(p->OriginalFileName, QString(), TFileStamp(), false);
    for (int k = 0; k < kSizes; ++k) {
      const QString stored = p->StoredFileName(kGeneratedSizes[k]);
      const QString file = PathBelow(album->Path, stored);
      bool exists = false;
      const TFileStamp stamp = OwnFileStamp(file, exists);
      addSiteInput(stored, file, stamp, exists);
    }
  }
  const bool enabled[kSizes] = {project_.LargeEnabled, project_.MediumEnabled,
                                project_.ThumbEnabled};
  // Its images on disk, or else the ones the previous archive holds; its original as the
  // previous archive holds it.
  bool kept = false;
  for (int k = 0; k < kSizes; ++k) {
    if (!enabled[k] || !Packs(p, false)) continue;
    const QString stored = p->StoredFileName(kGeneratedSizes[k]);
    const QString file = PathBelow(album->Path, stored);
    if (PathExists(file) && UnpackableReason(album->Path, file, false).isEmpty() &&
        archive_->Want(AlbumEntry(album, stored), file))
      kept = true;
    else if (archive_->KeepPrevious(AlbumEntry(album, stored)))
      kept = true;
  }
  if (Packs(p, true)) archive_->KeepPrevious(AlbumEntry(album, p->OriginalFileName));
  if (kept) {
    TFolderStamps stamps;
    wantWebSizes(p, stamps, findings);
  }
  // Without any image the site would show a picture that is not there.
  if (!kept) site_->LeftOutPictures.insert(p->Id);
  QString text = QStringLiteral("The original \"%1\" of a published picture was not found; ")
                     .arg(p->OriginalPath());
  if (kept)
    text += QStringLiteral("its images in the archive were kept.");
  else if (site_->Manifest().PublicStaticSite)
    text += QStringLiteral("it has no images and was left out of the site's database.");
  else
    text += QStringLiteral("it has no images in the archive.");
  findings.Reason(text);
}

void TSiteArchive::wantTemplate() {
  const QString name = project_.SiteTemplate;
  const QString root = templatesRoot();
  QStringList files;
  ListTemplateFiles(root, name, files);
  const QString base = IncludeTrailingSeparator(root) + name;
  for (const QString& file : std::as_const(files)) {
    if (!site_->PacksTemplateFile(file)) continue;
    // A template file never replaces a picture's file or the database in the archive.
    const QString packedAs = archive_->WantedAs(file);
    if (!packedAs.isEmpty())
      throw TZipError(QStringLiteral("The file \"%1\" of the site template \"%2\" would replace "
                                     "\"%3\", which is already in the zip archive. Rename the "
                                     "file in the template or the album's site folder.")
                          .arg(file, name, packedAs));
    archive_->Want(file, PathBelow(base, file));
  }
}
