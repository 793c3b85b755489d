#include "core/renameops.h"

#include "core/album.h"
#include "core/picture.h"
#include "core/project.h"
#include "core/projectlock.h"
#include "core/renamejournal.h"
#include "core/renaming.h"
#include "db/sqlaccess.h"
#include "db/statements.h"
#include "util/userprompt.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QUuid>
#include <csignal>
#include <memory>

namespace {

// A plan lists at most this many problems, then how many more there are.
constexpr int kMaxProblemLines = 20;

void addProblem(TRenamePlan& plan, int& count, const QString& text) {
  if (++count <= kMaxProblemLines) plan.Problems.append(text);
}

void closeProblems(TRenamePlan& plan, int count) {
  if (count > kMaxProblemLines)
    plan.Problems.append(QStringLiteral("... and %1 more.").arg(count - kMaxProblemLines));
}

// The original and the files made from it: large, medium, thumbnail, list preview and the
// site's extra web sizes.
struct TFileSet {
  QString path[kRenameFileKinds];
};

// Paths of the picture's files under another original name (the picture's own path rules).
// webFolders: the album's web size folders (WebSizeFolders); those past the slots stay.
TFileSet filesUnder(TLumenfoldPicture& p, const QString& name, const QStringList& webFolders) {
  const QString keep = p.OriginalFileName;
  p.OriginalFileName = name;
  TFileSet files{
      {p.OriginalPath(), p.LargePath(), p.MediumPath(), p.ThumbPath(), p.TempThumbPath()}};
  const QString medium = QFileInfo(files.path[2]).fileName();
  for (int i = 0; i < kRenameWebSizeKinds && i < webFolders.size() && !medium.isEmpty(); ++i)
    files.path[5 + i] = webFolders[i] + QLatin1Char('/') + medium;
  p.OriginalFileName = keep;
  return files;
}

bool present(const QString& path) {
  const QFileInfo info(path);
  return info.exists() || info.isSymLink();
}

QString fileNameOf(const QString& path) {
  return QFileInfo(path).fileName();
}

QString newToken() {
  return QUuid::createUuid().toString(QUuid::Id128).left(12);
}

QString temporaryName(const QString& path, const QString& token, int serial, int kind) {
  const QFileInfo info(path);
  return info.path() + QLatin1Char('/') +
         QStringLiteral(".lumenfold-rename-%1-%2-%3.tmp").arg(token).arg(serial).arg(kind);
}

// Fault injection for the tests of interrupted renames, and the only place that reads it:
// LUMENFOLD_FAULT_STOP_AFTER_MOVES=N kills the process (as kill -9 would) after the N-th file
// move of a rename or of its repair; "N,term" sends it SIGTERM instead.
void faultInjectionAfterMove() {
  static const QByteArray spec = qgetenv("LUMENFOLD_FAULT_STOP_AFTER_MOVES");
  if (spec.isEmpty()) return;
  static int left = spec.split(',').first().toInt();
  if (--left == 0) ::raise(spec.endsWith(",term") ? SIGTERM : SIGKILL);
}

// What became of one entry of a run.
struct TOutcome {
  bool missing = false;       // the original was not there
  bool failed = false;        // the original is not under its After name
  bool generatedLost = false; // a generated file could not follow
};

// Moves the files of a run in two phases, first to their temporary names and then to their After
// names (back to their Before names where an After name is taken), noting each move in the
// journal. Every file ends under its Before or After name, or, when even the way back is blocked,
// an original under its temporary name (a generated file is deleted then: processing makes it
// again).
std::vector<TOutcome> runMoves(TRenameRun& run, TRenameJournal* journal,
                               const TRenameProgress& progress) {
  std::vector<TOutcome> outcomes(run.Entries.size());
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
    TOutcome& o = outcomes[e];
    const TRenameFile& original = entry.Files[0];
    if (original.Moves()) {
      if (!present(original.From)) {
        o.missing = o.failed = true;
      } else if (!move(e, 0, TFileAt::Temp)) {
        o.failed = true;
      }
    }
    for (int k = 1; k < kRenameFileKinds && !o.failed; ++k) {
      const TRenameFile& f = entry.Files[k];
      if (f.Moves() && present(f.From) && !move(e, k, TFileAt::Temp)) o.generatedLost = true;
    }
    if (progress) progress(++done, total);
  }
  // Phase 2: onto the After names, or back where an After name is taken after all.
  for (size_t e = 0; e < run.Entries.size(); ++e) {
    TRenameEntry& entry = run.Entries[e];
    TOutcome& o = outcomes[e];
    TRenameFile& original = entry.Files[0];
    if (original.At == TFileAt::Temp && !move(e, 0, TFileAt::After)) {
      o.failed = true;
      // Stuck under the temporary name: its generated files go back to names the picture no
      // longer has.
      if (!move(e, 0, TFileAt::Before)) o.generatedLost = true;
    }
    const TFileAt target =
        !original.Moves() || original.At == TFileAt::After ? TFileAt::After : TFileAt::Before;
    for (int k = 1; k < kRenameFileKinds; ++k) {
      TRenameFile& f = entry.Files[k];
      if (f.At != TFileAt::Temp || move(e, k, target)) continue;
      o.generatedLost = true;
      if (target == TFileAt::After && move(e, k, TFileAt::Before)) continue;
      QFile::remove(f.Temp);
      f.At = TFileAt::Gone;
      if (journal) journal->Moved(int(e), k, TFileAt::Gone);
    }
    if (progress) progress(++done, total);
  }
  return outcomes;
}

