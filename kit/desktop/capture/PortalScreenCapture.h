#pragma once
// Screen capture on Wayland sessions, where the X root window holds only the XWayland windows:
// the XDG desktop portal's Screenshot interface, interactive, so the desktop's own tool lets the
// user pick the region. The file it answers with is read and handed on as PNG data, and put on
// the general pasteboard, as the X11 capture does; the user's cancel, the portal's failure and a
// missing portal each end the selection with nothing, and each is logged as what it is.
//
// Main thread only.

#include <gio/gio.h>

#include <memory>
#include <string>

#include "kit/base/Lifetime.h"
#include "kit/base/Result.h"
#include "kit/desktop/services/DesktopPortal.h"
#include "kit/sys/DBusConnection.h"
#include "kit/sys/ScreenCapture.h"

namespace kit::desktop {

class PortalScreenCapture final : public ScreenCapture {
public:
    // Captures through the portal on the bus at `busAddress` (empty: the session bus).
    static Result<std::shared_ptr<PortalScreenCapture>> make(const std::string& busAddress = {});
    // A selection still open is cancelled (its completion still runs).
    ~PortalScreenCapture() override;
    PortalScreenCapture(const PortalScreenCapture&) = delete;
    PortalScreenCapture& operator=(const PortalScreenCapture&) = delete;

    // The portal asks the user itself.
    bool hasPermission() override { return true; }
    bool requestPermission() override { return true; }
    void selectRegion(Completion completion) override;
    void cancelSelection() override;
    bool isSelecting() const override { return static_cast<bool>(completion_); }

private:
    explicit PortalScreenCapture(dbus::BusConnection bus) : bus_(std::move(bus)) {}
    void finish(std::optional<std::vector<std::uint8_t>> png);
    void answered(guint32 response, GVariant* results);

    dbus::BusConnection bus_;
    Completion completion_;
    std::string request_;
    std::unique_ptr<portal::ResponseWatch> watch_;
    Lifetime alive_;
};

}  // namespace kit::desktop
