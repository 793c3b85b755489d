#include "ui/photolistview.h"

#include "core/picture.h"
#include "util/drawing.h"
#include "util/imaging.h"
#include "util/messages.h"

#include <QAbstractTableModel>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QStackedLayout>
#include <algorithm>

static void initPhotoListResourcesOnce() {
  Q_INIT_RESOURCE(photolistview);
}

void InitPhotoListResources() {
  static const bool done = (initPhotoListResourcesOnce(), true);
  (void)done;
}

// ---- model ------------------------------------------------------------------------------------

class TPhotoListModel : public QAbstractTableModel {
public:
  struct Item {
    QString Caption;
    TLumenfoldPicture* Picture = nullptr;
    QStringList SubItems;
  };

  explicit TPhotoListModel(TphotoListView* view) : QAbstractTableModel(view), view_(view) {}

  int rowCount(const QModelIndex& parent = QModelIndex()) const override {
    return parent.isValid() ? 0 : int(items.size());
  }
  int columnCount(const QModelIndex& parent = QModelIndex()) const override {
    return parent.isValid() ? 0 : std::max(1, int(columns.size()));
  }

  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid() || index.row() >= int(items.size())) return QVariant();
    const Item& item = items[size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
      if (index.column() == 0) return item.Caption;
      return item.SubItems.value(index.column() - 1);
    case Qt::TextAlignmentRole:
      if (index.column() < int(columns.size()))
        return QVariant::fromValue(columns[size_t(index.column())].Alignment | Qt::AlignVCenter);
      return QVariant();
    case Qt::ToolTipRole:
      if (view_->ItemHint) return view_->ItemHint(index.row());
      return QVariant();
    default:
      return QVariant();
    }
  }

  bool setData(const QModelIndex& index, const QVariant& value, int role) override {
    if (role != Qt::EditRole || !index.isValid()) return false;
    // The owner decides what an edit means (for example renaming the original) and updates the
    // texts itself.
    emit view_->CaptionEdited(index.row(), value.toString());
    return true;
  }

  Qt::ItemFlags flags(const QModelIndex& index) const override {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (!view_->ReadOnly() && view_->ViewStyle() == TphotoListView::vsReport &&
        index.column() == view_->EditColumn())
      f |= Qt::ItemIsEditable;
    return f;
  }

  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (orientation != Qt::Horizontal || section >= int(columns.size())) return QVariant();
    if (role == Qt::DisplayRole) return columns[size_t(section)].Caption;
    if (role == Qt::TextAlignmentRole)
      return QVariant::fromValue(columns[size_t(section)].Alignment | Qt::AlignVCenter);
    return QVariant();
  }

  void resetBegin() { beginResetModel(); }
  void resetEnd() { endResetModel(); }
  void insertBegin(int row) { beginInsertRows(QModelIndex(), row, row); }
  void insertEnd() { endInsertRows(); }

  void changed(int row, int column) {
    const QModelIndex i = index(row, column);
    emit dataChanged(i, i);
  }

  std::vector<Item> items;
  std::vector<TListColumn> columns;
  bool bulk = false;

private:
  TphotoListView* view_;
};

// ---- delegate and icon list -------------------------------------------------------------------

class TPhotoItemDelegate : public QStyledItemDelegate {
public:
  explicit TPhotoItemDelegate(TphotoListView* view) : QStyledItemDelegate(view), view_(view) {}
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    view_->DrawItem(*painter, option.rect, index.row(),
                    option.state.testFlag(QStyle::State_Selected));
  }
  QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override {
    return view_->CellSize();
  }

private:
  TphotoListView* view_;
};

