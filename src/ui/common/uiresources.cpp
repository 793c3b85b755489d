#include "ui/common/uiresources.h"

#include <QFile>
#include <QImageReader>

// Q_INIT_RESOURCE must be used outside any namespace.
static void initResourcesOnce() {
  Q_INIT_RESOURCE(uiresources);
}

void InitUiResources() {
  static const bool done = (initResourcesOnce(), true);
  (void)done;
}

QImage UiImage(const QString& name, QSize size) {
  InitUiResources();
  const QString path = name.startsWith(':') ? name : ":/" + name;
  QFile file(path);
  if (!file.exists()) return QImage();
  QImageReader reader(path, "svg");
  if (!reader.canRead()) {
    // Not SVG: let the reader find the format itself.
    reader.setFileName(path);
    reader.setFormat(QByteArray());
  }
  if (size.isValid() && !size.isEmpty()) reader.setScaledSize(size);
  return reader.read();
}

QPixmap UiPixmap(const QString& name, QSize size) {
  return QPixmap::fromImage(UiImage(name, size));
}

QIcon UiIcon(const QString& name) {
  QIcon icon;
  for (int side : {16, 24, 32, 48, 64, 96}) {
    const QImage img = UiImage(":/icons/" + name + ".svg", QSize(side, side));
    if (!img.isNull()) icon.addPixmap(QPixmap::fromImage(img));
  }
  return icon;
}
