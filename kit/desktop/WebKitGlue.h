#pragma once
// Small RAII pieces for the WebKitGTK engine: an owned GObject reference (kit/base/GRef.h), a
// set of signal connections that ends with its owner, and a guard that keeps exceptions from
// unwinding through GLib's C frames.

#include <glib-object.h>

#include <exception>
#include <utility>
#include <vector>

#include "kit/base/GRef.h"
#include "kit/base/Log.h"

namespace kit::desktop {

// The owned GObject reference lives in kit/base, for every GLib user.
using kit::GRef;

// Signal handlers connected with this object's data; all disconnected when it goes.
class SignalConnections {
public:
    SignalConnections() = default;
    SignalConnections(const SignalConnections&) = delete;
    SignalConnections& operator=(const SignalConnections&) = delete;
    ~SignalConnections() { disconnectAll(); }

    void connect(gpointer instance, const char* signal, GCallback callback, gpointer data, bool after = false) {
        const gulong id = g_signal_connect_data(instance, signal, callback, data, nullptr,
                                                after ? G_CONNECT_AFTER : GConnectFlags(0));
        if (id) connections_.push_back({G_OBJECT(instance), id});
    }

    void disconnectAll() {
        for (auto& [object, id] : connections_) {
            if (g_signal_handler_is_connected(object, id)) g_signal_handler_disconnect(object, id);
        }
        connections_.clear();
    }

private:
    std::vector<std::pair<GObject*, gulong>> connections_;
};

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
