#pragma once
// The byte-level pieces shared by the zip archive's reader and writer: record signatures, limits
// and little-endian fields. Internal to zipreader.cpp and zipwriter.cpp.
#include <QByteArray>
#include <QString>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace ZipBytes {

inline constexpr quint32 kLocalSignature = 0x04034b50;
inline constexpr quint32 kCentralSignature = 0x02014b50;
inline constexpr quint32 kEndSignature = 0x06054b50;
inline constexpr quint32 kEnd64Signature = 0x06064b50;
inline constexpr quint32 kLocator64Signature = 0x07064b50;
inline constexpr quint16 kZip64ExtraId = 0x0001;
inline constexpr quint16 kUtf8Flag = 1 << 11;
inline constexpr quint16 kEncryptedFlag = 1 << 0;
inline constexpr quint16 kVersion20 = 20;
inline constexpr quint16 kVersion45 = 45; // ZIP64
inline constexpr quint64 kMax32 = 0xffffffffu;
inline constexpr quint64 kMax16 = 0xffffu;
inline constexpr qint64 kEndSize = 22;
inline constexpr qint64 kCopyBlock = qint64(1) << 20;
// Bytes per copy call between progress reports.
inline constexpr qint64 kCopyPiece = qint64(16) << 20;

inline void put16(QByteArray& out, quint16 v) {
  const char b[2] = {char(v & 0xff), char(v >> 8)};
  out.append(b, 2);
}
inline void put32(QByteArray& out, quint32 v) {
  const char b[4] = {char(v & 0xff), char((v >> 8) & 0xff), char((v >> 16) & 0xff), char(v >> 24)};
  out.append(b, 4);
}
inline void put64(QByteArray& out, quint64 v) {
  put32(out, quint32(v & kMax32));
  put32(out, quint32(v >> 32));
}

inline quint16 get16(const char* p) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  return quint16(u[0] | (u[1] << 8));
}
inline quint32 get32(const char* p) {
  return quint32(get16(p)) | (quint32(get16(p + 2)) << 16);
}
inline quint64 get64(const char* p) {
  return quint64(get32(p)) | (quint64(get32(p + 4)) << 32);
}

inline bool readAt(int fd, char* data, qint64 size, qint64 offset) {
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

inline bool isAscii(const QByteArray& name) {
  return std::all_of(name.cbegin(), name.cend(), [](char c) { return (c & 0x80) == 0; });
}

inline QString systemError() {
  return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace ZipBytes