// The run that moves the album's pictures to their new names.
TRenameRun renameRun(TLumenfoldAlbum& album, const TRenamePlan& plan) {
  TRenameRun run;
  run.Folder = album.Path;
  const QString token = newToken();
  const QStringList webFolders = WebSizeFolders(album.Path);
  for (const TRenameItem& item : plan.Items) {
    if (!item.Changes()) continue;
    TLumenfoldPicture* p = album.Pictures.Pictures(item.Position);
    TRenameEntry entry;
    entry.PictureId = p->Id;
    entry.Position = item.Position;
    entry.OldName = item.OldName;
    entry.NewName = item.NewName;
    const TFileSet from = filesUnder(*p, item.OldName, webFolders),
                   to = filesUnder(*p, item.NewName, webFolders);
    for (int k = 0; k < kRenameFileKinds; ++k) {
      if (k > 0 && from.path[k] == to.path[k]) continue;
      const int serial = int(run.Entries.size());
      entry.Files[k] = {from.path[k], temporaryName(from.path[k], token, serial, k), to.path[k]};
    }
    run.Entries.push_back(std::move(entry));
  }
  return run;
}

// The run that takes every file of a run back to its Before name.
TRenameRun undoRun(const TRenameRun& run) {
  TRenameRun back;
  back.Repair = true;
  back.Folder = run.Folder;
  const QString token = newToken();
  for (const TRenameEntry& entry : run.Entries) {
    TRenameEntry b;
    b.PictureId = entry.PictureId;
    b.Position = entry.Position;
    b.NewName = entry.OldName;
    bool moves = false;
    for (int k = 0; k < kRenameFileKinds; ++k) {
      const TRenameFile& f = entry.Files[k];
      if (!f.Moves() || f.At == TFileAt::Before || f.At == TFileAt::Gone) continue;
      const QString now = f.PathAt(f.At);
      const int serial = int(back.Entries.size());
      b.Files[k] = {now, temporaryName(now, token, serial, k), f.From};
      moves = true;
    }
    if (!moves) continue;
    b.OldName = b.Files[0].Moves() ? fileNameOf(b.Files[0].From) : b.NewName;
    back.Entries.push_back(std::move(b));
  }
  return back;
}

// Puts the outcome of a rename's moves into the pictures.
void recordMoves(TLumenfoldAlbum& album, const TRenameRun& run,
                 const std::vector<TOutcome>& outcomes, TRenameResult& result) {
  for (size_t e = 0; e < run.Entries.size(); ++e) {
    const TRenameEntry& entry = run.Entries[e];
    const TOutcome& o = outcomes[e];
    const TRenameFile& original = entry.Files[0];
    TLumenfoldPicture* p = album.Pictures.Pictures(entry.Position);
    if (o.missing) {
      result.Skipped.append(MissingOriginalMessage(entry.OldName));
    } else if (original.At == TFileAt::Temp) {
      p->OriginalFileName = fileNameOf(original.Temp);
      p->UpdateFileNames();
      p->SetDirty(true);
      result.Failed.append(
          QStringLiteral("%1: could not be renamed to %2 nor back; it is now named %3")
              .arg(entry.OldName, entry.NewName, fileNameOf(original.Temp)));
    } else if (o.failed) {
      result.Failed.append(QStringLiteral("%1: could not be renamed to %2 (the name is taken or "
                                          "the folder cannot be written)")
                               .arg(entry.OldName, entry.NewName));
    } else {
      p->OriginalFileName = entry.NewName;
      p->UpdateFileNames();
      p->SetDirty(true);
      ++result.Renamed;
    }
    if (o.generatedLost) {
      p->SetModified(true);
      result.Warnings.append(
          QStringLiteral("%1: generated files could not follow; the picture will be processed "
                         "again")
              .arg(p->OriginalFileName));
    }
  }
}

