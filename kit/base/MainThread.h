#pragma once
// "Main thread only", checked. The main thread is the one that made the main run loop. Debug and
// sanitizer builds check the operations documented as main-thread only and stop the process with
// a message naming the operation called from another thread; release builds compile the check out.

namespace kit {

// Whether the calling thread is the one that made the main run loop.
bool isMainThread();
// Logs that `operation` was called from the wrong thread and aborts.
[[noreturn]] void failThreadCheck(const char* operation);

}  // namespace kit

#ifdef NDEBUG
#define KIT_ASSERT_ON_THREAD(onThread) static_cast<void>(0)
#else
#define KIT_ASSERT_ON_THREAD(onThread) ((onThread) ? static_cast<void>(0) : ::kit::failThreadCheck(__func__))
#endif
#define KIT_ASSERT_MAIN_THREAD() KIT_ASSERT_ON_THREAD(::kit::isMainThread())
