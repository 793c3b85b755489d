// Copying an edited picture back into the model.
#include "core/picture.h"

#include "core/project.h"
#include "util/durablefiles.h"

#include <QFile>
#include <QFileInfo>

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
  return files;
}

QStringList MoveFilesToTrash(const QStringList& files) {
  QStringList failed;
  for (const QString& path : files)
    if (QFileInfo::exists(path) && !MoveToTrash(path)) failed << path;
  return failed;
}