// Where a file of an interrupted run is. The noted place is right unless the file moved once
// more before the program ended (from its Before name to its temporary one, or from there on).
void locate(TRenameFile& f) {
  if (f.At == TFileAt::Gone || present(f.PathAt(f.At))) return;
  if (present(f.Temp))
    f.At = TFileAt::Temp;
  else if (present(f.To))
    f.At = TFileAt::After;
  else if (present(f.From))
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

// Checks the new names of every position (old names where a picture is not renamed) and keeps
// the renamed positions as items.
void checkNames(const TLumenfoldAlbum& album, const QStringList& newNames, TRenamePlan& plan) {
  int problems = 0;
  const int count = album.Pictures.Count();
  if (album.Path.isEmpty() || !QFileInfo(album.Path).isDir()) {
    for (int i = 0; i < count; ++i)
      plan.Refused.push_back(i);
    addProblem(plan, problems,
               QStringLiteral("The folder of the album does not exist: %1").arg(album.Path));
    closeProblems(plan, problems);
    return;
  }
  for (int i = 0; i < count; ++i) {
    const QString& oldName = album.Pictures.Pictures(i)->OriginalFileName;
    if (newNames[i] == oldName) continue;
    plan.Items.push_back({i, oldName, newNames[i]});
    const QString why = FileNameProblem(newNames[i]);
    if (why.isEmpty()) continue;
    plan.Refused.push_back(i);
    addProblem(plan, problems, QStringLiteral("\"%1\" for %2: %3").arg(newNames[i], oldName, why));
  }

  // New names among themselves.
  QHash<QString, int> taken;
  taken.reserve(count);
  for (int i = 0; i < count; ++i) {
    const QString key = newNames[i].toLower();
    const auto it = taken.constFind(key);
    if (it == taken.constEnd()) {
      taken.insert(key, i);
      continue;
    }
    plan.Duplicates = true;
    plan.Refused.push_back(*it);
    plan.Refused.push_back(i);
    addProblem(plan, problems,
               QStringLiteral("%1 and %2 would both be named %3")
                   .arg(album.Pictures.Pictures(*it)->OriginalFileName,
                        album.Pictures.Pictures(i)->OriginalFileName, newNames[i]));
  }

  // New names against the other files of the folder. The album's own originals leave their
  // names, so those do not count.
  const QStringList entries =
      QDir(album.Path)
          .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
  QHash<QString, int> occupied;
  occupied.reserve(entries.size());
  const QSet<QString> exact(entries.cbegin(), entries.cend());
  for (const QString& e : entries)
    ++occupied[e.toLower()];
  for (int i = 0; i < count; ++i) {
    const QString& oldName = album.Pictures.Pictures(i)->OriginalFileName;
    if (exact.contains(oldName)) --occupied[oldName.toLower()];
  }
  for (const TRenameItem& item : plan.Items) {
    if (occupied.value(item.NewName.toLower()) <= 0) continue;
    plan.Refused.push_back(item.Position);
    addProblem(plan, problems,
               QStringLiteral("%1 cannot be renamed to %2: another file of the album folder "
                              "has that name")
                   .arg(item.OldName, item.NewName));
  }
  closeProblems(plan, problems);
}

} // namespace

TRenameSettings RenameSettingsOf(const TLumenfoldProject& project, bool replaceSpecialChars) {
  TRenameSettings s;
  s.Template = project.RenameTemplate;
  s.Start = project.RenameStart;
  s.FileNameCase = project.FileNameCase;
  s.ReplaceSpecialChars = replaceSpecialChars;
  return s;
}

QString NewPictureName(const TLumenfoldAlbum& album, int position, const TRenameSettings& s) {
  return ApplyFileNameCase(
      ExpandRenameTemplate(&album, position, s.Start, s.ReplaceSpecialChars, true, s.Template),
      s.FileNameCase);
}

