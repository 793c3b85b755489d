// Turning and mirroring a picture, and copying an edited picture back into the model.
#include "core/picture.h"

#include "core/album.h"
#include "core/project.h"
#include "util/durablefiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

bool ApplyPictureEdits(TLumenfoldPicture& picture, const TLumenfoldPicture& copy) {
  if (&picture == &copy || picture.Equals(copy)) return false;
  if (copy.IsFace != picture.IsFace) picture.SetIsFace(copy.IsFace);
  picture.Assign(copy);
  if (TLumenfoldProject* project = picture.Project())
    DropUnknownCategories(picture, project->Categories);
  picture.SetDirty(true);
  picture.SetModified(true);
  return true;
}

QStringList ExistingPictureFiles(const TLumenfoldPicture& picture) {
  QStringList files;
  for (const QString& path : {picture.OriginalPath(), picture.LargePath(), picture.MediumPath(),
                              picture.ThumbPath(), picture.TempThumbPath()})
    if (!path.isEmpty() && QFileInfo(path).isFile() && !files.contains(path)) files << path;
  // The site's extra web sizes: "ps_w<size>" folders holding the medium image's file name.
  const QString medium = QFileInfo(picture.MediumPath()).fileName();
  if (medium.isEmpty() || !picture.Album || picture.Album->Path.isEmpty()) return files;
  for (const QString& folder : WebSizeFolders(picture.Album->Path)) {
    const QString path = folder + QLatin1Char('/') + medium;
    if (QFileInfo(path).isFile()) files << path;
  }
  return files;
}

QStringList WebSizeFolders(const QString& albumPath) {
  QStringList folders;
  if (albumPath.isEmpty()) return folders;
  static const QRegularExpression sized(QStringLiteral("^ps_w\\d+$"));
  const QDir album(albumPath);
  for (const QString& name : album.entryList({QStringLiteral("ps_w*")}, QDir::Dirs))
    if (sized.match(name).hasMatch()) folders << album.filePath(name);
  return folders;
}

QStringList MoveFilesToTrash(const QStringList& files) {
  QStringList failed;
  for (const QString& path : files)
    if (QFileInfo::exists(path) && !MoveToTrash(path)) failed << path;
  return failed;
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
