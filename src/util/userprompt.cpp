#include "util/userprompt.h"

#include <QMutex>
#include <atomic>
#include <cstdio>

namespace {

class StderrPrompt final : public UserPrompt {
public:
  void error(const QString& text) override { print("error", text); }
  void warning(const QString& text) override { print("warning", text); }
  bool confirm(const QString& text) override {
    print("question", text);
    return false;
  }

private:
  void print(const char* kind, const QString& text) {
    QMutexLocker lock(&mutex_);
    QString oneLine = text;
    oneLine.replace("\r\n", " ").replace('\n', ' ');
    std::fprintf(stderr, "%s: %s\n", kind, oneLine.toLocal8Bit().constData());
  }
  QMutex mutex_;
};

StderrPrompt& defaultPrompt() {
  static StderrPrompt prompt;
  return prompt;
}

std::atomic<UserPrompt*> current{nullptr};

} // namespace

UserPrompt* Prompt() {
  UserPrompt* p = current.load();
  return p ? p : &defaultPrompt();
}

UserPrompt* SetPrompt(UserPrompt* prompt) {
  UserPrompt* old = current.exchange(prompt);
  return old ? old : &defaultPrompt();
}
