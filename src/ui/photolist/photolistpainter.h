#pragma once
// TPhotoItemPainter: draws one picture tile of the list's icon view and knows its geometry.
//
// A tile is the picture's preview (turned and mirrored by its orientation, with the crop frame),
// state badges along its top edge, the "modified" bar, the picture's title (its file name when
// untitled) and, as an option, the size line under it; a selected tile of a list with action
// buttons shows their strip over the preview, in as many lines as the tile's width needs.
// The tile grows with the thumbnail size (the width of its preview box, MinThumbnailSize to
// MaxThumbnailSize); the default size gives the 172 x 154 tile of two text lines.
//
// TPhotoItemDelegate hands the list's items to the view, which draws them with its painter.
//
// Threads: user-interface thread only.
#include <QImage>
#include <QRect>
#include <QString>
#include <QStyledItemDelegate>

class QFontMetrics;
class QLocale;
class QPainter;
class QPalette;
class TLumenfoldPicture;
class TphotoListView;

class TPhotoItemPainter {
public:
  // The marks in load order; a mark that failed to load (and every later one) stays empty.
  enum TMark { mkAction, mkDelete, mkPrivate, mkCategory, mkSign, mkFace, mkCount };
  static constexpr int ButtonWidth = 18;
  static constexpr int ButtonHeight = 18;
  static constexpr int MinThumbnailSize = 96;
  static constexpr int MaxThumbnailSize = 400;
  static constexpr int DefaultThumbnailSize = 164;

  TPhotoItemPainter();

  const QImage& Mark(TMark mark) const { return marks_[mark]; }

  // --- geometry ----------------------------------------------------------------------------
  int ThumbnailSize() const { return size_; }
  // Clamped to MinThumbnailSize..MaxThumbnailSize; returns the size taken.
  int SetThumbnailSize(int size);
  bool ShowSizeLine = true;
  // Text lines under the preview.
  int TextLines() const { return ShowSizeLine ? 2 : 1; }
  QSize CellSize(const QFontMetrics& metrics) const;
  // The box the preview is fitted into, for a tile of a picture.
  QRect PreviewBox(const QRect& cell, const QFontMetrics& metrics) const;
  // Pixels a preview needs to fill the box sharply on a screen of this device pixel ratio.
  QSize PreviewPixels(const QFontMetrics& metrics, qreal devicePixelRatio) const;
  // Buttons per line of the action strip, and the strip of count buttons in a tile.
  int ButtonsPerLine(const QRect& cell) const;
  QRect StripRect(const QRect& cell, int count) const;
  // Number of the button at the point, or -1.
  int ButtonAt(const QRect& cell, int count, const QPoint& pos) const;

  // --- texts -------------------------------------------------------------------------------
  // "#,#": digits in groups of three with the locale's separator; 0 gives the empty text.
  static QString FormatThousands(qint64 value, const QLocale& locale);
  // The text itself when it fits into width; otherwise its first four characters, "..." and
  // as much of its end as fits.
  static QString ShortenText(const QString& text, const QFontMetrics& metrics, int width);
  static QString SizeLine(const TLumenfoldPicture& picture, const QLocale& locale);
  // The size line, or "original missing" when the loader found no original.
  static QString InfoLine(const TLumenfoldPicture& picture, const QLocale& locale);
  // The tile's title line: the picture's title, or its file name when it has none.
  static QString TitleLine(const TLumenfoldPicture& picture);

  // --- drawing -----------------------------------------------------------------------------
  struct TItemState {
    bool Selected = false;
    int ActionButtons = 0; // strip shown on a selected tile with a preview when more than 0
  };
  // Draws the tile of the picture (none: an empty frame) into cell. Returns false when the
  // picture has no preview although its original is not known to be missing.
  bool Draw(QPainter& painter, const QRect& cell, const TLumenfoldPicture* picture,
            const TItemState& state, const QPalette& palette, const QFont& font);
  // The bitmap the last preview was prepared in (turned, mirrored, crop frame drawn).
  const QImage& WorkBitmap() const { return work_; }

private:
  void loadMarks();
  void drawPreview(QPainter& p, const TLumenfoldPicture& picture, const QRect& box);

  QImage marks_[mkCount];
  QImage work_; // reused for every preview drawn
  int size_ = DefaultThumbnailSize;
};

class TPhotoItemDelegate : public QStyledItemDelegate {
public:
  explicit TPhotoItemDelegate(TphotoListView* view);
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
  TphotoListView* view_;
};
