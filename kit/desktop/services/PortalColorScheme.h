#pragma once
// The desktop's light or dark preference as the XDG desktop portal's Settings interface states
// it: the key "color-scheme" of the namespace "org.freedesktop.appearance" (1 prefers dark,
// 2 prefers light, 0 states no preference). It is read when the portal appears on the bus
// (started on demand where the bus can start it), followed through the portal's SettingChanged
// signal, and forgotten when the portal goes. Nothing blocks: until the portal answers there is
// no preference.
//
// Main thread only.

#include <gio/gio.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "kit/base/Lifetime.h"
#include "kit/base/Result.h"
#include "kit/sys/DBusConnection.h"
#include "kit/ui/Appearance.h"

namespace kit::desktop {

class PortalColorScheme {
public:
    // Called on the main loop whenever preference() changes.
    using Changed = std::function<void()>;

    // Follows the portal on the bus at `busAddress` (empty: the session bus).
    static Result<std::unique_ptr<PortalColorScheme>> make(Changed changed, const std::string& busAddress = {});
    ~PortalColorScheme();
    PortalColorScheme(const PortalColorScheme&) = delete;
    PortalColorScheme& operator=(const PortalColorScheme&) = delete;

    // The portal's preference; nullopt while no portal answers or it states none.
    std::optional<Appearance> preference() const { return preference_; }

    // The appearance a "color-scheme" value asks for; nullopt for no preference or a value
    // that is not one.
    static std::optional<Appearance> fromValue(GVariant* value);

private:
    PortalColorScheme(dbus::BusConnection bus, Changed changed);
    struct ReadCall;
    void read(const char* method);
    static void answered(GObject* source, GAsyncResult* result, gpointer data);
    void set(std::optional<Appearance> preference);

    dbus::BusConnection bus_;
    Changed changed_;
    std::optional<Appearance> preference_;
    guint nameWatch_ = 0;
    guint subscription_ = 0;
    // Counts the changes the portal signalled and its departures, so that an answer to a read
    // sent before one of them does not undo it.
    unsigned changes_ = 0;
    Lifetime alive_;
};

}  // namespace kit::desktop
