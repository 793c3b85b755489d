#pragma once
// The pictures' files as the archive sees them: their entry names, and whether a file may be
// packed or followed at all.
//
// Threads: any; they look at the disk only.
#include <QHash>
#include <QString>
#include <ctime>
#include <utility>

class TLumenfoldAlbum;

// What the archive needs to know of a source file, from one stat call (no time zone work: a
// run looks at thousands of files).
struct TFileStamp {
  bool IsFile = false; // a regular file
  qint64 Size = 0;
  struct timespec MTime {};
};

// The stamp of the file at path, a symbolic link followed.
TFileStamp FileStampOf(const QString& path);
// The stamp of what is at path itself, from one lstat call: IsFile only for a regular file that
// is no link. exists tells whether anything is there (a dangling link counts). A link or another
// kind of file is for UnpackableReason to judge.
TFileStamp OwnFileStamp(const QString& path, bool& exists);

// OwnFileStamp for the files of a few folders (an album's folder and its size folders): each
// folder is opened once, on its first use, and its files are looked at from there instead of
// along their whole path; a folder that is not there answers for its names without a system
// call. For one pass over an album. A folder that cannot be opened is looked at file by file.
// One thread at a time.
class TFolderStamps {
public:
  TFolderStamps() = default;
  ~TFolderStamps();
  TFolderStamps(const TFolderStamps&) = delete;
  TFolderStamps& operator=(const TFolderStamps&) = delete;
  TFileStamp Own(const QString& path, bool& exists);

private:
  struct Folder {
    Folder() noexcept {} // user-provided: recent_ below needs it before the class is complete
    int Fd = -1;
    bool Missing = false; // no folder of that name
  };
  QHash<QString, Folder> folders_;
  // The folders of the last calls (a picture's files lie in a few folders, visited in turn):
  // found by comparing, without hashing.
  static constexpr int kRecent = 8;
  std::pair<QString, Folder> recent_[kRecent];
  int nextRecent_ = 0;
};

// A stored relative name as a path below a folder on this system.
QString PathBelow(const QString& folder, const QString& relative);
// Entry name of a file of an album: the album's site folder, then the relative name.
QString AlbumEntry(const TLumenfoldAlbum* album, const QString& relative);
// Why the file is not followed, or empty: a symbolic link that leads outside the album's folder.
QString OutsideLinkReason(const QString& albumFolder, const QString& path);
// Why a picture's file may not go into the archive, or empty when it may: only a regular file
// goes (for an original, one holding a JPEG picture), and a symbolic link is followed only when
// it leads to a file inside the album's folder.
QString UnpackableReason(const QString& albumFolder, const QString& path, bool original);
// Something is at the path (a dangling link counts).
bool PathExists(const QString& path);
// Writes a line to the trace log; a log that cannot be written does not end the run.
void TraceQuietly(const QString& text);
