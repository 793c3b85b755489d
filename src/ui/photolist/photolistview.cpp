#include "ui/photolist/photolistlists.h"

#include "core/picture.h"
#include "core/previewcache.h"
#include "util/messages.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QStackedLayout>
#include <QWheelEvent>
#include <algorithm>

static void initPhotoListResourcesOnce() {
  Q_INIT_RESOURCE(photolistview);
}

void InitPhotoListResources() {
  static const bool done = (initPhotoListResourcesOnce(), true);
  (void)done;
}

// ---- view -------------------------------------------------------------------------------------

TphotoListView::TphotoListView(QWidget* parent) : QWidget(parent) {
  InitPhotoListResources();
  qRegisterMetaType<TLumenfoldPicture*>("TLumenfoldPicture*");

  model_ = new TPhotoListModel(this);
  model_->Edited = [this](int row, const QString& text) { emit CaptionEdited(row, text); };
  icons_ = new TPhotoIconList(this);
  icons_->setObjectName(QStringLiteral("iconList"));
  icons_->setModel(model_);
  icons_->setItemDelegate(new TPhotoItemDelegate(this));
  icons_->setViewMode(QListView::IconMode);
  icons_->setMovement(QListView::Static);
  icons_->setResizeMode(QListView::Adjust);
  icons_->setFlow(QListView::LeftToRight);
  icons_->setWrapping(true);
  icons_->setUniformItemSizes(true);
  icons_->setSpacing(2);
  icons_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  icons_->setSelectionRectVisible(true);
  icons_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  icons_->setMouseTracking(true);
  selection_ = icons_->selectionModel();

  report_ = new TPhotoReportList(this);
  report_->setObjectName(QStringLiteral("reportList"));
  report_->setModel(model_);
  QItemSelectionModel* own = report_->selectionModel();
  report_->setSelectionModel(selection_);
  delete own;
  report_->setRootIsDecorated(false);
  report_->setItemsExpandable(false);
  report_->setUniformRowHeights(true);
  report_->setAllColumnsShowFocus(true);
  report_->setSelectionBehavior(QAbstractItemView::SelectRows);
  report_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  report_->setMouseTracking(true);
  report_->header()->setMinimumSectionSize(0);
  report_->header()->setStretchLastSection(false);
  // Columns sized to their content measure the rows on screen only, not thousands of them.
  report_->header()->setResizeContentsPrecision(0);
  // A header click sorts; until then the rows keep the album order.
  report_->header()->setSortIndicator(-1, Qt::AscendingOrder);
  report_->setSortingEnabled(true);

  SetMultiSelect(true);

  stack_ = new QStackedLayout(this);
  stack_->setContentsMargins(0, 0, 0, 0);
  stack_->addWidget(icons_);
  stack_->addWidget(report_);
  stack_->setCurrentWidget(icons_);
  setFocusProxy(icons_);

  for (QAbstractItemView* v :
       {static_cast<QAbstractItemView*>(icons_), static_cast<QAbstractItemView*>(report_)}) {
    v->installEventFilter(this);
    v->viewport()->installEventFilter(this); // Ctrl+wheel
    v->viewport()->setMouseTracking(true);   // entered() for the hints
    connect(v, &QAbstractItemView::entered, this, [this](const QModelIndex& index) {
      if (index.row() != hoverRow_) emit ItemHovered(hoverRow_ = index.row());
    });
    connect(v, &QAbstractItemView::viewportEntered, this, [this] {
      if (hoverRow_ != -1) emit ItemHovered(hoverRow_ = -1);
    });
  }
  connect(selection_, &QItemSelectionModel::selectionChanged, this,
          &TphotoListView::onSelectionChanged);

  repaintTimer_.setInterval(240);
  repaintTimer_.setSingleShot(true);
  connect(&repaintTimer_, &QTimer::timeout, this, &TphotoListView::onRepaintTimer);
  wantedTimer_.setInterval(0);
  wantedTimer_.setSingleShot(true);
  connect(&wantedTimer_, &QTimer::timeout, this, &TphotoListView::askForPreviews);
}

TphotoListView::~TphotoListView() = default;

// ---- items ----------------------------------------------------------------------------------

void TphotoListView::BeginUpdate() {
  if (updateDepth_++ == 0) {
    setUpdatesEnabled(false);
    model_->BeginUpdate();
  }
}

void TphotoListView::EndUpdate() {
  if (updateDepth_ == 0) return;
  if (--updateDepth_ == 0) {
    model_->EndUpdate();
    setUpdatesEnabled(true);
  }
}

void TphotoListView::Clear() {
  model_->Clear();
  wantedRows_.clear();
  pressedButton_ = pressedRow_ = -1;
  hoverRow_ = -1;
  lastChanged_ = nullptr;
}

