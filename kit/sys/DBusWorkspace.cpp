#include "kit/sys/DBusWorkspace.h"

#include <unistd.h>

#include <algorithm>
#include <map>
#include <set>
#include <string_view>
#include <system_error>

#include "kit/base/GRef.h"
#include "kit/base/Log.h"
#include "kit/base/NotificationCenter.h"
#include "kit/base/Paths.h"
#include "kit/base/ProcessInfo.h"
#include "kit/base/RunLoop.h"
#include "kit/sys/DBusConnection.h"

namespace kit {

namespace {

constexpr const char* kBusName = "org.freedesktop.DBus";
constexpr const char* kBusPath = "/org/freedesktop/DBus";
constexpr const char* kBusInterface = "org.freedesktop.DBus";
constexpr const char* kApplicationPath = "/com/morvane/Application";
constexpr const char* kApplicationInterface = "com.morvane.Application";
constexpr const char* kApplicationIntrospection =
    "<node><interface name='com.morvane.Application'>"
    "<method name='Activate'><arg type='u' name='options' direction='in'/></method>"
    "</interface></node>";

// The services whose signals mean that the machine or its screens woke.
constexpr const char* kLoginName = "org.freedesktop.login1";
constexpr const char* kLoginPath = "/org/freedesktop/login1";
constexpr const char* kLoginInterface = "org.freedesktop.login1.Manager";
constexpr const char* kScreenSaverNames[] = {"org.freedesktop.ScreenSaver", "org.gnome.ScreenSaver"};

// RequestName flags and answers of the bus.
constexpr guint32 kDoNotQueue = 4;
constexpr guint32 kPrimaryOwner = 1;
constexpr guint32 kAlreadyOwner = 4;

GDBusInterfaceInfo* applicationInterfaceInfo() {
    static GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kApplicationIntrospection, nullptr);
    return node ? node->interfaces[0] : nullptr;
}

void postActivateRequest(unsigned options) {
    NotificationCenter::defaultCenter().post(kApplicationActivateRequest, nullptr,
                                             Value(Dictionary{{"options", Value(options)}}));
}

Value applicationInfo(const std::string& bundleIdentifier, int processId) {
    return Value(Dictionary{{"NSApplicationBundleIdentifier", Value(bundleIdentifier)},
                            {"NSApplicationProcessIdentifier", Value(processId)}});
}

}  // namespace

bool looksLikeBundleIdentifier(const std::string& busName) {
    if (busName.empty() || busName[0] == ':' || busName == kBusName) return false;
    return g_dbus_is_name(busName.c_str()) && busName.find('.') != std::string::npos;
}

struct DBusWorkspace::Impl : std::enable_shared_from_this<Impl> {
    dbus::BusConnection connection;
    const void* owner = nullptr;
    NotificationCenter notifications;
    // Process ids of the owners of well-known names, learnt when they appear: a terminated
    // owner can no longer be asked.
    std::map<std::string, int> knownProcessIds;
    std::set<std::string> ownedNames;
    guint nameOwnerSubscription = 0;
    guint applicationObject = 0;
    // Wake: the system bus's connection and the subscriptions on it and on ours.
    bool watchingWake = false;
    dbus::BusConnection systemConnection;
    guint sleepSubscription = 0;
    std::vector<guint> screenSaverSubscriptions;

    ~Impl() {
        if (nameOwnerSubscription) g_dbus_connection_signal_unsubscribe(connection.get(), nameOwnerSubscription);
        for (guint subscription : screenSaverSubscriptions) g_dbus_connection_signal_unsubscribe(connection.get(), subscription);
        if (applicationObject) g_dbus_connection_unregister_object(connection.get(), applicationObject);
        if (sleepSubscription) g_dbus_connection_signal_unsubscribe(systemConnection.get(), sleepSubscription);
        systemConnection.close();
        connection.close();
    }

