#pragma once
// Base of every error the model raises (database, project file, imaging, archive, run). It
// carries the text to show to the user: Text() as a QString, what() the same text as UTF-8.
// The user-interface reaches it through RunCommand (src/ui/mainwindow/runcommand.h), the command-line
// program through its own handler.
//
// Threads: any; an error is a value and may be copied between threads.
#include <QByteArray>
#include <QString>
#include <exception>

class TLumenfoldError : public std::exception {
public:
  explicit TLumenfoldError(QString text) : text_(std::move(text)), utf8_(text_.toUtf8()) {}
  const char* what() const noexcept override { return utf8_.constData(); }
  const QString& Text() const noexcept { return text_; }

private:
  QString text_;
  QByteArray utf8_;
};

// The text of any caught error: our own errors' Text(), otherwise what() read as UTF-8. One catch
// of std::exception with this replaces a ladder of catches for each error class.
inline QString TextOf(const std::exception& error) {
  if (const auto* own = dynamic_cast<const TLumenfoldError*>(&error)) return own->Text();
  return QString::fromUtf8(error.what());
}
