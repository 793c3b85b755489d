#pragma once
// Errors raised by the imaging primitives (decoding, encoding, transforms).
#include "util/lumenfolderror.h"

// Any failure of an imaging operation: missing or undecodable file, unwritable target, bad
// arguments.
class EImageError : public TLumenfoldError {
public:
  explicit EImageError(const QString& text) : TLumenfoldError(text) {}
};

// A value outside its allowed range (for example a JPEG quality outside 1..100).
class EImageRangeError : public EImageError {
public:
  using EImageError::EImageError;
};
