#include "core/renamemoves.h"

#include "core/projectlock.h"
#include "core/renamejournal.h"
#include "db/sqlaccess.h"
#include "db/statements.h"
#include "util/helpers.h"
#include "util/userprompt.h"

#include <QFileInfo>
#include <QHash>
#include <QUuid>
#include <csignal>
#include <memory>

bool RenameFilePresent(const QString& path) {
  const QFileInfo info(path);
  return info.exists() || info.isSymLink();
}

QString RenameFileNameOf(const QString& path) {
  return QFileInfo(path).fileName();
}

QString NewRenameToken() {
  return QUuid::createUuid().toString(QUuid::Id128).left(12);
}

QString RenameTemporaryName(const QString& path, const QString& token, int serial, int kind) {
  const QFileInfo info(path);
  return info.path() + QLatin1Char('/') +
         QStringLiteral(".lumenfold-rename-%1-%2-%3.tmp").arg(token).arg(serial).arg(kind);
}

namespace {

// Fault injection for the tests of interrupted renames, and the only place that reads it:
// LUMENFOLD_FAULT_STOP_AFTER_MOVES=N kills the process (as kill -9 would) after the N-th file
// move of a rename or of its repair; "N,term" sends it SIGTERM instead.
void faultInjectionAfterMove() {
  static const QByteArray spec = qgetenv("LUMENFOLD_FAULT_STOP_AFTER_MOVES");
  if (spec.isEmpty()) return;
  static int left = spec.split(',').first().toInt();
  if (--left == 0) ::raise(spec.endsWith(",term") ? SIGTERM : SIGKILL);
}

// Where a file of an interrupted run is. The noted place is right unless the file moved once
// more before the program ended (from its Before name to its temporary one, or from there on).
void locate(TRenameFile& f) {
  if (f.At == TFileAt::Gone || RenameFilePresent(f.PathAt(f.At))) return;
  if (RenameFilePresent(f.Temp))
    f.At = TFileAt::Temp;
  else if (RenameFilePresent(f.To))
    f.At = TFileAt::After;
  else if (RenameFilePresent(f.From))
    f.At = TFileAt::Before;
  else
    f.At = TFileAt::Gone;
}

// The original file name of every picture in the database.
bool storedNames(QHash<int, QString>& names) {
  TQuery q;
  if (OpenQuery(CurrentConnectionString(), QString::fromLatin1(SQL_PICTURE_FILE_NAMES), q) != 0)
    return false;
  for (; !q->Eof(); q->Next())
    names.insert(q->AsInteger("picture_id"), q->AsString("original_filename"));
  return CloseQuery(q) == 0;
}

} // namespace

std::vector<TRenameOutcome> RunRenameMoves(TRenameRun& run, TRenameJournal* journal,
                                           const TRenameProgress& progress) {
  std::vector<TRenameOutcome> outcomes(run.Entries.size());
  auto move = [&](size_t e, int k, TFileAt to) {
    TRenameFile& f = run.Entries[e].Files[k];
    if (!RenameFileNoReplace(f.PathAt(f.At), f.PathAt(to))) return false;
    f.At = to;
    if (journal) journal->Moved(int(e), k, to);
    faultInjectionAfterMove();
    return true;
  };
  const int total = int(run.Entries.size()) * 2;
  int done = 0;
  // Phase 1: away from the Before names.
  for (size_t e = 0; e < run.Entries.size(); ++e) {
    TRenameEntry& entry = run.Entries[e];
    TRenameOutcome& o = outcomes[e];
    const TRenameFile& original = entry.Files[0];
    if (original.Moves()) {
      if (!RenameFilePresent(original.From)) {
        o.Missing = o.Failed = true;
      } else if (!move(e, 0, TFileAt::Temp)) {
        o.Failed = true;
      }
    }
    for (int k = 1; k < kRenameFileKinds && !o.Failed; ++k) {
      const TRenameFile& f = entry.Files[k];
      if (f.Moves() && RenameFilePresent(f.From) && !move(e, k, TFileAt::Temp))
        o.GeneratedLost = true;
    }
    if (progress) progress(++done, total);
  }
  // Phase 2: onto the After names, or back where an After name is taken after all.
  for (size_t e = 0; e < run.Entries.size(); ++e) {
    TRenameEntry& entry = run.Entries[e];
    TRenameOutcome& o = outcomes[e];
    TRenameFile& original = entry.Files[0];
    if (original.At == TFileAt::Temp && !move(e, 0, TFileAt::After)) {
      o.Failed = true;
      // Stuck under the temporary name: its generated files go back to names the picture no
      // longer has.
      if (!move(e, 0, TFileAt::Before)) o.GeneratedLost = true;
    }
    const TFileAt target =
        !original.Moves() || original.At == TFileAt::After ? TFileAt::After : TFileAt::Before;
    for (int k = 1; k < kRenameFileKinds; ++k) {
      TRenameFile& f = entry.Files[k];
      if (f.At != TFileAt::Temp || move(e, k, target)) continue;
      o.GeneratedLost = true;
      if (target == TFileAt::After && move(e, k, TFileAt::Before)) continue;
      QFile::remove(f.Temp);
      f.At = TFileAt::Gone;
      if (journal) journal->Moved(int(e), k, TFileAt::Gone);
    }
    if (progress) progress(++done, total);
  }
  return outcomes;
}

