#include "processing/sitearchive.h"

#include "core/album.h"
#include "core/outputsettings.h"
#include "core/picture.h"
#include "core/project.h"
#include "processing/archive/archivebuilder.h"
#include "processing/archive/archivefiles.h"
#include "processing/archive/archivemark.h"
#include "processing/publicsite.h"
#include "processing/sitearchivebasics.h"
#include "processing/sitefolder.h"
#include "util/helpers.h"
#include "util/programfolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <algorithm>

namespace {

using site_archive::kGeneratedSizes;
using site_archive::kSizes;
using site_archive::templatesRoot;

// The template is one folder inside the templates folder, never a path leading elsewhere.
bool isTemplateFolderName(const QString& name) {
  return !name.trimmed().isEmpty() && !name.contains(QLatin1Char('/')) &&
         !name.contains(QLatin1Char('\\')) && name != QLatin1String(".") &&
         name != QLatin1String("..") && !QDir::isAbsolutePath(name) &&
         !name.contains(QLatin1Char(':'));
}

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
