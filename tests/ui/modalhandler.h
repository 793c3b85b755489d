#pragma once
// Runs a function on the first modal dialog of a given type that a window under test opens.
#include <QApplication>
#include <QTimer>
#include <functional>

template <typename T> class TModalHandler : public QObject {
public:
  explicit TModalHandler(std::function<void(T*)> fn) : fn_(std::move(fn)) {
    connect(&timer_, &QTimer::timeout, this, [this] {
      if (done) return;
      if (auto* d = dynamic_cast<T*>(QApplication::activeModalWidget())) {
        done = true;
        fn_(d);
      }
    });
    timer_.start(10);
  }
  bool done = false;

private:
  std::function<void(T*)> fn_;
  QTimer timer_;
};
