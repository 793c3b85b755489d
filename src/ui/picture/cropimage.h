#pragma once
// The picture control of the picture properties dialog: shows an oriented picture either fitted
// into the control (centred) or at a fixed scale, and carries the crop rectangle as a rubber band
// with eight handles. Dragging a handle with Ctrl held keeps the rectangle centred where it was
// when the drag began; it then grows only as far as the picture's nearer edge on each axis.
//
// Coordinates of the crop are pixels of the full-resolution oriented picture, even when the
// pixels held here were decoded at a reduced scale. Fit mode draws from a copy of the picture the
// size of the screen, so a drag or a window sizing never touches the large bitmap; the dialog
// switches to the finer filter when the interaction has ended.
//
// Threads: user-interface thread only.
#include <QImage>
#include <QRectF>
#include <QWidget>

class TCropImage : public QWidget {
  Q_OBJECT
public:
  explicit TCropImage(QWidget* parent = nullptr);

  // pixels: the oriented picture, possibly decoded at a reduced scale; fullSize: its size at full
  // resolution (the crop's coordinate space). An empty image shows nothing.
  void SetPicture(const QImage& pixels, QSize fullSize);
  const QImage& Pixels() const { return pixels_; }
  QSize FullSize() const { return full_; }
  // Ratio of the held pixels to full-resolution pixels (1 for a full decode).
  double PixelScale() const;

  // Fit mode (the default) or scale mode at `scale` full-resolution pixels per screen pixel.
  void SetScaleMode(bool on, double scale = 1.0);
  bool ScaleMode() const { return scaleMode_; }
  double Scale() const { return scale_; }
  // Size of the control in scale mode.
  QSize ScaledSize() const;

  // Resampling filter code (0 nearest .. 4); nearest is used anyway while Dragging().
  void SetFilter(int code);
  int Filter() const { return filter_; }
  bool Dragging() const { return dragging_; }

  // The crop layer.
  void SetCropVisible(bool visible);
  bool CropVisible() const { return cropVisible_; }
  void SetCrop(const QRectF& crop);
  QRectF Crop() const { return crop_; }

  // The sizing rule for a proposed crop on a picture of the given size: not left of or above the
  // picture, at least one pixel each way, not right of or below it.
  static QRectF CorrectCrop(QRectF proposed, QSize size);
  // A stored crop made to lie inside the picture (corners in any order). Falls back to the
  // default rectangle (a tenth of each side as margin) when nothing of it is inside.
  static QRectF CropInside(const QRectF& stored, QSize size);
  static QRectF DefaultCrop(QSize size);

  // Where the picture is drawn in the control.
  QRectF PictureRect() const;
  QPointF ToPicture(QPointF controlPos) const;
  QPointF ToControl(QPointF picturePos) const;

signals:
  void cropChanged(const QRectF& crop);
  void dragStarted();
  void dragFinished();

protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

private:
  int hitTest(QPointF pos) const;
  // The crop while a side or corner is dragged by delta with Ctrl held: symmetric about the
  // centre of the crop at the press.
  QRectF symmetricCrop(QPointF delta) const;
  void paintFitted(class QPainter& painter);
  void paintScaled(QPainter& painter, const QRect& exposed);
  void paintCrop(QPainter& painter);

  QImage pixels_;
  QImage screenCopy_; // pixels_ reduced to the screen's size
  QImage cache_;      // what fit mode draws, for cacheSize_ and cacheFilter_
  QSize cacheSize_;
  int cacheFilter_ = -1;
  QSize full_;
  bool scaleMode_ = false;
  double scale_ = 1.0;
  int filter_ = 0;
  bool dragging_ = false;
  bool cropVisible_ = false;
  QRectF crop_;
  int hit_ = -1; // handle being dragged: 0..7 corners and edges, 8 the whole rectangle
  QPointF pressPos_;
  QRectF pressCrop_;
};
