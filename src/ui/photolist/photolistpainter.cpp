#include "ui/photolist/photolistpainter.h"

#include "core/picture.h"
#include "ui/photolist/photolistview.h"
#include "util/imaging/drawing.h"
#include "util/imaging/imaging.h"

#include <QFontMetrics>
#include <QLocale>
#include <QPainter>
#include <QPalette>
#include <algorithm>
#include <cmath>

TPhotoItemPainter::TPhotoItemPainter() {
  InitPhotoListResources();
  loadMarks();
}

void TPhotoItemPainter::loadMarks() {
  static const char* const names[mkCount] = {"MAIN_ACTION",   "MAIN_DELETE", "MAIN_PRIVATE",
                                             "MAIN_CATEGORY", "MAIN_SIGN",   "MAIN_FACE"};
  for (int i = 0; i < mkCount; ++i) {
    QImage image(QStringLiteral(":/listview/") + QLatin1String(names[i]));
    if (image.isNull()) break; // the rest stay empty
    marks_[i] = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  }
}

// ---- geometry ---------------------------------------------------------------------------------

int TPhotoItemPainter::SetThumbnailSize(int size) {
  size_ = std::clamp(size, int(MinThumbnailSize), int(MaxThumbnailSize));
  return size_;
}

QSize TPhotoItemPainter::CellSize(const QFontMetrics& metrics) const {
  // The preview box is the size wide; the tile keeps room for the frame and the text lines
  // (154 high at the default size with two lines).
  const int height = size_ * 3 / 4 + 31 - (ShowSizeLine ? 0 : metrics.height());
  return QSize(size_ + 8, height);
}

QRect TPhotoItemPainter::PreviewBox(const QRect& cell, const QFontMetrics& metrics) const {
  // Two pixels of margin, the frame, its inner margin and one pixel more for a picture.
  const int textRoom = TextLines() * metrics.height() + 2;
  return QRect(cell.left() + 5, cell.top() + 5, cell.width() - 10, cell.height() - 10 - textRoom);
}

QSize TPhotoItemPainter::PreviewPixels(const QFontMetrics& metrics, qreal devicePixelRatio) const {
  const QSize box = PreviewBox(QRect(QPoint(0, 0), CellSize(metrics)), metrics).size();
  const qreal ratio = std::max<qreal>(1.0, devicePixelRatio);
  return QSize(int(std::ceil(box.width() * ratio)), int(std::ceil(box.height() * ratio)));
}

int TPhotoItemPainter::ButtonsPerLine(const QRect& cell) const {
  return std::max(1, (cell.width() - 8) / ButtonWidth);
}

QRect TPhotoItemPainter::StripRect(const QRect& cell, int count) const {
  if (cell.isEmpty() || count <= 0) return QRect();
  const int perLine = ButtonsPerLine(cell);
  const int lines = (count + perLine - 1) / perLine;
  return QRect(cell.left() + 4, cell.top() + 5, std::min(count, perLine) * ButtonWidth,
               lines * ButtonHeight);
}

int TPhotoItemPainter::ButtonAt(const QRect& cell, int count, const QPoint& pos) const {
  const QRect strip = StripRect(cell, count);
  if (!strip.contains(pos)) return -1;
  const int number = (pos.y() - strip.top()) / ButtonHeight * ButtonsPerLine(cell) +
                     (pos.x() - strip.left()) / ButtonWidth;
  return number < count ? number : -1;
}

// ---- texts ------------------------------------------------------------------------------------

QString TPhotoItemPainter::FormatThousands(qint64 value, const QLocale& locale) {
  if (value == 0) return QString();
  QString digits = QString::number(value < 0 ? -value : value);
  const QString separator = locale.groupSeparator();
  for (int i = int(digits.size()) - 3; i > 0; i -= 3)
    digits.insert(i, separator);
  return value < 0 ? QStringLiteral("-") + digits : digits;
}

QString TPhotoItemPainter::ShortenText(const QString& text, const QFontMetrics& metrics,
                                       int width) {
  if (metrics.horizontalAdvance(text) <= width) return text;
  QString s = text;
  s.insert(std::min<qsizetype>(4, s.size()), QStringLiteral("..."));
  const qsizetype cut = std::min<qsizetype>(4, text.size()) + 3;
  for (int n = 0; n < 999 && s.size() > cut && metrics.horizontalAdvance(s) > width; ++n)
    s.remove(cut, 1);
  return s;
}

