#pragma once
// The large view of one picture inside the main window ("pnlViewer"): the picture fitted to the
// window on a dark ground with its title and place below. Left/Right (and Page Up/Down, Home,
// End) move through the pictures in the view's order and stop at the ends; Esc goes back to the
// grid; F toggles full screen. Pictures are decoded on a pool thread at the size the window
// needs; only the newest request is shown.
//
// Threads: user-interface thread only (the decoding runs on a pool thread from copies).
#include <QImage>
#include <QList>
#include <QString>
#include <QWidget>

class TLumenfoldPicture;

class TPictureViewer : public QWidget {
  Q_OBJECT

public:
  explicit TPictureViewer(QWidget* parent = nullptr);
  ~TPictureViewer() override;

  // Shows the pictures (in view order) starting at index.
  void Open(const QList<TLumenfoldPicture*>& pictures, int index);
  // Forgets the pictures (they may be about to go).
  void Clear();
  int Index() const { return index_; }
  int Count() const { return int(pictures_.size()); }
  // Moves by delta pictures, stopping at the first and the last; false when it could not move.
  bool Step(int delta);
  // True once the bitmap of the current picture (or its problem) has arrived.
  bool Ready() const { return ready_; }
  const QString& Problem() const { return problem_; }

signals:
  void CloseRequested(int index);
  void FullScreenRequested();

protected:
  void paintEvent(QPaintEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;

private:
  void load();
  QString caption() const;

  QList<TLumenfoldPicture*> pictures_;
  int index_ = -1;
  quint64 request_ = 0; // the newest decode asked for
  QImage bitmap_;
  QSize fullSize_; // of the current original
  QString problem_;
  bool ready_ = false;
};
