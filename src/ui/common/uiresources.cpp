#include "ui/common/uiresources.h"

#include <QBuffer>
#include <QFile>
#include <QGuiApplication>
#include <QImageReader>
#include <QPalette>

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

namespace {

// The icons' ink: dark navy, which disappears on a dark window; there it is drawn light instead.
constexpr char kInk[] = "#1f3b4d";
constexpr char kInkOnDark[] = "#c9d7e2";

bool paletteIsDark() {
  return QGuiApplication::palette().color(QPalette::Window).lightness() < 128;
}

} // namespace

QIcon UiIcon(const QString& name) {
  InitUiResources();
  QFile file(":/icons/" + name + ".svg");
  if (!file.open(QIODevice::ReadOnly)) return QIcon();
  QByteArray svg = file.readAll();
  if (paletteIsDark()) svg.replace(kInk, kInkOnDark);
  QIcon icon;
  for (int side : {16, 24, 32, 48, 64, 96}) {
    QBuffer buffer(&svg);
    QImageReader reader(&buffer, "svg");
    reader.setScaledSize(QSize(side, side));
    const QImage img = reader.read();
    if (!img.isNull()) icon.addPixmap(QPixmap::fromImage(img));
  }
  return icon;
}
