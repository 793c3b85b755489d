#pragma once

// The two lists behind TphotoListView: tiles (icon view) and details (report view). They hand
// mouse presses on a tile's strip and buttons back to the view.

#include "ui/photolist/photolistview.h"

#include <QListView>
#include <QMouseEvent>
#include <QTreeView>

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
