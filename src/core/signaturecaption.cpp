// Caption macros of signature items, expanded per picture.
#include "core/signaturerender.h"

QString SignatureCaptionText(const QString& caption, const TLumenfoldPicture* picture) {
  if (!picture) return caption;
  return caption;
}
