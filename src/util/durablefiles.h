#pragma once
// Files that must survive a power cut or a killed process, and files that leave: a file is
// replaced only by a complete temporary that is on the disk, with the folder's new entry on the
// disk too; a file that goes away goes to the user's trash, never away for good.
//
// Threads: any thread.
#include <QByteArray>
#include <QString>

// A whole file is replaced through WriteFileReplacing (util/helpers.h).

// Flushes the file's data to the disk (fsync). False with a reason in error.
bool SyncFile(const QString& path, QString* error = nullptr);
// Flushes the folder that holds path, so that a rename or a new name in it is on the disk.
bool SyncFolderOf(const QString& path, QString* error = nullptr);

// The user's trash in the home folder: $XDG_DATA_HOME/Trash ($HOME/.local/share/Trash without
// it). Empty when there is no home folder.
QString HomeTrashFolder();

// Moves the file (or folder) to the trash. The home trash and its "files" and "info" folders are
// made first where missing (mode 0700), and where the file went is checked: a file that did not
// land in a trash's "files" folder is put back where it was. False with a reason in error when
// no trash can be had; the file then stays where it was. A missing file is an error too.
bool MoveToTrash(const QString& path, QString* error = nullptr);

// An exclusive lock (flock) on a file, held as long as the object lives. The system lets go of
// a lock whose process is gone, so a lock that can be taken tells that its owner has ended.
class TFileLock {
public:
  // Takes the lock on path, making the file when missing. Held() is false when a live process
  // holds it or the file cannot be made. removeWhenDone: the destructor removes the file.
  explicit TFileLock(const QString& path, bool removeWhenDone = true);
  ~TFileLock();
  TFileLock(const TFileLock&) = delete;
  TFileLock& operator=(const TFileLock&) = delete;
  bool Held() const { return fd_ >= 0; }
  // A live process holds the lock (as opposed to a file that cannot be made).
  bool Busy() const { return busy_; }
  // True when path exists and no live process holds a lock on it.
  static bool IsAbandoned(const QString& path);

private:
  QString path_;
  int fd_ = -1;
  bool remove_ = true;
  bool busy_ = false;
};
