// Copying an edited picture back into the model.
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
