#pragma once
// Moving the files of a rename and finishing a rename that was interrupted: what the planning and
// applying in renameops.cpp share with the repair at the next opening of the project. Internal to
// the core layer.
#include "core/renameops.h"

#include <QString>
#include <vector>

struct TRenameRun;
class TRenameJournal;

// What became of one entry of a run.
struct TRenameOutcome {
  bool Missing = false;       // the original was not there
  bool Failed = false;        // the original is not under its After name
  bool GeneratedLost = false; // a generated file could not follow
};

// Moves the files of a run in two phases, first to their temporary names and then to their After
// names (back to their Before names where an After name is taken), noting each move in the
// journal. Every file ends under its Before or After name, or, when even the way back is blocked,
// an original under its temporary name (a generated file is deleted then: processing makes it
// again).
std::vector<TRenameOutcome> RunRenameMoves(TRenameRun& run, TRenameJournal* journal,
                                           const TRenameProgress& progress);

// A file, or a link that may point nowhere, under this path.
bool RenameFilePresent(const QString& path);
QString RenameFileNameOf(const QString& path);
// A token that makes the temporary names of one run its own.
QString NewRenameToken();
QString RenameTemporaryName(const QString& path, const QString& token, int serial, int kind);
