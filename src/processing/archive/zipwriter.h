#pragma once
// A plain zip archive writer for entries whose compressed bytes are ready: raw deflate streams
// or stored bytes, in memory or in another file (the spool of a run, the previous archive).
// Bytes that lie in a file are copied by the kernel in large blocks (copy_file_range, with a
// large buffer as the fallback), so an archive in which most entries are unchanged costs about
// a plain copy of the file. Entries of an earlier archive that follow each other there as they
// do in the new one are copied together, headers and data in one piece: a kernel call per run
// instead of two per entry, and where the run lies at the same place in both files, file
// systems that can share blocks between files (copy_file_range does that for them) share them
// instead of copying. Sizes and offsets beyond 4 GiB and more than 65534 entries get the
// ZIP64 records.
//
// Also reads the central directory of an existing archive, so that its entries can be copied
// as they are (compressed bytes, CRC, time stamp, attributes).
//
// Threads: a writer is used by one thread at a time; the functions may run on any thread.
#include <QByteArray>
#include <QString>
#include <ctime>
#include <functional>
#include <vector>

// Compression methods of the entries.
inline constexpr quint16 kZipStored = 0;
inline constexpr quint16 kZipDeflated = 8;

// The fields of one entry as they appear in the archive's headers.
struct TZipEntryHeader {
  QByteArray Name;                             // UTF-8, '/' between folders
  quint16 Method = 0;                          // 0 stored, 8 deflated
  quint16 Flags = 0;                           // general purpose bits (the writer sets bit 11)
  quint32 Crc = 0;                             // CRC-32 of the uncompressed bytes
  quint64 CompressedSize = 0;                  // bytes of the data as stored in the archive
  quint64 Size = 0;                            // uncompressed bytes
  quint16 DosTime = 0;                         // MS-DOS time and date, local time
  quint16 DosDate = 0;                         //
  quint16 MadeBy = (3 << 8) | 20;              // Unix, version 2.0
  quint32 ExternalAttributes = 0100644u << 16; // a regular file, rw-r--r--
};

// An entry of an existing archive's central directory.
struct TZipDirectoryEntry {
  TZipEntryHeader Header;
  quint64 LocalHeaderOffset = 0;
};

// MS-DOS time and date (local time, even seconds rounded down) of a time stamp.
void ZipDosTime(std::time_t time, quint16& dosTime, quint16& dosDate);

// Reads the central directory of the archive open at fd (of fileSize bytes), its comment and
// where the directory begins when asked. False with error set when the file is no zip archive
// this reader understands (split archives, for example).
bool ReadZipDirectory(int fd, qint64 fileSize, std::vector<TZipDirectoryEntry>& entries,
                      QString* error, QByteArray* comment = nullptr,
                      qint64* directoryOffset = nullptr);
// Reads only the comment of the archive open at fd (its end record): false when the file has
// none, as ReadZipDirectory would find. The directory itself is not looked at.
bool ReadZipComment(int fd, qint64 fileSize, QByteArray& comment);
// The offset of an entry's data in the archive (behind its local header), or -1 when the local
// header is not where the directory says or the data would end beyond the file. asWritten, when
// given, is set when the local header is byte for byte ZipLocalHeader(entry.Header).
qint64 ZipEntryDataOffset(int fd, qint64 fileSize, const TZipDirectoryEntry& entry,
                          bool* asWritten = nullptr);
// The local header TZipWriter writes for an entry (its flags cleaned as the writer does).
QByteArray ZipLocalHeader(const TZipEntryHeader& header);
// Its length, without making it.
qint64 ZipLocalHeaderSize(const TZipEntryHeader& header);
// Appends to directory the central directory record TZipWriter writes for an entry whose local
// header lies at offset.
void ZipAppendDirectoryRecord(QByteArray& directory, const TZipEntryHeader& header, quint64 offset);
// The end records (the ZIP64 ones where needed) of a directory of count entries and
// directorySize bytes at directoryOffset, with the archive's comment (at most 65535 bytes).
QByteArray ZipEndRecords(quint64 count, quint64 directoryOffset, quint64 directorySize,
                         const QByteArray& comment);

class TZipWriter {
public:
  TZipWriter() = default;
  ~TZipWriter(); // closes the file; a file not finished stays as it is (the caller removes it)
  TZipWriter(const TZipWriter&) = delete;
  TZipWriter& operator=(const TZipWriter&) = delete;

  // Creates (or truncates) the file. False with ErrorString() on failure. With keepContent the
  // file is opened as it is, for entries that lie in it already (AddInPlace); whatever lies
  // beyond the finished archive is cut off by Finish.
  bool Open(const QString& path, bool keepContent = false);
  // Appends an entry whose CompressedSize bytes are at data.
  bool Add(const TZipEntryHeader& header, const char* data);
  // Appends an entry whose CompressedSize bytes are read from fd at offset.
  bool AddFrom(const TZipEntryHeader& header, int fd, qint64 offset);
  // Appends an entry whose local header, exactly ZipLocalHeader(header), and data lie in fd from
  // localHeaderOffset on (an entry of an archive this writer wrote). Entries that follow each
  // other in fd are copied together when an entry that does not continue them is added or the
  // archive is finished, so a failure to copy may be reported only by that later call.
  bool AddVerbatim(const TZipEntryHeader& header, int fd, qint64 localHeaderOffset);
  // Appends an entry whose local header, exactly ZipLocalHeader(header), and data are in the file
  // already, at the end of the archive so far (copied there ahead).
  bool AddInPlace(const TZipEntryHeader& header);
  // Writes the central directory and the end records and closes the file.
  bool Finish();

  QString ErrorString() const { return error_; }
  // Bytes of the archive so far (entries still waiting to be copied included).
  quint64 Position() const { return position_ + quint64(run_.End - run_.Begin); }
  int EntryCount() const { return count_; }

  // Called while entries are written, with the bytes of entry data (as stored, headers not
  // counted) written so far of all entries: several times for a large entry or a long run of
  // copied entries.
  std::function<void(quint64 written)> Copied;
  // The archive's comment, written by Finish (at most 65535 bytes).
  QByteArray Comment;

private:
  // Entries added by AddVerbatim and not copied yet: [Begin, End) of Fd, and where the data of
  // each lies in it (relative to Begin).
  struct Run {
    int Fd = -1;
    qint64 Begin = 0;
    qint64 End = 0;
    std::vector<std::pair<qint64, qint64>> Data;
  };
  bool flushRun();
  // Copies length bytes of fd from offset on to the end of the archive; progress(n) after each
  // piece, n the bytes copied so far.
  bool copyFrom(int fd, qint64 offset, quint64 length,
                const std::function<void(quint64)>& progress);
  bool writeLocalHeader(const TZipEntryHeader& header);
  void addDirectoryRecord(const TZipEntryHeader& header, quint64 offset);
  bool writeAll(const char* data, qint64 size);
  // Puts the file offset at the end of the archive so far after entries found in place.
  bool seekToEnd();
  bool fail(const QString& what);

  int fd_ = -1;
  quint64 position_ = 0;
  quint64 dataWritten_ = 0;
  int count_ = 0;
  bool keepContent_ = false;
  bool seekNeeded_ = false;
  Run run_;
  QByteArray directory_;
  QString error_;
};
