// Copying an edited picture back into the model.
#include "core/picture.h"

#include "core/project.h"

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
