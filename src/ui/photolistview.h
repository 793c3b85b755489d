#pragma once
// TphotoListView: the picture list view. In icon view every item is a picture drawn by the view
// itself: its preview (turned and mirrored by its orientation, with the crop frame), state marks,
// the "modified" bar, two lines of text and, on selected items, a strip of action buttons whose
// clicks reach OnActionClick. In details view it is a plain list with columns.
//
// Items only refer to their pictures; previews belong to the process-wide bitmap list and are
// read (under ThumbnailLock) when an item is drawn. Memory holds only some previews (see
// core/previewcache.h): an item drawn without one asks for it through PreviewsWanted, once per
// turn of the event loop for all such items, so the rows on screen are loaded first.
//
// Threads: user-interface thread only. The thumbnail loader reaches the view only through the
// posted message LF_MSG_THUMBNAIL (second parameter the picture, or 0 for one coalesced repaint).
#include <QFont>
#include <QImage>
#include <QList>
#include <QListView>
#include <QPointer>
#include <QStringList>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QTreeView>
#include <QWidget>
#include <functional>

class QAbstractItemModel;
class QItemSelection;
class QItemSelectionModel;
class QStackedLayout;
class TLumenfoldPicture;
class TphotoListView;
class TPhotoListModel;

// Registers the view's bitmap resources (the ui library is static); the view calls it itself.
void InitPhotoListResources();

// Handler of a completed click on an action button: the view and the button's number.
using TActionBuittonOnClickEvent = std::function<void(TphotoListView* Sender, int Number)>;

// One column of the details view.
struct TListColumn {
  QString Caption;
  int Width = 100;
  Qt::Alignment Alignment = Qt::AlignLeft;
};

class TphotoListView : public QWidget {
  Q_OBJECT
public:
  enum TViewStyle { vsIcon, vsReport };

  // Button strip geometry.
  static constexpr int ButtonWidth = 18;
  static constexpr int ButtonHeight = 18;
  static constexpr int DefaultActionButtons = 9;
  // The marks in load order; a mark that failed to load (and every later one) stays empty.
  enum TMark { mkAction, mkDelete, mkPrivate, mkCategory, mkSign, mkFace, mkCount };

  explicit TphotoListView(QWidget* parent = nullptr);
  ~TphotoListView() override;

  // --- items ---------------------------------------------------------------------------------
  // Between BeginUpdate and EndUpdate the view is not repainted or relaid out per item.
  void BeginUpdate();
  void EndUpdate();
  void Clear();
  // Appends an item; subItems are the texts of columns 1, 2, ... Returns the item's row.
  int AddItem(const QString& caption, TLumenfoldPicture* picture,
              const QStringList& subItems = QStringList());
  int Count() const;
  TLumenfoldPicture* Picture(int row) const;
  // Row of the item whose data is the picture, or -1.
  int IndexOfPicture(const TLumenfoldPicture* picture) const;
  QString Caption(int row) const;
  void SetCaption(int row, const QString& caption);
  // Text of column 1, 2, ... (column 0 is the caption).
  QString SubItem(int row, int column) const;
  void SetSubItem(int row, int column, const QString& text);

  // --- details view columns -----------------------------------------------------------------
  void SetColumns(const QList<TListColumn>& columns);
  void SetColumnWidth(int column, int width);
  int ColumnWidth(int column) const;

  // --- selection ----------------------------------------------------------------------------
  void SetMultiSelect(bool value);
  bool MultiSelect() const { return multiSelect_; }
  bool Selected(int row) const;
  void SetSelected(int row, bool value);
  // Selected rows in view order.
  QList<int> SelectedRows() const;
  QList<TLumenfoldPicture*> SelectedPictures() const;
  int SelectedCount() const;
  void SelectAll();
  void ClearSelection();
  // Row of the focused item, or -1.
  int ItemIndex() const;
  void SetItemIndex(int row);