    // A signal with one boolean that is false: the end of a sleep or of the screen saver.
    static void onWakeSignal(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* member,
                             GVariant* parameters, gpointer userData) {
        try {
            auto self = static_cast<std::weak_ptr<Impl>*>(userData)->lock();
            if (!self || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(b)"))) return;
            gboolean starting = TRUE;
            g_variant_get(parameters, "(b)", &starting);
            if (starting) return;
            const bool sleep = std::string_view(member) == "PrepareForSleep";
            logLine(sleep ? "[Workspace] the system woke" : "[Workspace] the screens woke");
            RunLoop::main().post([weak = std::weak_ptr<Impl>(self), sleep] {
                if (auto strong = weak.lock())
                    strong->notifications.post(sleep ? kWorkspaceDidWake : kWorkspaceScreensDidWake, strong->owner);
            });
        } catch (...) {
            logLine("[Workspace] failed to handle a wake signal");
        }
    }

    guint subscribeWake(GDBusConnection* bus, const char* sender, const char* interface, const char* member,
                        const char* path) {
        return g_dbus_connection_signal_subscribe(
            bus, sender, interface, member, path, nullptr, G_DBUS_SIGNAL_FLAGS_NONE, &Impl::onWakeSignal,
            new std::weak_ptr<Impl>(weak_from_this()), [](gpointer p) { delete static_cast<std::weak_ptr<Impl>*>(p); });
    }

    void watchWake(const std::string& systemBusAddress) {
        if (watchingWake) return;
        watchingWake = true;
        if (connection) {
            for (const char* name : kScreenSaverNames)
                screenSaverSubscriptions.push_back(subscribeWake(connection.get(), name, name, "ActiveChanged", nullptr));
        }
        std::string address = systemBusAddress;
        if (address.empty()) {
            GError* error = nullptr;
            gchar* systemAddress = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SYSTEM, nullptr, &error);
            if (!systemAddress) {
                logf("[Workspace] no system bus, so no wake from sleep: %s", dbus::takeError(error).c_str());
                return;
            }
            address = systemAddress;
            g_free(systemAddress);
        }
        auto system = dbus::openConnection(address);
        if (!system) {
            logf("[Workspace] no system bus, so no wake from sleep: %s", system.error().c_str());
            return;
        }
        systemConnection = std::move(*system);
        sleepSubscription = subscribeWake(systemConnection.get(), kLoginName, kLoginInterface, "PrepareForSleep", kLoginPath);
    }

    void start() {
        if (!connection) return;
        nameOwnerSubscription = g_dbus_connection_signal_subscribe(
            connection.get(), kBusName, kBusInterface, "NameOwnerChanged", kBusPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
            &Impl::onNameOwnerChanged, new std::weak_ptr<Impl>(weak_from_this()),
            [](gpointer p) { delete static_cast<std::weak_ptr<Impl>*>(p); });
        for (const auto& name : listNames())
            if (int pid = dbus::processIdOfName(connection.get(), name)) knownProcessIds[name] = pid;
    }

    std::vector<std::string> listNames() const {
        std::vector<std::string> names;
        GError* error = nullptr;
        auto reply = VariantRef::adopt(g_dbus_connection_call_sync(connection.get(), kBusName, kBusPath,
                                                                   kBusInterface, "ListNames", nullptr,
                                                                   G_VARIANT_TYPE("(as)"), G_DBUS_CALL_FLAGS_NONE, -1,
                                                                   nullptr, &error));
        if (!reply) {
            logf("[Workspace] cannot list the bus names: %s", dbus::takeError(error).c_str());
            return names;
        }
        GVariantIter* iter = nullptr;
        const gchar* name = nullptr;
        g_variant_get(reply.get(), "(as)", &iter);
        while (g_variant_iter_loop(iter, "&s", &name))
            if (looksLikeBundleIdentifier(name)) names.emplace_back(name);
        g_variant_iter_free(iter);
        std::sort(names.begin(), names.end());
        return names;
    }

    // The unique name owning a well-known name; empty when it has no owner.
    std::string ownerOf(const std::string& name) const {
        auto reply = VariantRef::adopt(g_dbus_connection_call_sync(
            connection.get(), kBusName, kBusPath, kBusInterface, "GetNameOwner", g_variant_new("(s)", name.c_str()),
            G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr));
        if (!reply) return {};
        const gchar* unique = nullptr;
        g_variant_get(reply.get(), "(&s)", &unique);
        std::string result = unique ? unique : "";
        return result;
    }

    void postOnMainLoop(const char* notificationName, const std::string& bundleIdentifier, int processId) {
        RunLoop::main().post([weak = weak_from_this(), notificationName, bundleIdentifier, processId] {
            if (auto self = weak.lock())
                self->notifications.post(notificationName, self->owner, applicationInfo(bundleIdentifier, processId));
        });
    }

