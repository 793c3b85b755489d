// A picture's files: the facts of its original, renaming it with its generated files, and
// deleting it with them.
#include "core/picture.h"

#include "core/album.h"
#include "core/previewcache.h"
#include "util/helpers.h"
#include "util/imaging/imageerror.h"
#include "util/imaging/jpegcodec.h"
#include "util/programfolder.h"
#include "util/safefile.h"

#include <QFile>
#include <QFileInfo>

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
