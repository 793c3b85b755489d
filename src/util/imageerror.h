#pragma once
// Errors raised by the imaging primitives (decoding, encoding, transforms).
#include "db/lumenfolderror.h"

// Any failure of an imaging operation: missing or undecodable file, unwritable target, bad
// arguments. what() is UTF-8; Text() gives the same message as a QString for message boxes.
class EImageError : public TLumenfoldError {
public:
  explicit EImageError(const QString& text) : TLumenfoldError(text) {}
  const QString& Text() const noexcept { return message(); }
};

// A value outside its allowed range (for example a JPEG quality outside 1..100).
class EImageRangeError : public EImageError {
public:
  using EImageError::EImageError;
};
