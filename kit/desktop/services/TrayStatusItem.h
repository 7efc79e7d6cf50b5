#pragma once
// Status items in the system tray (the XEmbed tray of X11 desktops, through GtkStatusIcon). A
// click on the icon is the button's click. A template image takes the colour the tray publishes
// for icons, else black or white by the better contrast with the panel's pixels behind the icon
// (read after each embedding and whenever the tray paints), else the theme's text colour. The
// item reports the tray's window back to the model: it exists while the icon is embedded, and has
// a frame once the tray has placed the icon (again whenever the icon or the tray moves). Without
// a tray the item is simply not shown (logged once).

#include <memory>
#include <optional>
#include <vector>

#include <gdk/gdk.h>

#include "kit/base/Color.h"
#include "kit/base/GRef.h"
#include "kit/base/GSignal.h"
#include "kit/base/Lifetime.h"
#include "kit/ui/StatusItem.h"

typedef struct _GtkStatusIcon GtkStatusIcon;  // NOLINT(bugprone-reserved-identifier): GTK's own tag, declared ahead

namespace kit::desktop {

class TrayStatusItemPeer final : public StatusItemPeer {
public:
    explicit TrayStatusItemPeer(StatusItem& item);
    ~TrayStatusItemPeer() override;
    TrayStatusItemPeer(const TrayStatusItemPeer&) = delete;
    TrayStatusItemPeer& operator=(const TrayStatusItemPeer&) = delete;

    void statusItemChanged(StatusItem& item) override;
    void statusItemRemoved(StatusItem& item) override;

    GtkStatusIcon* icon() const { return icon_.get(); }
    // Whether the display has a system tray to show items in.
    static bool trayAvailable();

private:
    void reportState();
    bool iconIsViewable() const;
    void applyImage();
    // Reads the tray's colours a few times over the next seconds (a panel may draw late).
    void sampleTrayColours(int remaining);
    // Watches the windows that hold the icon (the tray's, and a window manager's frame) for
    // moves, and the tray for painting; stops watching.
    void watchTray();
    void unwatchTray();
    static GdkFilterReturn filterTrayEvents(GdkXEvent* xevent, GdkEvent* event, gpointer data);
    // Reports the icon's place (and reads the tray's colours) again on a later turn, once for a
    // burst of changes.
    void scheduleUpdate(bool rewatch, bool colours);

    StatusItem& item_;
    GRef<GtkStatusIcon> icon_;
    bool removed_ = false;
    bool embedded_ = false;
    // The tray's tint for template images, once known.
    std::optional<Color> trayTint_;
    // X windows above the icon watched for moves, the tray's damage object, and what is due.
    std::vector<unsigned long> watched_;
    unsigned long damage_ = 0;
    // The event type of its notices, found once: every X event of the process passes the filter.
    int damageNotify_ = 0;
    bool updateScheduled_ = false;
    bool rewatchDue_ = false;
    bool coloursDue_ = false;
    Lifetime alive_;
    // On icon_, declared after it so that they go first.
    SignalConnections signals_;
};

}  // namespace kit::desktop