class TPhotoIconList : public QListView {
public:
  explicit TPhotoIconList(TphotoListView* view) : QListView(view), view_(view) {}

protected:
  void mousePressEvent(QMouseEvent* e) override {
    if (e->button() == Qt::LeftButton && view_->iconMousePress(e->position().toPoint())) {
      e->accept();
      return;
    }
    QListView::mousePressEvent(e);
  }
  void mouseReleaseEvent(QMouseEvent* e) override {
    if (e->button() == Qt::LeftButton && view_->iconMouseRelease(e->position().toPoint())) {
      e->accept();
      return;
    }
    QListView::mouseReleaseEvent(e);
  }
  void mouseDoubleClickEvent(QMouseEvent* e) override {
    if (e->button() == Qt::LeftButton && view_->iconDoubleClick(e->position().toPoint())) {
      e->accept();
      return;
    }
    const int row = view_->ItemAt(e->position().toPoint());
    QListView::mouseDoubleClickEvent(e);
    if (e->button() == Qt::LeftButton) emit view_->ItemDoubleClicked(row);
  }

private:
  TphotoListView* view_;
};

class TPhotoReportList : public QTreeView {
public:
  explicit TPhotoReportList(TphotoListView* view) : QTreeView(view), view_(view) {}
  bool editing() const { return state() == EditingState; }

protected:
  void mouseDoubleClickEvent(QMouseEvent* e) override {
    const QModelIndex index = indexAt(e->position().toPoint());
    QTreeView::mouseDoubleClickEvent(e);
    if (e->button() == Qt::LeftButton)
      emit view_->ItemDoubleClicked(index.isValid() ? index.row() : -1);
  }

private:
  TphotoListView* view_;
};

// ---- view -------------------------------------------------------------------------------------