    void nameOwnerChanged(const std::string& name, const std::string& oldOwner, const std::string& newOwner) {
        if (!looksLikeBundleIdentifier(name)) return;
        if (!oldOwner.empty()) {
            int pid = 0;
            if (auto it = knownProcessIds.find(name); it != knownProcessIds.end()) {
                pid = it->second;
                knownProcessIds.erase(it);
            }
            postOnMainLoop(kWorkspaceDidTerminateApplication, name, pid);
        }
        if (!newOwner.empty()) {
            int pid = dbus::processIdOfName(connection.get(), newOwner);
            if (pid) knownProcessIds[name] = pid;
            postOnMainLoop(kWorkspaceDidLaunchApplication, name, pid);
        }
    }

    static void onNameOwnerChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                                   GVariant* parameters, gpointer userData) {
        try {
            auto self = static_cast<std::weak_ptr<Impl>*>(userData)->lock();
            if (!self || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(sss)"))) return;
            const gchar* name = nullptr;
            const gchar* oldOwner = nullptr;
            const gchar* newOwner = nullptr;
            g_variant_get(parameters, "(&s&s&s)", &name, &oldOwner, &newOwner);
            self->nameOwnerChanged(name, oldOwner, newOwner);
        } catch (const std::exception& e) {
            logf("[Workspace] failed to handle a name change: %s", e.what());
        } catch (...) {
            logLine("[Workspace] failed to handle a name change");
        }
    }

    static void onMethodCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                             GVariant* parameters, GDBusMethodInvocation* invocation, gpointer) {
        // GDBus has already checked the arguments against the interface.
        if (std::string_view(method) != "Activate") {
            g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD,
                                                  "unknown method %s", method);
            return;
        }
        guint32 options = 0;
        g_variant_get(parameters, "(u)", &options);
        g_dbus_method_invocation_return_value(invocation, nullptr);
        try {
            RunLoop::main().post([options] { postActivateRequest(options); });
        } catch (...) {
            logLine("[Workspace] failed to handle an activation request");
        }
    }

    bool exportApplicationObject() {
        if (applicationObject) return true;
        GDBusInterfaceInfo* info = applicationInterfaceInfo();
        if (!info) return false;
        static const GDBusInterfaceVTable vtable = {&Impl::onMethodCall, nullptr, nullptr, {}};
        GError* error = nullptr;
        applicationObject = g_dbus_connection_register_object(connection.get(), kApplicationPath, info, &vtable, nullptr,
                                                              nullptr, &error);
        if (!applicationObject) {
            logf("[Workspace] cannot export %s: %s", kApplicationPath, dbus::takeError(error).c_str());
            return false;
        }
        return true;
    }
};

DBusWorkspace::DBusWorkspace(std::shared_ptr<Impl> impl) : impl_(std::move(impl)) {
    impl_->owner = this;
    impl_->start();
}

DBusWorkspace::~DBusWorkspace() = default;

Result<std::shared_ptr<DBusWorkspace>> DBusWorkspace::connect(const std::string& address) {
    auto connection = dbus::openConnection(address);
    if (!connection) return Error{connection.error()};
    auto impl = std::make_shared<Impl>();
    impl->connection = std::move(*connection);
    return std::shared_ptr<DBusWorkspace>(new DBusWorkspace(impl));
}

std::shared_ptr<DBusWorkspace> DBusWorkspace::disconnected() {
    return std::shared_ptr<DBusWorkspace>(new DBusWorkspace(std::make_shared<Impl>()));
}

void DBusWorkspace::watchSystemWake(const std::string& systemBusAddress) { impl_->watchWake(systemBusAddress); }

bool DBusWorkspace::isConnected() const {
    return impl_->connection && !g_dbus_connection_is_closed(impl_->connection.get());
}

