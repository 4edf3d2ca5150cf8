#pragma once

#if defined(SW_TSAN)
#include <sanitizer/tsan_interface.h>
#endif

namespace sw {

// An event posted to another thread carries data written here and read there. Qt's event queue locks
// with futexes that ThreadSanitizer cannot see (the distribution's Qt is not built with it), so the
// two sides say themselves that the object changes hands; outside a ThreadSanitizer build these cost
// nothing. Every postEvent from another thread hands its event off, and every event() that can get
// one, like every application-wide event filter, takes it over first, before even its type() is read
// (the event was built on the other thread).
inline void HandOffToThread([[maybe_unused]] const void* object) {
#if defined(SW_TSAN)
    __tsan_release(const_cast<void*>(object));
#endif
}

inline void TakeOverFromThread([[maybe_unused]] const void* object) {
#if defined(SW_TSAN)
    __tsan_acquire(const_cast<void*>(object));
#endif
}

} // namespace sw
