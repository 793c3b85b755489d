#pragma once
// TphotoListView: the picture list view. In icon view every item is a picture tile drawn by
// TPhotoItemPainter (photolistpainter.h): its preview, state badges, the "modified" bar, its
// title and size line and, on selected items, a strip of action buttons whose clicks reach
// OnActionClick. The tile size follows ThumbnailSize (a slider, Ctrl+wheel and Ctrl+plus/minus
// change it). In details view it is a list with columns that sort on a header click. The rows
// come from TPhotoListModel (photolistmodel.h), which reads the pictures themselves.
//
// Items only refer to their pictures; previews belong to the process-wide bitmap list and are
// read (under ThumbnailLock) when an item is drawn. Memory holds only some previews (see
// core/previewcache.h): an item drawn without one asks for it through PreviewsWanted, once per
// turn of the event loop for all such items, so the rows on screen are loaded first.
//
// Threads: user-interface thread only. The thumbnail loader reaches the view only through the
// posted message LF_MSG_THUMBNAIL (second parameter the picture, or 0 for one coalesced repaint).
#include "ui/photolist/photolistmodel.h"
#include "ui/photolist/photolistpainter.h"

#include <QImage>
#include <QList>
#include <QListView>
#include <QTimer>
#include <QTreeView>
#include <QWidget>
#include <functional>

class QItemSelection;
class QItemSelectionModel;
class QStackedLayout;
class TLumenfoldPicture;
class TphotoListView;

// Registers the view's bitmap resources (the ui library is static); the view calls it itself.
void InitPhotoListResources();

// Handler of a completed click on an action button: the view and the button's number.
using TActionBuittonOnClickEvent = std::function<void(TphotoListView* Sender, int Number)>;

class TphotoListView : public QWidget {
  Q_OBJECT
public:
  enum TViewStyle { vsIcon, vsReport };

  // Button strip geometry.
  static constexpr int ButtonWidth = TPhotoItemPainter::ButtonWidth;
  static constexpr int ButtonHeight = TPhotoItemPainter::ButtonHeight;
  static constexpr int DefaultActionButtons = 9;
  using TMark = TPhotoItemPainter::TMark;
  static constexpr TMark mkAction = TPhotoItemPainter::mkAction;
  static constexpr TMark mkDelete = TPhotoItemPainter::mkDelete;
  static constexpr TMark mkPrivate = TPhotoItemPainter::mkPrivate;
  static constexpr TMark mkCategory = TPhotoItemPainter::mkCategory;
  static constexpr TMark mkSign = TPhotoItemPainter::mkSign;
  static constexpr TMark mkFace = TPhotoItemPainter::mkFace;
  // Step of Ctrl+wheel (one notch) and Ctrl+plus/minus.
  static constexpr int ThumbnailSizeStep = 16;

  explicit TphotoListView(QWidget* parent = nullptr);
  ~TphotoListView() override;

  // --- items ---------------------------------------------------------------------------------
  // Between BeginUpdate and EndUpdate the view is not repainted or relaid out per item.
  void BeginUpdate();
  void EndUpdate();
  void Clear();
  // Appends an item for the picture. Returns its position among the pictures given.
  int AddItem(TLumenfoldPicture* picture);
  // Rows shown (the pictures that pass the category filter).
  int Count() const;
  TLumenfoldPicture* Picture(int row) const;
  // Row of the item whose data is the picture, or -1. Only compares the pointer.
  int IndexOfPicture(const TLumenfoldPicture* picture) const;
  // Text of column 0: the row number in icon view, the file name in details view.
  QString Caption(int row) const;
  // Text of column 1, 2, ... as the details view shows it (see TPhotoListModel::TField).
  QString SubItem(int row, int column) const;
  // The picture's fields changed: its item shows them again.
  void PictureChanged(const TLumenfoldPicture* picture);
  TPhotoListModel* Model() const { return model_; }

  // --- details view columns -----------------------------------------------------------------
  // Column n shows field n of TPhotoListModel::TField.
  void SetColumns(const QList<TListColumn>& columns);
  void SetColumnWidth(int column, int width);
  // The column of the details list takes the width of its content while that list is shown.
  void FitColumnToContent(int column);
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
  // The picture of the last item whose selection changed (the last one selected, or the last
  // one deselected when none was selected), as SelectItem last reported it.
  TLumenfoldPicture* LastChangedPicture() const { return lastChanged_; }
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
  void SetEditColumn(int column);
  int EditColumn() const { return editColumn_; }
  // Starts the in-place edit of the row (details view, not read-only); false when it cannot.
  bool EditCaption(int row);
  // True while an in-place edit is open.
  bool Editing() const;

