#include "ui/photolist/photolistlists.h"

#include "core/picture.h"
#include "core/previewcache.h"
#include "util/messages.h"

#include <QKeyEvent>
#include <QPainter>
#include <algorithm>

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
  if ((watched == icons_ || watched == icons_->viewport()) && zoomEvent(e)) return true;
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
  return painter_.CellSize(QFontMetrics(icons_->font()));
}

QRect TphotoListView::ItemRect(int row) const {
  if (row < 0 || row >= Count()) return QRect();
  return icons_->visualRect(model_->index(row, 0));
}

QRect TphotoListView::StripRect(int row) const {
  return painter_.StripRect(ItemRect(row), actionButtons_);
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
  return painter_.ButtonAt(ItemRect(row), actionButtons_, pos);
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
  TPhotoItemPainter::TItemState state;
  state.Selected = selected;
  state.ActionButtons = OnActionClick ? actionButtons_ : 0;
  TLumenfoldPicture* picture = Picture(row);
  bool wanted = !painter_.Draw(p, cell, picture, state, icons_->palette(), icons_->font());
  if (!wanted && picture && style_ == vsIcon) {
    // Drawn from a preview made for smaller tiles: the sharper one is asked for.
    const TLumenfoldBitmap shown = picture->Thumbnail();
    wanted = shown && !PreviewServesStep(shown->size(),
                                         QSize(picture->OriginalWidth, picture->OriginalHeight),
                                         PreviewStep());
  }
  if (wanted) {
    wantedRows_.append(row);
    wantedTimer_.start();
  }
}
