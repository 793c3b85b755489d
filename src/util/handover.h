#pragma once
// Hand-over points between threads that pass through Qt's event queue. Qt's own locks are not
// built with ThreadSanitizer in a sanitizer build, so the order the queue gives is invisible to
// it; these calls tell it that whatever a thread did before posting an event happens before the
// receiver handles it. They compile to nothing in other builds.
#if defined(__SANITIZE_THREAD__)
#define LF_HANDOVER_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define LF_HANDOVER_TSAN 1
#endif
#endif

#ifdef LF_HANDOVER_TSAN
#include <sanitizer/tsan_interface.h>
// The sender, just before it hands over the object at this address.
inline void HandOver(const void* object) {
  __tsan_release(const_cast<void*>(object));
}
// The receiver, when it takes the object over.
inline void TakeOver(const void* object) {
  __tsan_acquire(const_cast<void*>(object));
}
#else
inline void HandOver(const void*) {}
inline void TakeOver(const void*) {}
#endif
