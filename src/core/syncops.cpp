#include "core/syncops.h"

#include "core/album.h"
#include "core/outputsettings.h"
#include "core/picture.h"
#include "core/project.h"
#include "db/sqlaccess.h"
#include "util/helpers.h"
#include "util/safefile.h"
#include "util/userprompt.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <ctime>
#include <sys/stat.h>

namespace {

QString cleanFolder(const QString& folder) {
  return QDir::cleanPath(QDir::fromNativeSeparators(folder.trimmed()));
}

} // namespace

namespace {

// OriginalStateOf in the time zone the last tzset() read: one stat call per picture, for
// checks over whole albums.
TOriginalState originalState(const TLumenfoldPicture& picture, bool compareHash) {
  if (picture.OriginalFileName.isEmpty()) return TOriginalState::Missing;
  const QString path = picture.OriginalPath();
  struct stat st;
  // A link is followed, as the run follows it.
  if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
    return TOriginalState::Missing;
  // Facts never recorded give nothing to differ from.
  if (picture.OriginalSize < 0 && picture.OriginalDate < 0) return TOriginalState::Present;
  const qint64 size = qint64(st.st_size);
  const int recordedSize = size > 0x7FFFFFFF ? -1 : int(size);
  if (recordedSize != picture.OriginalSize) return TOriginalState::Changed;
  // A picture that was never checked has no checksum to compare with.
  if (compareHash && !picture.OriginalHash.isEmpty())
    return GetFileHash(path) == picture.OriginalHash ? TOriginalState::Present
                                                     : TOriginalState::Changed;
  if (DosDateTimeOfSecsInZone(qint64(st.st_mtime)) != picture.OriginalDate)
    return TOriginalState::Changed;
  return TOriginalState::Present;
}

} // namespace

TOriginalState OriginalStateOf(const TLumenfoldPicture& picture, bool compareHash) {
  tzset();
  return originalState(picture, compareHash);
}

int MarkChangedOriginals(TLumenfoldAlbum& album, bool compareHash,
                         QList<TLumenfoldPicture*>* changedPictures) {
  int changed = 0;
  tzset(); // the zone as the system has it now, read once for the album
  for (int i = 0; i < album.Pictures.Count(); ++i) {
    TLumenfoldPicture* p = album.Pictures.Pictures(i);
    if (p->IsDeleted || originalState(*p, compareHash) != TOriginalState::Changed) continue;
    p->SetModified(true);
    ++changed;
    if (changedPictures) changedPictures->append(p);
  }
  return changed;
}

int TSyncReport::Count(TOriginalState state) const {
  int n = 0;
  for (const TSyncFinding& f : Findings)
    if (f.State == state) ++n;
  return n;
}

bool EnsurePicturesLoaded(TLumenfoldAlbum& album, QString* error) {
  if (album.Loaded) return true;
  if (album.Id != -1 && album.HasUnsavedPictures()) {
    if (error)
      *error = QStringLiteral("album \"%1\": some pictures have unsaved changes and the others "
                              "are not read yet; save the project first")
                   .arg(album.ShortName);
    return false;
  }
  if (album.LoadPictures()) return true;
  if (error)
    *error = QStringLiteral("album \"%1\": its pictures could not be read").arg(album.ShortName);
  return false;
}

bool CheckAlbumFiles(TLumenfoldAlbum& album, bool compareHash, TSyncReport& report) {
  ++report.AlbumsChecked;
  if (!album.PathExists()) {
    report.MissingFolders.push_back(&album);
    return true;
  }
  QString error;
  if (!EnsurePicturesLoaded(album, &error)) {
    report.Errors.append(error);
    return false;
  }
  tzset(); // the zone as the system has it now, read once for the album
  for (int i = 0; i < album.Pictures.Count(); ++i) {
    TLumenfoldPicture* p = album.Pictures.Pictures(i);
    ++report.PicturesChecked;
    // Names from a damaged database and files that must not be read are named, not checked.
    QString why = p->NameProblem();
    if (why.isEmpty() && !p->OriginalFileName.isEmpty()) {
      const TFileRefusal refusal = CheckRegularFile(p->OriginalPath(), &why);
      if (refusal == TFileRefusal::None || refusal == TFileRefusal::Missing) why.clear();
    }
    if (!why.isEmpty()) {
      report.Skipped.push_back({&album, p, TOriginalState::Missing, why});
      continue;
    }
    const TOriginalState state = originalState(*p, compareHash);
    if (state != TOriginalState::Present) report.Findings.push_back({&album, p, state, QString()});
  }
  return true;
}

TSyncReport CheckProjectFiles(TLumenfoldProject& project, bool compareHash,
                              const TSyncProgress& progress) {
  TSyncReport report;
  const int count = project.Albums.Count();
  for (int i = 0; i < count; ++i) {
    if (progress && !progress(i, count)) break;
    CheckAlbumFiles(*project.Albums.Albums(i), compareHash, report);
  }
  if (progress) progress(count, count);
  return report;
}