QString FileNameProblem(const QString& name) {
  if (name.trimmed().isEmpty()) return QStringLiteral("the name is empty");
  if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')))
    return QStringLiteral("a file name cannot contain a path separator");
  if (name.contains(QLatin1String("..")))
    return QStringLiteral("a file name cannot contain \"..\"");
  for (QChar c : name)
    if (c.unicode() < 32 || c.unicode() == 127)
      return QStringLiteral("a file name cannot contain control characters");
  QString base, extension;
  SplitExtension(name, base, extension);
  if (base.trimmed().isEmpty()) return QStringLiteral("the name has no text before its extension");
  if (name.toUtf8().size() > 255) return QStringLiteral("the name is too long");
  return QString();
}

int TRenamePlan::Changes() const {
  return int(Items.size());
}

TRenamePlan PlanAlbumRename(const TLumenfoldAlbum& album, const TRenameSettings& settings) {
  TRenamePlan plan;
  QStringList names;
  names.reserve(album.Pictures.Count());
  const bool folderThere = !album.Path.isEmpty() && QFileInfo(album.Path).isDir();
  for (int i = 0; i < album.Pictures.Count(); ++i) {
    const TLumenfoldPicture* p = album.Pictures.Pictures(i);
    // A picture without its file keeps its name, which stays taken: the file may come back.
    if (folderThere && !present(p->OriginalPath())) {
      names.append(p->OriginalFileName);
      plan.Skipped.append(MissingOriginalMessage(p->OriginalFileName));
      continue;
    }
    names.append(NewPictureName(album, i, settings));
  }
  checkNames(album, names, plan);
  return plan;
}

TRenamePlan PlanPictureRename(const TLumenfoldAlbum& album, int position, const QString& typed) {
  TRenamePlan plan;
  if (position < 0 || position >= album.Pictures.Count()) {
    plan.Problems.append(QStringLiteral("No such picture."));
    return plan;
  }
  QString base, extension;
  SplitExtension(typed.trimmed(), base, extension);
  QStringList names;
  for (int i = 0; i < album.Pictures.Count(); ++i)
    names.append(album.Pictures.Pictures(i)->OriginalFileName);
  names[position] =
      base + RenamedPictureExtension(album.Pictures.Pictures(position)->OriginalFileName);
  checkNames(album, names, plan);
  const TLumenfoldPicture* p = album.Pictures.Pictures(position);
  if (plan.Ok() && names[position] != p->OriginalFileName && !present(p->OriginalPath())) {
    plan.Problems.append(MissingOriginalMessage(p->OriginalFileName));
    plan.Refused.push_back(position);
  }
  return plan;
}

TRenameResult ApplyRename(TLumenfoldAlbum& album, const TRenamePlan& plan,
                          const TRenameProgress& progress) {
  TRenameResult result;
  if (!plan.Ok()) {
    result.Error = plan.Problems.join(QLatin1Char('\n'));
    return result;
  }
  result.Skipped = plan.Skipped;
  for (const TRenameItem& item : plan.Items) {
    if (item.Position < 0 || item.Position >= album.Pictures.Count() ||
        album.Pictures.Pictures(item.Position)->OriginalFileName != item.OldName) {
      result.Error = QStringLiteral("The album changed since the renaming was checked.");
      return result;
    }
  }
  TRenameRun run = renameRun(album, plan);
  if (run.Entries.empty()) return result;

  // The journal lets the next opening of the project finish or undo a rename this program does
  // not live to finish. Without a project file there is no place for it (nor a database to
  // follow).
  const QString journalPath = album.Project && !album.Project->FileName.isEmpty()
                                  ? TRenameJournal::PathOf(album.Project->FileName)
                                  : QString();
  TRenameJournal journal;
  if (!journalPath.isEmpty()) {
    if (present(journalPath)) {
      result.Error = QStringLiteral("An earlier renaming in this project was interrupted and "
                                    "could not be finished yet (journal \"%1\"). Open the project "
                                    "again to finish it; nothing was renamed.")
                         .arg(journalPath);
      return result;
    }
    QString error;
    if (!journal.Begin(journalPath, run, &error)) {
      result.Error = error + QStringLiteral(" Nothing was renamed.");
      return result;
    }
  }
  const std::vector<TOutcome> outcomes = runMoves(run, &journal, progress);
  recordMoves(album, run, outcomes, result);

  bool stored = album.Id != -1;
  for (int i = 0; i < album.Pictures.Count() && !stored; ++i)
    stored = album.Pictures.Pictures(i)->Id != -1;
  if (!stored || album.Save()) {
    journal.Finish();
    return result;
  }

  // The database still names the old files: the renamed files go back. Their journal replaces
  // the rename's, so an interruption now is repaired towards the old names too.
  TRenameRun back = undoRun(run);
  if (!journalPath.isEmpty()) {
    QString ignored; // the way back is taken even when it cannot be noted
    journal.Begin(journalPath, back, &ignored);
  }
  const std::vector<TOutcome> backOutcomes = runMoves(back, &journal, {});
  for (size_t e = 0; e < back.Entries.size(); ++e) {
    const TRenameEntry& entry = back.Entries[e];
    const TRenameFile& original = entry.Files[0];
    if (!original.Moves()) continue;
    TLumenfoldPicture* p = album.Pictures.Pictures(entry.Position);
    p->OriginalFileName = fileNameOf(original.PathAt(original.At));
    p->UpdateFileNames();
    p->SetDirty(true);
    if (backOutcomes[e].failed)
      result.Failed.append(QStringLiteral("%1: could not be given back its name %2")
                               .arg(entry.OldName, entry.NewName));
    if (backOutcomes[e].generatedLost) p->SetModified(true);
  }
  // The pictures in memory name the files where they are now; they are saved with the album.
  journal.Finish();
  result.Renamed = 0;
  result.Saved = false;
  result.Error = QStringLiteral("The album could not be saved, so the pictures were given their "
                                "old names back.");
  return result;
}

