#pragma once
// Renaming the originals of an album, with their generated and temporary files.
//
// A rename is planned first and applied second. The plan holds every picture's old and new name
// and the reasons, if any, why it must not run: a name that is not a plain file name, two
// pictures that would get the same name, or a name taken by another file of the album's folder.
// Names are compared without regard to letter case, so that the album survives a copy to a
// file system or web server that ignores it. A refused plan moves nothing.
//
// A picture whose original is missing is left out and keeps its name.
//
// Applying moves the files in two phases, first to temporary names and then to the new ones, so
// pictures may exchange names (a -> b, b -> a). A file that cannot move keeps its old name and
// its picture keeps its old name too; the album is then saved, so the database always names the
// files that are on disk. If that save fails, the files are moved back.
//
// Threads: the thread that owns the album (the user-interface thread, or the command-line
// program's main thread). Stop the thumbnail loader of the album first.
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

class TLumenfoldAlbum;
class TLumenfoldProject;

// Letter case of new names: the project's FileNameCase values, and one more for the command line.
inline constexpr int kFileNameCaseLower = 0;
inline constexpr int kFileNameCaseUpper = 1;
inline constexpr int kFileNameCaseKeep = 2;
inline constexpr int kFileNameCaseFirst = 3; // first letter upper case, the rest lower case

struct TRenameSettings {
  QString Template;
  int Start = 1;
  int FileNameCase = kFileNameCaseLower;
  bool ReplaceSpecialChars = true;
};

// The project's renaming template, start number and case with the given special-characters
// choice.
TRenameSettings RenameSettingsOf(const TLumenfoldProject& project, bool replaceSpecialChars);

// The new name of the picture at `position`: the expanded template with ".jpg", then the case.
QString NewPictureName(const TLumenfoldAlbum& album, int position, const TRenameSettings& settings);

// Why the text cannot be the name of an original (empty when it can): empty, no text before the
// extension, a path separator, "..", a control character, or too long for a file system.
QString FileNameProblem(const QString& name);

struct TRenameItem {
  int Position = -1; // in the album's picture list
  QString OldName, NewName;
  bool Changes() const { return OldName != NewName; }
};

struct TRenamePlan {
  std::vector<TRenameItem> Items; // album order; pictures not renamed are left out
  QStringList Problems;           // one line each; a plan with problems is never applied
  bool Duplicates = false;        // some of the problems are new names equal to each other
  std::vector<int> Refused;       // positions of the pictures the problems concern
  QStringList Skipped; // pictures whose original is missing: they keep their names (one line each)
  bool Ok() const { return Problems.isEmpty(); }
  int Changes() const;
};

// Every picture of the album under the names the settings give it; a picture whose original is
// missing keeps its name (Skipped), so that the file, when it comes back, is still its own.
TRenamePlan PlanAlbumRename(const TLumenfoldAlbum& album, const TRenameSettings& settings);
// One picture under a name typed by the user (the extension becomes ".jpg"); refused when its
// original is missing.
TRenamePlan PlanPictureRename(const TLumenfoldAlbum& album, int position, const QString& typed);

struct TRenameResult {
  int Renamed = 0;      // pictures that have their new name
  QStringList Failed;   // "name: reason" of pictures that kept their old name
  QStringList Warnings; // generated files that could not follow; their pictures are marked
                        // to be processed again
  QStringList Skipped;  // pictures not renamed because their original is missing
  bool Saved = true;    // the database names the files on disk
  QString Error;        // why the album could not be saved, or why the plan was refused
  bool Ok() const { return Failed.isEmpty() && Saved && Error.isEmpty(); }
  // One text for a message box or standard error (empty when Ok).
  QString Summary() const;
};

// done, total.
using TRenameProgress = std::function<void(int, int)>;

// Applies a plan (a plan with problems is refused and nothing moves). Afterwards the album is
// saved when it or one of its pictures is stored in the database; when that save fails, every
// file is moved back and the pictures keep their old names. A picture whose original has gone
// since the plan keeps its name (Skipped).
//
// When the album belongs to a project with a file, the moves are journaled (renamejournal.h)
// before the first one, and a rename is refused while the journal of an interrupted one is still
// there.
TRenameResult ApplyRename(TLumenfoldAlbum& album, const TRenamePlan& plan,
                          const TRenameProgress& progress = {});

// Finishes or undoes a rename of the project that was interrupted, when its journal is there:
// each picture's files go where the database names it (its new name, else its old one), and the
// prompt is told which was done (a warning). A repair that is itself interrupted is finished by
// the next call. Runs when the project is loaded, with its database selected; it holds the
// project's lock meanwhile (a project another program holds is left alone). False when the
// journal stays (the reason was reported).
bool RepairInterruptedRename(const QString& projectFile);

// "name: the original is missing, ..." for a picture that is not renamed.
QString MissingOriginalMessage(const QString& name);

// The message shown when two new names are equal.
QString DuplicateNamesMessage();
