#include "kit/sys/Reachability.h"

#include <gio/gio.h>

#include <mutex>

#include "kit/base/GRef.h"
#include "kit/base/GSignal.h"

namespace kit {

namespace {

std::mutex& factoryMutex() {
    static std::mutex mutex;
    return mutex;
}

Reachability::Factory& factorySlot() {
    static Reachability::Factory factory;
    return factory;
}

// The probe port for a host name; only the route and the name matter, nothing connects.
constexpr guint16 kHostProbePort = 80;

class GioReachability final : public Reachability {
public:
    explicit GioReachability(GSocketConnectable* target) : state_(std::make_shared<State>()) {
        state_->target = target;
        state_->monitor = g_network_monitor_get_default();
    }
    ~GioReachability() override {
        stop();
        g_clear_object(&state_->target);
    }

    std::optional<std::uint32_t> flags() override { return state_->flags; }

    bool start(Callback callback) override {
        if (state_->running) return true;
        if (!state_->monitor || !state_->target) return false;
        state_->running = true;
        state_->callback = std::move(callback);
        state_->changed = SignalConnection::connect(state_->monitor, "network-changed",
                                                    [weak = std::weak_ptr<State>(state_)](GNetworkMonitor*, gboolean) {
                                                        auto state = weak.lock();
                                                        if (state && state->running) probe(state);
                                                    });
        probe(state_);
        return true;
    }

    void stop() override {
        if (!state_->running) return;
        state_->running = false;
        state_->callback = nullptr;
        state_->changed.disconnect();
        cancelProbe(*state_);
    }

private:
    struct State {
        GNetworkMonitor* monitor = nullptr;  // the process-wide monitor, not owned
        GSocketConnectable* target = nullptr;
        GCancellable* probe = nullptr;
        SignalConnection changed;
        bool running = false;
        Callback callback;
        std::optional<std::uint32_t> flags;
    };

    static void cancelProbe(State& state) {
        if (!state.probe) return;
        g_cancellable_cancel(state.probe);
        g_clear_object(&state.probe);
    }

    // A new check supersedes the one in flight, so reports keep the order of the changes.
    static void probe(const std::shared_ptr<State>& state) {
        cancelProbe(*state);
        state->probe = g_cancellable_new();
        auto* weak = new std::weak_ptr<State>(state);
        g_network_monitor_can_reach_async(state->monitor, state->target, state->probe,
                                          &GioReachability::onProbed, weak);
    }

    static void onProbed(GObject* source, GAsyncResult* result, gpointer data) {
        auto* weak = static_cast<std::weak_ptr<State>*>(data);
        auto state = weak->lock();
        delete weak;
        GError* error = nullptr;
        gboolean reachable = g_network_monitor_can_reach_finish(G_NETWORK_MONITOR(source), result, &error);
        bool cancelled = error && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
        if (error) g_error_free(error);
        if (cancelled || !state || !state->running) return;
        g_clear_object(&state->probe);
        std::uint32_t flags = reachable ? ReachabilityFlag::Reachable : 0;
        state->flags = flags;
        // Copied: the callback may stop this watch.
        auto callback = state->callback;
        if (callback) callback(flags);
    }

    std::shared_ptr<State> state_;
};

}  // namespace

std::unique_ptr<Reachability> Reachability::create(const ReachabilityTarget& target) {
    Factory factory;
    {
        std::lock_guard lock(factoryMutex());
        factory = factorySlot();
    }
    return factory ? factory(target) : makeGioReachability(target);
}

void Reachability::setFactory(Factory factory) {
    std::lock_guard lock(factoryMutex());
    factorySlot() = std::move(factory);
}

std::unique_ptr<Reachability> makeGioReachability(const ReachabilityTarget& target) {
    GSocketConnectable* connectable = nullptr;
    if (target.kind == ReachabilityTarget::Kind::HostName) {
        if (target.hostName.empty() || !g_utf8_validate(target.hostName.data(),
                                                        static_cast<gssize>(target.hostName.size()), nullptr))
            return nullptr;
        connectable = g_network_address_new(target.hostName.c_str(), kHostProbePort);
    } else {
        guint8 bytes[4] = {static_cast<guint8>(target.ipv4 >> 24), static_cast<guint8>(target.ipv4 >> 16),
                           static_cast<guint8>(target.ipv4 >> 8), static_cast<guint8>(target.ipv4)};
        auto address = GRef<GInetAddress>::adopt(g_inet_address_new_from_bytes(bytes, G_SOCKET_FAMILY_IPV4));
        connectable = G_SOCKET_CONNECTABLE(g_inet_socket_address_new(address.get(), target.port));
    }
    if (!connectable) return nullptr;
    return std::make_unique<GioReachability>(connectable);
}

}  // namespace kit
