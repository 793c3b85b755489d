#pragma once
// Builds the upload archive of a processing run from a list of wanted entries, so that the
// archive holds exactly what the project publishes today: entries of an earlier archive that
// are not wanted any more (removed albums, renamed or deleted pictures, an earlier template) do
// not survive.
//
// Entries reach the new archive in one of three ways:
// - compressed ahead, on the worker threads, while the pictures are encoded (Compress), then
//   kept in a spool file beside the archive until the archive is written (Spool); for an
//   archive updated where it lies, the first 32 MB of them stay in memory instead, so that a
//   run that makes little writes its entries once;
// - copied from the previous archive without recompressing them, when the entry there has the
//   file's size and modification time (Unchanged);
// - compressed at the end on a pool of threads (CompressRemaining), for files that neither of
//   the two covers; a file found to hold exactly the previous entry's bytes (written again with
//   the same content) keeps that entry instead.
// A JPEG file is stored unless deflating saves at least 5 % of it (photos save 0 to 3.5 %:
// deflating them costs most of the archive's time and saves an upload next to nothing); other
// data is deflated when that makes it smaller. Large data is judged by samples first (a JPEG
// file's metadata and picture data each by their own), so that data that will not shrink enough
// is never deflated whole.
//
// An archive of ours is updated where it lies (see Write and archiveupdate.h). Otherwise, and
// when the places of entries that went make up too much of it, the archive is written once
// (Write) into a temporary file beside it, which then replaces the archive. A run that changes
// little may have the previous archive's entries copied into that file ahead, on a thread of its
// own, while it works (StartPrefill): the entries that end up at the place they had are then kept
// there, and only the others are written. Until then the archive on disk is the one from before the
// run. Spooled and unchanged entries are copied into it in large blocks (TZipWriter); unchanged
// entries that follow each other in the previous archive go over with their headers in one piece,
// so an archive that barely changed costs less than a plain copy of the file. The temporary files
// of a run that died (spool, partial archive) are removed when the next builder for the same
// archive is created; a builder holds a lock beside the archive while it lives, so the files of a
// run that is still going are never taken for a dead run's.
//
// Threads: the object is used by one thread at a time (the run thread). Compress may run on
// any thread. The builder runs threads of its own: one reads the previous archive's local
// headers, one makes the copy ahead; both have ended when the builder is gone.
#include "processing/archive/archivefiles.h"
#include "processing/archive/zipwriter.h"
#include "util/lumenfolderror.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <ctime>
#include <functional>
#include <future>
#include <memory>
#include <vector>

class QFile;
class TFileLock;

// Raised by every failing operation on the archive; the text is meant for the user.
class TZipError : public TLumenfoldError {
public:
  explicit TZipError(const QString& message) : TLumenfoldError(message) {}
};

// The name an entry gets for a relative path: both '\' and '/' separate, empty, "." and ".."
// components and a leading drive letter are dropped, and '/' joins what is left. So no entry can
// lie outside the archive's root, whatever the folder or file names are. Empty when nothing is
// left.
QString ZipEntryName(const QString& relativePath);

// One file's content as it goes into the archive.
struct TCompressedEntry {
  QByteArray Data; // raw deflate stream, or the bytes themselves when stored
  bool Deflated = false;
  quint32 Crc = 0; // CRC-32 of the uncompressed bytes
  qint64 Size = 0; // uncompressed size
  bool IsValid() const { return Size >= 0 && (Deflated || Data.size() == Size); }
};

// Deflates, or keeps the bytes stored when deflating does not save enough (see above). Any
// thread. quick: libdeflate's fastest level instead of its normal one.
TCompressedEntry CompressForArchive(const QByteArray& bytes, bool quick = false);

class TArchiveBuilder {
public:
  // Removes what a run that died left beside the archive, and opens the archive that is there
  // (read only) as the source of unchanged entries. Raises TZipError when the existing file is
  // no zip archive, its folder does not exist or another live run is writing the same archive.
  // copyAhead: StartPrefill as soon as the previous archive's directory is read.
  explicit TArchiveBuilder(const QString& archivePath, bool copyAhead = false);
  ~TArchiveBuilder(); // removes the spool; the archive stays as it is unless Write succeeded
  TArchiveBuilder(const TArchiveBuilder&) = delete;
  TArchiveBuilder& operator=(const TArchiveBuilder&) = delete;

  QString ArchivePath() const { return archivePath_; }

  // True when the previous archive holds the entry with the file's size and modification time,
  // and the file has not changed since that archive was written (so the entry can be copied as
  // it is).
  bool Unchanged(const QString& entryName, const QString& sourcePath) const;

