#include "util/memorytuning.h"

#include <cstdlib> // defines __GLIBC__ where it applies

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
