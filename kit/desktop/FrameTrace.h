#pragma once
// Timing lines for measuring the application from outside (QUARN_TRACE_FRAMES=1): when a global
// hot key arrives, when a window draws its first frame after being shown and when a page has
// finished loading. Times are
// CLOCK_MONOTONIC microseconds, comparable across the processes of one machine.

#include <cstdint>

namespace kit {
class Window;
}

namespace kit::desktop {

bool frameTraceEnabled();
void traceHotKeyPressed(unsigned keyCode, unsigned modifierFlags);
void traceFirstFrame(const Window& window, std::int64_t shownAt);
void tracePageLoaded(const char* address);

}  // namespace kit::desktop
