#include "processing/archive/zipwriter.h"

#include "processing/archive/zipbytes.h"

#include <QByteArray>
#include <QString>
#include <algorithm>
#include <cstring>
#include <ctime>

using namespace ZipBytes;

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

namespace {

// The archive's end record, read from its last 64 KiB (the longest comment) plus its own size:
// the record's bytes (with the comment behind them) and where it lies in the file. Empty with
// error set when there is none.
QByteArray readEndRecord(int fd, qint64 fileSize, qint64& endOffset, const char*& error) {
  if (fileSize < kEndSize) {
    error = "Not a zip archive";
    return QByteArray();
  }
  const qint64 tail = std::min<qint64>(fileSize, kEndSize + 65535);
  QByteArray buffer(qsizetype(tail), Qt::Uninitialized);
  if (!readAt(fd, buffer.data(), tail, fileSize - tail)) {
    error = "Read error";
    return QByteArray();
  }
  for (qint64 at = tail - kEndSize; at >= 0; --at) {
    const char* p = buffer.constData() + at;
    if (get32(p) == kEndSignature && at + kEndSize + get16(p + 20) <= tail) {
      endOffset = fileSize - tail + at;
      return buffer.mid(at, kEndSize + get16(p + 20));
    }
  }
  error = "Not a zip archive";
  return QByteArray();
}

} // namespace

bool ReadZipComment(int fd, qint64 fileSize, QByteArray& comment) {
  qint64 endOffset = 0;
  const char* error = nullptr;
  const QByteArray end = readEndRecord(fd, fileSize, endOffset, error);
  if (end.isEmpty()) return false;
  comment = end.mid(kEndSize);
  return true;
}

bool ReadZipDirectory(int fd, qint64 fileSize, std::vector<TZipDirectoryEntry>& entries,
                      QString* error, QByteArray* comment, qint64* directoryStart) {
  entries.clear();
  auto failed = [&](const char* text) {
    if (error) *error = QString::fromLatin1(text);
    entries.clear();
    return false;
  };
  qint64 endOffset = 0;
  const char* endError = nullptr;
  const QByteArray endRecord = readEndRecord(fd, fileSize, endOffset, endError);
  if (endRecord.isEmpty()) return failed(endError);
  const char* e = endRecord.constData();
  if (comment) *comment = endRecord.mid(kEndSize);
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