TLumenfoldAlbum* AlbumUsingFolder(const TLumenfoldProject& project, const QString& folder,
                                  const TLumenfoldAlbum* except) {
  const QString wanted = cleanFolder(folder);
  if (wanted.isEmpty()) return nullptr;
  for (int i = 0; i < project.Albums.Count(); ++i) {
    TLumenfoldAlbum* a = project.Albums.Albums(i);
    if (a == except || a->Path.trimmed().isEmpty()) continue;
    if (cleanFolder(a->Path).compare(wanted, Qt::CaseInsensitive) == 0) return a;
  }
  return nullptr;
}

QString RelocateAlbum(TLumenfoldProject& project, TLumenfoldAlbum& album, const QString& folder,
                      const QString& directory) {
  const QString wanted = folder.trimmed();
  if (wanted.isEmpty()) return QStringLiteral("No folder was given.");
  if (!QFileInfo(wanted).isDir())
    return QStringLiteral("The folder does not exist: %1").arg(wanted);
  if (const TLumenfoldAlbum* other = AlbumUsingFolder(project, wanted, &album))
    return QStringLiteral("The folder %1 is already used by album \"%2\".")
        .arg(wanted, other->ShortName);
  if (const QString clash = ValidateAlbumFolder(project, wanted, &album); !clash.isEmpty())
    return clash;
  album.SetPath(QDir::toNativeSeparators(cleanFolder(wanted)));
  if (!directory.trimmed().isEmpty() && directory != album.Directory) {
    album.Directory = directory.trimmed();
    album.SetDirty(true);
  }
  return QString();
}

int RemoveMissingPictures(TLumenfoldAlbum& album,
                          const std::function<bool(TLumenfoldPicture&)>& decide) {
  if (!album.PathExists()) return 0;
  std::vector<TLumenfoldPicture*> missing;
  for (int i = 0; i < album.Pictures.Count(); ++i) {
    TLumenfoldPicture* p = album.Pictures.Pictures(i);
    if (!p->NameProblem().isEmpty()) continue;
    if (p->OriginalFileName.isEmpty() || !QFileInfo(p->OriginalPath()).isFile())
      missing.push_back(p);
  }
  if (missing.empty()) return 0;
  // A folder that is there but holds none of the album's pictures is more often a drive that is
  // not mounted, or a folder emptied by mistake, than an album whose pictures were all deleted.
  if (int(missing.size()) == album.Pictures.Count() &&
      !Prompt()->confirm(
          QStringLiteral("None of the %1 pictures of album \"%2\" is in its folder %3. Is the "
                         "folder on a drive that is not connected? Remove the records of all "
                         "these pictures from the project?")
              .arg(missing.size())
              .arg(album.ShortName, album.Path)))
    return 0;
  std::vector<TLumenfoldPicture*> chosen;
  for (TLumenfoldPicture* p : missing)
    if (!decide || decide(*p)) chosen.push_back(p);
  if (chosen.empty()) return 0;
  // All rows go in one transaction, and the pictures leave memory only once it is committed.
  {
    TSqlTransaction transaction(CurrentConnectionString());
    for (TLumenfoldPicture* p : chosen)
      if (!p->Delete()) return 0;
    if (!transaction.Commit()) return 0;
  }
  bool faceGone = false;
  for (TLumenfoldPicture* p : chosen) {
    faceGone = faceGone || p->IsFace || (p->Id != -1 && p->Id == album.FacePictureId);
    if (album.FacePicture == p) album.FacePicture = nullptr;
    album.Pictures.Delete(album.Pictures.IndexOfObject(p));
  }
  if (faceGone) {
    // The album row must not keep naming a picture that is gone.
    album.FacePictureId = -1;
    album.FacePicture = nullptr;
    album.SetDirty(true);
  }
  return int(chosen.size());
}

bool SynchronizePicture(TLumenfoldPicture& picture) {
  if (!QFileInfo(picture.OriginalPath()).isFile()) return false;
  const int date = picture.OriginalDate, size = picture.OriginalSize;
  const QString hash = picture.OriginalHash;
  picture.Synchronize();
  // Recording new facts without marking the picture would hide the change from processing.
  if (picture.OriginalDate != date || picture.OriginalSize != size || picture.OriginalHash != hash)
    picture.SetModified(true);
  return true;
}

TImportResult ImportNewAlbumFiles(TLumenfoldAlbum& album) {
  TImportResult result;
  if (!album.PathExists()) {
    result.Error = QStringLiteral("The folder of album \"%1\" does not exist: %2")
                       .arg(album.ShortName, album.Path);
    return result;
  }
  // Without the stored pictures every file of the folder would count as new.
  if (!EnsurePicturesLoaded(album, &result.Error)) return result;
  const int before = album.Pictures.Count();
  if (!album.ImportNewFiles(album.Path)) {
    result.Error =
        QStringLiteral("the new pictures of album \"%1\" were not imported").arg(album.ShortName);
    return result;
  }
  for (int i = before; i < album.Pictures.Count(); ++i) {
    TLumenfoldPicture* p = album.Pictures.Pictures(i);
    p->SetModified(true);
    result.Added.push_back(p);
  }
  return result;
}
