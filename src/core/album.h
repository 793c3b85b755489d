#pragma once
// One folder of original pictures published as one site album, and the project's owning list of
// albums.
//
// Threads: albums belong to the user-interface thread. The processing run saves albums and their
// pictures, and the thumbnail loader reads the picture list of the album it walks; the owning
// window stops or pauses those workers before it replaces or deletes an album's pictures.
#include "core/ownedlist.h"
#include "core/picture.h"
#include "util/imaging/embeddedcaptions.h"
#include "util/imaging/exif.h"

#include <QDateTime>
#include <QFileInfo>
#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

class TDataSet;
class TLumenfoldProject;

// A file of a folder that the album import leaves out, and why.
struct TSkippedFile {
  QString Name;
  QString Reason; // "not a picture file"
};
// The files of the folder, hidden ones aside, that an import does not take, in name order.
QList<TSkippedFile> SkippedFolderFiles(const QString& folder);

// Lowercased extensions of the files an album takes as pictures: ".jpg", ".jpeg", and the
// other formats the decoder reads (HEIF, PNG, TIFF, WebP).
const QStringList& PictureExtensions();
// True when the file name's extension, lowercased, is one of PictureExtensions().
bool IsPictureFileName(const QString& fileName);
// True for ".jpg" and ".jpeg" names (any case).
bool IsJpegFileName(const QString& fileName);
// The extension a renamed original gets: ".jpg" for a JPEG original (and any name that is no
// picture name), else its own extension lowercased: renaming never makes a HEIF file look like a
// JPEG file.
QString RenamedPictureExtension(const QString& originalFileName);
// The name generated images of the original take: the original's name, with ".jpg" in place of
// the extension of an original of another format ("IMG_1.heic" -> "IMG_1.jpg").
QString GeneratedBaseName(const QString& originalFileName);

class TLumenfoldAlbum {
public:
  explicit TLumenfoldAlbum(TLumenfoldProject* project = nullptr);
  ~TLumenfoldAlbum();
  TLumenfoldAlbum(const TLumenfoldAlbum&) = delete;
  TLumenfoldAlbum& operator=(const TLumenfoldAlbum&) = delete;

  bool Dirty = false;        // changes not yet written to the database
  bool Loaded = false;       // all pictures are in memory
  bool ReadsCaptions = true; // importing takes titles and keywords from the files
  bool HasModified = false;  // at least one picture must be processed
  int Id = -1;
  int FacePictureId = -1;
  QDateTime AlbumDate; // the current date and time after construction
  QString ShortName, ShortName2;
  QString LongName, LongName2;
  QString Description, Description2;
  bool IsPrivate = false;
  QString Directory;                        // folder inside the site
  QString Path;                             // full path of the folder of originals
  TLumenfoldProject* Project = nullptr;     // not owned
  TLumenfoldPictureList Pictures;           // owned, album order
  TLumenfoldPicture* FacePicture = nullptr; // found lazily, not owned

  void AssignFields(const TLumenfoldAlbum& source);
  void Assign(const TLumenfoldAlbum& source);
  bool Equals(const TLumenfoldAlbum& other) const;
  void FindFacePicture();
  int GetFacePictureId();
  TLumenfoldPicture* GetFacePicture();
  bool PathExists() const;
  bool HasModifiedPictures();
  int ModifiedCount() const;
  void SetPath(const QString& path);
  void SetDirty(bool value);

  // False when not Dirty. Otherwise writes the album row, its dirty pictures and their category
  // links in one transaction. On failure everything is rolled back, an error is reported, Dirty
  // stays set on the album and its pictures and ids given out inside the failed save are reset
  // to -1, so that a later save inserts them again.
  bool Save();
  bool Insert();
  bool Update();
  // Writes the album row alone (no pictures).
  bool UpdateRow();
  bool Delete();
  void LoadFromDataSet(const TDataSet& query);
  // Reads the album's pictures from the database in place of those in memory. Pictures with
  // unsaved changes or without a row are never thrown away: the album is then left as it is, an
  // error is reported and the result is false (callers save or ask first; see
  // HasUnsavedPictures). An album without a row only becomes Loaded.
  bool LoadPictures();
  // Some picture has changes not yet written or no row yet.
  bool HasUnsavedPictures() const;
  // The capture date of the folder's oldest picture when some picture of the folder has one in
  // its camera metadata; else the modification time of the first picture file.
  void ReadFolderDate(const QString& folder);
  // Both imports take each new picture's orientation (mirroring included) and date from its
  // camera metadata when it has them (date: capture, else digitizing, else the file's time).
  // Files that are no regular files of the folder (FIFOs, devices, links out of the folder) and
  // names that cannot be stored are left out and named in a warning. When two pictures would
  // write the same generated files (names that differ only in letter case), nothing is
  // imported: the error names both and the result is false.
  bool ImportFolder(const QString& folder);
  bool ImportNewFiles(const QString& folder);
  // Ids of the categories that imports of this album made from the files' keywords (a wizard
  // that is cancelled takes them away again).
  QList<int> CategoriesMadeByImport;
  // Why importing the folder (only the new files, or all) would be refused; empty when not.
  QString ImportProblem(const QString& folder, bool onlyNew) const;
  // Deletes the picture's rows and links, then frees it when it is in Pictures. Files stay.
  void RemovePicture(TLumenfoldPicture* picture);
  // Renames every picture by the project's template, start number and file-name case (see
  // renameops.h: checked first, moved in two phases, saved when stored). False, after an error
  // was reported, when the rename was refused or some picture kept its old name.
  bool RenamePictures(bool replaceSpecialChars);
  void AttachPictures();
  bool UsesSignatures() const;
  bool UsesCategories() const;

private:
  // FacePictureId, or the id of the first picture marked as face when it is -1.
  static int faceIdOf(const TLumenfoldAlbum& album);
  bool importFiles(const QString& folder, bool onlyNew);
  // The picture files of the folder an import takes (name order) and, as "name (reason)", the
  // ones it leaves out.
  struct TFolderPictures {
    QFileInfoList Files;
    QStringList LeftOut;
  };
  TFolderPictures folderPictures(const QString& folder, bool onlyNew) const;
  // The camera metadata of a picture file and, when captions are read, its captions in the
  // site's languages, read once per file version (the folder date and the import that follows
  // it share the reading). The header blocks the captions come from are not kept: a thousand
  // pictures' XMP packets can take megabytes. Damage is noted in the trace log.
  struct TFileMetadata {
    TCameraMetadata Camera;
    std::optional<TEmbeddedCaptions> Captions;
  };
  const TFileMetadata& fileMetadata(const QFileInfo& file);
  // Takes the site's languages for the captions read from now on; the files read for other
  // languages are forgotten.
  void useCaptionLanguages();
  QHash<QString, TFileMetadata> metadata_;
  QStringList captionLanguages_{QString(), QString()};
  // Inserts every dirty picture without a row.
  bool insertNewPictures();
};

class TLumenfoldAlbumList : public TOwnedList<TLumenfoldAlbum> {
public:
  TLumenfoldAlbum* Albums(int index) const { return Objects(index); }
  int IndexOfId(int id) const;
  // Path comparison ignores letter case.
  int IndexOfPath(const QString& path) const;
};
