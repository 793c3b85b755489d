#pragma once
// The command-line program's UserPrompt: errors and warnings go to standard error, one line each
// ("error: ...", "warning: ..."). A question is answered by the person at the terminal when
// standard input is one ("[y/N]"), otherwise with the preset answer (No unless --yes was given).
// The prompt counts the errors it receives, so a command can tell that the model reported a
// failure even where the model's own operation does not return one. While capturing (the normal
// state inside a command), errors are kept instead of printed, so that the command can fold the
// model's reason into its own one-line error message.
//
// Threads: any thread (the calls are serialised).
#include "util/userprompt.h"

#include <QMutex>
#include <QStringList>
#include <cstdio>

class CliPrompt final : public UserPrompt {
public:
  // Installs itself as the process-wide prompt; the destructor restores the previous one.
  explicit CliPrompt(std::FILE* out = stderr, std::FILE* in = stdin);
  ~CliPrompt() override;
  CliPrompt(const CliPrompt&) = delete;
  CliPrompt& operator=(const CliPrompt&) = delete;

  void error(const QString& text) override;
  void warning(const QString& text) override;
  bool confirm(const QString& text) override;

  int errorCount() const;
  // Capturing on: errors are kept (TakeErrors) instead of printed.
  void setCapture(bool on);
  // The kept errors, oldest first; the list is emptied.
  QStringList takeErrors();
  // Answer given to questions when nobody can be asked.
  void setDefaultAnswer(bool yes);
  // The prompt installed by main(), or nullptr.
  static CliPrompt* instance();

private:
  void print(const char* kind, const QString& text);
  mutable QMutex mutex_;
  std::FILE* out_;
  std::FILE* in_;
  UserPrompt* previous_;
  int errors_ = 0;
  bool capture_ = false;
  QStringList kept_;
  bool defaultAnswer_ = false;
};

// Joins the lines of a message (broken by "\r\n") into one line; every other control character,
// which came with a file or album name, is written out (EscapeControlCharacters).
QString OneLine(const QString& text);
