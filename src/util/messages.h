#pragma once
// Posted messages between threads and windows. Each message number has its own QEvent type and
// carries two parameters; a worker posts and never waits, the receiver handles the event on the
// thread that owns it (the user-interface thread for windows).
#include "util/handover.h"

#include <QCoreApplication>
#include <QEvent>

// Start dialog of the main window; close request of the progress dialog.
inline constexpr int LF_MSG_START = 1141;
// Thumbnail ready: first parameter the picture's position, second the picture.
inline constexpr int LF_MSG_THUMBNAIL = 2221;
// Processing progress: first parameter the 1-based picture number, second the stage 0..8.
inline constexpr int LF_MSG_PROGRESS = 2223;
// Processing progress within the stage last reported by LF_MSG_PROGRESS: first parameter the part
// of that stage done, in thousandths (0..1000, rising), second the stage. A long stage (a large
// picture, writing the zip archive) sends it often, so that a progress bar keeps moving.
inline constexpr int LF_MSG_PROGRESS_PART = 2224;

class TMessageEvent : public QEvent {
public:
  TMessageEvent(int message, qintptr first, qintptr second)
      : QEvent(TypeOf(message)), Message(message), First(first), Second(second) {
    HandOver(this);
  }
  static QEvent::Type TypeOf(int message) { return QEvent::Type(QEvent::User + message); }
  // True for a message of that number; the receiver has then taken it over.
  static bool Is(const QEvent* e, int message) {
    if (!e) return false;
    TakeOver(e); // before its first field is read
    return e->type() == TypeOf(message);
  }
  const int Message;
  const qintptr First;
  const qintptr Second;
};

// Thread-safe: may be called from any thread.
inline void PostMessage(QObject* receiver, int message, qintptr first, qintptr second) {
  if (receiver) QCoreApplication::postEvent(receiver, new TMessageEvent(message, first, second));
}
