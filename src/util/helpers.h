#pragma once
// Small shared helpers: font style texts, file size and checksum, DOS time stamps, the recent
// projects list, site template listings, rectangle helpers, safe file renames.
#include <QDateTime>
#include <QFlags>
#include <QHash>
#include <QRect>
#include <QSet>
#include <QString>
#include <QStringList>

enum class TFontStyle { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
Q_DECLARE_FLAGS(TFontStyles, TFontStyle)
Q_DECLARE_OPERATORS_FOR_FLAGS(TFontStyles)

// "fsBold", then ",fsItalic", ",fsUnderline", ",fsStrikeOut" for each style that is set.
QString FontStyleToText(TFontStyles styles);
// Each of the four words found anywhere in the text (case-sensitive) sets its style.
TFontStyles TextToFontStyle(const QString& text);

// Size in bytes, or -1 when the file cannot be read (or is larger than 2 GiB - 1).
int GetFileSizeBytes(const QString& path);
// Adler-32 (the zlib checksum) of length bytes, continuing from adler (1 to start).
quint32 UpdateAdler32(quint32 adler, const void* data, size_t length);
// Adler-32 of the whole file as 8 lowercase hex digits; empty for a missing or empty file.
QString GetFileHash(const QString& path);
// The same checksum of bytes already in memory (a whole file's contents).
QString GetDataHash(const QByteArray& data);

// Reads a whole file into `into`, reusing its memory. False, with `into` empty, when the file
// cannot be read, is empty or is larger than any photograph (512 MB): callers then stream it.
bool ReadWholeFile(const QString& path, QByteArray& into);
// True when the path names a regular file (symbolic links followed), as QFileInfo::isFile, in
// one system call and without its caching: for checks over thousands of files.
bool IsRegularFile(const QString& path);

// IsRegularFile for many files in few folders (the generated files of every picture of a
// project): each folder is listed once, on its first use, and a name it lists as a regular file
// needs no call of its own. Any other name is looked at on its own, so the answers are always
// those of IsRegularFile. For one pass over a project: later changes of a folder are not seen.
// One thread at a time.
class TFolderListings {
public:
  bool IsRegularFile(const QString& path);

private:
  QHash<QString, QSet<QString>> folders_; // folder -> names of its regular files
};

// Packed DOS time stamp (date in the high 16 bits, time in the low 16 bits) of the file's local
// modification time; -1 when the file does not exist.
int FileDosDateTime(const QString& path);
// The file's modification time in seconds since the epoch, -1 when it does not exist. It asks
// nothing of the time zone, so any number of threads may call it at once; DosDateTimeOfSecs
// then makes the packed local time stamp on one thread.
qint64 FileModifiedSecs(const QString& path);
int DosDateTimeOfSecs(qint64 secs);
// The same through the C library's local time, in the time zone as the last tzset() read it:
// for thousands of files, call tzset() once and then this (any thread). QDateTime reads the
// zone anew for each conversion.
int DosDateTimeOfSecsInZone(qint64 secs);
int DateTimeToDosDateTime(const QDateTime& local);
QDateTime DosDateTimeToDateTime(int packed);

// Puts the file name first in the list: a new name is inserted at position 0; a name already
// present (compared case-insensitively) changes places with the first entry. Always true.
bool AddRecentProject(QStringList& list, const QString& fileName);
// The process-wide recent-projects list (user-interface thread only).
QStringList& RecentProjects();

// Names of the template folders matched by a pattern "<folder>/templates/*.*" that hold both
// preview_small.jpg and preview_big.jpg, in listing order.
void ListTemplates(const QString& pattern, QStringList& list);
// Paths, relative to root/name/, of every file of one template: sub-folders first (depth
// first), then the folder's own files. Links to folders are not followed, nor links to files
// outside the template's folder.
void ListTemplateFiles(const QString& root, const QString& name, QStringList& list);

bool InflateRectBy(QRect* rect, int amount);
bool DeflateRectBy(QRect* rect, int amount);

// Renames a file without ever replacing an existing file of the new name. Returns false when the
// source is missing, the target exists or the rename fails.
bool RenameFileNoReplace(const QString& from, const QString& to);
// Replaces the file by the bytes through a complete, flushed temporary file beside it (write,
// fsync, rename, fsync the folder); a link is followed, an existing file keeps its permissions.
// Returns an empty text, or the system's reason ("No space left on device"): the file is then
// as it was and no temporary file is left. Any thread.
QString WriteFileReplacing(const QString& path, const QByteArray& bytes);
// Writes a file of the run's own temporary folder without flushing it: what is kept from such a
// file (the archive, the site folder) is flushed when it is written. Returns an empty text or
// the reason. Any thread.
QString WriteScratchFile(const QString& path, const QByteArray& bytes);
// The text with every control character written out: "\n", "\r", "\t", others as "\xHH"
// (C1 controls as "\u00HH"), so that a name prints on one line and sends nothing to a terminal.
QString EscapeControlCharacters(const QString& text);
// Splits a path into components; both '\' and '/' separate.
QStringList SplitPath(const QString& path);
// The last component of a path (a folder's own name); empty for an empty path.
QString LastPathComponent(const QString& path);
// Nearest integer; halves go to the even neighbour, whatever the FPU rounding mode.
int RoundHalfEven(double v);