  // --- style --------------------------------------------------------------------------------
  TViewStyle ViewStyle() const { return style_; }
  void SetViewStyle(TViewStyle style);
  // Details view only: whether F2 (on release) starts the in-place edit of the focused item.
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool value);
  // Column edited in place in details view (0, the caption, by default).
  void SetEditColumn(int column) { editColumn_ = column; }
  int EditColumn() const { return editColumn_; }
  // Starts the in-place edit of the row (details view, not read-only); false when it cannot.
  bool EditCaption(int row);
  // True while an in-place edit is open.
  bool Editing() const;

  // --- action strip -------------------------------------------------------------------------
  int ActionButtons() const { return actionButtons_; }
  void SetActionButtons(int count);
  TActionBuittonOnClickEvent OnActionClick;
  // Tooltip of an item (for example the picture's categories); none when unset.
  std::function<QString(int row)> ItemHint;

  // --- repainting ---------------------------------------------------------------------------
  // Repaints the item of the picture (icon view; nothing for none).
  void InvalidatePicture(const TLumenfoldPicture* picture);
  void InvalidateSelected();
  // One-shot timer of the coalesced full repaint (240 ms).
  QTimer* RepaintTimer() { return &repaintTimer_; }

  // --- geometry and hit testing (icon view, coordinates of IconViewport()) ------------------
  QRect ItemRect(int row) const;
  // The strip of action buttons of an item: ActionButtons() x 18 by 18 pixels.
  QRect StripRect(int row) const;
  // Row of the item at the point, or -1.
  int ItemAt(const QPoint& pos) const;
  // Number of the button under the point on the row's strip, or -1. Only a selected item whose
  // strip is shown (it has a preview and OnActionClick is set) has buttons.
  int ButtonAt(int row, const QPoint& pos) const;
  bool StripShown(int row) const;
  // Size of one icon cell.
  QSize CellSize() const;

  QListView* IconList() const;
  QTreeView* ReportList() const;
  QWidget* IconViewport() const;
  QWidget* ReportViewport() const;
  // The view that is shown in the current style.
  QAbstractItemView* CurrentList() const;

  // --- drawing helpers ----------------------------------------------------------------------
  const QImage& Mark(TMark mark) const { return marks_[mark]; }
  // "#,#": digits in groups of three with the locale's separator; 0 gives the empty text.
  static QString FormatThousands(qint64 value, const QLocale& locale = QLocale());
  // The text itself when it fits into width; otherwise its first four characters, "..." and
  // as much of its end as fits.
  static QString ShortenText(const QString& text, const QFontMetrics& metrics, int width);
  // The two text lines drawn under a picture.
  static QString SizeLine(const TLumenfoldPicture& picture, const QLocale& locale = QLocale());
  // The first of them: the size line, or "original missing" when the loader found no original.
  static QString InfoLine(const TLumenfoldPicture& picture, const QLocale& locale = QLocale());
  // Draws one item the way the icon view does (r is the item's cell).
  void DrawItem(QPainter& painter, const QRect& cell, int row, bool selected);
  // The bitmap the last preview was prepared in (turned, mirrored, crop frame drawn).
  const QImage& WorkBitmap() const { return work_; }

  // Counts kept for tests and diagnostics: items drawn, rows drawn last, coalesced repaints.
  int PaintedItems() const { return paintedItems_; }
  const QList<int>& PaintedRows() const { return paintedRows_; }
  void ResetPaintLog();
  int FullRepaints() const { return fullRepaints_; }

signals:
  // Per item whose selection state changed (its picture may be null).
  void SelectItem(int row, TLumenfoldPicture* picture, bool selected);
  // After any selection change.
  void SelectionChanged();
  // Double click on an item or on free space (row -1); not raised on a strip.
  void ItemDoubleClicked(int row);
  // In-place edit accepted with the typed text.
  void CaptionEdited(int row, const QString& text);
  // Pointer moved onto an item (row) or away from every item (-1).
  void ItemHovered(int row);
  // Items were drawn without a preview although their originals are not known to be missing.
  void PreviewsWanted(const QList<TLumenfoldPicture*>& pictures);

protected:
  bool event(QEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

private:
  friend class TPhotoIconList;
  friend class TPhotoItemDelegate;
  friend class TPhotoReportList;
  void loadMarks();
  void onSelectionChanged(const QItemSelection& selected, const QItemSelection& deselected);
  void onRepaintTimer();
  // Mouse handling of the icon list; true when the event was consumed.
  bool iconMousePress(const QPoint& pos);
  bool iconMouseRelease(const QPoint& pos);
  bool iconDoubleClick(const QPoint& pos);
  void notePainted(int row);
  void askForPreviews();

  TPhotoListModel* model_;
  QItemSelectionModel* selection_;
  class TPhotoIconList* icons_;
  class TPhotoReportList* report_;
  QStackedLayout* stack_;
  TViewStyle style_ = vsIcon;
  bool readOnly_ = true;
  bool multiSelect_ = true;
  int editColumn_ = 0;
  int actionButtons_ = DefaultActionButtons;
  int updateDepth_ = 0;
  QImage marks_[mkCount];
  QImage work_; // reused for every preview drawn
  QTimer repaintTimer_;
  QTimer wantedTimer_; // zero-time: gathers the rows drawn without a preview
  QList<int> wantedRows_;
  int pressedButton_ = -1;
  int pressedRow_ = -1;
  bool outside_ = false; // the last press or release was not on a selected item
  int hoverRow_ = -1;
  int paintedItems_ = 0;
  QList<int> paintedRows_;
  int fullRepaints_ = 0;
};
