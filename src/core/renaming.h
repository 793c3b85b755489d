#pragma once
// Renaming templates: %MACRO% texts that expand to album and picture data and a zero-padded
// sequence number. Used for renaming originals and for signature captions.
//
// Threads: any thread, as long as the album is not changed meanwhile.
#include <QString>

class TLumenfoldAlbum;

inline constexpr int kRenameMacroCount = 17;
// Macro keys ("%PREVIOUS%" ... "%N000%") and their menu labels, index-aligned. Key 16 stands for
// the whole family %N0% .. %N000000000000000%.
extern const char* const RenameMacroKeys[kRenameMacroCount];
extern const char* const RenameMacroLabels[kRenameMacroCount];

// The name for the picture at `position` of the album's picture list (no picture when out of
// range). Letter case is not changed; see ApplyFileNameCase.
QString ExpandRenameTemplate(const TLumenfoldAlbum* album, int position, int start,
                             bool replaceSpecialChars, bool forceJpg, const QString& templ);
// Every maximal run of characters other than ASCII letters and digits becomes one "_".
QString ReplaceSpecialChars(const QString& text);
// True when two pictures of the album would get exactly the same name.
bool HasDuplicateNames(const TLumenfoldAlbum* album, int start, const QString& templ,
                       bool replaceSpecialChars);
// 0 lowercase, 1 uppercase, 2 unchanged, 3 first letter upper case and the rest lower case.
QString ApplyFileNameCase(const QString& name, int fileNameCase);
// Splits a file name at its last dot after the last separator: base and extension (with dot).
void SplitExtension(const QString& name, QString& base, QString& extension);
