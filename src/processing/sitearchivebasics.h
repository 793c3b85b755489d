#pragma once
// What both parts of TSiteArchive use: the site's entries (sitearchive.cpp) and the digest of
// the site's inputs with the albums' keys (sitearchivedigest.cpp).
#include "core/picture.h"
#include "util/programfolder.h"

#include <QString>

namespace site_archive {

inline QString templatesRoot() {
  return DataFolder() + QStringLiteral("templates");
}

inline constexpr int kSizes = 3;
inline constexpr TGeneratedSize kGeneratedSizes[kSizes] = {
    TGeneratedSize::Large, TGeneratedSize::Medium, TGeneratedSize::Thumb};

} // namespace site_archive