  // Appends an entry compressed ahead to the spool. sourcePath is the file the entry stands for
  // (its modification time is recorded). Raises TZipError when the spool cannot be written.
  void Spool(const QString& entryName, const QString& sourcePath, const TCompressedEntry& entry);
  bool IsSpooled(const QString& entryName) const;

  // Wants the file in the new archive under ZipEntryName(entryName). Returns false (and wants
  // nothing) when the file does not exist or the name is empty. Raises TZipError when another
  // file is wanted under the same name (compared without regard to letter case, as archives are
  // often unpacked on such file systems).
  bool Want(const QString& entryName, const QString& sourcePath);
  // As Want, with the file's stamp as the caller found it (FileStampOf, or OwnFileStamp of a
  // file that is no link).
  bool Want(const QString& entryName, const QString& sourcePath, const TFileStamp& stamp);
  // Wants bytes made by the run (a page of the site) under ZipEntryName(entryName): the previous
  // archive's entry when it holds exactly these bytes, else they are compressed into the spool
  // at once. Raises TZipError as Want, and when the spool cannot be written.
  void WantMade(const QString& entryName, const QByteArray& bytes);
  // Wants the previous archive's entry of that name as it is (its file is gone). Returns false
  // (and wants nothing) when the previous archive has no such entry. Raises TZipError as Want.
  bool KeepPrevious(const QString& entryName);
  // Keeps the previous archive's entries of all these names as they are, when it holds each of
  // them and none is wanted yet (in any letter case); else keeps none and returns false.
  bool KeepAllPrevious(const QStringList& entryNames);
  // The previous archive holds a usable entry of exactly this name.
  bool HasPrevious(const QString& entryName) const;
  // The bytes of the previous archive's entry of that name (read and checked against its CRC-32),
  // or empty when there is none, it cannot be read or it holds more than limit bytes.
  QByteArray PreviousBytes(const QString& entryName, qint64 limit) const;
  // The names of the previous archive's usable entries that match, in the order they lie there.
  QStringList PreviousEntries(const std::function<bool(const QString& name)>& matches) const;
  // The digest of what the site's database and pages in the previous archive were made from
  // (its comment, archivemark.h); empty when it names none.
  QByteArray PreviousSiteDigest() const { return previousSiteDigest_; }
  // The digest the new archive names for its site's database and pages (empty: none).
  QByteArray SiteDigest;
  // The entry name wanted under this name (any letter case), or empty.
  QString WantedAs(const QString& entryName) const;
  int WantedCount() const { return int(wanted_.size()); }

  // Compresses, on up to `jobs` threads, every wanted entry that is neither spooled nor
  // unchanged, into the spool.
  void CompressRemaining(int jobs);

  // Starts copying the previous archive's entries into the new archive's file on a thread of its
  // own, on the guess that most of them keep their place (a run that renders a few pictures or
  // changes only the database). Write stops the copy where it is no longer of use, keeps what
  // lies in place and writes the rest. Nothing happens without a previous archive; a copy that
  // fails only leaves Write more to write.
  void StartPrefill();
  // Stops the copy made ahead and removes it (a run that turns out to change much).
  void CancelPrefill();
  // Entries the last Write found in place in the copy made ahead.
  int InPlaceCount() const { return inPlace_; }

  // Writes the new archive with the wanted entries, in the order they were wanted. An archive of
  // ours is updated where it lies (archiveupdate.h): entries that did not change stay, new ones
  // go behind them with a new directory, and nothing is written when nothing changed. When the
  // places of entries that went would make up more than a quarter of the file, or the archive is
  // not ours, the whole archive is written into a temporary file that replaces it (always so
  // with LUMENFOLD_ARCHIVE_FULL_REWRITE=1, for measuring). Raises TZipError; the old archive
  // then stays.
  void Write();
  // The last Write updated the archive where it lay (or found nothing to change).
  bool UpdatedInPlace() const { return updated_; }

  // Called before each entry is added to the new archive (tests use it to inject a failure).
  std::function<void(int entryIndex)> BeforeEntry;
  // Progress of CompressRemaining (bytes of the files compressed) and of Write (bytes of entry
  // data written): called often, with done rising from 0 to total within each call of either.
  std::function<void(qint64 done, qint64 total)> Progress;