bool RepairInterruptedRename(const QString& projectFile) {
  const QString path = TRenameJournal::PathOf(projectFile);
  if (!RenameFilePresent(path)) return true;
  // Only the program that holds the project may touch the files of its rename.
  std::unique_ptr<TProjectLock> lock;
  if (!IsProjectLockedHere(projectFile)) {
    lock = std::make_unique<TProjectLock>(projectFile);
    if (lock->TryLock() == TProjectLock::HeldByOther) {
      Prompt()->warning(QStringLiteral("A renaming of pictures in the project \"%1\" is going on "
                                       "or was interrupted in another program. It is finished "
                                       "or undone when the project is opened after that "
                                       "program has ended.")
                            .arg(projectFile));
      return false;
    }
  }
  TRenameRun run;
  QString error;
  if (!TRenameJournal::Read(path, run, &error)) {
    Prompt()->warning(error + QStringLiteral(" The files it names were left as they are; remove "
                                             "it to rename pictures of this project again."));
    return false;
  }
  for (TRenameEntry& entry : run.Entries)
    for (TRenameFile& f : entry.Files)
      if (f.Moves()) locate(f);

  // The database decides: a picture it names by its new name is renamed, any other goes back.
  // A repair that was interrupted itself is finished as it was decided.
  QHash<int, QString> stored;
  bool needNames = false;
  for (const TRenameEntry& entry : run.Entries)
    needNames = needNames || (!run.Repair && entry.PictureId != -1);
  if (needNames && !storedNames(stored)) {
    Prompt()->warning(QStringLiteral("A renaming of pictures in \"%1\" was interrupted, and the "
                                     "database cannot be read to finish or undo it. The journal "
                                     "\"%2\" stays until the project is opened again.")
                          .arg(run.Folder, path));
    return false;
  }
  TRenameRun fix;
  fix.Repair = true;
  fix.Folder = run.Folder;
  const QString token = NewRenameToken();
  int completed = 0, undone = 0;
  for (const TRenameEntry& entry : run.Entries) {
    const TRenameFile& original = entry.Files[0];
    TFileAt target = TFileAt::After;
    if (!run.Repair) {
      const QString name = stored.value(entry.PictureId);
      if (name == entry.NewName)
        target = TFileAt::After;
      else if (original.Moves() && name == RenameFileNameOf(original.Temp))
        target = TFileAt::Temp; // saved where it got stuck: it stays there
      else
        target = TFileAt::Before;
    }
    ++(target == TFileAt::After ? completed : undone);
    TRenameEntry f;
    f.PictureId = entry.PictureId;
    f.OldName = original.Moves() ? RenameFileNameOf(original.PathAt(original.At)) : entry.OldName;
    f.NewName = target == TFileAt::After ? entry.NewName : entry.OldName;
    bool moves = false;
    for (int k = 0; k < kRenameFileKinds; ++k) {
      const TRenameFile& file = entry.Files[k];
      if (!file.Moves() || file.At == TFileAt::Gone) continue;
      const TFileAt want = k > 0 && target == TFileAt::Temp ? TFileAt::Before : target;
      if (file.At == want) continue;
      const QString now = file.PathAt(file.At);
      f.Files[k] = {now, RenameTemporaryName(now, token, int(fix.Entries.size()), k),
                    file.PathAt(want)};
      moves = true;
    }
    if (moves) fix.Entries.push_back(std::move(f));
  }
  if (run.Repair)
    fix.Note = run.Note;
  else if (undone == 0)
    fix.Note = QStringLiteral("The renaming of the pictures in \"%1\" was interrupted; it has "
                              "been completed (%2 picture(s) have their new names).")
                   .arg(run.Folder)
                   .arg(completed);
  else if (completed == 0)
    fix.Note = QStringLiteral("The renaming of the pictures in \"%1\" was interrupted; it has "
                              "been undone (%2 picture(s) have their old names again).")
                   .arg(run.Folder)
                   .arg(undone);
  else
    fix.Note = QStringLiteral("The renaming of the pictures in \"%1\" was interrupted; it has "
                              "been completed for %2 picture(s) and undone for %3.")
                   .arg(run.Folder)
                   .arg(completed)
                   .arg(undone);

  TRenameJournal journal;
  if (!fix.Entries.empty() && !journal.Begin(path, fix, &error)) {
    Prompt()->warning(
        error +
        QStringLiteral(" The interrupted renaming in \"%1\" was left as it is.").arg(run.Folder));
    return false;
  }
  const std::vector<TRenameOutcome> outcomes = RunRenameMoves(fix, &journal, {});
  QStringList problems;
  for (size_t e = 0; e < fix.Entries.size(); ++e) {
    const TRenameFile& original = fix.Entries[e].Files[0];
    if (original.Moves() && original.At != TFileAt::After)
      problems.append(
          QStringLiteral("%1 could not be named %2; it is still named %1")
              .arg(RenameFileNameOf(original.PathAt(original.At)), RenameFileNameOf(original.To)));
  }
  if (!problems.isEmpty()) {
    // The journal stays: the next opening tries again.
    Prompt()->warning(QStringLiteral("The interrupted renaming in \"%1\" could not be finished or "
                                     "undone completely: %2. It is tried again when the project is "
                                     "opened next.")
                          .arg(run.Folder, problems.join(QStringLiteral("; "))));
    return false;
  }
  if (fix.Entries.empty())
    TRenameJournal::Remove(path);
  else
    journal.Finish();
  Prompt()->warning(fix.Note);
  return true;
}
