#pragma once
// What the hot keys and the screen capture share of the XDG desktop portal
// (org.freedesktop.portal.Desktop on the session bus): whether the session is a Wayland one, and
// the portal's request objects, whose Response signal carries a call's outcome.
//
// Main thread only.

#include <gio/gio.h>

#include <functional>
#include <string>

namespace kit::desktop::portal {

inline constexpr const char* kBusName = "org.freedesktop.portal.Desktop";
inline constexpr const char* kObjectPath = "/org/freedesktop/portal/desktop";

// Response codes of a request: done; cancelled by the user; ended otherwise (the portal or its
// backend failed).
inline constexpr guint32 kResponseSuccess = 0;
inline constexpr guint32 kResponseCancelled = 1;
inline constexpr guint32 kResponseFailed = 2;

// WAYLAND_DISPLAY is set, or the session says it is a Wayland one (XDG_SESSION_TYPE).
bool isWaylandSession();

// A token for the handle_token and session_handle_token options, unique in this process.
std::string newToken();
// The object path of the request a call made with `token` answers on.
std::string requestPath(GDBusConnection* bus, const std::string& token);

// A subscription to the Response of one request, delivered in the thread-default main context
// of the moment it is made. Unsubscribes when it goes.
class ResponseWatch {
public:
    using Handler = std::function<void(guint32 response, GVariant* results)>;

    ResponseWatch(GDBusConnection* bus, const std::string& requestPath, Handler handler);
    ~ResponseWatch();
    ResponseWatch(const ResponseWatch&) = delete;
    ResponseWatch& operator=(const ResponseWatch&) = delete;

private:
    GDBusConnection* bus_;
    guint subscription_ = 0;
    Handler handler_;
};

}  // namespace kit::desktop::portal
