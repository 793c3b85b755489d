// Renders the program's icon (src/ui/common/images/app.svg) as the PNG sizes of the icon theme.
// Run once when the icon changes (cmake --build build --target app_icons); the PNG files are
// committed, so that a build needs no SVG renderer.
//
//   mkappicons ICON.svg OUTPUT_FOLDER
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <cstdio>

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: mkappicons ICON.svg OUTPUT_FOLDER\n");
    return 2;
  }
  QDir().mkpath(QString::fromLocal8Bit(argv[2]));
  for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
    QImageReader reader(QString::fromLocal8Bit(argv[1]));
    reader.setScaledSize(QSize(size, size));
    QImage image = reader.read();
    const QString out = QDir(QString::fromLocal8Bit(argv[2]))
                            .filePath(QStringLiteral("lumenfold-%1.png").arg(size));
    if (image.isNull() || !image.save(out)) {
      std::fprintf(stderr, "mkappicons: cannot make %s: %s\n", qPrintable(out),
                   qPrintable(reader.errorString()));
      return 1;
    }
  }
  return 0;
}
