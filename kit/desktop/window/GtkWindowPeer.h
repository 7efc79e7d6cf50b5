#pragma once
// A kit window on the desktop: an undecorated GTK top-level holding a canvas that paints the
// window's views. The model is the truth: every change it reports is applied here, converted to
// display coordinates; what the user or the window manager does (moving, resizing, focus,
// minimising, full screen, closing) goes back into the model.
//
// Owned by its kit::Window; the GTK widgets live exactly as long as the peer.

#include <gtk/gtk.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <vector>

#include "kit/base/GSignal.h"
#include "kit/desktop/CoordinateSpace.h"
#include "kit/ui/Backend.h"
#include "kit/ui/Event.h"

namespace kit::desktop {

class GtkWindowPeer final : public WindowPeer {
public:
    explicit GtkWindowPeer(Window& window);
    ~GtkWindowPeer() override;
    GtkWindowPeer(const GtkWindowPeer&) = delete;
    GtkWindowPeer& operator=(const GtkWindowPeer&) = delete;

    void windowDidChange(WindowChange change) override;
    void windowNeedsDisplay() override;
    bool reportsOcclusion() const override { return true; }

    GtkWidget* gtkWindow() const { return window_; }
    GtkWidget* canvas() const { return canvas_; }
    Window& model() const { return model_; }
    std::uint64_t framesDrawn() const { return framesDrawn_; }

    // Every live peer, in creation order (main thread).
    static const std::vector<GtkWindowPeer*>& all();
    static GtkWindowPeer* forWindow(const Window& window);
    // The screens moved: the same model frames now lie elsewhere on the display.
    void screensChanged();
    // Called after every frame a window draws (benchmarks and tests watch it).
    static void setFrameObserver(std::function<void(Window&)> observer);
    // A compositor came or went: every window is shaped, or not, anew.
    static void compositingChanged();
    // Whether other windows cover this one completely (see OcclusionWatch).
    void setFullyObscured(bool obscured);
    // A press, release or scroll that a web page in this window took itself: the application's
    // local monitors see it, and a left press there brings the application back to the front
    // as a click on the window's own views does.
    void pageTookEvent(const GdkEvent* event);
    // A button went down over another application's window, which takes the focus with it: the
    // application resigns now, so that what runs for the press sees no key window of ours.
    static void pressWentElsewhere();

private:
    // The window's type and size limits for the window manager.
    void applyWindowManagerHints();
    void applyGeometry();
    void applyStyle();
    void applyLevel();
    void applyLook();
    void applySheet();
    void syncVisibility();
    void announceRestingPlace();
    bool shouldBeMapped() const;
    // Whether the window lets what lies behind it show anywhere, and so is drawn off screen first
    // and shaped where the display cannot blend.
    bool drawsShaped() const;
    void clearShape();
    void updateShape(cairo_surface_t* surface);
    Event mouseEvent(EventType type, double x, double y, unsigned state) const;
    void send(Event event);

    gboolean onDraw(cairo_t* cr);
    gboolean onButton(GdkEventButton* event);
    gboolean onMotion(GdkEventMotion* event);
    gboolean onScroll(GdkEventScroll* event);
    gboolean onCrossing(GdkEventCrossing* event);
    gboolean onKey(GdkEventKey* event);
    gboolean onConfigure(GdkEventConfigure* event);
    // Takes a frame the window manager or the user gave the window as the window's own.
    void displayPlaced(const DisplayRect& got);
    gboolean onWindowState(GdkEventWindowState* event);
    gboolean onMapChange(GdkEvent* event);
    void reportOcclusion();
    gboolean onDelete();
    void onActiveChanged();
    // Resigns the application's activation once no window of the process has the focus.
    static void scheduleActivationCheck();
    // A window on screen that never takes the keyboard but closes on Escape.
    bool takesEscapeFromDisplay() const;
    // Takes Escape from the display while such a window is up, and gives it back after.
    static void updateEscapeGrab();

    Window& model_;
    GtkWidget* window_ = nullptr;
    GtkWidget* canvas_ = nullptr;
    struct SizeHints {
        int minWidth = 0;
        int minHeight = 0;
        int maxWidth = 0;
        int maxHeight = 0;
        friend bool operator==(const SizeHints&, const SizeHints&) = default;
    };
    std::optional<SizeHints> sizeHints_;
    // The size the application last gave the window, in display pixels: the size limits the window
    // manager is told derive from it, never from a size the window manager imposed (a tile, full
    // screen), so that a window floated again comes back at its own size.
    int ownWidth_ = 0;
    int ownHeight_ = 0;
    // Being shown: the toolkit's next size check tells the window manager where the window rests.
    bool announceRest_ = false;
    // Mapped, and not yet taken in by the window manager.
    bool awaitingMap_ = false;
    std::optional<DisplayRect> requested_;
    std::vector<DisplayRect> pendingConfigures_;
    std::int64_t lastRequestTime_ = 0;
    GdkWindowState state_ = GdkWindowState(0);
    // What the X server last said: mapped, and not fully covered by other windows.
    bool mapped_ = false;
    bool fullyObscured_ = false;
    bool fullScreen_ = false;
    GtkWidget* transientParent_ = nullptr;
    cairo_region_t* shape_ = nullptr;
    std::uint64_t framesDrawn_ = 0;
    // When the window was last shown, until its first frame is drawn (0: not waiting).
    std::int64_t shownAt_ = 0;
    // Clicks.
    int clickCount_ = 0;
    unsigned lastButton_ = 0;
    std::uint32_t lastPressTime_ = 0;
    double lastPressX_ = 0;
    double lastPressY_ = 0;
    std::set<std::uint16_t> keysDown_;
    // On window_ and canvas_.
    SignalConnections signals_;
};

}  // namespace kit::desktop
