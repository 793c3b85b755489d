#pragma once
// The journal of a rename in progress: a file beside the project file
// ("<project file>.rename-journal") that lets the next program to open the project finish or undo
// a rename that was interrupted (the process was killed, the machine went down).
//
// The journal starts with every file the rename means to move (from, temporary and final path),
// written completely and flushed to disk before the first file moves. After each move one line
// notes where the file is now; these lines are written at once but not flushed each, so they
// survive the end of the process, and at most the one move in flight is not noted. A run that
// has finished (the database names the files) removes its journal.
//
// A journal is replaced (complete and flushed, under a temporary name first) when a run turns
// into another, e.g. the moves that undo a rename, so there is always exactly one journal
// describing what is on disk.
//
// Threads: the thread that renames or opens the project.
#include <QString>
#include <vector>

// Original, large, medium, thumbnail, list preview, then the site's extra web sizes (one
// "ps_w<size>" folder each, in name order).
inline constexpr int kRenameWebSizeKinds = 8;
inline constexpr int kRenameFileKinds = 5 + kRenameWebSizeKinds;

// Where a file of a run is.
enum class TFileAt : char {
  Before = 'o', // its name before the run
  Temp = 't',   // its temporary name
  After = 'n',  // its name after the run
  Gone = 'x',   // a generated file that could go nowhere and was deleted
};

struct TRenameFile {
  QString From, Temp, To; // full paths; an empty From: nothing to move
  TFileAt At = TFileAt::Before;
  bool Moves() const { return !From.isEmpty(); }
  const QString& PathAt(TFileAt at) const {
    return at == TFileAt::After ? To : at == TFileAt::Temp ? Temp : From;
  }
};

struct TRenameEntry {
  int PictureId = -1; // -1: the picture is not in the database
  int Position = -1;  // in the album's picture list (not stored)
  QString OldName, NewName;
  TRenameFile Files[kRenameFileKinds];
};

struct TRenameRun {
  // A run that puts files where a decision already taken wants them (its After names are final,
  // whatever the database says). A rename's run is decided by the database when it is repaired.
  bool Repair = false;
  QString Folder; // the album's folder, for messages
  QString Note;   // what the repair tells when it has finished
  std::vector<TRenameEntry> Entries;
};

class TRenameJournal {
public:
  TRenameJournal() = default;
  ~TRenameJournal(); // closes the journal; it stays on disk
  TRenameJournal(const TRenameJournal&) = delete;
  TRenameJournal& operator=(const TRenameJournal&) = delete;

  // The journal of the project file.
  static QString PathOf(const QString& projectFile);

  // Writes the run completely and flushes it under the journal's name, replacing the journal
  // that is there. False, with the reason, when it could not be written (no file moved yet may
  // move then).
  bool Begin(const QString& path, const TRenameRun& run, QString* error);
  bool IsOpen() const { return fd_ >= 0; }
  // Notes where a file of the run's entry is now.
  void Moved(int entry, int kind, TFileAt at);
  // Removes the journal (and flushes the folder). False when it stays.
  bool Finish();
  static bool Remove(const QString& path);

  // Reads a journal: the run with the noted places of its files (a cut last line is left out).
  static bool Read(const QString& path, TRenameRun& run, QString* error);

private:
  QString path_;
  int fd_ = -1;
};