TphotoListView::TphotoListView(QWidget* parent) : QWidget(parent) {
  InitPhotoListResources();
  qRegisterMetaType<TLumenfoldPicture*>("TLumenfoldPicture*");
  loadMarks();

  model_ = new TPhotoListModel(this);
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
    v->viewport()->setMouseTracking(true); // entered() for the hints
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

void TphotoListView::loadMarks() {
  static const char* const names[mkCount] = {"MAIN_ACTION",   "MAIN_DELETE", "MAIN_PRIVATE",
                                             "MAIN_CATEGORY", "MAIN_SIGN",   "MAIN_FACE"};
  for (int i = 0; i < mkCount; ++i) {
    QImage image(QStringLiteral(":/listview/") + QLatin1String(names[i]));
    if (image.isNull()) break; // the rest stay empty
    marks_[i] = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  }
}

// ---- items ----------------------------------------------------------------------------------

void TphotoListView::BeginUpdate() {
  if (updateDepth_++ == 0) {
    setUpdatesEnabled(false);
    model_->resetBegin();
    model_->bulk = true;
  }
}

void TphotoListView::EndUpdate() {
  if (updateDepth_ == 0) return;
  if (--updateDepth_ == 0) {
    model_->bulk = false;
    model_->resetEnd();
    setUpdatesEnabled(true);
  }
}

void TphotoListView::Clear() {
  if (!model_->bulk) model_->resetBegin();
  model_->items.clear();
  if (!model_->bulk) model_->resetEnd();
  wantedRows_.clear();
  pressedButton_ = pressedRow_ = -1;
  hoverRow_ = -1;
}

int TphotoListView::AddItem(const QString& caption, TLumenfoldPicture* picture,
                            const QStringList& subItems) {
  const int row = Count();
  if (!model_->bulk) model_->insertBegin(row);
  model_->items.push_back({caption, picture, subItems});
  if (!model_->bulk) model_->insertEnd();
  return row;
}

int TphotoListView::Count() const {
  return int(model_->items.size());
}

TLumenfoldPicture* TphotoListView::Picture(int row) const {
  if (row < 0 || row >= Count()) return nullptr;
  return model_->items[size_t(row)].Picture;
}

int TphotoListView::IndexOfPicture(const TLumenfoldPicture* picture) const {
  if (!picture) return -1;
  for (int i = 0; i < Count(); ++i)
    if (model_->items[size_t(i)].Picture == picture) return i;
  return -1;
}

QString TphotoListView::Caption(int row) const {
  if (row < 0 || row >= Count()) return QString();
  return model_->items[size_t(row)].Caption;
}

void TphotoListView::SetCaption(int row, const QString& caption) {
  if (row < 0 || row >= Count()) return;
  model_->items[size_t(row)].Caption = caption;
  if (!model_->bulk) model_->changed(row, 0);
}

QString TphotoListView::SubItem(int row, int column) const {
  if (row < 0 || row >= Count() || column < 1) return QString();
  return model_->items[size_t(row)].SubItems.value(column - 1);
}

void TphotoListView::SetSubItem(int row, int column, const QString& text) {
  if (row < 0 || row >= Count() || column < 1) return;
  QStringList& sub = model_->items[size_t(row)].SubItems;
  while (sub.size() < column)
    sub.append(QString());
  sub[column - 1] = text;
  if (!model_->bulk) model_->changed(row, column);
}

// ---- columns --------------------------------------------------------------------------------

void TphotoListView::SetColumns(const QList<TListColumn>& columns) {
  model_->resetBegin();
  model_->columns.assign(columns.begin(), columns.end());
  model_->resetEnd();
  for (int i = 0; i < columns.size(); ++i)
    report_->setColumnWidth(i, columns[i].Width);
}

void TphotoListView::SetColumnWidth(int column, int width) {
  if (column >= 0 && column < int(model_->columns.size()))
    model_->columns[size_t(column)].Width = width;
  report_->setColumnWidth(column, width);
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

QList<int> TphotoListView::SelectedRows() const {
  QList<int> rows;
  for (const QModelIndex& i : selection_->selectedIndexes())
    if (!rows.contains(i.row())) rows.append(i.row());
  std::sort(rows.begin(), rows.end());
  return rows;
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
  QList<int> off, on;
  for (const QModelIndex& i : deselected.indexes())
    if (!off.contains(i.row())) off.append(i.row());
  for (const QModelIndex& i : selected.indexes())
    if (!on.contains(i.row())) on.append(i.row());
  std::sort(off.begin(), off.end());
  std::sort(on.begin(), on.end());
  for (int row : off)
    emit SelectItem(row, Picture(row), false);
  for (int row : on)
    emit SelectItem(row, Picture(row), true);
  // A selected item shows its strip: repaint the items concerned at once.
  for (int row : off)
    icons_->viewport()->update(ItemRect(row));
  for (int row : on)
    icons_->viewport()->update(ItemRect(row));
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
  if (hadFocus) view->setFocus();
  repaintTimer_.stop();
}

void TphotoListView::SetReadOnly(bool value) {
  readOnly_ = value;
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

// ---- repainting -----------------------------------------------------------------------------

void TphotoListView::InvalidatePicture(const TLumenfoldPicture* picture) {
  if (style_ != vsIcon || !picture) return;
  const int row = IndexOfPicture(picture);
  if (row >= 0) icons_->viewport()->update(ItemRect(row));
}

void TphotoListView::InvalidateSelected() {
  if (style_ != vsIcon) return;
  for (int row : SelectedRows())
    icons_->viewport()->update(ItemRect(row));
}

void TphotoListView::onRepaintTimer() {
  ++fullRepaints_;
  icons_->viewport()->update();
}

bool TphotoListView::event(QEvent* e) {
  if (TMessageEvent::Is(e, LF_MSG_THUMBNAIL)) {
    const auto* m = static_cast<const TMessageEvent*>(e);
    if (style_ == vsIcon) {
      // The picture is only compared with the items' data, never used: it may have been freed
      // since the message was posted.
      if (m->Second != 0)
        InvalidatePicture(reinterpret_cast<const TLumenfoldPicture*>(m->Second));
      else if (!repaintTimer_.isActive())
        repaintTimer_.start();
    }
    return true;
  }
  return QWidget::event(e);
}

bool TphotoListView::eventFilter(QObject* watched, QEvent* e) {
  if ((watched == icons_ || watched == report_) && e->type() == QEvent::KeyRelease) {
    const auto* k = static_cast<QKeyEvent*>(e);
    if (k->key() == Qt::Key_A && k->modifiers().testFlag(Qt::ControlModifier)) {
      SelectAll();
      return true;
    }
    if (k->key() == Qt::Key_F2 && style_ == vsReport && !readOnly_) {
      const QList<int> rows = SelectedRows();
      EditCaption(ItemIndex() >= 0 && Selected(ItemIndex()) ? ItemIndex() : rows.value(0, -1));
      return true;
    }
  }
  return QWidget::eventFilter(watched, e);
}

// ---- geometry -------------------------------------------------------------------------------

QSize TphotoListView::CellSize() const {
  // Wide enough for the nine-button strip and the marks on it; 154 high as the list keeps two
  // text lines under the preview.
  return QSize(172, 154);
}

QRect TphotoListView::ItemRect(int row) const {
  if (row < 0 || row >= Count()) return QRect();
  return icons_->visualRect(model_->index(row, 0));
}

QRect TphotoListView::StripRect(int row) const {
  const QRect r = ItemRect(row);
  if (r.isEmpty()) return QRect();
  return QRect(r.left() + 4, r.top() + 5, actionButtons_ * ButtonWidth, ButtonHeight);
}

int TphotoListView::ItemAt(const QPoint& pos) const {
  const QModelIndex i = icons_->indexAt(pos);
  return i.isValid() ? i.row() : -1;
}

bool TphotoListView::StripShown(int row) const {
  const TLumenfoldPicture* picture = Picture(row);
  return picture && OnActionClick && actionButtons_ > 0 && Selected(row) && picture->Thumbnail();
}

int TphotoListView::ButtonAt(int row, const QPoint& pos) const {
  if (!StripShown(row)) return -1;
  const QRect strip = StripRect(row);
  if (!strip.contains(pos)) return -1;
  return (pos.x() - strip.left()) / ButtonWidth;
}

QListView* TphotoListView::IconList() const {
  return icons_;
}
QTreeView* TphotoListView::ReportList() const {
  return report_;
}
QWidget* TphotoListView::IconViewport() const {
  return icons_->viewport();
}
QWidget* TphotoListView::ReportViewport() const {
  return report_->viewport();
}
QAbstractItemView* TphotoListView::CurrentList() const {
  return style_ == vsIcon ? static_cast<QAbstractItemView*>(icons_)
                          : static_cast<QAbstractItemView*>(report_);
}

// ---- mouse ----------------------------------------------------------------------------------

bool TphotoListView::iconMousePress(const QPoint& pos) {
  const int row = ItemAt(pos);
  pressedButton_ = pressedRow_ = -1;
  if (row < 0 || !Selected(row)) {
    outside_ = true;
    return false;
  }
  outside_ = false;
  const int button = ButtonAt(row, pos);
  if (button < 0) return false;
  // A press on a button keeps the selection as it is.
  pressedButton_ = button;
  pressedRow_ = row;
  return true;
}

bool TphotoListView::iconMouseRelease(const QPoint& pos) {
  const int row = ItemAt(pos);
  const int pressedButton = pressedButton_, pressedRow = pressedRow_;
  pressedButton_ = pressedRow_ = -1;
  if (row < 0 || !Selected(row)) {
    outside_ = true;
    return false;
  }
  outside_ = false;
  // A release whose press the list handled goes back to the list.
  if (pressedButton < 0) return false;
  const int button = ButtonAt(row, pos);
  if (button >= 0 && button == pressedButton && row == pressedRow && OnActionClick) {
    const TActionBuittonOnClickEvent handler = OnActionClick; // the handler may replace itself
    handler(this, button);
  }
  return true;
}

bool TphotoListView::iconDoubleClick(const QPoint& pos) {
  // The second click of a double click on a button counts as another press of that button.
  return iconMousePress(pos);
}

// ---- drawing --------------------------------------------------------------------------------

QString TphotoListView::FormatThousands(qint64 value, const QLocale& locale) {
  if (value == 0) return QString();
  QString digits = QString::number(value < 0 ? -value : value);
  const QString separator = locale.groupSeparator();
  for (int i = int(digits.size()) - 3; i > 0; i -= 3)
    digits.insert(i, separator);
  return value < 0 ? QStringLiteral("-") + digits : digits;
}

QString TphotoListView::ShortenText(const QString& text, const QFontMetrics& metrics, int width) {
  if (metrics.horizontalAdvance(text) <= width) return text;
  QString s = text;
  s.insert(std::min<qsizetype>(4, s.size()), QStringLiteral("..."));
  const qsizetype cut = std::min<qsizetype>(4, text.size()) + 3;
  for (int n = 0; n < 999 && s.size() > cut && metrics.horizontalAdvance(s) > width; ++n)
    s.remove(cut, 1);
  return s;
}

QString TphotoListView::SizeLine(const TLumenfoldPicture& picture, const QLocale& locale) {
  return QStringLiteral("%1x%2 - %3")
      .arg(picture.OriginalWidth)
      .arg(picture.OriginalHeight)
      .arg(FormatThousands(picture.OriginalSize, locale));
}

QString TphotoListView::InfoLine(const TLumenfoldPicture& picture, const QLocale& locale) {
  return picture.OriginalMissing ? QStringLiteral("original missing") : SizeLine(picture, locale);
}

void TphotoListView::ResetPaintLog() {
  paintedItems_ = 0;
  paintedRows_.clear();
}

void TphotoListView::notePainted(int row) {
  ++paintedItems_;
  if (paintedRows_.size() >= 1024) paintedRows_.remove(0, 512);
  paintedRows_.append(row);
}

void TphotoListView::askForPreviews() {
  QList<TLumenfoldPicture*> pictures;
  for (int row : std::as_const(wantedRows_)) {
    TLumenfoldPicture* picture = row < Count() ? Picture(row) : nullptr;
    if (picture && !pictures.contains(picture)) pictures.append(picture);
  }
  wantedRows_.clear();
  if (!pictures.isEmpty()) emit PreviewsWanted(pictures);
}

void TphotoListView::DrawItem(QPainter& p, const QRect& cell, int row, bool selected) {
  notePainted(row);
  const TLumenfoldPicture* picture = Picture(row);
  const QPalette& pal = icons_->palette();
  // A selected item uses the highlight pair, so its texts stay readable in every palette.
  const QColor fg = selected ? pal.color(QPalette::HighlightedText) : pal.color(QPalette::Text);
  const QColor bg = selected ? pal.color(QPalette::Highlight) : pal.color(QPalette::Base);
  const QFontMetrics fm(icons_->font());
  const int textHeight = fm.height();

  p.save();
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setClipRect(cell);
  p.fillRect(cell, selected ? bg : pal.color(QPalette::Base));
  p.setPen(QPen(fg, 0));
  p.setBrush(bg);

  // Edges as left/top inclusive, right/bottom exclusive.
  int l = cell.left(), t = cell.top(), r = cell.left() + cell.width(),
      b = cell.top() + cell.height();
  auto box = [&] { return QRect(l, t, r - l, b - t); };
  auto outline = [&] { p.drawRect(QRect(l, t, r - l - 1, b - t - 1)); };

  l += 2, t += 2, r -= 2, b -= 2;
  // Room for the two text lines; one pixel more than their height keeps the second line's
  // descenders inside the cell.
  b -= 2 * textHeight + 2;
  outline();
  l += 2, t += 2, r -= 2, b -= 2;

  if (picture) {
    if (picture->IsFace) {
      p.save();
      p.setPen(QPen(Qt::red, 0));
      p.setBrush(Qt::NoBrush);
      outline();
      p.restore();
    }
    l += 1, t += 1, r -= 1, b -= 1;
  }

  const TLumenfoldBitmap thumbnail = picture ? picture->Thumbnail() : nullptr;
  if (thumbnail && !thumbnail->isNull()) {
    work_ = *thumbnail;
    ApplyOrientation(work_, picture->Orientation);
    const TCropRect& crop = picture->CropRect;
    QSize original =
        OrientedSize(QSize(picture->OriginalWidth, picture->OriginalHeight), picture->Orientation);
    if (CropIsSet(crop.X1, crop.Y1, crop.X2, crop.Y2) && original.width() > 0 &&
        original.height() > 0) {
      const double sx = double(work_.width()) / original.width();
      const double sy = double(work_.height()) / original.height();
      const QPoint a(qRound(sx * crop.X1), qRound(sy * crop.Y1));
      const QPoint c(qRound(sx * crop.X2), qRound(sy * crop.Y2));
      const QPoint frame[5] = {a, QPoint(c.x(), a.y()), c, QPoint(a.x(), c.y()), a};
      if (work_.format() != QImage::Format_RGB32)
        work_ = work_.convertToFormat(QImage::Format_RGB32);
      QPainter wp(&work_);
      wp.setRenderHint(QPainter::Antialiasing, false);
      // Black, black, white, white, advancing half a step per pixel: 4 black, 4 white.
      wp.setPen(QPen(Qt::white, 0));
      wp.drawPolyline(frame, 5);
      QPen dash(Qt::black, 0);
      dash.setDashPattern({4.0, 4.0});
      wp.setPen(dash);
      wp.drawPolyline(frame, 5);
    }
    DrawBitmapFitted(work_, p, box());
  } else {
    if (picture && !picture->OriginalMissing) {
      wantedRows_.append(row);
      wantedTimer_.start();
    }
    p.fillRect(box(), bg);
    outline();
    // A picture whose preview could not be made is crossed out in red.
    if (picture && !picture->PreviewError.isEmpty()) p.setPen(QPen(Qt::red, 0));
    p.drawLine(l, t, r - 1, b - 1);
    p.drawLine(r - 1, t, l, b - 1);
    p.setPen(QPen(fg, 0));
  }

  if (picture) {
    if (thumbnail && OnActionClick && selected && actionButtons_ > 0)
      p.drawImage(QPoint(l - 1, t), marks_[mkAction],
                  QRect(0, 0, actionButtons_ * ButtonWidth + 1, ButtonHeight));
    if (picture->IsPrivate) p.drawImage(QPoint(l + 72, t), marks_[mkPrivate]);
    if (picture->IsDeleted) p.drawImage(QPoint(l + 90, t), marks_[mkDelete]);
    if (picture->IsFace) p.drawImage(QPoint(l + 108, t), marks_[mkFace]);
    if (!picture->CategoryIds.isEmpty()) p.drawImage(QPoint(l + 126, t), marks_[mkCategory]);
    if (picture->ThumbSignatureId != -1 || picture->MediumSignatureId != -1)
      p.drawImage(QPoint(l + 144, t), marks_[mkSign]);

    if (picture->Modified) p.drawRect(QRect(l, b + 4, r - l - 1, 1));

    l -= 2, t -= 2, r += 2, b += 2;
    const int available = (r - l) - 10;
    p.setPen(fg);
    p.setFont(icons_->font());
    const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine;
    p.drawText(QRect(l, b + 4, r - l, textHeight), flags,
               ShortenText(InfoLine(*picture), fm, available));
    p.drawText(QRect(l, b + 4 + textHeight, r - l, textHeight), flags,
               ShortenText(picture->OriginalFileName, fm, available));
  }
  p.restore();
}
