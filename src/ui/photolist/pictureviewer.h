#pragma once
// The large view of one picture inside the main window ("pnlViewer"): the picture fitted to the
// window on a dark ground with its title and place below. Left/Right (and Page Up/Down, Home,
// End) move through the pictures in the view's order and stop at the ends; Esc goes back to the
// grid; F toggles full screen. Pictures are decoded on a pool thread at the size the window
// needs; only the newest request is shown. Until a picture's decode arrives, its largest list
// preview (when there is one) stands in for it at the picture's size, so that something shows
// at once. Once a picture is shown, its two neighbours are decoded ahead, so that moving on
// shows the next one at once; the last few decodes are kept.
//
// Threads: user-interface thread only (the decoding runs on a pool thread from copies).
#include <QImage>
#include <QList>
#include <QString>
#include <QTimer>
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
  // True while a list preview stands in for the current picture (before Ready()).
  bool ShowsStandIn() const { return standIn_; }
  const QString& Problem() const { return problem_; }
  // True when the picture at index has been decoded for the present window size.
  bool HasDecoded(int index) const;

signals:
  void CloseRequested(int index);
  void FullScreenRequested();

protected:
  void paintEvent(QPaintEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;

private:
  // What a decode is made from: a copy, so that a decode never reads a picture object.
  struct TDecodeKey {
    QString Path;
    int Orientation = 1;
    QSize Box;
    qint64 MaxPixels = 0; // the project's pixel limit
    bool operator==(const TDecodeKey&) const = default;
  };
  struct TDecoded {
    TDecodeKey Key;
    QImage Bitmap;
    QSize FullSize;
    QString Problem;
  };
  TDecodeKey keyOf(int index) const;
  // standIn: show the list preview until the decode arrives (false: keep what is shown).
  void load(bool standIn = true);
  void refine();
  void decode(const TDecodeKey& key);
  void display(const TDecoded& decoded);
  void showStandIn();
  // Where the current bitmap is drawn inside the area.
  QRectF target(const QRect& area) const;
  void decodeNeighbours();
  QString caption() const;

  QList<TLumenfoldPicture*> pictures_;
  int index_ = -1;
  int direction_ = 1;         // of the last step: that neighbour is decoded first
  quint64 generation_ = 0;    // a new list (or none) makes running decodes stale
  QList<TDecoded> decoded_;   // the newest last; a few only (each is a screenful of pixels)
  QList<TDecodeKey> pending_; // decodes running for this generation
  QImage bitmap_;
  QSize fullSize_; // of the current original
  QString problem_;
  bool ready_ = false;
  QTimer refine_;        // a finer decode after the window has grown
  bool standIn_ = false; // bitmap_ is a list preview, drawn at the picture's size
};
