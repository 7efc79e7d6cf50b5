#pragma once
// The desktop user-interface backend on GTK 3 and X11: window peers, the screens and work
// areas of the display's monitors, the pointer, the system appearance, file panels and the
// clipboard. Made and installed by kit::desktop::install().

#include <gtk/gtk.h>

#include <memory>
#include <optional>
#include <vector>

#include "kit/base/GSignal.h"
#include "kit/base/Lifetime.h"
#include "kit/desktop/CoordinateSpace.h"
#include "kit/desktop/services/PortalColorScheme.h"
#include "kit/ui/Backend.h"
#include "kit/ui/Screen.h"

namespace kit::desktop {

class DesktopClipboard;

class GtkBackend final : public UiBackend {
public:
    explicit GtkBackend(GdkDisplay* display);
    ~GtkBackend() override;
    GtkBackend(const GtkBackend&) = delete;
    GtkBackend& operator=(const GtkBackend&) = delete;

    std::unique_ptr<WindowPeer> makeWindowPeer(Window& window) override;
    Point mouseLocation() const override;
    unsigned pressedMouseButtons() const override;
    unsigned modifierFlags() const override;
    // The desktop portal's colour scheme where it states one; else GTK's preference for dark, a
    // theme named "...-dark", or GTK_THEME naming a dark theme or variant ("Adwaita:dark").
    Appearance systemAppearance() const override;
    // Whether a compositor runs on the screen.
    bool drawsWindowShadows() const override;
    PanelAnswer runOpenPanel(const OpenPanel& panel) override;
    PanelAnswer runSavePanel(const SavePanel& panel) override;
    void pasteboardDidChange(const Pasteboard& pasteboard) override;

    GdkDisplay* display() const { return display_; }
    // Reads the monitors again and tells kit/ui (Screen::updateScreens) and every window.
    void refreshScreens() const;
    // The screens as the display describes them now, main screen first.
    std::vector<ScreenDescription> describeScreens(CoordinateSpace& space) const;

private:
    static GdkFilterReturn rootFilter(GdkXEvent* xevent, GdkEvent* event, gpointer self);
    void scheduleScreenRefresh();
    std::optional<DisplayRect> workAreaFromProperty(const DisplayRect& monitor, int scale) const;

    GdkDisplay* display_;
    GdkWindow* root_;
    // On the display, its screen and the screen's settings.
    SignalConnections signals_;
    bool refreshScheduled_ = false;
    std::unique_ptr<DesktopClipboard> clipboard_;
    std::unique_ptr<PortalColorScheme> colorScheme_;
    Lifetime alive_;
};

}  // namespace kit::desktop
