#pragma once
// Status items in the system tray (the XEmbed tray of X11 desktops, through GtkStatusIcon). A
// click on the icon is the button's click. A template image takes the colour the tray publishes
// for icons, else black or white by the better contrast with the panel's pixels behind the icon
// (read after each embedding, once the panel has drawn), else the theme's text colour. The item reports the tray's
// window back to the model: it exists while the icon is embedded. Without a tray the item is simply not shown (logged
// once).

#include <memory>
#include <optional>

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
    void applyImage();
    // Reads the tray's colours a few times over the next seconds (a panel may draw late).
    void sampleTrayColours(int remaining);

    StatusItem& item_;
    GRef<GtkStatusIcon> icon_;
    bool removed_ = false;
    bool embedded_ = false;
    // The tray's tint for template images, once known.
    std::optional<Color> trayTint_;
    Lifetime alive_;
    // On icon_, declared after it so that they go first.
    SignalConnections signals_;
};

}  // namespace kit::desktop
