#pragma once
// One program at a time on a project: a lock file "<project file>.lock" beside the project file,
// held while a run processes the project and while the desktop program has it open. A second
// run or window is refused with a message naming the program, process and host that hold it. A
// lock left by a process that no longer runs is taken over.
//
// Threads: a lock object belongs to the thread that made it; the process-wide lock of the open
// project (LockOpenProject) is for the user-interface thread.
#include <QString>
#include <memory>

class QLockFile;

class TProjectLock {
public:
  enum TResult {
    Locked,      // this object holds the lock
    HeldByOther, // another program holds it (see Message)
    NotPossible  // the lock file cannot be made (read-only folder...); the project is usable
  };

  explicit TProjectLock(const QString& projectFile);
  ~TProjectLock(); // releases the lock
  TProjectLock(const TProjectLock&) = delete;
  TProjectLock& operator=(const TProjectLock&) = delete;

  TResult TryLock();
  void Unlock();
  bool IsLocked() const;
  const QString& ProjectFile() const { return projectFile_; }
  // Why the last TryLock did not lock.
  const QString& Message() const { return message_; }

  static QString LockFileName(const QString& projectFile);

private:
  QString projectFile_;
  std::unique_ptr<QLockFile> lock_;
  QString message_;
};

// True when a lock object of this process holds the project's lock.
bool IsProjectLockedHere(const QString& projectFile);

// The desktop program's lock of its open project: releases the previous project's lock and locks
// this one (nothing to do when it is the same file). Returns false, after reporting the holder
// through the prompt, when another program holds it.
bool LockOpenProject(const QString& projectFile);
// Releases the lock of the open project, if any.
void UnlockOpenProject();
