#include "util/imaging/memorytuning.h"

#include <QFile>
#include <cstdlib> // defines __GLIBC__ where it applies
#include <unistd.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

void TuneHeapForPictures() {
#if defined(__GLIBC__)
  // 32 MB is the most the library accepts; a full-size decode of a larger photograph is still
  // mapped on its own. The heap keeps up to 128 MB free before trimming.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 128 << 20);
#endif
}

void ReleaseFreeHeap() {
#if defined(__GLIBC__)
  malloc_trim(0);
#endif
}

qint64 AvailableMemoryBytes() {
  QFile meminfo(QStringLiteral("/proc/meminfo"));
  if (meminfo.open(QIODevice::ReadOnly)) {
    for (const QByteArray& line : meminfo.readAll().split('\n')) {
      if (!line.startsWith("MemAvailable:")) continue;
      const QList<QByteArray> parts = line.simplified().split(' ');
      bool ok = false;
      const qint64 kb = parts.size() >= 2 ? parts[1].toLongLong(&ok) : 0;
      if (ok && kb > 0) return kb * 1024;
    }
  }
#if defined(_SC_AVPHYS_PAGES) && defined(_SC_PAGESIZE)
  const long pages = sysconf(_SC_AVPHYS_PAGES), size = sysconf(_SC_PAGESIZE);
  if (pages > 0 && size > 0) return qint64(pages) * size;
#endif
  return 0;
}

qint64 ResidentMemoryBytes() {
  // The second field of statm: resident pages.
  QFile statm(QStringLiteral("/proc/self/statm"));
  if (!statm.open(QIODevice::ReadOnly)) return 0;
  const QList<QByteArray> fields = statm.readAll().simplified().split(' ');
  bool ok = false;
  const qint64 pages = fields.size() >= 2 ? fields[1].toLongLong(&ok) : 0;
  const long size = sysconf(_SC_PAGESIZE);
  return ok && pages > 0 && size > 0 ? pages * size : 0;
}
