// Caption macros of signature items, expanded per picture.
#include "core/album.h"
#include "core/picture.h"
#include "core/project.h"
#include "core/renaming.h"
#include "core/signaturerender.h"

namespace {

// Position of the picture in its album's list. The picture itself is looked up first (and a
// copy by its id), so the macros always describe this picture even when the stored sort orders
// have gaps; the stored sort order is the last resort.
int positionInAlbum(const TLumenfoldPicture* picture, const TLumenfoldAlbum* album) {
  const TLumenfoldPictureList& pictures = album->Pictures;
  const int index = pictures.IndexOfObject(picture);
  if (index >= 0) return index;
  if (picture->Id != -1)
    for (int i = 0; i < pictures.Count(); ++i)
      if (pictures.Pictures(i)->Id == picture->Id) return i;
  return picture->SortOrder;
}

} // namespace

QString SignatureCaptionText(const QString& caption, const TLumenfoldPicture* picture) {
  if (!picture || !picture->Album || !picture->Album->Project) return caption;
  const TLumenfoldAlbum* album = picture->Album;
  return ExpandRenameTemplate(album, positionInAlbum(picture, album), album->Project->RenameStart,
                              false, false, caption);
}
