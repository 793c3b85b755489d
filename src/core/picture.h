#pragma once
// One original JPEG of an album with the user's edits and the processing record, and the
// album's owning list of pictures.
//
// Threads: pictures belong to the user-interface thread. The thumbnail loader calls
// CheckOriginal, SetModified, SetThumbnail and Save on pictures of the album it walks; the
// processing run reads pictures and hands its results to the user-interface thread, which
// writes them; the owning window pauses or stops those workers around its own changes. Only the
// preview bitmap (SetThumbnail/Thumbnail) is guarded, by ThumbnailLock().
#include "core/bitmaplist.h"
#include "core/ownedlist.h"
#include "db/sqlaccess.h"

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringList>

class TDataSet;
class TSqliteRows;
class TFolderListings;
class TLumenfoldAlbum;
class TLumenfoldProject;

// Crop corners in pixels of the displayed (oriented) picture; -1 means not set.
struct TCropRect {
  int X1 = -1, Y1 = -1, X2 = -1, Y2 = -1;
  // Set when at least one corner value is greater than 0.
  bool IsSet() const { return X1 > 0 || Y1 > 0 || X2 > 0 || Y2 > 0; }
  bool operator==(const TCropRect&) const = default;
};

// Positions of the picture columns in a result set, looked up once per query so that loading
// thousands of rows does not search the columns by name for every field.
struct TPictureColumns {
  explicit TPictureColumns(const TDataSet& query);
  explicit TPictureColumns(const TSqliteRows& rows);
  int Id, Orientation, X1, Y1, X2, Y2, PictureDate, Title, Title2, OriginalFileName, OriginalHash,
      OriginalDate, OriginalSize, OriginalWidth, OriginalHeight, LargeFileName, LargeSize,
      MediumFileName, MediumSize, ThumbFileName, ThumbSize, SortOrder, Modified, ThumbSignatureId,
      MediumSignatureId, IsDeleted, IsPrivate, AlbumId;
  // The dates read so far, by their stored text: pictures of an album share few days, and each
  // local date made anew asks the system for its time zone.
  QHash<QString, QDateTime> Dates;
};

// The generated sizes of a picture.
enum class TGeneratedSize { Large, Medium, Thumb };

// The one rule for the name of a generated file, relative to the album folder: the size's
// folder, a separator, then the size's prefix and the original file name in the project's
// FileNameCase. Processing, renaming, synchronising and the stored names all use it.
QString GeneratedFileName(const TLumenfoldProject& project, TGeneratedSize size,
                          const QString& originalFileName);

// The first two of the original file names whose generated files would be one file (compared
// ignoring letter case, as the name-case rule and many file systems do): a sentence naming both
// and the file; empty when every name gets files of its own. The first `known` names (pictures
// already stored) are not compared among themselves. project may be nullptr.
QString GeneratedNameClash(const TLumenfoldProject* project, const QStringList& originalNames,
                           int known = 0);

class TLumenfoldPicture {
public:
  explicit TLumenfoldPicture(TLumenfoldAlbum* album = nullptr);
  ~TLumenfoldPicture();
  TLumenfoldPicture(const TLumenfoldPicture&) = delete;
  TLumenfoldPicture& operator=(const TLumenfoldPicture&) = delete;

  bool IsFace = false;
  bool Dirty = false;    // changes not yet written to the database
  bool Modified = false; // must be processed again
  // The thumbnail loader found no original file (not stored; the view says so on the tile).
  bool OriginalMissing = false;
  // The thumbnail loader found the original changed since its facts were recorded (not stored;
  // the tile shows a badge while the picture waits to be processed again).
  bool OriginalChanged = false;
  int Id = -1;
  int Orientation = 1; // 1..4 rotation, negative: mirrored after the rotation
  TCropRect CropRect;
  QDateTime PictureDate; // invalid: no date
  QString Title, Title2;
  QString OriginalFileName;
  QString OriginalHash;  // Adler-32, 8 lowercase hex digits
  int OriginalDate = -1; // packed DOS time stamp
  int OriginalSize = -1;
  int OriginalWidth = -1, OriginalHeight = -1;
  QString LargeFileName;
  int LargeSize = -1;
  QString MediumFileName;
  int MediumSize = -1;
  QString ThumbFileName;
  int ThumbSize = -1;
  bool IsDeleted = false;
  bool IsPrivate = false;
  int AlbumId = -1;
  int SortOrder = -1;
  TLumenfoldAlbum* Album = nullptr; // owning album, not owned
  QStringList CategoryIds;          // category ids as decimal texts
  int ThumbSignatureId = -1, MediumSignatureId = -1;
  // Why the list preview could not be made (empty when it could); set by the thumbnail loader on
  // the user-interface thread, never stored.
  QString PreviewError;

  // Copies every field, the flags, the album reference, the category ids and shares the preview.
  void Assign(const TLumenfoldPicture& source);
  // Copies the stored fields, the flags and the album reference, not the preview: reads the
  // source only, so a worker may copy a picture that the user-interface thread still shows.
  void AssignRecord(const TLumenfoldPicture& source);
  bool Equals(const TLumenfoldPicture& other) const;

  void SetIsFace(bool value);
  void SetModified(bool value);
  void SetDirty(bool value);