  // --- order and filter ---------------------------------------------------------------------
  // Sorts the rows by a column (TPhotoListModel::NoSortColumn: the album order).
  void SortBy(int column, Qt::SortOrder order = Qt::AscendingOrder);
  int SortColumn() const { return model_->SortColumn(); }
  // Shows only the pictures of the category (id as text); empty: every picture. Clears the
  // selection.
  void SetCategoryFilter(const QString& categoryId);

  // --- tiles --------------------------------------------------------------------------------
  int ThumbnailSize() const { return painter_.ThumbnailSize(); }
  // Clamped to TPhotoItemPainter::MinThumbnailSize..MaxThumbnailSize; raises
  // ThumbnailSizeChanged when the size taken differs.
  void SetThumbnailSize(int size);
  // Whether tiles show the size line under the title.
  bool ShowSizeLine() const { return painter_.ShowSizeLine; }
  void SetShowSizeLine(bool value);
  // Pixels of a preview that fills a tile sharply on this view's screen.
  QSize PreviewPixels() const;
  // The preview step (core/previewcache.h) whose files fill the tiles sharply; a drawn item whose
  // preview is smaller is asked for again at that step.
  int PreviewStep() const;

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
  // The strip of action buttons of an item: ActionButtons() x 18 by 18 pixels, in as many
  // lines as the tile's width needs.
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
  const QImage& Mark(TMark mark) const { return painter_.Mark(mark); }
  // Text helpers of the tiles (see TPhotoItemPainter).
  static QString FormatThousands(qint64 value, const QLocale& locale = QLocale()) {
    return TPhotoItemPainter::FormatThousands(value, locale);
  }
  static QString ShortenText(const QString& text, const QFontMetrics& metrics, int width) {
    return TPhotoItemPainter::ShortenText(text, metrics, width);
  }
  static QString SizeLine(const TLumenfoldPicture& picture, const QLocale& locale = QLocale()) {
    return TPhotoItemPainter::SizeLine(picture, locale);
  }
  static QString InfoLine(const TLumenfoldPicture& picture, const QLocale& locale = QLocale()) {
    return TPhotoItemPainter::InfoLine(picture, locale);
  }
  // Draws one item the way the icon view does (cell is the item's cell).
  void DrawItem(QPainter& painter, const QRect& cell, int row, bool selected);
  // The bitmap the last preview was prepared in (turned, mirrored, crop frame drawn).
  const QImage& WorkBitmap() const { return painter_.WorkBitmap(); }

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
  // The tile size changed (by SetThumbnailSize, Ctrl+wheel or Ctrl+plus/minus).
  void ThumbnailSizeChanged(int size);

protected:
  bool event(QEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

private:
  friend class TPhotoIconList;
  friend class TPhotoReportList;
  void onSelectionChanged(const QItemSelection& selected, const QItemSelection& deselected);
  void onRepaintTimer();
  // Mouse handling of the icon list; true when the event was consumed.
  bool iconMousePress(const QPoint& pos);
  bool iconMouseRelease(const QPoint& pos);
  bool iconDoubleClick(const QPoint& pos);
  void notePainted(int row);
  void askForPreviews();
  // Rows of a selection, ascending, each once.
  QList<int> rowsOf(const QItemSelection& selection) const;
  void updateEditable();
  void applyColumnFit();
  // Ctrl+wheel and Ctrl+plus/minus; true when the event was consumed.
  bool zoomEvent(QEvent* e);

  TPhotoListModel* model_;
  QItemSelectionModel* selection_;
  class TPhotoIconList* icons_;
  class TPhotoReportList* report_;
  QStackedLayout* stack_;
  TViewStyle style_ = vsIcon;
  std::vector<int> fitted_; // columns sized to their content
  bool readOnly_ = true;
  bool multiSelect_ = true;
  int editColumn_ = 0;
  int actionButtons_ = DefaultActionButtons;
  int updateDepth_ = 0;
  TPhotoItemPainter painter_;
  TLumenfoldPicture* lastChanged_ = nullptr;
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
