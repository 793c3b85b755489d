#pragma once
// Errors raised by the imaging primitives (decoding, encoding, transforms).
#include <QString>
#include <stdexcept>

// Any failure of an imaging operation: missing or undecodable file, unwritable target, bad
// arguments. what() is UTF-8; Text() gives the same message as a QString for message boxes.
class EImageError : public std::runtime_error {
public:
  explicit EImageError(const QString& text) : std::runtime_error(text.toStdString()), text_(text) {}
  const QString& Text() const noexcept { return text_; }

private:
  QString text_;
};

// A value outside its allowed range (for example a JPEG quality outside 1..100).
class EImageRangeError : public EImageError {
public:
  using EImageError::EImageError;
};
