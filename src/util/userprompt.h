#pragma once
// The model never talks to a person directly. Errors, warnings and yes/no questions go through
// the process-wide UserPrompt, which the desktop program implements with message boxes, the
// command-line program with standard error, and tests with a recorder.
//
// Threads: Prompt() may be called from any thread; implementations must be thread-safe
// (the desktop one forwards calls from worker threads to the user-interface thread).
#include <QString>

class UserPrompt {
public:
  virtual ~UserPrompt() = default;
  virtual void error(const QString& text) = 0;
  virtual void warning(const QString& text) = 0;
  // A Yes / No question; true means Yes.
  virtual bool confirm(const QString& text) = 0;
};

// The prompt in force; never null (a default one writes to standard error and answers No).
UserPrompt* Prompt();
// Installs a prompt (not owned) and returns the previous one; nullptr restores the default.
UserPrompt* SetPrompt(UserPrompt* prompt);
