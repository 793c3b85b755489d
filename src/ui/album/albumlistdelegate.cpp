#include "ui/album/albumlistdelegate.h"

#include "core/album.h"
#include "core/picture.h"
#include "ui/common/colourscheme.h"
#include "util/imaging/drawing.h"
#include "util/imaging/imaging.h"

#include <QApplication>
#include <QPainter>
#include <QPen>
#include <cmath>

namespace {

// Colours of the album entries beyond the palette's own.
const QColor kYellow(0xff, 0xff, 0x00);

int LineHeight(const QFont& font) {
  return QFontMetrics(font).height();
}

} // namespace

TAlbumListDelegate::TAlbumListDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

TLumenfoldAlbum* TAlbumListDelegate::AlbumOf(const QModelIndex& index) {
  return static_cast<TLumenfoldAlbum*>(index.data(AlbumRole).value<void*>());
}

QColor TAlbumListDelegate::TextColor(TLumenfoldAlbum* album, bool selected,
                                     const QPalette& palette) {
  if (album && !album->PathExists()) return selected ? kYellow : NoteColour(palette, true);
  if (album && album->Loaded)
    return selected ? palette.color(QPalette::Active, QPalette::HighlightedText)
                    : NoteColour(palette, false);
  return selected ? palette.color(QPalette::Active, QPalette::HighlightedText)
                  : palette.color(QPalette::Active, QPalette::Text);
}

QString TAlbumListDelegate::FirstLine(const TLumenfoldAlbum* album) {
  return album->ShortName + QStringLiteral(" (#") + QString::number(album->Id) +
         QStringLiteral(").");
}

QImage TAlbumListDelegate::FaceImage(const TLumenfoldPicture* picture) {
  if (!picture) return QImage();
  const TLumenfoldBitmap thumb = picture->Thumbnail();
  if (!thumb || thumb->isNull()) return QImage();
  QImage image = thumb->convertToFormat(QImage::Format_RGB32);
  ApplyOrientation(image, picture->Orientation);
  const TCropRect& c = picture->CropRect;
  if (CropIsSet(c.X1, c.Y1, c.X2, c.Y2)) {
    // Crop corners are in pixels of the oriented original; quarter turns swap its sides.
    const QSize original =
        OrientedSize(QSize(picture->OriginalWidth, picture->OriginalHeight), picture->Orientation);
    const int ow = original.width();
    const int oh = original.height();
    if (ow > 0 && oh > 0) {
      auto sx = [&](int v) { return int(std::lround(double(image.width()) * v / ow)); };
      auto sy = [&](int v) { return int(std::lround(double(image.height()) * v / oh)); };
      QPainter p(&image);
      // Black, black, white, white: a white dashed line over a solid black one.
      const QRect frame(QPoint(sx(c.X1), sy(c.Y1)), QPoint(sx(c.X2), sy(c.Y2)));
      p.setPen(QPen(Qt::black, 1));
      p.drawRect(frame.normalized());
      QPen dash(Qt::white, 1, Qt::CustomDashLine);
      dash.setDashPattern({2, 2});
      dash.setDashOffset(2);
      p.setPen(dash);
      p.drawRect(frame.normalized());
    }
  }
  return image;
}

QSize TAlbumListDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
  return QSize(100, 3 * LineHeight(option.font) + 4);
}

void TAlbumListDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const {
  TLumenfoldAlbum* album = AlbumOf(index);
  const bool selected = option.state & QStyle::State_Selected;
  const QPalette& pal = option.palette;
  const QRect r = option.rect;
  painter->save();
  painter->fillRect(r, selected ? pal.color(QPalette::Active, QPalette::Highlight)
                                : pal.color(QPalette::Active, QPalette::Base));
  if (!album) {
    painter->restore();
    return;
  }

  // Face thumbnail at the right edge, between right - 50 and right - 5.
  const QRect box(QPoint(r.right() - 50, r.top() + 1), QPoint(r.right() - 5, r.bottom() - 1));
  const QImage face = FaceImage(album->GetFacePicture());
  int textRight = r.right();
  if (!face.isNull()) {
    DrawBitmapFitted(face, *painter, box);
    textRight = box.left() - 3;
  }

  painter->setPen(TextColor(album, selected, pal));
  QFont regular = option.font;
  regular.setBold(false);
  QFont bold = regular;
  bold.setBold(true);
  const int h = LineHeight(regular);
  const QString lines[3] = {FirstLine(album), album->LongName, album->Directory};
  const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine;
  for (int i = 0; i < 3; ++i) {
    const QFont& f = (i == 0 && album->HasModifiedPictures()) ? bold : regular;
    painter->setFont(f);
    const QRect line(r.left() + 4, r.top() + 2 + i * h, std::max(0, textRight - r.left() - 4), h);
    painter->drawText(line, flags,
                      QFontMetrics(f).elidedText(lines[i], Qt::ElideRight, line.width()));
  }
  painter->restore();
}