  // The names of the leftovers of an earlier, interrupted write of this archive.
  static QStringList Leftovers(const QString& archivePath);

private:
  struct OldEntry;
  struct Wanted {
    QString Name;
    QString Source;
    qint64 Size = 0;            // of the file when it was wanted
    struct timespec MTime {};   // ditto
    bool Previous = false;      // the previous archive's entry, kept as it is (no source)
    mutable int Unchanged = -1; // unchanged() of it, once asked
    mutable bool OldLooked = false;
    mutable const OldEntry* Old = nullptr; // the previous archive's entry of the name
  };
  struct SpoolRecord {
    qint64 Offset = 0; // of the data, behind the entry's local header; -1: the data is in Data
    QByteArray Data;   // the compressed bytes, for an entry held in memory
    qint64 Length = 0;
    bool Deflated = false;
    quint32 Crc = 0;
    qint64 Size = 0;
    qint64 MTime = 0;
    // The entry's header for the bytes in the spool.
    TZipEntryHeader Header(const QString& name) const;
  };
  struct OldEntry {
    TZipDirectoryEntry Raw;    // as the previous archive's directory has it
    qint64 DataOffset = -1;    // where its compressed bytes lie in the previous archive
    bool AsWritten = false;    // its local header is the one TZipWriter writes for it
    mutable bool Kept = false; // stays where it is in the update being planned
  };
  struct Prefill;
  // Lets the copy made ahead go no further than limit, waits for it and returns how many bytes
  // from the start of the file it has copied; 0 when there is none. While it waits, waiting gets
  // the bytes copied so far, each time the copy moves on.
  qint64 stopPrefill(qint64 limit, const std::function<void(qint64 done)>& waiting = {});
  void openSpool();
  // Write's update where the archive lies; false when a full write is needed instead.
  bool updateInPlace();
  // The spooled entry's compressed bytes are those of the previous archive's entry.
  bool sameAsOld(const SpoolRecord& spooled, const OldEntry& old) const;
  bool unchanged(const OldEntry* old, bool isFile, qint64 size, const struct timespec& mtime) const;
  // The wanted entry that keeps the previous archive's entry of that name as it is.
  static Wanted previousWanted(const QString& name, const OldEntry& old);
  // The previous archive's entry of the wanted name, or null. Looked up once per wanted entry:
  // the entries are not added to once checked, so what is found stays where it is.
  const OldEntry* oldOf(const Wanted& w) const;
  // Asked of every wanted entry in each stage: answered once.
  bool unchanged(const Wanted& w) const {
    if (w.Unchanged < 0) w.Unchanged = unchanged(oldOf(w), true, w.Size, w.MTime) ? 1 : 0;
    return w.Unchanged == 1;
  }
  static void removeLeftovers(const QString& archivePath);

  QString archivePath_;
  std::unique_ptr<TFileLock> lock_; // held while the builder lives: its leftovers are its own
  QString spoolPath_;
  QString newPath_;
  int oldFd_ = -1; // the previous archive, open for copying its entries
  qint64 oldSize_ = 0;
  mutable qint64 entriesEnd_ = 0; // where its last entry's data ends (once checked)
  std::unique_ptr<Prefill> prefill_;
  int inPlace_ = 0;
  int oldMode_ = -1;        // its permission bits
  qint64 oldDirectory_ = 0; // where its central directory begins
  size_t oldCount_ = 0;     // entries its directory names
  bool updatable_ = false;  // ours, and may be updated where it lies
  QByteArray previousSiteDigest_;
  bool updated_ = false;
  struct timespec archiveTime_ {}; // when the previous archive was written
  // The previous archive's entries: read from its directory, their local headers checked on a
  // thread of its own; checkedEntries() waits for that and gives the entries that can be used.
  const QHash<QString, OldEntry>& checkedEntries() const;
  mutable std::vector<TZipDirectoryEntry> unchecked_;
  mutable std::future<std::vector<std::pair<qint64, bool>>> headerCheck_;
  mutable QHash<QString, OldEntry> oldEntries_;
  std::unique_ptr<QFile> spool_;
  qint64 spoolSize_ = 0;   // bytes in the spool (written with pwrite, never through QFile)
  qint64 spoolMemory_ = 0; // bytes of the entries held in memory instead
  QHash<QString, SpoolRecord> spooled_;
  // The spool holds each entry as an archive does, local header and data, in the order they were
  // spooled (a name twice when it was spooled again).
  std::vector<QString> spoolOrder_;
  QSet<QString> sameContent_; // files whose bytes the previous archive's entry holds as they are
  size_t settled_ = 0;        // wanted_ below this index need nothing of CompressRemaining
  std::vector<Wanted> wanted_;
  QHash<QString, int> wantedByFolded_; // case-folded name -> index in wanted_
};
