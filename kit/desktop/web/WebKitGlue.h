#pragma once
// Small RAII pieces for the WebKitGTK engine: an owned GObject reference (kit/base/GRef.h), owned
// signal connections (kit/base/GSignal.h), and a guard that keeps exceptions from unwinding
// through GLib's C frames in callbacks that are not signal handlers.

#include <glib-object.h>

#include <exception>
#include <utility>

#include "kit/base/GRef.h"
#include "kit/base/GSignal.h"
#include "kit/base/Log.h"

namespace kit::desktop {

// The owned GObject reference and the owned signal connections live in kit/base, for every
// GLib user.
using kit::GRef;
using kit::SignalConnection;
using kit::SignalConnections;

// Runs a callback body that GLib called; an exception is logged and `fallback` returned.
template <class R, class F>
R guarded(const char* where, R fallback, F&& body) {
    try {
        return body();
    } catch (const std::exception& e) {
        logf("Uncaught exception in %s: %s", where, e.what());
    } catch (...) {
        logf("Uncaught exception in %s", where);
    }
    return fallback;
}

template <class F>
void guarded(const char* where, F&& body) {
    try {
        body();
    } catch (const std::exception& e) {
        logf("Uncaught exception in %s: %s", where, e.what());
    } catch (...) {
        logf("Uncaught exception in %s", where);
    }
}

}  // namespace kit::desktop
