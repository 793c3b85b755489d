#include "util/helpers.h"
#include "util/widechecksum.h"

#include "util/safefile.h"

#include <cmath>

#include <QDir>
#include <QDirIterator>
#include <QFile>

#include <QFileInfo>
#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/syscall.h>
#endif

QString FontStyleToText(TFontStyles styles) {
  QString text;
  if (styles.testFlag(TFontStyle::fsBold)) text += QStringLiteral("fsBold");
  if (styles.testFlag(TFontStyle::fsItalic)) text += QStringLiteral(",fsItalic");
  if (styles.testFlag(TFontStyle::fsUnderline)) text += QStringLiteral(",fsUnderline");
  if (styles.testFlag(TFontStyle::fsStrikeOut)) text += QStringLiteral(",fsStrikeOut");
  return text;
}

TFontStyles TextToFontStyle(const QString& text) {
  TFontStyles styles;
  if (text.contains(QLatin1String("fsBold"))) styles |= TFontStyle::fsBold;
  if (text.contains(QLatin1String("fsItalic"))) styles |= TFontStyle::fsItalic;
  if (text.contains(QLatin1String("fsUnderline"))) styles |= TFontStyle::fsUnderline;
  if (text.contains(QLatin1String("fsStrikeOut"))) styles |= TFontStyle::fsStrikeOut;
  return styles;
}

int GetFileSizeBytes(const QString& path) {
  QFile f;
  if (!OpenRegularFile(f, path)) return -1;
  const qint64 size = f.size();
  if (size < 0 || size > 0x7fffffff) return -1;
  return int(size);
}

namespace {

constexpr quint32 kAdlerBase = 65521;           // largest prime below 2^16
constexpr size_t kAdlerMostBeforeModulo = 5552; // bytes the 32-bit sums take before they overflow

#if defined(__x86_64__) || defined(__i386__)
#define LUMENFOLD_WIDE_CHECKSUM 1
std::atomic<bool> g_wideChecksumAllowed{true};

bool UseWideChecksum() {
  static const bool wide = __builtin_cpu_supports("avx2");
  return wide && g_wideChecksumAllowed.load(std::memory_order_relaxed);
}

// The sum of the eight 32-bit lanes.
__attribute__((target("avx2"))) quint64 LaneTotal(__m256i v) {
  alignas(32) quint32 lanes[8];
  _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), v);
  quint64 t = 0;
  for (quint32 lane : lanes)
    t += lane;
  return t;
}

// The blocks of 32 bytes at p (the bytes after the last whole block are left to the caller).
// For block j with first sum A_j: s2 += 32 * A_j + sum (32 - i) * x_i, and A_j = s1 + (bytes of
// the blocks before j); the bytes before each block are summed in ps.
__attribute__((target("avx2"))) const uint8_t* Adler32Wide(quint32& s1, quint32& s2,
                                                           const uint8_t* p, size_t& length) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i ones = _mm256_set1_epi16(1);
  const __m256i weights =
      _mm256_setr_epi8(32, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17, 16, 15, 14,
                       13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1);
  while (length >= 32) {
    const size_t blocks = std::min(length, kAdlerMostBeforeModulo) / 32;
    length -= blocks * 32;
    __m256i sum = zero, ps = zero, weighted = zero;
    for (size_t j = 0; j < blocks; ++j, p += 32) {
      const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
      ps = _mm256_add_epi32(ps, sum);
      sum = _mm256_add_epi32(sum, _mm256_sad_epu8(bytes, zero));
      weighted =
          _mm256_add_epi32(weighted, _mm256_madd_epi16(_mm256_maddubs_epi16(bytes, weights), ones));
    }
    const quint64 b =
        quint64(s2) + 32 * quint64(blocks) * s1 + 32 * LaneTotal(ps) + LaneTotal(weighted);
    s1 = quint32((s1 + LaneTotal(sum)) % kAdlerBase);
    s2 = quint32(b % kAdlerBase);
  }
  return p;
}
#endif

} // namespace

bool AllowWideChecksum(bool allowed) {
#if defined(LUMENFOLD_WIDE_CHECKSUM)
  g_wideChecksumAllowed.store(allowed);
  return UseWideChecksum();
#else
  (void)allowed;
  return false;
#endif
}