QString TPhotoItemPainter::SizeLine(const TLumenfoldPicture& picture, const QLocale& locale) {
  return QStringLiteral("%1x%2 - %3")
      .arg(picture.OriginalWidth)
      .arg(picture.OriginalHeight)
      .arg(FormatThousands(picture.OriginalSize, locale));
}

QString TPhotoItemPainter::InfoLine(const TLumenfoldPicture& picture, const QLocale& locale) {
  return picture.OriginalMissing ? QStringLiteral("original missing") : SizeLine(picture, locale);
}

QString TPhotoItemPainter::TitleLine(const TLumenfoldPicture& picture) {
  const QString title = picture.Title.trimmed();
  return title.isEmpty() ? picture.OriginalFileName : title;
}

// ---- drawing ----------------------------------------------------------------------------------

void TPhotoItemPainter::drawPreview(QPainter& p, const TLumenfoldPicture& picture,
                                    const QRect& box) {
  const TCropRect& crop = picture.CropRect;
  QSize original =
      OrientedSize(QSize(picture.OriginalWidth, picture.OriginalHeight), picture.Orientation);
  if (CropIsSet(crop.X1, crop.Y1, crop.X2, crop.Y2) && original.width() > 0 &&
      original.height() > 0) {
    const double sx = double(work_.width()) / original.width();
    const double sy = double(work_.height()) / original.height();
    const QPoint a(qRound(sx * crop.X1), qRound(sy * crop.Y1));
    const QPoint c(qRound(sx * crop.X2), qRound(sy * crop.Y2));
    const QPoint frame[5] = {a, QPoint(c.x(), a.y()), c, QPoint(a.x(), c.y()), a};
    if (work_.format() != QImage::Format_RGB32) work_ = work_.convertToFormat(QImage::Format_RGB32);
    QPainter wp(&work_);
    wp.setRenderHint(QPainter::Antialiasing, false);
    // Black, black, white, white, advancing half a step per pixel: 4 black, 4 white.
    wp.setPen(QPen(Qt::white, 0));
    wp.drawPolyline(frame, 5);
    QPen dash(Qt::black, 0);
    dash.setDashPattern({4.0, 4.0});
    wp.setPen(dash);
    wp.drawPolyline(frame, 5);
  }
  // On a high-density screen the preview is resampled to the device's pixels, not enlarged by
  // the paint engine afterwards.
  const qreal ratio = p.device() ? p.device()->devicePixelRatioF() : 1.0;
  if (ratio <= 1.0) {
    DrawBitmapFitted(work_, p, box);
    return;
  }
  const QRect dest = FittedDestination(work_.width(), work_.height(), box);
  if (dest.isEmpty()) return;
  const QSize pixels(int(std::ceil(dest.width() * ratio)), int(std::ceil(dest.height() * ratio)));
  QImage scaled =
      ResampleBitmap(work_, QRectF(0, 0, work_.width(), work_.height()), pixels, rfLanczos);
  scaled.setDevicePixelRatio(ratio);
  p.drawImage(dest.topLeft(), scaled);
}

