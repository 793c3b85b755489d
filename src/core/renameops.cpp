#include "core/renameops.h"

#include "core/album.h"
#include "core/picture.h"
#include "core/project.h"
#include "core/renaming.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QUuid>

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

// The original and the four files made from it: large, medium, thumbnail, list preview.
constexpr int kFileKinds = 5;

struct TFileSet {
  QString path[kFileKinds];
};

// Paths of the picture's files under another original name (the picture's own path rules).
TFileSet filesUnder(TLumenfoldPicture& p, const QString& name) {
  const QString keep = p.OriginalFileName;
  p.OriginalFileName = name;
  TFileSet files{
      {p.OriginalPath(), p.LargePath(), p.MediumPath(), p.ThumbPath(), p.TempThumbPath()}};
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

// One file on its way from one name to another through a temporary one.
struct TMove {
  QString from, temp, to;
  bool inTemp = false;
};

struct TPictureMove {
  TPictureMove(int p, QString from, QString to)
      : position(p), oldName(std::move(from)), newName(std::move(to)) {}
  int position;
  QString oldName, newName;
  bool originalPresent = false;
  TMove files[kFileKinds];
  bool failed = false; // keeps its old name
  QString stuck;       // the original could go neither on nor back: its temporary name
  bool generatedLost = false;
};

QString temporaryName(const QString& path, const QString& token, int serial, int kind) {
  const QFileInfo info(path);
  return info.path() + QLatin1Char('/') +
         QStringLiteral(".lumenfold-rename-%1-%2-%3.tmp").arg(token).arg(serial).arg(kind);
}

// Moves the files of every entry in two phases. Entries that fail are marked; every file ends
// under its old or its new name (or, when even the way back is blocked, under its temporary name,
// which `stuck` reports).
void moveFiles(TLumenfoldAlbum& album, std::vector<TPictureMove>& moves,
               const TRenameProgress& progress) {
  const QString token = QUuid::createUuid().toString(QUuid::Id128).left(12);
  const int total = int(moves.size()) * 2;
  int done = 0;
  // Phase 1: away from the old names.
  for (size_t i = 0; i < moves.size(); ++i) {
    TPictureMove& m = moves[i];
    TLumenfoldPicture* p = album.Pictures.Pictures(m.position);
    const TFileSet from = filesUnder(*p, m.oldName), to = filesUnder(*p, m.newName);
    for (int k = 0; k < kFileKinds; ++k) {
      m.files[k].from = from.path[k];
      m.files[k].to = to.path[k];
      m.files[k].temp = temporaryName(from.path[k], token, int(i), k);
    }
    m.originalPresent = present(from.path[0]);
    if (m.originalPresent) {
      if (!RenameFileNoReplace(m.files[0].from, m.files[0].temp)) {
        m.failed = true;
        if (progress) progress(++done, total);
        continue;
      }
      m.files[0].inTemp = true;
    }
    for (int k = 1; k < kFileKinds; ++k) {
      TMove& f = m.files[k];
      if (f.from == f.to || !present(f.from)) continue;
      if (RenameFileNoReplace(f.from, f.temp))
        f.inTemp = true;
      else
        m.generatedLost = true;
    }
    if (progress) progress(++done, total);
  }
  // Phase 2: onto the new names, or back where a new name is taken after all.
  for (TPictureMove& m : moves) {
    if (m.files[0].inTemp) {
      TMove& f = m.files[0];
      if (!RenameFileNoReplace(f.temp, f.to)) {
        m.failed = true;
        if (!RenameFileNoReplace(f.temp, f.from)) {
          m.stuck = f.temp;
          m.generatedLost = true; // they go back to names the picture no longer has
        }
      }
      f.inTemp = false;
    }
    for (int k = 1; k < kFileKinds; ++k) {
      TMove& f = m.files[k];
      if (!f.inTemp) continue;
      const QString& target = m.failed ? f.from : f.to;
      if (!RenameFileNoReplace(f.temp, target)) {
        m.generatedLost = true;
        // A generated file is made again by processing; it is not left under a strange name.
        if (!RenameFileNoReplace(f.temp, f.from)) QFile::remove(f.temp);
      }
      f.inTemp = false;
    }
    if (progress) progress(++done, total);
  }
}

// Puts the outcome of the moves into the pictures.
void recordMoves(TLumenfoldAlbum& album, const std::vector<TPictureMove>& moves,
                 TRenameResult& result) {
  for (const TPictureMove& m : moves) {
    TLumenfoldPicture* p = album.Pictures.Pictures(m.position);
    if (!m.stuck.isEmpty()) {
      p->OriginalFileName = fileNameOf(m.stuck);
      p->UpdateFileNames();
      p->SetDirty(true);
      result.Failed.append(
          QStringLiteral("%1: could not be renamed to %2 nor back; it is now named %3")
              .arg(m.oldName, m.newName, fileNameOf(m.stuck)));
    } else if (m.failed) {
      result.Failed.append(QStringLiteral("%1: could not be renamed to %2 (the name is taken or "
                                          "the folder cannot be written)")
                               .arg(m.oldName, m.newName));
    } else {
      p->OriginalFileName = m.newName;
      p->UpdateFileNames();
      p->SetDirty(true);
      ++result.Renamed;
    }
    if (m.generatedLost) {
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
  for (int i = 0; i < album.Pictures.Count(); ++i)
    names.append(NewPictureName(album, i, settings));
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
  names[position] = base + QStringLiteral(".jpg");
  checkNames(album, names, plan);
  return plan;
}

TRenameResult ApplyRename(TLumenfoldAlbum& album, const TRenamePlan& plan,
                          const TRenameProgress& progress) {
  TRenameResult result;
  if (!plan.Ok()) {
    result.Error = plan.Problems.join(QLatin1Char('\n'));
    return result;
  }
  std::vector<TPictureMove> moves;
  moves.reserve(plan.Items.size());
  for (const TRenameItem& item : plan.Items) {
    if (item.Position < 0 || item.Position >= album.Pictures.Count() ||
        album.Pictures.Pictures(item.Position)->OriginalFileName != item.OldName) {
      result.Error = QStringLiteral("The album changed since the renaming was checked.");
      return result;
    }
    if (item.Changes()) moves.emplace_back(item.Position, item.OldName, item.NewName);
  }
  if (moves.empty()) return result;
  moveFiles(album, moves, progress);
  recordMoves(album, moves, result);

  bool stored = album.Id != -1;
  for (int i = 0; i < album.Pictures.Count() && !stored; ++i)
    stored = album.Pictures.Pictures(i)->Id != -1;
  if (!stored || album.Save()) return result;

  // The database still names the old files: the renamed files go back.
  std::vector<TPictureMove> back;
  for (const TPictureMove& m : moves) {
    if (m.failed) continue;
    back.emplace_back(m.position, m.newName, m.oldName);
  }
  moveFiles(album, back, {});
  TRenameResult undo;
  recordMoves(album, back, undo);
  result.Renamed = 0;
  result.Saved = false;
  result.Error = QStringLiteral("The album could not be saved, so the pictures were given their "
                                "old names back.");
  result.Failed.append(undo.Failed);
  return result;
}

QString TRenameResult::Summary() const {
  QStringList lines;
  if (!Error.isEmpty()) lines.append(Error);
  if (!Failed.isEmpty()) {
    lines.append(QStringLiteral("%1 picture(s) kept their old names:").arg(Failed.size()));
    lines.append(Failed);
  }
  if (!Warnings.isEmpty()) lines.append(Warnings);
  return lines.join(QLatin1Char('\n'));
}

QString DuplicateNamesMessage() {
  return QStringLiteral("Filenames should be unique. Please use at least one of the following "
                        "parameters as part of your renaming template:\r\n\r\nPrevious "
                        "name\r\nPicture id\r\nOriginal filename\r\nOriginal hash\r\nSequential "
                        "number");
}
