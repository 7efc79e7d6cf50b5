#include "kit/sys/DBusDistributedNotificationCenter.h"

#include <map>

#include "kit/base/GRef.h"
#include "kit/base/Log.h"
#include "kit/base/RunLoop.h"
#include "kit/sys/DBusConnection.h"
#include "kit/sys/DistributedNotificationWire.h"
#include "kit/sys/DistributedObserverList.h"

namespace kit {

namespace {

// GDBus writes arg0 into the match rule unquoted; names that could break the rule are matched
// in this process instead (every signal of the interface is received and filtered).
bool canMatchOnBus(const std::string& name) {
    if (name.empty() || name.size() > 255) return false;
    for (char c : name) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     c == '_' || c == '-' || c == '.' || c == ':' || c == '/';
        if (!plain) return false;
    }
    return true;
}

void logProblems(const char* what, const char* sender, const std::vector<std::string>& problems) {
    // A hostile peer must not flood the log: a few lines per signal.
    constexpr std::size_t kMaxLines = 4;
    for (std::size_t i = 0; i < problems.size() && i < kMaxLines; ++i)
        logf("[DistributedNotification] %s%s%s: %s", what, sender ? " from " : "", sender ? sender : "",
             problems[i].c_str());
    if (problems.size() > kMaxLines)
        logf("[DistributedNotification] %s: %zu more problems", what, problems.size() - kMaxLines);
}

}  // namespace

struct DBusDistributedNotificationCenter::Impl : std::enable_shared_from_this<Impl> {
    struct Subscription {
        std::weak_ptr<Impl> impl;
        std::string name;
    };

    dbus::BusConnection connection;
    std::shared_ptr<DistributedObserverList> observers = DistributedObserverList::create();
    std::map<std::string, guint> subscriptions;

    ~Impl() {
        observers->setNameHooks(nullptr, nullptr);
        for (const auto& [name, id] : subscriptions) g_dbus_connection_signal_unsubscribe(connection.get(), id);
        connection.close();
    }

    void start() {
        std::weak_ptr<Impl> weak = weak_from_this();
        observers->setNameHooks(
            [weak](const std::string& name) {
                if (auto self = weak.lock()) self->subscribe(name);
            },
            [weak](const std::string& name) {
                if (auto self = weak.lock()) self->unsubscribe(name);
            });
    }

    void subscribe(const std::string& name) {
        if (!connection) return;
        auto* data = new Subscription{weak_from_this(), name};
        guint id = g_dbus_connection_signal_subscribe(
            connection.get(), nullptr, wire::kNotificationInterface, wire::kNotificationMember, wire::kNotificationPath,
            canMatchOnBus(name) ? name.c_str() : nullptr, G_DBUS_SIGNAL_FLAGS_NONE, &Impl::onSignal, data,
            [](gpointer p) { delete static_cast<Subscription*>(p); });
        subscriptions[name] = id;
    }

    void unsubscribe(const std::string& name) {
        auto it = subscriptions.find(name);
        if (it == subscriptions.end()) return;
        g_dbus_connection_signal_unsubscribe(connection.get(), it->second);
        subscriptions.erase(it);
    }

    static void onSignal(GDBusConnection*, const gchar* sender, const gchar*, const gchar*, const gchar*,
                         GVariant* parameters, gpointer userData) {
        // Never let anything escape into GLib's dispatch.
        try {
            auto* subscription = static_cast<Subscription*>(userData);
            if (subscription->impl.expired()) return;
            std::vector<std::string> problems;
            auto notification = wire::decodeNotification(parameters, &problems);
            if (!notification) {
                logProblems("ignored a signal", sender, problems);
                return;
            }
            if (!problems.empty()) logProblems("left out parts of a signal", sender, problems);
            RunLoop::main().post([weak = subscription->impl, name = subscription->name,
                                  notification = std::move(*notification)] {
                if (auto self = weak.lock()) self->observers->deliverToObserversOf(name, notification);
            });
        } catch (const std::exception& e) {
            logf("[DistributedNotification] failed to handle a signal: %s", e.what());
        } catch (...) {
            logLine("[DistributedNotification] failed to handle a signal");
        }
    }
};

DBusDistributedNotificationCenter::DBusDistributedNotificationCenter(std::shared_ptr<Impl> impl)
    : impl_(std::move(impl)) {
    impl_->start();
}

DBusDistributedNotificationCenter::~DBusDistributedNotificationCenter() = default;

Result<std::shared_ptr<DBusDistributedNotificationCenter>> DBusDistributedNotificationCenter::connect(
    const std::string& address) {
    auto connection = dbus::openConnection(address);
    if (!connection) return Error{connection.error()};
    auto impl = std::make_shared<Impl>();
    impl->connection = std::move(*connection);
    return std::shared_ptr<DBusDistributedNotificationCenter>(new DBusDistributedNotificationCenter(impl));
}

std::shared_ptr<DBusDistributedNotificationCenter> DBusDistributedNotificationCenter::disconnected() {
    return std::shared_ptr<DBusDistributedNotificationCenter>(
        new DBusDistributedNotificationCenter(std::make_shared<Impl>()));
}

bool DBusDistributedNotificationCenter::isConnected() const {
    return impl_->connection && !g_dbus_connection_is_closed(impl_->connection.get());
}

std::string DBusDistributedNotificationCenter::uniqueBusName() const {
    if (!impl_->connection) return {};
    const gchar* name = g_dbus_connection_get_unique_name(impl_->connection.get());
    return name ? name : "";
}

void DBusDistributedNotificationCenter::flush() {
    if (!impl_->connection) return;
    // The bus handles one connection's messages in order: once it answers a ping, it has routed
    // every earlier post and installed every earlier subscription.
    VariantRef::adopt(g_dbus_connection_call_sync(impl_->connection.get(), "org.freedesktop.DBus",
                                                  "/org/freedesktop/DBus", "org.freedesktop.DBus.Peer", "Ping", nullptr,
                                                  nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr));
}

void DBusDistributedNotificationCenter::post(const std::string& name, const std::string& object,
                                             const Value& userInfo) {
    if (name.empty()) {
        logLine("[DistributedNotification] not posted: the name is empty");
        return;
    }
    std::vector<std::string> problems;
    DistributedNotification notification{name, object, userInfo};
    if (!impl_->connection) {
        notification.userInfo = wire::normalizedUserInfo(userInfo, &problems);
        if (!problems.empty()) logProblems(name.c_str(), nullptr, problems);
        RunLoop::main().post([weak = std::weak_ptr<Impl>(impl_), notification = std::move(notification)] {
            if (auto self = weak.lock()) self->observers->deliver(notification);
        });
        return;
    }
    GVariant* parameters = wire::encodeNotification(notification, &problems);
    if (!problems.empty()) logProblems(name.c_str(), nullptr, problems);
    GError* error = nullptr;
    if (!g_dbus_connection_emit_signal(impl_->connection.get(), nullptr, wire::kNotificationPath,
                                       wire::kNotificationInterface, wire::kNotificationMember, parameters,
                                       &error)) {
        logf("[DistributedNotification] cannot post %s: %s", name.c_str(), dbus::takeError(error).c_str());
    }
}

std::shared_ptr<void> DBusDistributedNotificationCenter::addObserver(std::string name,
                                                                     std::optional<std::string> object,
                                                                     Handler handler) {
    return impl_->observers->add(std::move(name), std::move(object), std::move(handler));
}

}  // namespace kit
