#pragma once
// Global hot keys on Wayland sessions, where an X key grab only fires while one of our own windows
// has the focus: the XDG desktop portal's GlobalShortcuts interface. Each combination is one
// portal session holding one shortcut, bound with the combination as its preferred trigger (the
// desktop may ask the user to confirm or change it); its Activated signals are presses. Letting a
// combination go closes its session.
//
// Binding waits for the portal's answer, which may take until the user has answered the
// desktop's dialog (at most kBindTimeoutSeconds); only the portal's own messages run meanwhile.
// A portal that is missing, refuses or does not answer fails the registration, logged.
//
// Main thread only.

#include <gio/gio.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kit/base/GRef.h"
#include "kit/sys/DBusConnection.h"
#include "kit/sys/GlobalHotKeys.h"

namespace kit::desktop {

class PortalGlobalHotKeys final : public GlobalHotKeys {
public:
    static constexpr unsigned kBindTimeoutSeconds = 60;

    // Hot keys through the portal on the bus at `busAddress` (empty: the session bus).
    static Result<std::shared_ptr<PortalGlobalHotKeys>> make(const std::string& busAddress = {});
    ~PortalGlobalHotKeys() override;
    PortalGlobalHotKeys(const PortalGlobalHotKeys&) = delete;
    PortalGlobalHotKeys& operator=(const PortalGlobalHotKeys&) = delete;

    // The XDG portal's trigger syntax for a combination ("CTRL+ALT+j", "LOGO+SHIFT+F1"):
    // modifiers, then the key's keysym name; nullopt for a key without one.
    static std::optional<std::string> triggerFor(const HotKeyCombination& combination);

protected:
    Status grab(const HotKeyCombination& combination) override;
    void ungrab(const HotKeyCombination& combination) override;

private:
    struct Binding {
        HotKeyCombination combination;
        std::string session;
        std::string shortcutId;
    };

    explicit PortalGlobalHotKeys(dbus::BusConnection bus);
    // Calls a portal method that answers through a request object; waits for the Response.
    Result<VariantRef> request(const char* method, GVariant* parameters, const std::string& token);
    void closeSession(const std::string& session);
    void activated(const std::string& session, const std::string& shortcutId);

    dbus::BusConnection bus_;
    guint activatedSubscription_ = 0;
    std::vector<Binding> bindings_;
};

}  // namespace kit::desktop
