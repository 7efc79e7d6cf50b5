#include "kit/desktop/services/DesktopPortal.h"

#include <cstdlib>
#include <cstring>

#include "kit/base/GRef.h"
#include "kit/base/Log.h"

namespace kit::desktop::portal {

bool isWaylandSession() {
    const char* display = std::getenv("WAYLAND_DISPLAY");
    if (display && *display) return true;
    const char* type = std::getenv("XDG_SESSION_TYPE");
    return type && std::strcmp(type, "wayland") == 0;
}

std::string newToken() {
    static unsigned counter = 0;
    return "kit" + std::to_string(++counter);
}

std::string requestPath(GDBusConnection* bus, const std::string& token) {
    // The caller's unique name without its colon, dots made underscores: ":1.42" is "1_42".
    const char* unique = g_dbus_connection_get_unique_name(bus);
    std::string sender = unique && unique[0] == ':' ? unique + 1 : (unique ? unique : "");
    for (char& c : sender)
        if (c == '.') c = '_';
    return std::string(kObjectPath) + "/request/" + sender + "/" + token;
}

ResponseWatch::ResponseWatch(GDBusConnection* bus, const std::string& requestPath, Handler handler)
    : bus_(bus), handler_(std::move(handler)) {
    subscription_ = g_dbus_connection_signal_subscribe(
        bus_, kBusName, "org.freedesktop.portal.Request", "Response", requestPath.c_str(), nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE,
        +[](GDBusConnection*, const char*, const char*, const char*, const char*, GVariant* parameters, gpointer self) {
            if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ua{sv})"))) return;
            guint32 response = 0;
            GVariant* answer = nullptr;
            g_variant_get(parameters, "(u@a{sv})", &response, &answer);
            auto results = VariantRef::adopt(answer);
            // Copied: the handler may end this watch.
            auto handler = static_cast<ResponseWatch*>(self)->handler_;
            try {
                if (handler) handler(response, results.get());
            } catch (...) {
                logLine("Uncaught exception in a desktop portal's answer");
            }
        },
        this, nullptr);
}

ResponseWatch::~ResponseWatch() {
    if (subscription_) g_dbus_connection_signal_unsubscribe(bus_, subscription_);
}

}  // namespace kit::desktop::portal