quint32 UpdateAdler32(quint32 adler, const void* data, size_t length) {
  constexpr quint32 kBase = kAdlerBase;
  constexpr size_t kMostBeforeModulo = kAdlerMostBeforeModulo;
  const auto* p = static_cast<const uint8_t*>(data);
  quint32 s1 = adler & 0xffff, s2 = adler >> 16;
#if defined(LUMENFOLD_WIDE_CHECKSUM)
  if (length >= 32 && UseWideChecksum()) p = Adler32Wide(s1, s2, p, length);
#endif
#if defined(__SSE2__)
  // Blocks of 16 bytes. For block j with first sum A_j: s2 += 16 * A_j + sum (16 - i) * x_i, and
  // A_j = s1 + (bytes of the blocks before j). The bytes before each block are summed in ps.
  const __m128i zero = _mm_setzero_si128();
  const __m128i weightsLow = _mm_setr_epi16(16, 15, 14, 13, 12, 11, 10, 9);
  const __m128i weightsHigh = _mm_setr_epi16(8, 7, 6, 5, 4, 3, 2, 1);
  while (length >= 16) {
    const size_t blocks = std::min(length, kMostBeforeModulo) / 16;
    length -= blocks * 16;
    __m128i sum = zero, ps = zero, weighted = zero;
    for (size_t j = 0; j < blocks; ++j, p += 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      ps = _mm_add_epi32(ps, sum);
      sum = _mm_add_epi32(sum, _mm_sad_epu8(bytes, zero));
      weighted = _mm_add_epi32(
          weighted, _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi8(bytes, zero), weightsLow),
                                  _mm_madd_epi16(_mm_unpackhi_epi8(bytes, zero), weightsHigh)));
    }
    auto total = [](__m128i v) {
      alignas(16) quint32 lanes[4];
      _mm_store_si128(reinterpret_cast<__m128i*>(lanes), v);
      return quint64(lanes[0]) + lanes[1] + lanes[2] + lanes[3];
    };
    const quint64 bytesSum = total(sum);
    const quint64 b = quint64(s2) + 16 * quint64(blocks) * s1 + 16 * total(ps) + total(weighted);
    s1 = quint32((s1 + bytesSum) % kBase);
    s2 = quint32(b % kBase);
  }
#endif
  while (length > 0) {
    const size_t n = std::min(length, kMostBeforeModulo);
    length -= n;
    for (size_t i = 0; i < n; ++i) {
      s1 += p[i];
      s2 += s1;
    }
    p += n;
    s1 %= kBase;
    s2 %= kBase;
  }
  return s2 << 16 | s1;
}

namespace {

QString HashText(quint32 sum) {
  return QStringLiteral("%1").arg(sum, 8, 16, QLatin1Char('0'));
}

} // namespace

QString GetFileHash(const QString& path) {
  QFile f;
  if (!OpenRegularFile(f, path) || f.size() <= 0) return QString();
  quint32 sum = 1;
  QByteArray buffer(1 << 20, Qt::Uninitialized);
  qint64 total = 0;
  for (;;) {
    const qint64 n = f.read(buffer.data(), buffer.size());
    if (n < 0) return QString();
    if (n == 0) break;
    sum = UpdateAdler32(sum, buffer.constData(), size_t(n));
    total += n;
  }
  if (total == 0) return QString();
  return HashText(sum);
}

bool IsRegularFile(const QString& path) {
  if (path.isEmpty()) return false;
  const QByteArray encoded = QFile::encodeName(path);
  struct stat st;
  return ::stat(encoded.constData(), &st) == 0 && S_ISREG(st.st_mode);
}

bool TFolderListings::IsRegularFile(const QString& path) {
  const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
  if (slash < 0) return ::IsRegularFile(path);
  // Looked up without copying the path's parts: this runs for every file of a project.
  const QString folder = QString::fromRawData(path.constData(), slash + 1);
  auto listed = folders_.find(folder);
  if (listed == folders_.end()) {
    QSet<QString> names;
    if (DIR* dir = ::opendir(QFile::encodeName(folder).constData())) {
      while (const dirent* entry = ::readdir(dir))
        if (entry->d_type == DT_REG) names.insert(QFile::decodeName(entry->d_name));
      ::closedir(dir);
    }
    listed = folders_.insert(QString(folder.constData(), folder.size()), names);
  }
  return listed->contains(
             QString::fromRawData(path.constData() + slash + 1, path.size() - slash - 1)) ||
         ::IsRegularFile(path);
}

bool ReadWholeFile(const QString& path, QByteArray& into) {
  constexpr qint64 kMostBytes = qint64(512) << 20;
  into.resize(0);
  QFile file;
  const qint64 size = OpenRegularFile(file, path) ? file.size() : -1;
  if (size <= 0 || size > kMostBytes) return false;
  into.resize(qsizetype(size));
  if (file.read(into.data(), size) == size) return true;
  into.resize(0);
  return false;
}

