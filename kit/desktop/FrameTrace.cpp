#include "kit/desktop/FrameTrace.h"

#include <glib.h>

#include <cstring>

#include "kit/base/Log.h"
#include "kit/ui/Window.h"

namespace kit::desktop {

bool frameTraceEnabled() {
    static const bool enabled = [] {
        const char* value = g_getenv("QUARN_TRACE_FRAMES");
        return value && std::strcmp(value, "1") == 0;
    }();
    return enabled;
}

void traceHotKeyPressed(unsigned keyCode, unsigned modifierFlags) {
    if (!frameTraceEnabled()) return;
    logf("[trace] hot key %u/0x%x pressed at %lld", keyCode, modifierFlags,
         static_cast<long long>(g_get_monotonic_time()));
}

void traceFirstFrame(const Window& window, std::int64_t shownAt) {
    if (!frameTraceEnabled()) return;
    const std::int64_t now = g_get_monotonic_time();
    logf("[trace] first frame of window %d (%s, %.0fx%.0f) drawn at %lld, %lld us after it was shown",
         window.windowNumber(), window.className().c_str(), window.frame().width(), window.frame().height(),
         static_cast<long long>(now), static_cast<long long>(now - shownAt));
}

void tracePageLoaded(const char* address) {
    if (!frameTraceEnabled()) return;
    logf("[trace] page loaded at %lld: %s", static_cast<long long>(g_get_monotonic_time()), address ? address : "");
}

}  // namespace kit::desktop
