#pragma once
// Waiting on the main run loop (a GLib loop in the tests that talk to other processes) for a
// condition that a bus message or another process brings about. The deadline only bounds the
// wait; nothing here measures time.

#include <functional>

#include "kit/base/RunLoop.h"

namespace kit::testing {

// Runs the main loop until the condition holds or `seconds` have passed; whether it holds.
inline bool runLoopUntil(const std::function<bool()>& condition, double seconds) {
    auto& loop = RunLoop::main();
    bool expired = false;
    TaskId timeout = loop.postAfter(seconds, [&] { expired = true; });
    // Wakes the loop now and then for conditions that no bus message brings (a process exit).
    auto ticker = loop.scheduleTimer(0.02, true, [](Timer&) {});
    loop.runNested([&] { return expired || condition(); });
    ticker->invalidate();
    loop.cancel(timeout);
    return condition();
}

}  // namespace kit::testing