QString GetDataHash(const QByteArray& data) {
  if (data.isEmpty()) return QString();
  return HashText(UpdateAdler32(1, data.constData(), size_t(data.size())));
}

int DateTimeToDosDateTime(const QDateTime& local) {
  if (!local.isValid()) return -1;
  const QDate d = local.date();
  const QTime t = local.time();
  if (d.year() < 1980 || d.year() > 2107) return -1;
  const quint32 date = quint32(((d.year() - 1980) << 9) | (d.month() << 5) | d.day());
  const quint32 time = quint32((t.hour() << 11) | (t.minute() << 5) | (t.second() / 2));
  return int((date << 16) | time);
}

QDateTime DosDateTimeToDateTime(int packed) {
  if (packed == -1) return QDateTime();
  const quint32 v = quint32(packed);
  const int date = int(v >> 16), time = int(v & 0xffff);
  const QDate d(1980 + (date >> 9), (date >> 5) & 15, date & 31);
  const QTime t(time >> 11, (time >> 5) & 63, (time & 31) * 2);
  if (!d.isValid() || !t.isValid()) return QDateTime();
  return QDateTime(d, t);
}

int FileDosDateTime(const QString& path) {
  const QFileInfo info(path);
  if (!info.exists()) return -1;
  return DateTimeToDosDateTime(info.lastModified().toLocalTime());
}

qint64 FileModifiedSecs(const QString& path) {
  struct stat st;
  if (::stat(QFile::encodeName(path).constData(), &st) != 0) return -1;
  return qint64(st.st_mtime);
}

int DosDateTimeOfSecs(qint64 secs) {
  return secs < 0 ? -1 : DateTimeToDosDateTime(QDateTime::fromSecsSinceEpoch(secs));
}

