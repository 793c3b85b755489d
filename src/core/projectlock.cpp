#include "core/projectlock.h"

#include "util/userprompt.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QSet>

namespace {
// Projects locked by lock objects of this process. Never destroyed: locks held in static objects
// are released after the end of main().
QSet<QString>& lockedHere() {
  static auto* files = new QSet<QString>;
  return *files;
}
} // namespace

TProjectLock::TProjectLock(const QString& projectFile)
    : projectFile_(QDir::cleanPath(QFileInfo(projectFile).absoluteFilePath())),
      lock_(std::make_unique<QLockFile>(LockFileName(projectFile_))) {
  // A run may hold the lock for hours: only a dead holder makes it stale, never its age.
  lock_->setStaleLockTime(0);
}

TProjectLock::~TProjectLock() {
  Unlock();
}

QString TProjectLock::LockFileName(const QString& projectFile) {
  return projectFile + QStringLiteral(".lock");
}

TProjectLock::TResult TProjectLock::TryLock() {
  message_.clear();
  if (lock_->isLocked()) return Locked;
  if (lock_->tryLock(0)) {
    lockedHere().insert(projectFile_);
    return Locked;
  }
  switch (lock_->error()) {
  case QLockFile::LockFailedError: {
    qint64 pid = 0;
    QString host, app;
    if (lock_->getLockInfo(&pid, &host, &app)) {
      if (app.isEmpty()) app = QStringLiteral("another program");
      message_ = QStringLiteral("The project \"%1\" is in use by %2 (process %3 on %4). Close it "
                                "there or wait until its run has ended.")
                     .arg(projectFile_, app)
                     .arg(pid)
                     .arg(host.isEmpty() ? QStringLiteral("an unknown host") : host);
    } else {
      message_ = QStringLiteral("The project \"%1\" is in use by another program (lock file "
                                "\"%2\").")
                     .arg(projectFile_, LockFileName(projectFile_));
    }
    return HeldByOther;
  }
  case QLockFile::PermissionError:
    message_ = QStringLiteral("The lock file \"%1\" cannot be created: permission denied.")
                   .arg(LockFileName(projectFile_));
    return NotPossible;
  default:
    message_ =
        QStringLiteral("The lock file \"%1\" cannot be created.").arg(LockFileName(projectFile_));
    return NotPossible;
  }
}

void TProjectLock::Unlock() {
  if (!lock_->isLocked()) return;
  lock_->unlock();
  lockedHere().remove(projectFile_);
}

bool IsProjectLockedHere(const QString& projectFile) {
  return lockedHere().contains(QDir::cleanPath(QFileInfo(projectFile).absoluteFilePath()));
}

bool TProjectLock::IsLocked() const {
  return lock_->isLocked();
}

namespace {
std::unique_ptr<TProjectLock>& openProjectLock() {
  static std::unique_ptr<TProjectLock> lock;
  return lock;
}
} // namespace

bool LockOpenProject(const QString& projectFile) {
  auto& held = openProjectLock();
  const QString file = QDir::cleanPath(QFileInfo(projectFile).absoluteFilePath());
  if (held && held->ProjectFile() == file && held->IsLocked()) return true;
  auto next = std::make_unique<TProjectLock>(file);
  if (next->TryLock() == TProjectLock::HeldByOther) {
    Prompt()->error(next->Message());
    return false;
  }
  held = std::move(next); // the previous project's lock goes with the old object
  return true;
}

void UnlockOpenProject() {
  openProjectLock().reset();
}
