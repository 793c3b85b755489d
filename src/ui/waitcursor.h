#pragma once
// Shows the hourglass cursor for the lifetime of the object; the normal cursor comes back on
// every way out of the scope. User-interface thread only.
#include <QApplication>
#include <QCursor>

class TWaitCursor {
public:
  TWaitCursor() { QApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }
  ~TWaitCursor() { QApplication::restoreOverrideCursor(); }
  TWaitCursor(const TWaitCursor&) = delete;
  TWaitCursor& operator=(const TWaitCursor&) = delete;
};
