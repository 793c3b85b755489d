#pragma once
// The texts a new album or category starts with. They stand for "not written yet": the project
// keeps them as they are, but everything that leaves the program (the site's database copy, the
// gallery) treats them as empty, and the desktop's edit fields offer them selected so that
// typing replaces them.
//
// Threads: any (constant data).
#include <QString>
#include <QStringList>

inline constexpr const char* kDefaultAlbumLongName = "<Long Name>";
inline constexpr const char* kDefaultCategoryTitle = "<title>";
inline constexpr const char* kDefaultCategoryTitle2 = "<title2>";
inline constexpr const char* kDefaultCategoryDescription = "<description>";
inline constexpr const char* kDefaultCategoryDescription2 = "<description 2>";

// All of the texts above.
const QStringList& PlaceholderTexts();
// True when the text is exactly one of the default texts.
bool IsPlaceholderText(const QString& text);
// The text as published: empty for a default text, else unchanged.
QString PublishedText(const QString& text);
