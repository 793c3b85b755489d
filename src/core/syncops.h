#pragma once
// The project against the disk: albums whose folder is gone, pictures whose original is missing
// or has changed, the new files of an album's folder, and the actions that follow from them
// (relocate an album, remove the records of missing pictures, record changed originals).
//
// The checks only report; each action changes exactly what it names. The caller saves the
// project afterwards (removing a picture deletes its rows at once, as the album does).
//
// Threads: the thread that owns the project (the user-interface thread, or the command-line
// program's main thread). Stop the thumbnail loader first.
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

class TLumenfoldAlbum;
class TLumenfoldPicture;
class TLumenfoldProject;

enum class TOriginalState { Present, Missing, Changed };

// Missing when the file is not there; Changed when its size differs from the recorded one, or
// its time stamp does. With compareHash and a recorded checksum the checksum decides instead of
// the time stamp (that reads the whole file): a file only touched or copied back is Present, one
// rewritten within the same second is Changed. A picture whose size and time stamp were never
// recorded is Present.
TOriginalState OriginalStateOf(const TLumenfoldPicture& picture, bool compareHash);

// Marks the album's pictures (deleted ones aside) whose original is Changed to be processed
// again. Nothing is marked unsaved: the run records the new facts when it makes the outputs.
// Returns how many are Changed, those marked before included; `changed`, when given, gets them.
int MarkChangedOriginals(TLumenfoldAlbum& album, bool compareHash,
                         QList<TLumenfoldPicture*>* changed = nullptr);

struct TSyncFinding {
  TLumenfoldAlbum* Album = nullptr;
  TLumenfoldPicture* Picture = nullptr;
  TOriginalState State = TOriginalState::Missing;
  QString Reason; // Skipped only: why the picture was not checked
};

struct TSyncReport {
  std::vector<TLumenfoldAlbum*> MissingFolders; // project order
  std::vector<TSyncFinding> Findings;           // missing and changed pictures, album order
  // Pictures not checked: a stored name that cannot name a file of the album folder, or an
  // original that is no regular file of it (FIFO, device, link out of the folder).
  std::vector<TSyncFinding> Skipped;
  QStringList Errors; // albums whose pictures could not be read
  int AlbumsChecked = 0, PicturesChecked = 0;
  int Count(TOriginalState state) const;
};

// done, total; false stops the work.
using TSyncProgress = std::function<bool(int, int)>;

// Reads the pictures of albums that are not in memory yet, then checks every album. Pictures of
// an album whose folder is missing are not checked (they would all be missing).
TSyncReport CheckProjectFiles(TLumenfoldProject& project, bool compareHash,
                              const TSyncProgress& progress = {});
// The same for one album, added to `report`. False when its pictures could not be read.
bool CheckAlbumFiles(TLumenfoldAlbum& album, bool compareHash, TSyncReport& report);

// Reads the album's stored pictures when they are not all in memory. An album whose pictures in
// memory have unsaved changes is left as it is (nothing is thrown away) and counts as read only
// when it is complete. False, with `error` set, when the pictures are not all there.
bool EnsurePicturesLoaded(TLumenfoldAlbum& album, QString* error = nullptr);

// The album of the project (other than `except`) whose folder is this one, written with or
// without a closing separator and in any letter case; nullptr when there is none.
TLumenfoldAlbum* AlbumUsingFolder(const TLumenfoldProject& project, const QString& folder,
                                  const TLumenfoldAlbum* except = nullptr);

// Points the album at another folder (and, when `directory` is not empty, another relative
// directory). Empty on success; otherwise why not, and nothing changed: the folder must exist and
// must not be another album's.
QString RelocateAlbum(TLumenfoldProject& project, TLumenfoldAlbum& album, const QString& folder,
                      const QString& directory = QString());

// Removes from the album the pictures whose original is missing: their rows and category links
// go, files are not touched. Nothing happens while the album's folder is missing; a picture
// whose stored name cannot name a file of the folder is kept. `decide` (when given) is asked for
// each such picture and may keep it. When every picture of the album would go (an empty folder is
// often a drive that is not connected), Prompt()->confirm is asked first and No keeps them all.
// Returns the number removed.
int RemoveMissingPictures(TLumenfoldAlbum& album,
                          const std::function<bool(TLumenfoldPicture&)>& decide = {});

// Records the present facts of an original (time stamp, size, checksum, dimensions and the sizes
// of the generated files) and, when they differ from the recorded ones, marks the picture to be
// processed again. The picture is marked unsaved. False when the original is missing.
bool SynchronizePicture(TLumenfoldPicture& picture);

struct TImportResult {
  std::vector<TLumenfoldPicture*> Added; // owned by the album
  QString Error;
};

// Adds the picture files of the album's folder that none of its pictures has yet, marked to be
// processed. The stored pictures are read first when they are not in memory.
TImportResult ImportNewAlbumFiles(TLumenfoldAlbum& album);
