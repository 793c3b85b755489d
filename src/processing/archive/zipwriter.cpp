#include "processing/archive/zipwriter.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr quint32 kLocalSignature = 0x04034b50;
constexpr quint32 kCentralSignature = 0x02014b50;
constexpr quint32 kEndSignature = 0x06054b50;
constexpr quint32 kEnd64Signature = 0x06064b50;
constexpr quint32 kLocator64Signature = 0x07064b50;
constexpr quint16 kZip64ExtraId = 0x0001;
constexpr quint16 kUtf8Flag = 1 << 11;
constexpr quint16 kEncryptedFlag = 1 << 0;
constexpr quint16 kVersion20 = 20;
constexpr quint16 kVersion45 = 45; // ZIP64
constexpr quint64 kMax32 = 0xffffffffu;
constexpr quint64 kMax16 = 0xffffu;
constexpr qint64 kEndSize = 22;
constexpr qint64 kCopyBlock = qint64(1) << 20;
constexpr qint64 kCopyPiece = qint64(16) << 20; // bytes per copy call between progress reports

void put16(QByteArray& out, quint16 v) {
  const char b[2] = {char(v & 0xff), char(v >> 8)};
  out.append(b, 2);
}
void put32(QByteArray& out, quint32 v) {
  const char b[4] = {char(v & 0xff), char((v >> 8) & 0xff), char((v >> 16) & 0xff), char(v >> 24)};
  out.append(b, 4);
}
void put64(QByteArray& out, quint64 v) {
  put32(out, quint32(v & kMax32));
  put32(out, quint32(v >> 32));
}

quint16 get16(const char* p) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  return quint16(u[0] | (u[1] << 8));
}
quint32 get32(const char* p) {
  return quint32(get16(p)) | (quint32(get16(p + 2)) << 16);
}
quint64 get64(const char* p) {
  return quint64(get32(p)) | (quint64(get32(p + 4)) << 32);
}