  // Preview bitmap kept in the process-wide bitmap list; SetThumbnail takes ThumbnailLock().
  // The preview is held within the bound of PreviewCache(): setting or reading it makes it the
  // most recent, and Thumbnail() is null again once the cache has dropped it (the file in
  // TempThumbPath stays).
  void SetThumbnail(const TLumenfoldBitmap& bitmap);
  TLumenfoldBitmap Thumbnail() const;
  // Loads the preview file of the step (see PreviewStepPath; 0: TempThumbPath) when it exists
  // and is whole.
  void LoadThumbnail(int step = 0);

  // The album's project, or nullptr.
  TLumenfoldProject* Project() const;
  // Why the stored OriginalFileName cannot name a file of the album folder (a separator, "..",
  // a control character: a damaged or foreign database), as a sentence naming the picture;
  // empty when it can. Such a picture has no file paths: OriginalPath, the generated paths and
  // TempThumbPath are empty, so that no file outside the album folder is ever touched.
  QString NameProblem() const;
  QString OriginalPath() const;
  QString LargePath() const;
  QString MediumPath() const;
  QString ThumbPath() const;
  QString TempThumbPath() const;
  // Album path + GeneratedFileName of the size (what LargePath and its siblings return).
  QString GeneratedPath(TGeneratedSize size) const;
  // LargeFileName, MediumFileName or ThumbFileName; empty when it does not lead to a file below
  // the album folder (an empty part, "..", a control character, an absolute path).
  QString StoredFileName(TGeneratedSize size) const;
  // True when, for every size the project generates, the stored name is the one the rule gives
  // today and that file exists. A changed folder, prefix or case rule makes it false. A pass
  // over many pictures passes its folder listings (one listing per folder instead of a look per
  // file).
  bool GeneratedFilesCurrent(TFolderListings* listings = nullptr) const;
  // Not deleted, and modified or without current generated files: the next run must make them.
  bool NeedsProcessing(TFolderListings* listings = nullptr) const;

  void LoadFromDataSet(const TDataSet& query);
  void LoadFromDataSet(const TDataSet& query, TPictureColumns& columns);
  // The same row read through SQLite itself; the picture comes out as from the result set.
  void LoadFromRows(const TSqliteRows& rows, TPictureColumns& columns);
  // False when not Dirty; otherwise Insert or Update. Dirty stays set when the statements failed.
  bool Save();
  bool Insert();
  bool Update();
  bool Delete();
  // True when the original is unchanged since its date, size and checksum were recorded.
  bool CheckOriginal();
  void RotateCW();
  void RotateCCW();
  void Rotate180();
  void Flip();
  // Renames the original (never over an existing file) and its generated files.
  bool RenameTo(const QString& newName);
  void UpdateFileNames();
  void RefreshOriginalInfo();
  void Synchronize();
  // Deletes rows and links, then the generated files and the original, then removes itself from
  // its album's list. The picture is freed: do not use it afterwards.
  bool DeleteWithFiles();

private:
  friend class TLumenfoldAlbum;
  friend class TPreviewCache;
  // Insert with an id the caller has allocated (-1: allocate here). With links, the category
  // links are not written but appended there as (picture, category) pairs, for
  // writeNewLinks.
  bool insertRow(int newId, std::vector<std::pair<int, int>>* links = nullptr);
  // The links of pictures just inserted with the ids firstId to lastId, written in a few
  // statements of many rows each (links left behind under these ids are removed first).
  static bool writeNewLinks(int firstId, int lastId, const std::vector<std::pair<int, int>>& links);
  void appendColumnValues(std::vector<SqlArg>& values) const;
  TLumenfoldBitmap thumbnail_;
};

class TLumenfoldPictureList : public TOwnedList<TLumenfoldPicture> {
public:
  TLumenfoldPicture* Pictures(int index) const { return Objects(index); }
  // Replaces the content with copies of the source pictures (each copy refers to the source's
  // album, as the source picture does).
  void Assign(const TLumenfoldPictureList& source);
  // Drops every picture's preview, then frees all pictures.
  void ClearThumbnails();
  int IndexOfId(int id) const;
  // Exact, case-sensitive comparison of OriginalFileName.
  int IndexOfFileName(const QString& name) const;
};

// Copies an edited copy back into the picture as the picture properties dialog's OK does: nothing
// when they are Equal; otherwise the face mark goes through SetIsFace (so the album's other
// pictures lose it), the copy is assigned, category ids the project no longer has are dropped,
// and the picture is marked dirty and modified. Returns whether the picture changed.
bool ApplyPictureEdits(TLumenfoldPicture& picture, const TLumenfoldPicture& copy);

// Writes what was learnt about the original (its facts, dimensions and modified mark) into the
// row of a stored picture without other unsaved changes, leaving its album and the project
// unmodified: looking at pictures is no edit of the user's. A picture not stored yet, one with
// unsaved changes, or one whose row could not be written is marked unsaved instead.
void RecordOriginalFacts(TLumenfoldPicture& picture);

// The folders of the site's extra web sizes in the album folder ("ps_w<size>", each holding
// its images under the medium image's file name) that exist, as paths.
QStringList WebSizeFolders(const QString& albumPath);

// The picture's files that exist on disk: the original, the large, medium and thumbnail images,
// the list thumbnail, then the site's extra web sizes of the medium image, in that order.
QStringList ExistingPictureFiles(const TLumenfoldPicture& picture);
// Moves each file to the desktop's trash and returns those that could not be moved (they are
// left where they are).
QStringList MoveFilesToTrash(const QStringList& files);
