#pragma once
// Helpers shared by the window tests: answering message boxes that a window opens modally.
#include "db/sqlaccess.h"
#include "modalhandler.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <functional>

// The control of a window with the given objectName; a missing control ends the test program.
template <typename T> T* child(QWidget* w, const char* name) {
  T* c = w->findChild<T*>(name);
  if (!c) qFatal("missing control %s", name);
  return c;
}

// Polls for a modal message box and answers it with the given button; records its text.
// Lives until destroyed; answers every box that appears meanwhile.
class TBoxAnswerer : public QObject {
public:
  explicit TBoxAnswerer(QMessageBox::StandardButton button) : button_(button) {
    connect(&timer_, &QTimer::timeout, this, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box || box == last_) return;
      last_ = box;
      texts << box->text();
      titles << box->windowTitle();
      if (QAbstractButton* b = box->button(button_))
        b->click();
      else
        box->reject();
    });
    timer_.start(10);
  }
  QStringList texts;
  QStringList titles;

private:
  QMessageBox::StandardButton button_;
  QTimer timer_;
  QPointer<QMessageBox> last_;
};

// Runs fn on each modal dialog of type T that appears (polling from the event loop).
template <typename T> class DialogHandler : public QObject {
public:
  explicit DialogHandler(std::function<void(T*)> fn) : fn_(std::move(fn)) {
    connect(&timer_, &QTimer::timeout, this, [this] {
      auto* d = dynamic_cast<T*>(QApplication::activeModalWidget());
      if (!d || d == last_) return;
      last_ = d;
      ++count;
      fn_(d);
    });
    timer_.start(10);
  }
  int count = 0;

private:
  std::function<void(T*)> fn_;
  QTimer timer_;
  QPointer<T> last_;
};

// One integer from the project database; -99 when the statement fails.
inline int queryInt(const QString& statement) {
  TQuery q;
  if (OpenQuery(CurrentConnectionString(), statement, q) != 0) return -99;
  const int n = q->FirstAsInteger();
  CloseQuery(q);
  return n;
}

inline void click(QWidget* w, const char* name) {
  child<QPushButton>(w, name)->click();
}
