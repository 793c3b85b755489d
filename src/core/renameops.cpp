#include "core/renameops.h"

#include "core/album.h"
#include "core/picture.h"
#include "core/project.h"
#include "core/renamejournal.h"
#include "core/renamemoves.h"
#include "core/renaming.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>

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

// The run that moves the album's pictures to their new names.
TRenameRun renameRun(TLumenfoldAlbum& album, const TRenamePlan& plan) {
  TRenameRun run;
  run.Folder = album.Path;
  const QString token = NewRenameToken();
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
      entry.Files[k] = {from.path[k], RenameTemporaryName(from.path[k], token, serial, k),
                        to.path[k]};
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
  const QString token = NewRenameToken();
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
      b.Files[k] = {now, RenameTemporaryName(now, token, serial, k), f.From};
      moves = true;
    }
    if (!moves) continue;
    b.OldName = b.Files[0].Moves() ? RenameFileNameOf(b.Files[0].From) : b.NewName;
    back.Entries.push_back(std::move(b));
  }
  return back;
}

// Puts the outcome of a rename's moves into the pictures.
void recordMoves(TLumenfoldAlbum& album, const TRenameRun& run,
                 const std::vector<TRenameOutcome>& outcomes, TRenameResult& result) {
  for (size_t e = 0; e < run.Entries.size(); ++e) {
    const TRenameEntry& entry = run.Entries[e];
    const TRenameOutcome& o = outcomes[e];
    const TRenameFile& original = entry.Files[0];
    TLumenfoldPicture* p = album.Pictures.Pictures(entry.Position);
    if (o.Missing) {
      result.Skipped.append(MissingOriginalMessage(entry.OldName));
    } else if (original.At == TFileAt::Temp) {
      p->OriginalFileName = RenameFileNameOf(original.Temp);
      p->UpdateFileNames();
      p->SetDirty(true);
      result.Failed.append(
          QStringLiteral("%1: could not be renamed to %2 nor back; it is now named %3")
              .arg(entry.OldName, entry.NewName, RenameFileNameOf(original.Temp)));
    } else if (o.Failed) {
      result.Failed.append(QStringLiteral("%1: could not be renamed to %2 (the name is taken or "
                                          "the folder cannot be written)")
                               .arg(entry.OldName, entry.NewName));
    } else {
      p->OriginalFileName = entry.NewName;
      p->UpdateFileNames();
      p->SetDirty(true);
      ++result.Renamed;
    }
    if (o.GeneratedLost) {
      p->SetModified(true);
      result.Warnings.append(
          QStringLiteral("%1: generated files could not follow; the picture will be processed "
                         "again")
              .arg(p->OriginalFileName));
    }
  }
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
    if (folderThere && !RenameFilePresent(p->OriginalPath())) {
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
  if (plan.Ok() && names[position] != p->OriginalFileName &&
      !RenameFilePresent(p->OriginalPath())) {
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
    if (RenameFilePresent(journalPath)) {
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
  const std::vector<TRenameOutcome> outcomes = RunRenameMoves(run, &journal, progress);
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
  const std::vector<TRenameOutcome> backOutcomes = RunRenameMoves(back, &journal, {});
  for (size_t e = 0; e < back.Entries.size(); ++e) {
    const TRenameEntry& entry = back.Entries[e];
    const TRenameFile& original = entry.Files[0];
    if (!original.Moves()) continue;
    TLumenfoldPicture* p = album.Pictures.Pictures(entry.Position);
    p->OriginalFileName = RenameFileNameOf(original.PathAt(original.At));
    p->UpdateFileNames();
    p->SetDirty(true);
    if (backOutcomes[e].Failed)
      result.Failed.append(QStringLiteral("%1: could not be given back its name %2")
                               .arg(entry.OldName, entry.NewName));
    if (backOutcomes[e].GeneratedLost) p->SetModified(true);
  }
  // The pictures in memory name the files where they are now; they are saved with the album.
  journal.Finish();
  result.Renamed = 0;
  result.Saved = false;
  result.Error = QStringLiteral("The album could not be saved, so the pictures were given their "
                                "old names back.");
  return result;
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
