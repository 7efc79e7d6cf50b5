#include "kit/desktop/services/PortalColorScheme.h"

#include <cstring>

#include "kit/base/GRef.h"
#include "kit/base/Log.h"
#include "kit/desktop/services/DesktopPortal.h"

namespace kit::desktop {

namespace {

constexpr const char* kSettingsInterface = "org.freedesktop.portal.Settings";
constexpr const char* kNamespace = "org.freedesktop.appearance";
constexpr const char* kKey = "color-scheme";

}  // namespace

Result<std::unique_ptr<PortalColorScheme>> PortalColorScheme::make(Changed changed, const std::string& busAddress) {
    auto bus = dbus::openConnection(busAddress);
    if (!bus) return Error{bus.error()};
    return std::unique_ptr<PortalColorScheme>(new PortalColorScheme(std::move(*bus), std::move(changed)));
}

PortalColorScheme::PortalColorScheme(dbus::BusConnection bus, Changed changed)
    : bus_(std::move(bus)), changed_(std::move(changed)) {
    subscription_ = g_dbus_connection_signal_subscribe(
        bus_.get(), portal::kBusName, kSettingsInterface, "SettingChanged", portal::kObjectPath, kNamespace,
        G_DBUS_SIGNAL_FLAGS_NONE,
        +[](GDBusConnection*, const char*, const char*, const char*, const char*, GVariant* parameters, gpointer data) {
            if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ssv)"))) return;
            const char* key = nullptr;
            GVariant* value = nullptr;
            g_variant_get(parameters, "(&s&sv)", nullptr, &key, &value);
            auto owned = VariantRef::adopt(value);
            if (std::strcmp(key, kKey) != 0) return;
            auto* self = static_cast<PortalColorScheme*>(data);
            ++self->changes_;
            self->set(fromValue(owned.get()));
        },
        this, nullptr);
    // Started on demand: on many desktops the portal is activated by its first caller.
    nameWatch_ = g_bus_watch_name_on_connection(
        bus_.get(), portal::kBusName, G_BUS_NAME_WATCHER_FLAGS_AUTO_START,
        +[](GDBusConnection*, const char*, const char*, gpointer data) {
            static_cast<PortalColorScheme*>(data)->read("ReadOne");
        },
        +[](GDBusConnection*, const char*, gpointer data) {
            // A read still on its way answers for a portal that is gone.
            auto* self = static_cast<PortalColorScheme*>(data);
            ++self->changes_;
            self->set(std::nullopt);
        },
        this, nullptr);
}

PortalColorScheme::~PortalColorScheme() {
    alive_.end();
    if (nameWatch_) g_bus_unwatch_name(nameWatch_);
    if (subscription_) g_dbus_connection_signal_unsubscribe(bus_.get(), subscription_);
    bus_.close();
}

std::optional<Appearance> PortalColorScheme::fromValue(GVariant* value) {
    // The older Read answers the value inside one more variant.
    auto unwrapped = VariantRef::retain(value);
    while (unwrapped && g_variant_is_of_type(unwrapped.get(), G_VARIANT_TYPE_VARIANT))
        unwrapped = VariantRef::adopt(g_variant_get_variant(unwrapped.get()));
    if (!unwrapped || !g_variant_is_of_type(unwrapped.get(), G_VARIANT_TYPE_UINT32)) return std::nullopt;
    switch (g_variant_get_uint32(unwrapped.get())) {
        case 1: return Appearance::Dark;
        case 2: return Appearance::Light;
        default: return std::nullopt;
    }
}

struct PortalColorScheme::ReadCall {
    PortalColorScheme* self;
    LifetimeWatch alive;
    unsigned changes;
    const char* method;
};

void PortalColorScheme::read(const char* method) {
    g_dbus_connection_call(bus_.get(), portal::kBusName, portal::kObjectPath, kSettingsInterface, method,
                           g_variant_new("(ss)", kNamespace, kKey), G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE, -1,
                           nullptr, &PortalColorScheme::answered, new ReadCall{this, alive_.watch(), changes_, method});
}

void PortalColorScheme::answered(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<ReadCall> call(static_cast<ReadCall*>(data));
    GError* error = nullptr;
    auto reply = VariantRef::adopt(g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error));
    const bool older = !reply && g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD);
    const std::string why = reply ? std::string() : dbus::takeError(error);
    if (call->alive.expired()) return;
    PortalColorScheme* self = call->self;
    if (!reply) {
        // Portals before ReadOne have only Read.
        if (older && std::strcmp(call->method, "ReadOne") == 0) {
            self->read("Read");
        } else {
            logf("The desktop portal does not tell the desktop's colour scheme: %s", why.c_str());
        }
        return;
    }
    if (self->changes_ != call->changes) return;  // a change came after this answer was asked for
    GVariant* value = nullptr;
    g_variant_get(reply.get(), "(v)", &value);
    auto owned = VariantRef::adopt(value);
    self->set(fromValue(owned.get()));
}

void PortalColorScheme::set(std::optional<Appearance> preference) {
    if (preference == preference_) return;
    preference_ = preference;
    if (changed_) changed_();
}

}  // namespace kit::desktop
