#include "processing/archive/zipwriter.h"

#include "processing/archive/zipbytes.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace ZipBytes;

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

qint64 ZipLocalHeaderSize(const TZipEntryHeader& header) {
  const bool large = header.Size >= kMax32 || header.CompressedSize >= kMax32;
  return 30 + qint64(header.Name.size()) + (large ? 20 : 0);
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
