#pragma once
#include <QtGlobal>
// Heap settings for work on pictures. Decoding allocates blocks of a few to some tens of
// megabytes, one picture after another and on several threads. By default the C library maps
// fresh memory for each such block and hands it back when it is freed, so every picture pays for
// the kernel clearing and mapping its pages again (about a sixth of the processor time on small
// originals). Keeping those blocks in the heap lets the next picture reuse them.
//
// Threads: TuneHeapForPictures is called once at program start, before other threads exist;
// ReleaseFreeHeap may be called from any thread.

// Raises the size from which blocks are mapped separately (to the largest the library allows)
// and the free space the heap keeps before handing memory back. No effect outside glibc.
void TuneHeapForPictures();

// Hands the heap's free memory back to the system; for the end of a long piece of work.
void ReleaseFreeHeap();

// Memory the system can still give to this program without swapping, in bytes (MemAvailable of
// /proc/meminfo, else the free physical pages); 0 when unknown.
qint64 AvailableMemoryBytes();

// Memory this program holds in physical pages now (its resident set), in bytes; 0 when unknown.
qint64 ResidentMemoryBytes();
