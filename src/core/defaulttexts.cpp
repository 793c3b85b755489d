#include "core/defaulttexts.h"

const QStringList& PlaceholderTexts() {
  static const QStringList texts = {
      QLatin1String(kDefaultAlbumLongName), QLatin1String(kDefaultCategoryTitle),
      QLatin1String(kDefaultCategoryTitle2), QLatin1String(kDefaultCategoryDescription),
      QLatin1String(kDefaultCategoryDescription2)};
  return texts;
}

bool IsPlaceholderText(const QString& text) {
  return PlaceholderTexts().contains(text);
}

QString PublishedText(const QString& text) {
  return IsPlaceholderText(text) ? QString() : text;
}