bool DBusWorkspace::registerApplication(const std::string& bundleIdentifier) {
    if (!impl_->connection) {
        logf("[Workspace] cannot register %s: no bus", bundleIdentifier.c_str());
        return false;
    }
    if (!g_dbus_is_name(bundleIdentifier.c_str()) || g_dbus_is_unique_name(bundleIdentifier.c_str())) {
        logf("[Workspace] cannot register \"%s\": not a bus name", bundleIdentifier.c_str());
        return false;
    }
    // Exported first, so that a process that sees the name appear can already activate us.
    impl_->exportApplicationObject();
    GError* error = nullptr;
    auto reply = VariantRef::adopt(g_dbus_connection_call_sync(
        impl_->connection.get(), kBusName, kBusPath, kBusInterface, "RequestName",
        g_variant_new("(su)", bundleIdentifier.c_str(), kDoNotQueue), G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE,
        -1, nullptr, &error));
    if (!reply) {
        logf("[Workspace] cannot register %s: %s", bundleIdentifier.c_str(), dbus::takeError(error).c_str());
        return false;
    }
    guint32 answer = 0;
    g_variant_get(reply.get(), "(u)", &answer);
    if (answer != kPrimaryOwner && answer != kAlreadyOwner) return false;
    impl_->ownedNames.insert(bundleIdentifier);
    return true;
}

std::vector<RunningApplication> DBusWorkspace::runningApplications(const std::string& bundleIdentifier) {
    std::vector<RunningApplication> result;
    if (!impl_->connection) return result;
    std::vector<std::string> names;
    if (bundleIdentifier.empty()) names = impl_->listNames();
    else if (looksLikeBundleIdentifier(bundleIdentifier)) names.push_back(bundleIdentifier);
    for (const auto& name : names) {
        std::string owner = impl_->ownerOf(name);
        if (owner.empty()) continue;
        result.push_back({name, dbus::processIdOfName(impl_->connection.get(), owner)});
    }
    return result;
}

void DBusWorkspace::activate(const std::string& bundleIdentifier, unsigned options) {
    const std::string& ours = process::bundleIdentifier();
    if ((!ours.empty() && bundleIdentifier == ours) || impl_->ownedNames.contains(bundleIdentifier)) {
        postActivateRequest(options);
        return;
    }
    if (!impl_->connection || !g_dbus_is_name(bundleIdentifier.c_str())) {
        logf("[Workspace] cannot activate \"%s\"", bundleIdentifier.c_str());
        return;
    }
    // No callback: the call goes out without asking for a reply.
    g_dbus_connection_call(impl_->connection.get(), bundleIdentifier.c_str(), kApplicationPath, kApplicationInterface,
                           "Activate", g_variant_new("(u)", static_cast<guint32>(options)), nullptr,
                           G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, nullptr, nullptr, nullptr);
}

NotificationCenter& DBusWorkspace::notificationCenter() { return impl_->notifications; }

bool DBusWorkspace::launchApplication(const std::string& platformBundlePath,
                                      const std::vector<std::string>& arguments, unsigned) {
    if (platformBundlePath.empty()) {
        logLine("[Workspace] cannot launch: no bundle path");
        return false;
    }
    std::filesystem::path executable = bundleExecutablePath(paths::resolveSystemPath(platformBundlePath));
    std::error_code error;
    if (!std::filesystem::is_regular_file(executable, error) || ::access(executable.c_str(), X_OK) != 0) {
        logf("[Workspace] cannot launch %s: no executable at %s", platformBundlePath.c_str(), executable.c_str());
        return false;
    }
    std::vector<gchar*> argv;
    std::string program = executable.string();
    argv.push_back(program.data());
    for (const auto& argument : arguments) argv.push_back(const_cast<gchar*>(argument.c_str()));
    argv.push_back(nullptr);
    // Without a pid to return and without DO_NOT_REAP_CHILD, GLib starts the program through an
    // intermediate child, so it is detached and never left a zombie.
    GError* spawnError = nullptr;
    if (!g_spawn_async(nullptr, argv.data(), nullptr, G_SPAWN_STDIN_FROM_DEV_NULL, nullptr, nullptr, nullptr,
                       &spawnError)) {
        logf("[Workspace] cannot launch %s: %s", executable.c_str(), dbus::takeError(spawnError).c_str());
        return false;
    }
    return true;
}

bool DBusWorkspace::openURL(const std::string& url) {
    if (url.empty()) {
        logLine("[Workspace] cannot open an empty address");
        return false;
    }
    GError* error = nullptr;
    if (!g_app_info_launch_default_for_uri(url.c_str(), nullptr, &error)) {
        logf("[Workspace] cannot open %s: %s", url.c_str(), dbus::takeError(error).c_str());
        return false;
    }
    return true;
}

}  // namespace kit
