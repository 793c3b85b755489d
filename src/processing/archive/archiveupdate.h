#pragma once
// Updates an archive this program wrote where it lies, so that a run that changes a few
// pictures writes those entries and a new central directory instead of the whole file.
//
// The entries that stay are not touched, nor is anything else the old archive uses: the new
// entries go into places that earlier updates cleared, where they fit, and behind the file's old
// end; the new directory goes last. Before the file is touched, a journal beside it
// ("<archive>.lumenfold-journal") keeps the file's old size, the cleared places the update
// takes, how the finished file ends and the places of what goes. Until the new directory is
// complete on the disk, clearing the places taken and cutting the file to its old size gives the
// old archive; once it is, the update only has to finish. The
// entries that go (removed pictures, pictures now private, replaced versions) and the old
// directory are then cleared (the file system frees their blocks, or zeros are written over
// them), so nothing of them stays readable in the file; the journal goes last. Those places
// count as unused space until the archive is written whole again. RecoverArchiveUpdate does what
// an update killed at any point left undone, with a journal of an earlier version too.
//
// Threads: the thread that owns the archive's builder (RecoverArchive: any thread).
#include <QByteArray>
#include <QString>
#include <functional>
#include <vector>

#include "processing/archive/zipwriter.h"

// One entry of the updated archive, in the order of the new directory.
struct TArchiveUpdateEntry {
  TZipEntryHeader Header;
  bool Kept = false;       // it stays where it lies (LocalOffset); else it is written anew
  qint64 LocalOffset = -1; // where its local header lies (set by PlanArchiveUpdate for new ones)
  int SourceFd = -1;       // a new entry's compressed bytes: in this file
  qint64 SourceOffset = 0; // from here on
  QByteArray SourceData;   // or here (SourceFd -1)
};

struct TArchiveUpdatePlan {
  qint64 OldSize = 0;            // the archive's size now
  qint64 OldDirectoryOffset = 0; // where its central directory begins now
  std::vector<TArchiveUpdateEntry> Entries;
  // [begin, end) of the entries that go (PlanArchiveUpdate adds the old directory's)
  std::vector<std::pair<qint64, qint64>> Dead;
  QByteArray Comment;
  // Set by PlanArchiveUpdate:
  QByteArray Tail; // the new central directory and end records
  qint64 DirectoryOffset = 0;
  qint64 NewSize = 0;
  qint64 Unused = 0;  // bytes before the directory that no entry uses (what went, old directories)
  qint64 NewData = 0; // bytes of the new entries' data
  // Places before the old end that new entries take (free ones: cleared by earlier updates)
  std::vector<std::pair<qint64, qint64>> Used;
};

// Places the new entries and makes the new directory. Cheap: nothing is read or written.
void PlanArchiveUpdate(TArchiveUpdatePlan& plan);

// Carries out the plan on the archive at path (the file the plan was made from: its size and
// identity are checked). beforeEntry(i) runs before entry i of the plan is written, kept
// entries included; whatever it throws leaves the old archive as it was and is thrown on.
// progress(done, total) reports bytes of entry data (those that stay count as done at once). Empty
// on success, else why not; the old archive then stays (or the journal puts it back at the next
// RecoverArchiveUpdate).
QString UpdateArchiveInPlace(const QString& path, const TArchiveUpdatePlan& plan,
                             const std::function<void(int)>& beforeEntry,
                             const std::function<void(qint64, qint64)>& progress);

// The journal beside an archive.
QString ArchiveJournalPath(const QString& archivePath);
// Finishes or undoes an update of the archive that was killed on the way, as its journal says.
// The caller holds the archive's lock. Empty when the archive is sound (or was made so), else
// why it could not be.
QString RecoverArchiveUpdate(const QString& archivePath);
// RecoverArchiveUpdate under the archive's lock; nothing happens while a live run holds it.
void RecoverArchive(const QString& archivePath);