bool RepairInterruptedRename(const QString& projectFile) {
  const QString path = TRenameJournal::PathOf(projectFile);
  if (!present(path)) return true;
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
  const QString token = newToken();
  int completed = 0, undone = 0;
  for (const TRenameEntry& entry : run.Entries) {
    const TRenameFile& original = entry.Files[0];
    TFileAt target = TFileAt::After;
    if (!run.Repair) {
      const QString name = stored.value(entry.PictureId);
      if (name == entry.NewName)
        target = TFileAt::After;
      else if (original.Moves() && name == fileNameOf(original.Temp))
        target = TFileAt::Temp; // saved where it got stuck: it stays there
      else
        target = TFileAt::Before;
    }
    ++(target == TFileAt::After ? completed : undone);
    TRenameEntry f;
    f.PictureId = entry.PictureId;
    f.OldName = original.Moves() ? fileNameOf(original.PathAt(original.At)) : entry.OldName;
    f.NewName = target == TFileAt::After ? entry.NewName : entry.OldName;
    bool moves = false;
    for (int k = 0; k < kRenameFileKinds; ++k) {
      const TRenameFile& file = entry.Files[k];
      if (!file.Moves() || file.At == TFileAt::Gone) continue;
      const TFileAt want = k > 0 && target == TFileAt::Temp ? TFileAt::Before : target;
      if (file.At == want) continue;
      const QString now = file.PathAt(file.At);
      f.Files[k] = {now, temporaryName(now, token, int(fix.Entries.size()), k), file.PathAt(want)};
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
  const std::vector<TOutcome> outcomes = runMoves(fix, &journal, {});
  QStringList problems;
  for (size_t e = 0; e < fix.Entries.size(); ++e) {
    const TRenameFile& original = fix.Entries[e].Files[0];
    if (original.Moves() && original.At != TFileAt::After)
      problems.append(QStringLiteral("%1 could not be named %2; it is still named %1")
                          .arg(fileNameOf(original.PathAt(original.At)), fileNameOf(original.To)));
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

QString MissingOriginalMessage(const QString& name) {
  return QStringLiteral("%1: the original is missing, so it was not renamed").arg(name);
}

QString TRenameResult::Summary() const {
  QStringList lines;
  if (!Error.isEmpty()) lines.append(Error);
  if (!Failed.isEmpty()) {
    lines.append(QStringLiteral("%1 picture(s) kept their old names:").arg(Failed.size()));
    lines.append(Failed);
  }
  if (!Skipped.isEmpty()) lines.append(Skipped);
  if (!Warnings.isEmpty()) lines.append(Warnings);
  return lines.join(QLatin1Char('\n'));
}

QString DuplicateNamesMessage() {
  return QStringLiteral("Filenames should be unique. Please use at least one of the following "
                        "parameters as part of your renaming template:\r\n\r\nPrevious "
                        "name\r\nPicture id\r\nOriginal filename\r\nOriginal hash\r\nSequential "
                        "number");
}
