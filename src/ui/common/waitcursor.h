#pragma once
// Shows the hourglass cursor (or the given one, such as the arrow with the hourglass while the
// user can still act) for the lifetime of the object; the normal cursor comes back on every way
// out of the scope. User-interface thread only.
#include <QApplication>
#include <QCursor>

class TWaitCursor {
public:
  explicit TWaitCursor(Qt::CursorShape shape = Qt::WaitCursor) {
    QApplication::setOverrideCursor(QCursor(shape));
  }
  ~TWaitCursor() { QApplication::restoreOverrideCursor(); }
  TWaitCursor(const TWaitCursor&) = delete;
  TWaitCursor& operator=(const TWaitCursor&) = delete;
};