bool TPhotoItemPainter::Draw(QPainter& p, const QRect& cell, const TLumenfoldPicture* picture,
                             const TItemState& state, const QPalette& pal, const QFont& font) {
  bool complete = true;
  const bool selected = state.Selected;
  // A selected item uses the highlight pair, so its texts stay readable in every palette.
  const QColor fg = selected ? pal.color(QPalette::HighlightedText) : pal.color(QPalette::Text);
  const QColor bg = selected ? pal.color(QPalette::Highlight) : pal.color(QPalette::Base);
  const QFontMetrics fm(font);
  const int textHeight = fm.height();

  p.save();
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setClipRect(cell);
  p.fillRect(cell, selected ? bg : pal.color(QPalette::Base));
  p.setPen(QPen(fg, 0));
  p.setBrush(bg);

  // Edges as left/top inclusive, right/bottom exclusive.
  int l = cell.left(), t = cell.top(), r = cell.left() + cell.width(),
      b = cell.top() + cell.height();
  auto box = [&] { return QRect(l, t, r - l, b - t); };
  auto outline = [&] { p.drawRect(QRect(l, t, r - l - 1, b - t - 1)); };

  l += 2, t += 2, r -= 2, b -= 2;
  // Room for the text lines; one pixel more than their height keeps the last line's
  // descenders inside the cell.
  b -= TextLines() * textHeight + 2;
  outline();
  l += 2, t += 2, r -= 2, b -= 2;

  if (picture) {
    if (picture->IsFace) {
      p.save();
      p.setPen(QPen(Qt::red, 0));
      p.setBrush(Qt::NoBrush);
      outline();
      p.restore();
    }
    l += 1, t += 1, r -= 1, b -= 1;
  }

  const TLumenfoldBitmap thumbnail = picture ? picture->Thumbnail() : nullptr;
  if (thumbnail && !thumbnail->isNull()) {
    work_ = *thumbnail;
    ApplyOrientation(work_, picture->Orientation);
    drawPreview(p, *picture, box());
  } else {
    if (picture && !picture->OriginalMissing) complete = false;
    p.fillRect(box(), bg);
    outline();
    // A picture whose preview could not be made is crossed out in red.
    if (picture && !picture->PreviewError.isEmpty()) p.setPen(QPen(Qt::red, 0));
    p.drawLine(l, t, r - 1, b - 1);
    p.drawLine(r - 1, t, l, b - 1);
    p.setPen(QPen(fg, 0));
  }

  if (picture) {
    const int buttons = state.ActionButtons;
    if (thumbnail && selected && buttons > 0) {
      const int perLine = ButtonsPerLine(cell);
      for (int first = 0, line = 0; first < buttons; first += perLine, ++line) {
        const int n = std::min(perLine, buttons - first);
        p.drawImage(QPoint(l - 1, t + line * ButtonHeight), marks_[mkAction],
                    QRect(first * ButtonWidth, 0, n * ButtonWidth + 1, ButtonHeight));
      }
    }
    // Badges from the right edge of the preview box.
    const int step = ButtonWidth;
    if (picture->IsPrivate) p.drawImage(QPoint(r - 5 * step, t), marks_[mkPrivate]);
    if (picture->IsDeleted) p.drawImage(QPoint(r - 4 * step, t), marks_[mkDelete]);
    if (picture->IsFace) p.drawImage(QPoint(r - 3 * step, t), marks_[mkFace]);
    if (!picture->CategoryIds.isEmpty()) p.drawImage(QPoint(r - 2 * step, t), marks_[mkCategory]);
    if (picture->ThumbSignatureId != -1 || picture->MediumSignatureId != -1)
      p.drawImage(QPoint(r - step, t), marks_[mkSign]);
    if (picture->OriginalChanged && picture->Modified) {
      // The original was changed since its outputs were made: a round badge at the bottom
      // right of the preview.
      p.save();
      p.setRenderHint(QPainter::Antialiasing, true);
      const QRect badge(r - step, b - step, step - 2, step - 2);
      p.setPen(QPen(Qt::white, 1.5));
      p.setBrush(QColor(230, 120, 0));
      p.drawEllipse(badge);
      QFont bold = font;
      bold.setBold(true);
      bold.setPixelSize(badge.height() - 4);
      p.setFont(bold);
      p.drawText(badge, Qt::AlignCenter, QStringLiteral("!"));
      p.restore();
    }

    if (picture->Modified) p.drawRect(QRect(l, b + 4, r - l - 1, 1));

    l -= 2, t -= 2, r += 2, b += 2;
    const int available = (r - l) - 10;
    p.setPen(fg);
    p.setFont(font);
    const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine;
    const QLocale locale;
    const QString first = ShowSizeLine || !picture->OriginalMissing ? TitleLine(*picture)
                                                                    : InfoLine(*picture, locale);
    p.drawText(QRect(l, b + 4, r - l, textHeight), flags, ShortenText(first, fm, available));
    if (ShowSizeLine)
      p.drawText(QRect(l, b + 4 + textHeight, r - l, textHeight), flags,
                 ShortenText(InfoLine(*picture, locale), fm, available));
  }
  p.restore();
  return complete;
}

// ---- delegate ---------------------------------------------------------------------------------

TPhotoItemDelegate::TPhotoItemDelegate(TphotoListView* view)
    : QStyledItemDelegate(view), view_(view) {}

void TPhotoItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const {
  view_->DrawItem(*painter, option.rect, index.row(),
                  option.state.testFlag(QStyle::State_Selected));
}

QSize TPhotoItemDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const {
  return view_->CellSize();
}