int TphotoListView::AddItem(TLumenfoldPicture* picture) {
  return model_->Append(picture);
}

int TphotoListView::Count() const {
  return model_->rowCount();
}

TLumenfoldPicture* TphotoListView::Picture(int row) const {
  return model_->Picture(row);
}

int TphotoListView::IndexOfPicture(const TLumenfoldPicture* picture) const {
  return model_->RowOf(picture);
}

QString TphotoListView::Caption(int row) const {
  return model_->Text(row, TPhotoListModel::fdCaption);
}

QString TphotoListView::SubItem(int row, int column) const {
  if (column < 1) return QString();
  return model_->Text(row, column);
}

void TphotoListView::PictureChanged(const TLumenfoldPicture* picture) {
  model_->PictureChanged(picture);
}

// ---- columns --------------------------------------------------------------------------------

void TphotoListView::SetColumns(const QList<TListColumn>& columns) {
  model_->SetColumns(std::vector<TListColumn>(columns.begin(), columns.end()));
  for (int i = 0; i < columns.size(); ++i)
    report_->setColumnWidth(i, columns[i].Width);
}

void TphotoListView::SetColumnWidth(int column, int width) {
  if (column >= 0 && column < int(model_->Columns().size()))
    model_->Columns()[size_t(column)].Width = width;
  report_->setColumnWidth(column, width);
}

void TphotoListView::FitColumnToContent(int column) {
  fitted_.push_back(column);
  applyColumnFit();
}

// Columns are measured only while the details list is shown: the hidden list measured its rows
// again whenever previews arrived, for every preview of an album loading.
void TphotoListView::applyColumnFit() {
  const auto mode = style_ == vsReport ? QHeaderView::ResizeToContents : QHeaderView::Interactive;
  for (int column : fitted_)
    report_->header()->setSectionResizeMode(column, mode);
}

int TphotoListView::ColumnWidth(int column) const {
  return report_->columnWidth(column);
}

// ---- selection ------------------------------------------------------------------------------

void TphotoListView::SetMultiSelect(bool value) {
  multiSelect_ = value;
  const auto mode =
      value ? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection;
  icons_->setSelectionMode(mode);
  report_->setSelectionMode(mode);
}

bool TphotoListView::Selected(int row) const {
  if (row < 0 || row >= Count()) return false;
  return selection_->isSelected(model_->index(row, 0));
}

void TphotoListView::SetSelected(int row, bool value) {
  if (row < 0 || row >= Count()) return;
  QItemSelectionModel::SelectionFlags flags =
      (value ? QItemSelectionModel::Select : QItemSelectionModel::Deselect) |
      QItemSelectionModel::Rows;
  if (value && !multiSelect_) flags |= QItemSelectionModel::Clear;
  selection_->select(model_->index(row, 0), flags);
}

QList<int> TphotoListView::rowsOf(const QItemSelection& selection) const {
  // By ranges, not by index: a selection of every row is one range however long the list.
  const int count = Count();
  std::vector<char> marked(size_t(count), 0);
  int found = 0;
  for (const QItemSelectionRange& range : selection) {
    const int last = std::min(range.bottom(), count - 1);
    for (int row = std::max(0, range.top()); row <= last; ++row)
      if (!marked[size_t(row)]) marked[size_t(row)] = 1, ++found;
  }
  QList<int> rows;
  rows.reserve(found);
  for (int row = 0; row < count; ++row)
    if (marked[size_t(row)]) rows.append(row);
  return rows;
}

QList<int> TphotoListView::SelectedRows() const {
  return rowsOf(selection_->selection());
}

QList<TLumenfoldPicture*> TphotoListView::SelectedPictures() const {
  QList<TLumenfoldPicture*> pictures;
  for (int row : SelectedRows())
    if (TLumenfoldPicture* p = Picture(row)) pictures.append(p);
  return pictures;
}

int TphotoListView::SelectedCount() const {
  return int(SelectedRows().size());
}

void TphotoListView::SelectAll() {
  if (Count() == 0) return;
  if (!multiSelect_) return;
  const QItemSelection all(model_->index(0, 0),
                           model_->index(Count() - 1, model_->columnCount() - 1));
  selection_->select(all, QItemSelectionModel::Select);
}

void TphotoListView::ClearSelection() {
  selection_->clearSelection();
}

int TphotoListView::ItemIndex() const {
  const QModelIndex i = selection_->currentIndex();
  return i.isValid() ? i.row() : -1;
}

void TphotoListView::SetItemIndex(int row) {
  if (row < 0 || row >= Count())
    selection_->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
  else
    selection_->setCurrentIndex(model_->index(row, 0), QItemSelectionModel::NoUpdate);
}

