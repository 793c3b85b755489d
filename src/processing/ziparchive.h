#pragma once
// A zip archive that is opened (or created) once, collects file entries and is written only by
// explicit saves. Each save writes a complete new archive beside the old one and then replaces
// it, so a failed save leaves the archive as it was at the previous save. Entries are deflated at
// the normal level, or stored when deflating would not make them smaller.
//
// Threads: one thread at a time (the processing run thread while it runs).
#include "db/lumenfolderror.h"

#include <QString>

struct zip;

// Raised by every failing operation of TZipArchive; the text is meant for the user.
class TZipError : public TLumenfoldError {
public:
  explicit TZipError(const QString& message) : TLumenfoldError(message) {}
};

// The name an entry gets for a relative path: both '\' and '/' separate, empty, "." and ".."
// components and a leading drive letter are dropped, and '/' joins what is left. So no entry can
// lie outside the archive's root, whatever the folder or file names are. Empty when nothing is
// left.
QString ZipEntryName(const QString& relativePath);

// True when deflating the bytes at the normal level gives fewer bytes than the bytes themselves.
// Any thread.
bool DeflateMakesSmaller(const QByteArray& data);
// The same for a file's content; false when the file cannot be read.
bool FileDeflatesSmaller(const QString& path);

class TZipArchive {
public:
  enum class TMethod { Auto, Deflate, Store };
  TZipArchive() = default;
  ~TZipArchive(); // discards whatever was added since the last save
  TZipArchive(const TZipArchive&) = delete;
  TZipArchive& operator=(const TZipArchive&) = delete;

  // Opens an existing archive for updating (its entries are kept) or prepares a new one. Raises
  // TZipError when the file exists but is no zip archive or cannot be read, or when its folder
  // does not exist.
  void Open(const QString& fileName);
  bool IsOpen() const { return archive_ != nullptr; }
  QString FileName() const { return fileName_; }

  // Folder that AddFile resolves relative names against.
  void SetBaseFolder(const QString& folder) { baseFolder_ = folder; }
  QString BaseFolder() const { return baseFolder_; }

  // Adds base folder + relative name under ZipEntryName(relative name), replacing an entry of
  // the same name. A missing file (or a name with nothing left) adds nothing and returns false.
  bool AddFile(const QString& relativeName, TMethod method = TMethod::Auto);
  // Adds the file at sourcePath under ZipEntryName(entryName); same rules as AddFile. The entry
  // is deflated when deflating makes it smaller, else stored; a caller that already knows the
  // answer (DeflateMakesSmaller on the file's bytes) passes it to spare the trial compression.
  bool AddFileAs(const QString& sourcePath, const QString& entryName,
                 TMethod method = TMethod::Auto);

  // Writes the archive with every entry added so far, then opens it again for further entries.
  // The files of the entries are read now. Raises TZipError on failure, after which the archive
  // on disk is the one of the previous save and this object is closed.
  void Save();

  // Number of entries (saved and pending); -1 when closed.
  qint64 EntryCount() const;
  // Adds since the last save.
  int PendingCount() const { return pending_; }

private:
  void reopen();
  zip* archive_ = nullptr;
  QString fileName_;
  QString baseFolder_;
  int pending_ = 0;
};
