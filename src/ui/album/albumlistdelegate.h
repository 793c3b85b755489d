#pragma once
// Draws the entries of the main window's album list: three lines of text (short name with id,
// long name, web directory) coloured by the state of the album, and the album's face thumbnail
// turned, mirrored and crop-framed at the right edge.
//
// Threads: user-interface thread only.
#include <QColor>
#include <QStyledItemDelegate>

class TLumenfoldAlbum;
class TLumenfoldPicture;

class TAlbumListDelegate : public QStyledItemDelegate {
  Q_OBJECT

public:
  // Item data role that carries the TLumenfoldAlbum* of an entry.
  static constexpr int AlbumRole = Qt::UserRole + 1;

  explicit TAlbumListDelegate(QObject* parent = nullptr);

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

  static TLumenfoldAlbum* AlbumOf(const QModelIndex& index);
  // Text colour of an album entry, selected or not.
  static QColor TextColor(TLumenfoldAlbum* album, bool selected, const QPalette& palette);
  // Text of the first line: short name, " (#", id, ")."
  static QString FirstLine(const TLumenfoldAlbum* album);
  // The face picture's preview turned and mirrored by its orientation, with the crop frame drawn
  // on it; a null image when the picture has no preview.
  static QImage FaceImage(const TLumenfoldPicture* picture);
};