void TphotoListView::onSelectionChanged(const QItemSelection& selected,
                                        const QItemSelection& deselected) {
  const QList<int> off = rowsOf(deselected), on = rowsOf(selected);
  for (int row : off) {
    lastChanged_ = Picture(row);
    emit SelectItem(row, lastChanged_, false);
  }
  for (int row : on) {
    lastChanged_ = Picture(row);
    emit SelectItem(row, lastChanged_, true);
  }
  // A selected item shows its strip: repaint the items concerned at once (the whole viewport
  // when they are many).
  if (off.size() + on.size() > 64) {
    icons_->viewport()->update();
  } else {
    for (int row : off)
      icons_->viewport()->update(ItemRect(row));
    for (int row : on)
      icons_->viewport()->update(ItemRect(row));
  }
  emit SelectionChanged();
}

// ---- style ----------------------------------------------------------------------------------

void TphotoListView::SetViewStyle(TViewStyle style) {
  if (style == style_) return;
  const bool hadFocus = CurrentList()->hasFocus();
  style_ = style;
  QAbstractItemView* view = CurrentList();
  stack_->setCurrentWidget(view);
  setFocusProxy(view);
  applyColumnFit();
  if (hadFocus) view->setFocus();
  repaintTimer_.stop();
  model_->SetCaptionIsNumber(style_ == vsIcon);
  updateEditable();
}

void TphotoListView::SetReadOnly(bool value) {
  readOnly_ = value;
  updateEditable();
}

void TphotoListView::SetEditColumn(int column) {
  editColumn_ = column;
  updateEditable();
}

void TphotoListView::updateEditable() {
  model_->EditableColumn = !readOnly_ && style_ == vsReport ? editColumn_ : -1;
}

// ---- order, filter and tiles ----------------------------------------------------------------

void TphotoListView::SortBy(int column, Qt::SortOrder order) {
  report_->header()->setSortIndicator(column, order); // sorts through the model
  if (model_->SortColumn() != column || model_->SortOrder() != order) model_->sort(column, order);
}

void TphotoListView::SetCategoryFilter(const QString& categoryId) {
  if (categoryId == model_->CategoryFilter()) return;
  // A hidden picture must not stay selected: commands act on the selection.
  ClearSelection();
  wantedRows_.clear();
  pressedButton_ = pressedRow_ = -1;
  hoverRow_ = -1;
  model_->SetCategoryFilter(categoryId);
}

void TphotoListView::SetThumbnailSize(int size) {
  const int before = painter_.ThumbnailSize();
  const int taken = painter_.SetThumbnailSize(size);
  if (taken == before) return;
  icons_->doItemsLayout(); // the cell size changed
  icons_->viewport()->update();
  emit ThumbnailSizeChanged(taken);
}

void TphotoListView::SetShowSizeLine(bool value) {
  if (painter_.ShowSizeLine == value) return;
  painter_.ShowSizeLine = value;
  icons_->doItemsLayout();
  icons_->viewport()->update();
}

QSize TphotoListView::PreviewPixels() const {
  return painter_.PreviewPixels(QFontMetrics(icons_->font()), icons_->devicePixelRatioF());
}

int TphotoListView::PreviewStep() const {
  return PreviewStepFor(PreviewPixels());
}

bool TphotoListView::zoomEvent(QEvent* e) {
  if (e->type() == QEvent::Wheel) {
    const auto* w = static_cast<QWheelEvent*>(e);
    if (!w->modifiers().testFlag(Qt::ControlModifier) || style_ != vsIcon) return false;
    const int notches = w->angleDelta().y() / 120;
    if (notches != 0) SetThumbnailSize(ThumbnailSize() + notches * ThumbnailSizeStep);
    return true;
  }
  if (e->type() == QEvent::KeyPress) {
    const auto* k = static_cast<QKeyEvent*>(e);
    if (!k->modifiers().testFlag(Qt::ControlModifier) || style_ != vsIcon) return false;
    if (k->key() == Qt::Key_Plus || k->key() == Qt::Key_Equal) {
      SetThumbnailSize(ThumbnailSize() + ThumbnailSizeStep);
      return true;
    }
    if (k->key() == Qt::Key_Minus) {
      SetThumbnailSize(ThumbnailSize() - ThumbnailSizeStep);
      return true;
    }
  }
  return false;
}

bool TphotoListView::EditCaption(int row) {
  if (style_ != vsReport || readOnly_ || row < 0 || row >= Count()) return false;
  const QModelIndex index =
      model_->index(row, std::clamp(editColumn_, 0, model_->columnCount() - 1));
  report_->setCurrentIndex(index);
  report_->edit(index);
  return Editing();
}

bool TphotoListView::Editing() const {
  return report_->editing();
}

void TphotoListView::SetActionButtons(int count) {
  actionButtons_ = std::max(0, count);
  icons_->viewport()->update();
}
