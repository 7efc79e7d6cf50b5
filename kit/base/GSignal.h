#pragma once
// Typed, owned GLib signal connections. A handler is a C++ callable whose parameters are the
// signal's C parameters without the trailing user data, for example
//
//     signals_.connect(widget, "draw", [this](GtkWidget*, cairo_t* cr) -> gboolean { return onDraw(cr); });
//
// The connection owns its handler: the handler is disconnected when the connection goes, and the
// connection only forgets it when the instance went first (GLib drops an instance's handlers as
// it is disposed), so the two may die in either order. An exception from a handler is logged and
// stops at the C boundary; the signal then gets `onThrow` (a value-initialised result unless
// given). Main thread only, as the instances connected to.

#include <glib-object.h>

#include <exception>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "kit/base/Log.h"

namespace kit {

namespace signal_detail {

// The instance a connection is made on, and the handler's id there; the instance is cleared once
// GLib has dropped the handler (disconnected, or the instance disposed).
struct Link {
    gpointer instance = nullptr;
    gulong id = 0;
};

template <class F>
struct Signature : Signature<decltype(&F::operator())> {};
template <class C, class R, class... Args>
struct Signature<R (C::*)(Args...) const> {
    using Result = R;
    // What a throwing handler answers; a placeholder for handlers that answer nothing.
    using OnThrow = std::conditional_t<std::is_void_v<R>, char, R>;
    template <class Handler>
    struct Slot;
};
template <class C, class R, class... Args>
struct Signature<R (C::*)(Args...)> : Signature<R (C::*)(Args...) const> {};

template <class C, class R, class... Args>
template <class Handler>
struct Signature<R (C::*)(Args...) const>::Slot {
    // GLib passes and takes gboolean (an int); a bool would read or leave the wrong bytes.
    static_assert(!std::is_same_v<R, bool> && (!std::is_same_v<Args, bool> && ...),
                  "signal handlers take and answer gboolean, not bool");
    Handler handler;
    OnThrow onThrow;
    std::string signal;
    std::shared_ptr<Link> link;

    static R call(Args... args, gpointer data) {
        auto* slot = static_cast<Slot*>(data);
        try {
            return slot->handler(args...);
        } catch (const std::exception& e) {
            logf("Uncaught exception in the handler of \"%s\": %s", slot->signal.c_str(), e.what());
        } catch (...) {
            logf("Uncaught exception in the handler of \"%s\"", slot->signal.c_str());
        }
        if constexpr (!std::is_void_v<R>) return slot->onThrow;
    }

    static void destroy(gpointer data, GClosure*) {
        auto* slot = static_cast<Slot*>(data);
        slot->link->instance = nullptr;
        delete slot;
    }
};

}  // namespace signal_detail

class SignalConnection {
public:
    SignalConnection() = default;
    SignalConnection(SignalConnection&& other) noexcept = default;
    SignalConnection& operator=(SignalConnection&& other) noexcept {
        if (this != &other) {
            disconnect();
            link_ = std::move(other.link_);
        }
        return *this;
    }
    ~SignalConnection() { disconnect(); }

    // Connects `handler`; a failed connection (unknown signal, logged by GLib) is not connected.
    template <class F>
    static SignalConnection connect(gpointer instance, const char* signal, F handler,
                                    GConnectFlags flags = GConnectFlags(0)) {
        return make(instance, signal, std::move(handler), typename signal_detail::Signature<F>::OnThrow{}, flags);
    }
    // As connect(), with the value the signal gets when the handler throws.
    template <class F>
    static SignalConnection connect(gpointer instance, const char* signal, F handler,
                                    typename signal_detail::Signature<F>::Result onThrow,
                                    GConnectFlags flags = GConnectFlags(0)) {
        return make(instance, signal, std::move(handler), std::move(onThrow), flags);
    }

    bool isConnected() const { return link_ && link_->instance; }
    // Disconnects now; nothing when the instance has already gone.
    void disconnect() {
        if (!isConnected()) return;
        auto link = std::move(link_);
        g_signal_handler_disconnect(link->instance, link->id);
    }

private:
    template <class F>
    static SignalConnection make(gpointer instance, const char* signal, F handler,
                                 typename signal_detail::Signature<F>::OnThrow onThrow, GConnectFlags flags) {
        using Slot = typename signal_detail::Signature<F>::template Slot<F>;
        SignalConnection connection;
        auto link = std::make_shared<signal_detail::Link>();
        auto* slot = new Slot{std::move(handler), std::move(onThrow), signal, link};
        link->id = g_signal_connect_data(instance, signal, G_CALLBACK(&Slot::call), slot, &Slot::destroy, flags);
        if (link->id == 0) {
            delete slot;
            return connection;
        }
        link->instance = instance;
        connection.link_ = std::move(link);
        return connection;
    }

    std::shared_ptr<signal_detail::Link> link_;
};

// A list of connections that ends with its owner: the long "connect every signal" function of a
// widget's owner becomes a list of connect() calls. Disconnects in reverse order.
class SignalConnections {
public:
    SignalConnections() = default;
    SignalConnections(const SignalConnections&) = delete;
    SignalConnections& operator=(const SignalConnections&) = delete;
    ~SignalConnections() { disconnectAll(); }

    template <class F, class... Rest>
    void connect(gpointer instance, const char* signal, F handler, Rest&&... rest) {
        SignalConnection connection =
            SignalConnection::connect(instance, signal, std::move(handler), std::forward<Rest>(rest)...);
        if (connection.isConnected()) connections_.push_back(std::move(connection));
    }

    void disconnectAll() {
        while (!connections_.empty()) {
            connections_.back().disconnect();
            connections_.pop_back();
        }
    }
    std::size_t size() const { return connections_.size(); }

private:
    std::vector<SignalConnection> connections_;
};

}  // namespace kit
