#pragma once
// Base of every error the model raises (database, project file, imaging, archive). It carries the
// text to show to the user; what() gives the same text as UTF-8. The user-interface reaches it
// through RunCommand (src/ui/runcommand.h), the command-line program through its own handler.
//
// Threads: any; an error is a value and may be copied between threads.
#include <QByteArray>
#include <QString>
#include <exception>

class TLumenfoldError : public std::exception {
public:
  explicit TLumenfoldError(QString message)
      : message_(std::move(message)), utf8_(message_.toUtf8()) {}
  const char* what() const noexcept override { return utf8_.constData(); }
  const QString& message() const noexcept { return message_; }

private:
  QString message_;
  QByteArray utf8_;
};
