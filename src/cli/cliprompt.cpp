#include "cli/cliprompt.h"

#include "util/helpers.h"

#include <atomic>
#include <unistd.h>

namespace {
std::atomic<CliPrompt*> installed{nullptr};
}

QString OneLine(const QString& text) {
  // The line breaks a message is written with; any other control character came with a name.
  QString line = text;
  line.replace(QLatin1String("\r\n"), QLatin1String(" "));
  return EscapeControlCharacters(line.trimmed());
}

CliPrompt::CliPrompt(std::FILE* out, std::FILE* in) : out_(out), in_(in) {
  previous_ = SetPrompt(this);
  installed.store(this);
}

CliPrompt::~CliPrompt() {
  CliPrompt* self = this;
  installed.compare_exchange_strong(self, nullptr);
  SetPrompt(previous_);
}

CliPrompt* CliPrompt::instance() {
  return installed.load();
}

void CliPrompt::print(const char* kind, const QString& text) {
  std::fprintf(out_, "%s: %s\n", kind, OneLine(text).toLocal8Bit().constData());
  std::fflush(out_);
}

void CliPrompt::error(const QString& text) {
  QMutexLocker lock(&mutex_);
  ++errors_;
  if (capture_)
    kept_ << OneLine(text);
  else
    print("error", text);
}

void CliPrompt::warning(const QString& text) {
  QMutexLocker lock(&mutex_);
  print("warning", text);
}

bool CliPrompt::confirm(const QString& text) {
  QMutexLocker lock(&mutex_);
  if (!in_ || !isatty(fileno(in_))) {
    print("question", text + (defaultAnswer_ ? QStringLiteral(" (answered yes)")
                                             : QStringLiteral(" (answered no)")));
    return defaultAnswer_;
  }
  std::fprintf(out_, "%s [y/N] ", OneLine(text).toLocal8Bit().constData());
  std::fflush(out_);
  char line[64] = {};
  if (!std::fgets(line, sizeof line, in_)) return false;
  return line[0] == 'y' || line[0] == 'Y';
}

int CliPrompt::errorCount() const {
  QMutexLocker lock(&mutex_);
  return errors_;
}

void CliPrompt::setDefaultAnswer(bool yes) {
  QMutexLocker lock(&mutex_);
  defaultAnswer_ = yes;
}

void CliPrompt::setCapture(bool on) {
  QMutexLocker lock(&mutex_);
  capture_ = on;
}

QStringList CliPrompt::takeErrors() {
  QMutexLocker lock(&mutex_);
  QStringList errors;
  errors.swap(kept_);
  return errors;
}
