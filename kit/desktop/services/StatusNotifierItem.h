#pragma once
// Status items on desktops that show tray items through D-Bus (KDE Plasma, GNOME's AppIndicator
// extension, Cinnamon, XFCE's plugin): the StatusNotifierItem interface, registered with the
// org.kde.StatusNotifierWatcher of the session bus. Where no watcher runs, the XEmbed tray icon
// (TrayStatusItemPeer) shows the item instead; the choice follows the watcher as it comes, goes
// and restarts.
//
// The item offers the button's image by name (a PNG of it in a private folder of the user's
// runtime directory, named by the button's image name and the process, as IconThemePath and
// IconName) and as
// pixmaps at the sizes panels use, template images tinted for the theme as the tray does; its
// title and tooltip are the button's tooltip, or the application's name. It has no menu. A primary
// click (Activate) is the button's click, on a later turn of the main loop.
//
// Main thread only. Each peer has its own bus connection, so its object path and name are its own.

#include <gio/gio.h>

#include <memory>
#include <string>

#include "kit/base/Lifetime.h"
#include "kit/base/Result.h"
#include "kit/sys/DBusConnection.h"
#include "kit/ui/Image.h"
#include "kit/ui/StatusItem.h"

namespace kit::desktop {

class TrayStatusItemPeer;

// One exported StatusNotifierItem, under a well-known name of its own
// ("org.kde.StatusNotifierItem-<pid>-<n>") at /StatusNotifierItem.
class StatusNotifierItem {
public:
    static constexpr const char* kObjectPath = "/StatusNotifierItem";

    // Exports the item on the connection (borrowed; it must outlive the item) and takes its name.
    static Result<std::unique_ptr<StatusNotifierItem>> make(GDBusConnection* bus, StatusItem& item);
    ~StatusNotifierItem();
    StatusNotifierItem(const StatusNotifierItem&) = delete;
    StatusNotifierItem& operator=(const StatusNotifierItem&) = delete;

    const std::string& serviceName() const { return serviceName_; }
    // Tells the watcher about the item (again, after the watcher restarted); failures are logged.
    void registerWithWatcher();
    // Re-reads the button; hosts are told what changed.
    void update();

private:
    StatusNotifierItem(GDBusConnection* bus, StatusItem& item) : bus_(bus), item_(item) {}
    static void methodCall(GDBusConnection*, const char*, const char*, const char*, const char* method,
                           GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data);
    static GVariant* property(GDBusConnection*, const char*, const char*, const char*, const char* name, GError**,
                              gpointer data);
    GVariant* pixmaps() const;
    GVariant* toolTip() const;
    std::string title() const;
    void emit(const char* signal, GVariant* arguments = nullptr);
    void reportWindow();

    GDBusConnection* bus_;
    StatusItem& item_;
    std::string serviceName_;
    guint registration_ = 0;
    void removeIconFiles();
    // The name the hosts look the icon up by: a template image's recolourable variant.
    std::string iconNameForHosts() const;

    // What the hosts were last given: <iconName_>.png, and for a template image also
    // <iconName_>-symbolic.svg, which a host recolours to its panel's text.
    std::string iconName_;
    bool symbolic_ = false;
    std::string iconFolder_;
    std::string title_;
    std::string iconKey_;
    Image shown_;
    bool hasClickPoint_ = false;
    double clickX_ = 0;
    double clickY_ = 0;
    Lifetime alive_;
};

// The peer that StatusBar makes on the desktop: a StatusNotifierItem while the session bus has a
// watcher, the XEmbed tray icon otherwise.
class DesktopStatusItemPeer final : public StatusItemPeer {
public:
    static constexpr const char* kWatcherName = "org.kde.StatusNotifierWatcher";

    explicit DesktopStatusItemPeer(StatusItem& item);
    ~DesktopStatusItemPeer() override;
    DesktopStatusItemPeer(const DesktopStatusItemPeer&) = delete;
    DesktopStatusItemPeer& operator=(const DesktopStatusItemPeer&) = delete;

    void statusItemChanged(StatusItem& item) override;
    void statusItemRemoved(StatusItem& item) override;

    // Desktop only: which one shows the item now (at most one is non-null).
    StatusNotifierItem* notifierItem() const { return notifier_.get(); }
    TrayStatusItemPeer* trayItem() const { return tray_.get(); }

private:
    void watcherAppeared(const std::string& owner);
    void watcherVanished();
    void useTray();

    StatusItem& item_;
    dbus::BusConnection bus_;
    guint watch_ = 0;
    std::string watcherOwner_;
    bool shown_ = false;
    bool removed_ = false;
    std::unique_ptr<StatusNotifierItem> notifier_;
    std::unique_ptr<TrayStatusItemPeer> tray_;
};

}  // namespace kit::desktop
