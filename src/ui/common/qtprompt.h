#pragma once
// The desktop program's UserPrompt: message boxes owned by the active window.
//
// Threads: error, warning and confirm may be called from any thread. A call from another thread
// is forwarded to the thread the prompt lives in (the user-interface thread) and waits there for
// the answer, so the user-interface thread must never wait for a worker that may prompt without
// dispatching events (QThread::wait() would dead-lock; dispatch messages until the worker ends).
#include "util/userprompt.h"

#include <QObject>

class QtPrompt final : public QObject, public UserPrompt {
  Q_OBJECT
public:
  // Create it on the user-interface thread.
  explicit QtPrompt(QObject* parent = nullptr);
  ~QtPrompt() override;

  void error(const QString& text) override;   // error box, OK
  void warning(const QString& text) override; // warning box, OK
  bool confirm(const QString& text) override; // question, Yes / No (the default); true: Yes

  // Installs this prompt as the process-wide one; the destructor puts the previous one back.
  void install();

private:
  enum class Kind { Error, Warning, Confirm };
  bool show(Kind kind, const QString& text);
  bool showHere(Kind kind, const QString& text);
  UserPrompt* previous_ = nullptr;
  bool installed_ = false;
};
