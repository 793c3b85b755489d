// Drawing of signature items: text in the item's font, images with one colour keyed out.
#include "core/signaturerender.h"

#include "core/signature.h"
#include "util/tracer.h"

#include <QFileInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QScreen>
#include <atomic>
#include <cmath>

namespace {

std::atomic<int> textDpi{96};

void traceNote(const QString& note) {
  try {
    Tracer().Write(note);
  } catch (...) {
    // The trace log is best effort.
  }
}

void drawText(const TLumenfoldSignatureItem& item, QImage& bitmap, const TLumenfoldPicture* picture,
              QPoint offset, int location) {
  // Fonts exist only inside a QGuiApplication; without one the text is left out rather than
  // aborting the program.
  if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
    traceNote(QStringLiteral("Signature text \"%1\" not drawn: no graphical application")
                  .arg(item.Caption()));
    return;
  }
  const QString text = SignatureCaptionText(item.Caption(), picture);
  const QFont font = SignatureItemFont(item);
  const QFontMetrics metrics(font, &bitmap);
  const QSize size(metrics.horizontalAdvance(text), metrics.height());
  QPoint topLeft;
  if (!SignatureAnchor(bitmap.size(), size, location, offset, &topLeft)) return;
  QPainter painter(&bitmap);
  if (!painter.isActive()) return;
  painter.setFont(font);
  painter.setPen(QColor::fromRgb(SignatureColorToRgb(item.FontColor)));
  painter.setBackgroundMode(Qt::TransparentMode);
  painter.drawText(QPoint(topLeft.x(), topLeft.y() + metrics.ascent()), text);
}

void drawImage(const TLumenfoldSignatureItem& item, QImage& bitmap, QPoint offset, int location) {
  const QString path = item.ImageName();
  if (path.isEmpty() || !QFileInfo(path).isFile()) return;
  QImageReader reader(path);
  QImage image = reader.read();
  if (image.isNull()) {
    // A damaged logo must not stop the run: the item is left out.
    traceNote(QStringLiteral("Signature image \"%1\" could not be read: %2")
                  .arg(path, reader.errorString()));
    return;
  }
  image = image.convertToFormat(QImage::Format_ARGB32);
  const QRgb key = SignatureColorToRgb(item.ImageTransparent);
  for (int y = 0; y < image.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x)
      if (line[x] == key) line[x] = 0;
  }
  QPoint topLeft;
  if (!SignatureAnchor(bitmap.size(), image.size(), location, offset, &topLeft)) return;
  QPainter painter(&bitmap);
  if (!painter.isActive()) return;
  painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
  painter.drawImage(topLeft, image);
}

} // namespace

bool SignatureAnchor(QSize bitmap, QSize item, int location, QPoint offset, QPoint* topLeft) {
  const int W = bitmap.width(), H = bitmap.height();
  const int w = item.width(), h = item.height();
  // C++ division truncates toward zero, as the anchors want.
  const int left = 0, centerX = (W - w) / 2, right = W - w;
  const int top = 0, centerY = (H - h) / 2, bottom = H - h;
  int x = 0, y = 0;
  switch (location) {
  case 0:
    x = 0;
    y = 0;
    break;
  case 1:
    x = left;
    y = top;
    break;
  case 2:
    x = centerX;
    y = top;
    break;
  case 3:
    x = right;
    y = top;
    break;
  case 4:
    x = left;
    y = centerY;
    break;
  case 5:
    x = centerX;
    y = centerY;
    break;
  case 6:
    x = right;
    y = centerY;
    break;
  case 7:
    x = left;
    y = bottom;
    break;
  case 8:
    x = centerX;
    y = bottom;
    break;
  case 9:
    x = right;
    y = bottom;
    break;
  default:
    return false;
  }
  if (topLeft) *topLeft = QPoint(x + offset.x(), y + offset.y());
  return true;
}

int SignatureTextDpi() {
  return textDpi.load();
}

void SetSignatureTextDpi(int dpi) {
  textDpi.store(dpi > 0 ? dpi : 96);
}

int SignatureFontPixelSize(int points) {
  const int pixels = int(std::lround(double(points) * SignatureTextDpi() / 72.0));
  return pixels < 1 ? 1 : pixels;
}

QFont SignatureItemFont(const TLumenfoldSignatureItem& item) {
  QFont font(item.FontName);
  font.setPixelSize(SignatureFontPixelSize(item.FontSize));
  font.setBold(item.FontStyle.testFlag(TFontStyle::fsBold));
  font.setItalic(item.FontStyle.testFlag(TFontStyle::fsItalic));
  font.setUnderline(item.FontStyle.testFlag(TFontStyle::fsUnderline));
  font.setStrikeOut(item.FontStyle.testFlag(TFontStyle::fsStrikeOut));
  return font;
}

QRgb SignatureColorToRgb(int color) {
  const auto c = quint32(color);
  return qRgba(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF), 255);
}

void TLumenfoldSignatureItem::DrawAt(QImage& bitmap, const TLumenfoldPicture* picture,
                                     QPoint offset, int location) const {
  if (bitmap.isNull() || location < 0 || location >= kSignatureLocationCount) return;
  if (!Caption().isEmpty())
    drawText(*this, bitmap, picture, offset, location);
  else
    drawImage(*this, bitmap, offset, location);
}

void TLumenfoldSignature::Draw(QImage& bitmap, const TLumenfoldPicture* picture) const {
  for (int i = 0; i < Maps.Count(); ++i) {
    const TLumenfoldSignatureMap* map = Maps.Maps(i);
    if (map->Item) map->Item->DrawAt(bitmap, picture, map->Offset, map->Location);
  }
}
