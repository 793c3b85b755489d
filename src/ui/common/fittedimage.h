#pragma once
// An image control that draws its picture scaled to fit the control with the aspect ratio kept,
// either from the top-left corner or centred, and follows the control's size (smaller pictures
// are enlarged as well).
//
// Threads: user-interface thread only.
#include <QImage>
#include <QWidget>

class TFittedImage : public QWidget {
  Q_OBJECT
  Q_PROPERTY(QSize imageSize READ ImageSize)

public:
  explicit TFittedImage(QWidget* parent = nullptr);

  void SetImage(const QImage& image);
  const QImage& Image() const { return image_; }
  QSize ImageSize() const { return image_.size(); }
  void SetCentred(bool value);
  bool Centred() const { return centred_; }
  // Rectangle the picture takes in a control of the given size.
  static QRect FittedRect(QSize image, QRect box, bool centred);

signals:
  void doubleClicked();

protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
  QImage image_;
  QImage scaled_;
  bool centred_ = false;
};