bool readAt(int fd, char* data, qint64 size, qint64 offset) {
  while (size > 0) {
    const ssize_t n = pread(fd, data, size_t(size), off_t(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= n;
    offset += n;
  }
  return true;
}

bool isAscii(const QByteArray& name) {
  return std::all_of(name.cbegin(), name.cend(), [](char c) { return (c & 0x80) == 0; });
}

QString systemError() {
  return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

void ZipDosTime(std::time_t time, quint16& dosTime, quint16& dosDate) {
  std::tm tm{};
  if (!localtime_r(&time, &tm) || tm.tm_year < 80) {
    // Before 1980 the format has no date: the earliest it has.
    dosTime = 0;
    dosDate = (1 << 5) | 1;
    return;
  }
  dosTime = quint16((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec >> 1));
  dosDate = quint16(((tm.tm_year - 80) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
}

bool ReadZipDirectory(int fd, qint64 fileSize, std::vector<TZipDirectoryEntry>& entries,
                      QString* error, QByteArray* comment, qint64* directoryStart) {
  entries.clear();
  auto failed = [&](const char* text) {
    if (error) *error = QString::fromLatin1(text);
    entries.clear();
    return false;
  };
  if (fileSize < kEndSize) return failed("Not a zip archive");
  // The end record lies within the last 64 KiB (its comment) plus its own size.
  const qint64 tail = std::min<qint64>(fileSize, kEndSize + 65535);
  QByteArray buffer(qsizetype(tail), Qt::Uninitialized);
  if (!readAt(fd, buffer.data(), tail, fileSize - tail)) return failed("Read error");
  qint64 end = -1;
  for (qint64 at = tail - kEndSize; at >= 0; --at) {
    const char* p = buffer.constData() + at;
    if (get32(p) == kEndSignature && at + kEndSize + get16(p + 20) <= tail) {
      end = at;
      break;
    }
  }
  if (end < 0) return failed("Not a zip archive");
  const char* e = buffer.constData() + end;
  const qint64 endOffset = fileSize - tail + end;
  if (comment) *comment = QByteArray(e + kEndSize, get16(e + 20));
  if (get16(e + 4) != 0 || get16(e + 6) != 0)
    return failed("Multi-disk zip archives not supported");
  quint64 count = get16(e + 10);
  quint64 directorySize = get32(e + 12);
  quint64 directoryOffset = get32(e + 16);
  if (count == kMax16 || directorySize == kMax32 || directoryOffset == kMax32) {
    char locator[20];
    if (endOffset >= 20 && readAt(fd, locator, 20, endOffset - 20) &&
        get32(locator) == kLocator64Signature) {
      char end64[56];
      const quint64 at = get64(locator + 8);
      if (qint64(at) + 56 > fileSize || !readAt(fd, end64, 56, qint64(at)) ||
          get32(end64) != kEnd64Signature)
        return failed("Not a zip archive");
      count = get64(end64 + 32);
      directorySize = get64(end64 + 40);
      directoryOffset = get64(end64 + 48);
    }
  }
  if (directoryOffset + directorySize > quint64(endOffset)) return failed("Not a zip archive");
  if (directoryStart) *directoryStart = qint64(directoryOffset);
  QByteArray directory(qsizetype(directorySize), Qt::Uninitialized);
  if (!readAt(fd, directory.data(), qint64(directorySize), qint64(directoryOffset)))
    return failed("Read error");
  entries.reserve(size_t(std::min<quint64>(count, directorySize / 46)));
  qint64 at = 0;
  for (quint64 i = 0; i < count; ++i) {
    if (at + 46 > directory.size()) return failed("Not a zip archive");
    const char* p = directory.constData() + at;
    if (get32(p) != kCentralSignature) return failed("Not a zip archive");
    TZipDirectoryEntry entry;
    TZipEntryHeader& h = entry.Header;
    h.MadeBy = get16(p + 4);
    h.Flags = get16(p + 8);
    h.Method = get16(p + 10);
    h.DosTime = get16(p + 12);
    h.DosDate = get16(p + 14);
    h.Crc = get32(p + 16);
    h.CompressedSize = get32(p + 20);
    h.Size = get32(p + 24);
    const int nameLength = get16(p + 28), extraLength = get16(p + 30),
              commentLength = get16(p + 32);
    h.ExternalAttributes = get32(p + 38);
    entry.LocalHeaderOffset = get32(p + 42);
    if (at + 46 + nameLength + extraLength + commentLength > directory.size())
      return failed("Not a zip archive");
    h.Name = QByteArray(p + 46, nameLength);
    // The ZIP64 field holds, in this order, the values whose 32-bit fields are all ones.
    const char* extra = p + 46 + nameLength;
    for (int x = 0; x + 4 <= extraLength;) {
      const int id = get16(extra + x), length = get16(extra + x + 2);
      if (x + 4 + length > extraLength) break;
      if (id == kZip64ExtraId) {
        const char* f = extra + x + 4;
        int left = length;
        auto take = [&](quint64& value) {
          if (value != kMax32) return;
          if (left < 8) return;
          value = get64(f);
          f += 8;
          left -= 8;
        };
        take(h.Size);
        take(h.CompressedSize);
        take(entry.LocalHeaderOffset);
      }
      x += 4 + length;
    }
    entries.push_back(std::move(entry));
    at += 46 + nameLength + extraLength + commentLength;
  }
  return true;
}

namespace {

TZipEntryHeader cleaned(TZipEntryHeader h) {
  // The sizes are in the local header: no data descriptor follows the data.
  h.Flags &= quint16(0x0006); // deflate options only
  if (!isAscii(h.Name)) h.Flags |= kUtf8Flag;
  return h;
}

QByteArray localHeader(const TZipEntryHeader& h) {
  const bool large = h.Size >= kMax32 || h.CompressedSize >= kMax32;
  QByteArray out;
  out.reserve(30 + h.Name.size() + 20);
  put32(out, kLocalSignature);
  put16(out, large ? kVersion45 : kVersion20);
  put16(out, h.Flags);
  put16(out, h.Method);
  put16(out, h.DosTime);
  put16(out, h.DosDate);
  put32(out, h.Crc);
  put32(out, large ? quint32(kMax32) : quint32(h.CompressedSize));
  put32(out, large ? quint32(kMax32) : quint32(h.Size));
  put16(out, quint16(h.Name.size()));
  put16(out, large ? 20 : 0);
  out.append(h.Name);
  if (large) {
    put16(out, kZip64ExtraId);
    put16(out, 16);
    put64(out, h.Size);
    put64(out, h.CompressedSize);
  }
  return out;
}

} // namespace

QByteArray ZipLocalHeader(const TZipEntryHeader& header) {
  return localHeader(cleaned(header));
}

qint64 ZipEntryDataOffset(int fd, qint64 fileSize, const TZipDirectoryEntry& entry,
                          bool* asWritten) {
  if (asWritten) *asWritten = false;
  const qint64 at = qint64(entry.LocalHeaderOffset);
  if (at < 0 || at + 30 > fileSize) return -1;
  // The header as this writer would have written it is read in the same call.
  const QByteArray expected = asWritten ? ZipLocalHeader(entry.Header) : QByteArray();
  char small[128];
  QByteArray large;
  const qint64 wanted = std::min<qint64>(std::max<qint64>(30, expected.size()), fileSize - at);
  char* fixed = small;
  if (wanted > qint64(sizeof(small))) {
    large.resize(qsizetype(wanted));
    fixed = large.data();
  }
  if (!readAt(fd, fixed, wanted, at) || get32(fixed) != kLocalSignature ||
      (get16(fixed + 6) & kEncryptedFlag))
    return -1;
  const qint64 data = at + 30 + get16(fixed + 26) + get16(fixed + 28);
  if (data + qint64(entry.Header.CompressedSize) > fileSize) return -1;
  if (asWritten)
    *asWritten = wanted == expected.size() &&
                 std::memcmp(fixed, expected.constData(), size_t(expected.size())) == 0;
  return data;
}

QByteArray ZipEndRecords(quint64 count, quint64 directoryOffset, quint64 directorySize,
                         const QByteArray& archiveComment) {
  QByteArray tail;
  const bool large = count >= kMax16 || directoryOffset >= kMax32 || directorySize >= kMax32;
  if (large) {
    const quint64 end64 = directoryOffset + directorySize;
    put32(tail, kEnd64Signature);
    put64(tail, 44); // size of the rest of this record
    put16(tail, (3 << 8) | kVersion45);
    put16(tail, kVersion45);
    put32(tail, 0); // this disk
    put32(tail, 0); // disk of the directory
    put64(tail, count);
    put64(tail, count);
    put64(tail, directorySize);
    put64(tail, directoryOffset);
    put32(tail, kLocator64Signature);
    put32(tail, 0);
    put64(tail, end64);
    put32(tail, 1); // disks
  }
  put32(tail, kEndSignature);
  put16(tail, 0);
  put16(tail, 0);
  put16(tail, quint16(std::min(count, kMax16)));
  put16(tail, quint16(std::min(count, kMax16)));
  put32(tail, quint32(std::min(directorySize, kMax32)));
  put32(tail, quint32(std::min(directoryOffset, kMax32)));
  const QByteArray comment = archiveComment.left(qsizetype(kMax16));
  put16(tail, quint16(comment.size()));
  tail.append(comment);
  return tail;
}

TZipWriter::~TZipWriter() {
  if (fd_ >= 0) ::close(fd_);
}

bool TZipWriter::fail(const QString& what) {
  error_ = what;
  return false;
}

bool TZipWriter::Open(const QString& path, bool keepContent) {
  if (fd_ >= 0) ::close(fd_);
  position_ = 0;
  dataWritten_ = 0;
  count_ = 0;
  keepContent_ = keepContent;
  seekNeeded_ = false;
  run_ = Run();
  directory_.clear();
  const QByteArray encoded = QFile::encodeName(path);
  fd_ = ::open(encoded.constData(), O_WRONLY | O_CREAT | (keepContent ? 0 : O_TRUNC) | O_CLOEXEC,
               0666);
  if (fd_ < 0) return fail(systemError());
  return true;
}

bool TZipWriter::seekToEnd() {
  if (!seekNeeded_) return true;
  if (::lseek(fd_, off_t(position_), SEEK_SET) < 0) return fail(systemError());
  seekNeeded_ = false;
  return true;
}

bool TZipWriter::writeAll(const char* data, qint64 size) {
  if (!seekToEnd()) return false;
  while (size > 0) {
    const ssize_t n = ::write(fd_, data, size_t(std::min(size, kCopyBlock * 64)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return fail(n < 0 ? systemError() : QStringLiteral("Write error"));
    data += n;
    size -= n;
    position_ += quint64(n);
  }
  return true;
}

bool TZipWriter::writeLocalHeader(const TZipEntryHeader& h) {
  const QByteArray out = localHeader(h);
  return writeAll(out.constData(), out.size());
}

void ZipAppendDirectoryRecord(QByteArray& out, const TZipEntryHeader& header, quint64 offset) {
  const TZipEntryHeader h = cleaned(header);
  QByteArray extra;
  if (h.Size >= kMax32) put64(extra, h.Size);
  if (h.CompressedSize >= kMax32) put64(extra, h.CompressedSize);
  if (offset >= kMax32) put64(extra, offset);
  const bool large = !extra.isEmpty() || h.Size >= kMax32 || h.CompressedSize >= kMax32;
  put32(out, kCentralSignature);
  const quint16 needed = large ? kVersion45 : kVersion20;
  put16(out, quint16((h.MadeBy & 0xff00) | std::max<quint16>(h.MadeBy & 0xff, needed)));
  put16(out, needed);
  put16(out, h.Flags);
  put16(out, h.Method);
  put16(out, h.DosTime);
  put16(out, h.DosDate);
  put32(out, h.Crc);
  put32(out, h.CompressedSize >= kMax32 ? quint32(kMax32) : quint32(h.CompressedSize));
  put32(out, h.Size >= kMax32 ? quint32(kMax32) : quint32(h.Size));
  put16(out, quint16(h.Name.size()));
  put16(out, quint16(extra.isEmpty() ? 0 : extra.size() + 4));
  put16(out, 0); // comment
  put16(out, 0); // disk
  put16(out, 0); // internal attributes
  put32(out, h.ExternalAttributes);
  put32(out, offset >= kMax32 ? quint32(kMax32) : quint32(offset));
  out.append(h.Name);
  if (!extra.isEmpty()) {
    put16(out, kZip64ExtraId);
    put16(out, quint16(extra.size()));
    out.append(extra);
  }
}

void TZipWriter::addDirectoryRecord(const TZipEntryHeader& h, quint64 offset) {
  ZipAppendDirectoryRecord(directory_, h, offset);
}

bool TZipWriter::Add(const TZipEntryHeader& header, const char* data) {
  if (fd_ < 0) return fail(QStringLiteral("The archive is not open."));
  if (header.Name.isEmpty() || header.Name.size() > 0xffff)
    return fail(QStringLiteral("Bad entry name"));
  if (!flushRun()) return false;
  const TZipEntryHeader h = cleaned(header);
  const quint64 offset = position_;
  if (!writeLocalHeader(h) || !writeAll(data, qint64(h.CompressedSize))) return false;
  dataWritten_ += h.CompressedSize;
  if (Copied) Copied(dataWritten_);
  addDirectoryRecord(h, offset);
  ++count_;
  return true;
}

bool TZipWriter::copyFrom(int fd, qint64 offset, quint64 length,
                          const std::function<void(quint64)>& progress) {
  if (!seekToEnd()) return false;
  quint64 left = length;
  loff_t in = loff_t(offset);
  bool kernelCopy = true;
  std::unique_ptr<char[]> buffer;
  while (left > 0) {
    // Pieces of a bounded size, so that progress comes now and then on a long copy.
    const size_t chunk = size_t(std::min<quint64>(left, quint64(kCopyPiece)));
    ssize_t n = -1;
    if (kernelCopy) {
      n = copy_file_range(fd, &in, fd_, nullptr, chunk, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        // Another file system, an old kernel or a source that cannot be copied this way (or a
        // source that ended early, which the plain read finds out): read and write.
        kernelCopy = false;
        continue;
      }
      position_ += quint64(n);
    } else {
      if (!buffer) buffer = std::make_unique<char[]>(size_t(kCopyBlock));
      const size_t part = std::min<size_t>(chunk, size_t(kCopyBlock));
      n = pread(fd, buffer.get(), part, off_t(in));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return fail(systemError());
      if (n == 0) return false; // the caller names what ended early
      if (!writeAll(buffer.get(), n)) return false;
      in += n;
    }
    left -= quint64(n);
    if (progress) progress(length - left);
  }
  return true;
}

bool TZipWriter::AddFrom(const TZipEntryHeader& header, int fd, qint64 offset) {
  if (fd_ < 0) return fail(QStringLiteral("The archive is not open."));
  if (header.Name.isEmpty() || header.Name.size() > 0xffff)
    return fail(QStringLiteral("Bad entry name"));
  if (!flushRun()) return false;
  const TZipEntryHeader h = cleaned(header);
  const quint64 start = position_;
  if (!writeLocalHeader(h)) return false;
  const quint64 before = dataWritten_;
  auto progress = [&](quint64 copied) {
    dataWritten_ = before + copied;
    if (Copied) Copied(dataWritten_);
  };
  error_.clear();
  if (!copyFrom(fd, offset, h.CompressedSize, progress)) {
    if (error_.isEmpty())
      error_ = QStringLiteral("The data of \"%1\" ends early.").arg(QString::fromUtf8(h.Name));
    return false;
  }
  if (h.CompressedSize == 0 && Copied) Copied(dataWritten_);
  addDirectoryRecord(h, start);
  ++count_;
  return true;
}

bool TZipWriter::AddVerbatim(const TZipEntryHeader& header, int fd, qint64 localHeaderOffset) {
  if (fd_ < 0) return fail(QStringLiteral("The archive is not open."));
  if (header.Name.isEmpty() || header.Name.size() > 0xffff)
    return fail(QStringLiteral("Bad entry name"));
  if (fd < 0 || localHeaderOffset < 0) return fail(QStringLiteral("Bad entry source"));
  // A continuation of the run waiting to be copied joins it; anything else copies it first.
  if (run_.Fd >= 0 && (run_.Fd != fd || run_.End != localHeaderOffset) && !flushRun()) return false;
  if (run_.Fd < 0) {
    run_.Fd = fd;
    run_.Begin = run_.End = localHeaderOffset;
  }
  const TZipEntryHeader h = cleaned(header);
  const qint64 headerSize = localHeader(h).size();
  const qint64 dataStart = run_.End - run_.Begin + headerSize;
  addDirectoryRecord(h, position_ + quint64(run_.End - run_.Begin));
  run_.Data.emplace_back(dataStart, dataStart + qint64(h.CompressedSize));
  run_.End += headerSize + qint64(h.CompressedSize);
  ++count_;
  return true;
}

bool TZipWriter::AddInPlace(const TZipEntryHeader& header) {
  if (fd_ < 0) return fail(QStringLiteral("The archive is not open."));
  if (header.Name.isEmpty() || header.Name.size() > 0xffff)
    return fail(QStringLiteral("Bad entry name"));
  if (!keepContent_) return fail(QStringLiteral("The archive was emptied when it was opened."));
  if (!flushRun()) return false;
  const TZipEntryHeader h = cleaned(header);
  addDirectoryRecord(h, position_);
  position_ += quint64(localHeader(h).size()) + h.CompressedSize;
  seekNeeded_ = true;
  dataWritten_ += h.CompressedSize;
  if (Copied) Copied(dataWritten_);
  ++count_;
  return true;
}

bool TZipWriter::flushRun() {
  if (run_.Fd < 0) return true;
  const Run run = std::move(run_);
  run_ = Run();
  // The data of the run's entries copied so far, for the progress: each entry when the copy
  // has passed its end, then the part of the one the copy ends in.
  const quint64 before = dataWritten_;
  size_t whole = 0;
  quint64 wholeData = 0;
  auto progress = [&](quint64 copied) {
    while (whole < run.Data.size() && quint64(run.Data[whole].second) <= copied) {
      wholeData += quint64(run.Data[whole].second - run.Data[whole].first);
      ++whole;
      dataWritten_ = before + wholeData;
      if (Copied) Copied(dataWritten_);
    }
    if (whole < run.Data.size() && quint64(run.Data[whole].first) < copied) {
      dataWritten_ = before + wholeData + (copied - quint64(run.Data[whole].first));
      if (Copied) Copied(dataWritten_);
    }
  };
  error_.clear();
  if (!copyFrom(run.Fd, run.Begin, quint64(run.End - run.Begin), progress)) {
    if (error_.isEmpty()) error_ = QStringLiteral("The copied entries end early.");
    return false;
  }
  return true;
}

bool TZipWriter::Finish() {
  if (fd_ < 0) return fail(QStringLiteral("The archive is not open."));
  if (!flushRun()) return false;
  const quint64 directoryOffset = position_;
  const quint64 directorySize = quint64(directory_.size());
  QByteArray tail = std::move(directory_);
  directory_ = QByteArray();
  tail += ZipEndRecords(quint64(count_), directoryOffset, directorySize, Comment);
  if (!writeAll(tail.constData(), tail.size())) return false;
  // A file opened with its content may hold more than the archive.
  if (keepContent_ && ::ftruncate(fd_, off_t(position_)) != 0) return fail(systemError());
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) return fail(systemError());
  return true;
}