int DosDateTimeOfSecsInZone(qint64 secs) {
  const std::time_t time = std::time_t(secs);
  std::tm tm{};
  if (secs < 0 || !localtime_r(&time, &tm) || tm.tm_year < 80 || tm.tm_year > 207) return -1;
  const quint32 date = quint32(((tm.tm_year - 80) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
  const quint32 clock = quint32((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
  return int((date << 16) | clock);
}

bool AddRecentProject(QStringList& list, const QString& fileName) {
  const QString lower = fileName.toLower();
  for (int k = 0; k < list.size(); ++k) {
    if (list[k].toLower() == lower) {
      if (k != 0) list.swapItemsAt(0, k);
      return true;
    }
  }
  list.insert(0, fileName);
  return true;
}

QStringList& RecentProjects() {
  static QStringList list;
  return list;
}

namespace {
// The folder part of a pattern such as "<folder>/templates/*.*".
QString patternFolder(const QString& pattern) {
  QString p = QDir::fromNativeSeparators(pattern);
  const int slash = int(p.lastIndexOf('/'));
  return slash >= 0 ? p.left(slash) : QStringLiteral(".");
}
} // namespace

void ListTemplates(const QString& pattern, QStringList& list) {
  list.clear();
  QDir dir(patternFolder(pattern));
  const QFileInfoList entries =
      dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Unsorted);
  for (const QFileInfo& e : entries) {
    const QDir sub(e.absoluteFilePath());
    if (QFileInfo(sub.filePath("preview_small.jpg")).isFile() &&
        QFileInfo(sub.filePath("preview_big.jpg")).isFile())
      list.append(e.fileName());
  }
}

namespace {
// root: the template folder's canonical path and '/'; a link to a file is followed only when
// the file lies in it.
void walkTemplate(const QString& folder, const QString& base, const QString& root,
                  QStringList& list) {
  QDir dir(folder);
  for (const QFileInfo& e :
       dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Unsorted))
    if (!e.isSymLink()) walkTemplate(e.absoluteFilePath(), base, root, list);
  for (const QFileInfo& e : dir.entryInfoList(QDir::Files | QDir::Hidden, QDir::Unsorted)) {
    if (e.isSymLink() && !e.canonicalFilePath().startsWith(root)) continue;
    QString rel = e.absoluteFilePath();
    rel.remove(base);
    list.append(QDir::toNativeSeparators(rel));
  }
}
} // namespace

void ListTemplateFiles(const QString& root, const QString& name, QStringList& list) {
  list.clear();
  const QString folder = QDir(QDir::fromNativeSeparators(root)).absoluteFilePath(name);
  if (!QFileInfo(folder).isDir()) return;
  walkTemplate(folder, QDir::cleanPath(folder) + '/',
               QFileInfo(folder).canonicalFilePath() + QLatin1Char('/'), list);
}

bool InflateRectBy(QRect* rect, int amount) {
  if (!rect) return false;
  rect->adjust(-amount, -amount, amount, amount);
  return true;
}

bool DeflateRectBy(QRect* rect, int amount) {
  return InflateRectBy(rect, -amount);
}

bool RenameFileNoReplace(const QString& from, const QString& to) {
  const QByteArray src = QFile::encodeName(from);
  const QByteArray dst = QFile::encodeName(to);
  struct stat st;
  if (::lstat(src.constData(), &st) != 0) return false;
  if (src == dst) return true;
#if defined(__linux__) && defined(SYS_renameat2)
  // RENAME_NOREPLACE = 1: fails with EEXIST instead of replacing the target.
  if (::syscall(SYS_renameat2, AT_FDCWD, src.constData(), AT_FDCWD, dst.constData(), 1) == 0)
    return true;
  if (errno != EINVAL && errno != ENOSYS) {
    // A rename that only changes the letter case on a case-insensitive file system reports
    // EEXIST for the file itself; allow it when both names are the same file.
    struct stat target;
    if (errno == EEXIST && ::stat(dst.constData(), &target) == 0 && target.st_ino == st.st_ino &&
        target.st_dev == st.st_dev)
      return ::rename(src.constData(), dst.constData()) == 0;
    return false;
  }
#endif
  // Fallback: a hard link fails when the target exists.
  if (::link(src.constData(), dst.constData()) != 0) return false;
  return ::unlink(src.constData()) == 0;
}

QString WriteScratchFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return file.errorString();
  if (file.write(bytes) != bytes.size() || !file.flush()) {
    const QString reason = file.errorString();
    file.close();
    file.remove();
    return reason;
  }
  return QString();
}

QString WriteFileReplacing(const QString& path, const QByteArray& bytes) {
  auto reason = [](int error) { return QString::fromLocal8Bit(std::strerror(error)); };
  const QFileInfo info(path);
  const QString target = info.isSymLink() && info.exists() ? info.canonicalFilePath() : path;
  const QFileInfo file(target);
  const QByteArray encoded = QFile::encodeName(target);
  // A name of its own for each temporary: several threads write into one folder.
  static std::atomic<unsigned> counter{0};
  QByteArray temp;
  int fd = -1;
  for (int attempt = 0; fd < 0; ++attempt) {
    temp = encoded + ".tmp" + QByteArray::number(qint64(::getpid())) + '-' +
           QByteArray::number(counter.fetch_add(1));
    fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && (errno != EEXIST || attempt > 100)) return reason(errno);
  }
  auto fail = [&](int error) {
    if (fd >= 0) ::close(fd);
    ::unlink(temp.constData());
    return reason(error);
  };
  struct stat old;
  if (::stat(encoded.constData(), &old) == 0 && S_ISREG(old.st_mode))
    ::fchmod(fd, old.st_mode & 07777);
  for (qint64 done = 0; done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return fail(errno);
    if (n == 0) return fail(EIO);
    done += n;
  }
  // Each step's own errno: a disk that fills up may say so only here.
  if (::fsync(fd) != 0) return fail(errno);
  const int closed = ::close(fd);
  fd = -1;
  if (closed != 0) return fail(errno);
  if (::rename(temp.constData(), encoded.constData()) != 0) return fail(errno);
  const int folder = ::open(QFile::encodeName(file.absolutePath()).constData(),
                            O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    ::fsync(folder);
    ::close(folder);
  }
  return QString();
}

QString EscapeControlCharacters(const QString& text) {
  QString out;
  out.reserve(text.size());
  for (const QChar c : text) {
    const ushort u = c.unicode();
    if (u >= 0x20 && u != 0x7f && (u < 0x80 || u > 0x9f)) {
      out += c;
    } else if (u == '\n') {
      out += QLatin1String("\\n");
    } else if (u == '\r') {
      out += QLatin1String("\\r");
    } else if (u == '\t') {
      out += QLatin1String("\\t");
    } else {
      out += QLatin1String(u < 0x80 ? "\\x" : "\\u00") +
             QString::number(u, 16).rightJustified(2, QLatin1Char('0'));
    }
  }
  return out;
}

QStringList SplitPath(const QString& path) {
  QString p = path;
  p.replace('\\', '/');
  return p.split('/', Qt::SkipEmptyParts);
}

QString LastPathComponent(const QString& path) {
  const QStringList parts = SplitPath(path);
  return parts.isEmpty() ? QString() : parts.last();
}

int RoundHalfEven(double v) {
  const double f = std::floor(v);
  const double d = v - f;
  if (d > 0.5 || (d == 0.5 && std::fmod(f, 2.0) != 0.0)) return int(f + 1.0);
  return int(f);
}
