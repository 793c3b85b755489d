#pragma once
// The desktop's synchronisation of the project with the folders on disk, and the renaming of an
// album's pictures: the dialogs and questions around the operations of core/syncops.h and
// core/renameops.h.
//
// Threads: user-interface thread only. The caller stops the thumbnail loader first and refreshes
// its views afterwards (albums may have been removed and pictures freed).
#include <QString>

class QWidget;
class TLumenfoldAlbum;
class TLumenfoldProject;

struct TSynchroOutcome {
  int AlbumsRemoved = 0, AlbumsRelocated = 0, PicturesRemoved = 0, PicturesRefreshed = 0;
  bool Stopped = false; // the user stopped the refresh of the originals
  QString Summary() const;
};

// Walks every album: an album whose folder is missing is offered for removal or relocation
// (TfrmSynchro); for the others, each picture whose original is missing is offered for removal
// (Yes / No / Yes to all / No to all) and the facts of the present originals are recorded and
// saved (changed originals are marked to be processed).
TSynchroOutcome SynchroniseWithFolders(QWidget* parent, TLumenfoldProject& project);

// The answer to "Picture not found. Do you want to delete record from database?" for one
// picture; the "to all" answers stay for the rest of the run.
enum class TRemoveAnswer { Yes, No, YesToAll, NoToAll };
// Test hook: answers in place of the question box while set (nullptr removes it).
using TRemoveQuestionHook = TRemoveAnswer (*)(const QString& fileName);
void SetRemoveQuestionHook(TRemoveQuestionHook hook);

// Opens the renaming dialog for the album and, after OK, renames its pictures with progress and
// reports what failed. True when files were renamed.
bool RenameAlbumPicturesInteractive(QWidget* parent, TLumenfoldProject& project,
                                    TLumenfoldAlbum& album);
