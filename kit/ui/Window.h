#pragma once
// A window: frame, style, level, content view and the standard title-bar buttons, with key and
// main status, sheets, closing through the delegate, and the application-wide window
// notifications on NotificationCenter::defaultCenter() (object: the Window's address).
//
// Windows are made with kit::create<Window>(contentRect, styleMask) (or a subclass). The
// application holds every window that is on screen; an owner (a window controller) holds the
// others. A closed or ordered-out window is released by the application on a later turn of the
// run loop, never under code still running on it.
//
// Frames are in screen coordinates (points, origin at the bottom left of the main screen, y up).
// setFrame() takes any frame, a zero width included; minSize and maxSize bind only the user's
// resizing (userResize(); on a desktop the window manager applies them itself).

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kit/base/Color.h"
#include "kit/base/Geometry.h"
#include "kit/ui/Animation.h"
#include "kit/ui/BackendBadge.h"
#include "kit/ui/Event.h"

namespace kit {

class View;
class Control;
class Screen;
class WindowPeer;
class WindowController;
enum class WindowChange;

inline constexpr const char* kWindowWillCloseNotification = "NSWindowWillCloseNotification";
inline constexpr const char* kWindowDidBecomeKeyNotification = "NSWindowDidBecomeKeyNotification";
inline constexpr const char* kWindowDidResignKeyNotification = "NSWindowDidResignKeyNotification";
inline constexpr const char* kWindowDidBecomeMainNotification = "NSWindowDidBecomeMainNotification";
inline constexpr const char* kWindowDidResignMainNotification = "NSWindowDidResignMainNotification";
inline constexpr const char* kWindowDidResizeNotification = "NSWindowDidResizeNotification";
inline constexpr const char* kWindowDidMoveNotification = "NSWindowDidMoveNotification";
inline constexpr const char* kWindowDidMiniaturizeNotification = "NSWindowDidMiniaturizeNotification";
inline constexpr const char* kWindowDidDeminiaturizeNotification = "NSWindowDidDeminiaturizeNotification";
inline constexpr const char* kWindowWillEnterFullScreenNotification = "NSWindowWillEnterFullScreenNotification";
inline constexpr const char* kWindowDidEnterFullScreenNotification = "NSWindowDidEnterFullScreenNotification";
inline constexpr const char* kWindowWillExitFullScreenNotification = "NSWindowWillExitFullScreenNotification";
inline constexpr const char* kWindowDidExitFullScreenNotification = "NSWindowDidExitFullScreenNotification";
inline constexpr const char* kWindowDidChangeOcclusionStateNotification = "NSWindowDidChangeOcclusionStateNotification";

// The platform's style mask bits.
enum WindowStyleMask : unsigned {
    WindowStyleBorderless = 0,
    WindowStyleTitled = 1u << 0,
    WindowStyleClosable = 1u << 1,
    WindowStyleMiniaturizable = 1u << 2,
    WindowStyleResizable = 1u << 3,
    WindowStyleUtilityWindow = 1u << 4,
    WindowStyleNonactivatingPanel = 1u << 7,
    WindowStyleFullScreen = 1u << 14,
    WindowStyleFullSizeContentView = 1u << 15,
};

// The platform's window levels.
namespace WindowLevel {
inline constexpr int Normal = 0;
inline constexpr int Floating = 3;
inline constexpr int ModalPanel = 8;
inline constexpr int Dock = 20;
inline constexpr int MainMenu = 24;
inline constexpr int Status = 25;
inline constexpr int PopUpMenu = 101;
inline constexpr int ScreenSaver = 1000;
}  // namespace WindowLevel

// The platform's collection behaviour bits.
enum WindowCollectionBehavior : unsigned {
    CollectionDefault = 0,
    CollectionCanJoinAllSpaces = 1u << 0,
    CollectionMoveToActiveSpace = 1u << 1,
    CollectionManaged = 1u << 2,
    CollectionTransient = 1u << 3,
    CollectionStationary = 1u << 4,
    CollectionParticipatesInCycle = 1u << 5,
    CollectionIgnoresCycle = 1u << 6,
    CollectionFullScreenPrimary = 1u << 7,
    CollectionFullScreenAuxiliary = 1u << 8,
    CollectionFullScreenNone = 1u << 9,
    CollectionFullScreenAllowsTiling = 1u << 11,
    CollectionFullScreenDisallowsTiling = 1u << 12,
};

enum class WindowButton { Close, Miniaturize, Zoom };
enum class TitleVisibility { Visible, Hidden };

// Occlusion state bit: some part of the window is visible on screen.
inline constexpr unsigned kWindowOcclusionStateVisible = 1u << 1;

// Modal responses, the platform's values.
using ModalResponse = long;
namespace ModalResponses {
inline constexpr ModalResponse OK = 1;
inline constexpr ModalResponse Cancel = 0;
inline constexpr ModalResponse Stop = -1000;
inline constexpr ModalResponse Abort = -1001;
inline constexpr ModalResponse Continue = -1002;
}  // namespace ModalResponses

// Height of the title bar of titled windows.
inline constexpr double kTitleBarHeight = 28;

class WindowDelegate {
public:
    virtual ~WindowDelegate() = default;
    virtual bool windowShouldClose(Window& window) {
        (void)window;
        return true;
    }
    virtual void windowWillClose(Window& window) { (void)window; }
    virtual void windowDidBecomeKey(Window& window) { (void)window; }
    virtual void windowDidResignKey(Window& window) { (void)window; }
    virtual void windowDidBecomeMain(Window& window) { (void)window; }
    virtual void windowDidResignMain(Window& window) { (void)window; }
    virtual void windowDidResize(Window& window) { (void)window; }
    virtual void windowDidMove(Window& window) { (void)window; }
    virtual void windowDidMiniaturize(Window& window) { (void)window; }
    virtual void windowDidDeminiaturize(Window& window) { (void)window; }
    virtual void windowWillEnterFullScreen(Window& window) { (void)window; }
    virtual void windowDidEnterFullScreen(Window& window) { (void)window; }
    virtual void windowWillExitFullScreen(Window& window) { (void)window; }
    virtual void windowDidExitFullScreen(Window& window) { (void)window; }
    virtual void windowDidChangeOcclusionState(Window& window) { (void)window; }
    // Where a sheet attaches: its top edge goes to the rect's top, centred on the rect (window
    // base coordinates). `proposed` spans the window's width at the top of its content rect.
    virtual Rect windowWillPositionSheet(Window& window, Window& sheet, Rect proposed) {
        (void)window;
        (void)sheet;
        return proposed;
    }
    // The user is resizing to `proposed` (frame size); answers the size to use.
    virtual Size windowWillResize(Window& window, Size proposed) {
        (void)window;
        return proposed;
    }
};

class Window : public std::enable_shared_from_this<Window> {
public:
    Window(Rect contentRect, unsigned styleMask);
    virtual ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    // Second phase of construction: content view, title bar, backend peer. Overrides call the
    // base first.
    virtual void init();
    virtual std::string className() const { return "Window"; }
    // A number unique in the process, for log lines and backends.
    int windowNumber() const { return number_; }

    // Frame.
    Rect frame() const { return frame_; }
    // Where the window comes to rest: the end of a running frame animation, else its frame.
    Rect restingFrame() const { return restingFrame_.value_or(frame_); }
    // Sets the frame at once, superseding a running frame animation. `display` is accepted for
    // the platform's signature; the window is redisplayed either way.
    void setFrame(const Rect& frame, bool display = true);
    void setFrameOrigin(Point origin);
    void setFrameTopLeftPoint(Point topLeft);
    void setContentSize(Size size);
    Rect contentRectForFrameRect(const Rect& frame) const;
    Rect frameRectForContentRect(const Rect& content) const;
    // Centres the window horizontally on its screen's visible frame, a little above the middle.
    void center();
    // Readies the window on the display ahead of its first showing, which then costs less;
    // nothing is shown and nothing of the model changes.
    void prepareForDisplay();
    // The screen holding most of the window; nullptr when off every screen.
    std::shared_ptr<Screen> screen() const;
    Size minSize() const { return minSize_; }
    void setMinSize(Size size);
    Size maxSize() const { return maxSize_; }
    void setMaxSize(Size size);
    // The user resized or moved the window (for backends): min and max size apply and the
    // delegate may change the size.
    void userResize(BackendBadge, const Rect& proposedFrame);
    // The display gave the window this frame (for backends whose window manager places, tiles,
    // maximises or lets the user resize windows within the limits it was told): the model takes
    // it as it is, so the views are laid out and drawn at the size the window really has.
    void displayDidPlace(BackendBadge, const Rect& frame);
    WindowAnimator animator();

    // Style and look.
    unsigned styleMask() const { return styleMask_; }
    void setStyleMask(unsigned mask);
    bool hasTitleBar() const { return (styleMask_ & WindowStyleTitled) != 0; }
    const std::string& title() const { return title_; }
    void setTitle(std::string title);
    TitleVisibility titleVisibility() const { return titleVisibility_; }
    void setTitleVisibility(TitleVisibility visibility);
    bool titlebarAppearsTransparent() const { return titlebarTransparent_; }
    void setTitlebarAppearsTransparent(bool transparent);
    int level() const { return level_; }
    void setLevel(int level);
    unsigned collectionBehavior() const { return collectionBehavior_; }
    void setCollectionBehavior(unsigned behavior);
    bool isOpaque() const { return opaque_; }
    void setOpaque(bool opaque);
    Color backgroundColor() const { return backgroundColor_; }
    void setBackgroundColor(Color color);
    double alphaValue() const { return alpha_; }
    void setAlphaValue(double alpha);
    bool hasShadow() const { return hasShadow_; }
    void setHasShadow(bool shadow);
    virtual bool isMovable() const { return movable_; }
    void setMovable(bool movable) { movable_ = movable; }
    bool isMovableByWindowBackground() const { return movableByBackground_; }
    void setMovableByWindowBackground(bool movable) { movableByBackground_ = movable; }
    bool ignoresMouseEvents() const { return ignoresMouseEvents_; }
    void setIgnoresMouseEvents(bool ignores) { ignoresMouseEvents_ = ignores; }
    bool acceptsMouseMovedEvents() const { return acceptsMouseMoved_; }
    void setAcceptsMouseMovedEvents(bool accepts) { acceptsMouseMoved_ = accepts; }
    bool hidesOnDeactivate() const { return hidesOnDeactivate_; }
    void setHidesOnDeactivate(bool hides) { hidesOnDeactivate_ = hides; }
    bool isReleasedWhenClosed() const { return false; }

    // Views. The content view fills the window, under the title bar unless the style has the
    // full-size content view bit.
    std::shared_ptr<View> contentView() const { return contentView_; }
    void setContentView(std::shared_ptr<View> view);
    // The root of the window's views: the content view and the title bar with its buttons.
    std::shared_ptr<View> frameView() const { return frameView_; }
    // A standard title-bar button; nullptr when the window has no title bar. Frames are in the
    // title bar's coordinates and are laid out anew after every resize.
    std::shared_ptr<Control> standardWindowButton(WindowButton button) const;
    std::shared_ptr<View> firstResponder() const { return firstResponder_.lock(); }
    bool makeFirstResponder(const std::shared_ptr<View>& view);
    void layoutIfNeeded();
    void displayIfNeeded();
    // Anything to redraw (for backends).
    bool needsDisplay() const;

    // Delegate and controller.
    std::shared_ptr<WindowDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<WindowDelegate> delegate) { delegate_ = std::move(delegate); }
    std::shared_ptr<WindowController> windowController() const { return controller_.lock(); }
    void setWindowController(std::weak_ptr<WindowController> controller) { controller_ = std::move(controller); }

    // Ordering.
    bool isVisible() const { return visible_; }
    void makeKeyAndOrderFront();
    void orderFront();
    void orderFrontRegardless();
    void orderBack();
    // Overridable: panels act after the platform's order-out.
    virtual void orderOut();
    // Closes at once: will-close notification, delegate's windowWillClose, ordered out.
    virtual void close();
    // As the close button: the delegate's windowShouldClose decides; then close().
    virtual void performClose();
    bool isClosed() const { return closed_; }
    void miniaturize();
    void deminiaturize();
    bool isMiniaturized() const { return miniaturized_; }
    void toggleFullScreen();
    bool isFullScreen() const { return (styleMask_ & WindowStyleFullScreen) != 0; }
    void zoom();
    unsigned occlusionState() const { return occlusionState_; }

    // Key and main status.
    bool isKeyWindow() const;
    bool isMainWindow() const;
    // Titled or resizable windows can become key by default.
    virtual bool canBecomeKeyWindow() const;
    virtual bool canBecomeMainWindow() const;
    void makeKeyWindow();
    void makeMainWindow();

    // Sheets. A sheet begun while another is attached waits, in turn, until the ones before it
    // have ended (it counts as the window's sheet, isSheet(), from the start); ending a waiting
    // sheet takes it out of the queue, with its completion. Closing the window ends them all.
    void beginSheet(const std::shared_ptr<Window>& sheet, std::function<void(ModalResponse)> completion = {});
    void endSheet(const std::shared_ptr<Window>& sheet, ModalResponse response = ModalResponses::Stop);
    bool hasWaitingSheets() const { return !waitingSheets_.empty(); }
    std::shared_ptr<Window> attachedSheet() const { return sheet_; }
    std::shared_ptr<Window> sheetParent() const { return sheetParent_.lock(); }
    // Places the attached sheet where the delegate says, and keeps it there as the window moves
    // or resizes. A sheet shows no title bar: it is part of its window.
    void positionSheet();
    bool isSheet() const { return !sheetParent_.expired(); }

    // Coordinates.
    Point convertPointToScreen(Point pointInWindow) const;
    Point convertPointFromScreen(Point pointInScreen) const;
    Rect convertRectToScreen(const Rect& rectInWindow) const;
    Rect convertRectFromScreen(const Rect& rectInScreen) const;
    // The mouse location in window base coordinates.
    Point mouseLocationOutsideOfEventStream() const;

    // Events: routes a mouse, scroll or key event to its view (the application calls this after
    // its local monitors).
    virtual void sendEvent(const Event& event);
    // A view passed an event up past the top view. Return (and Enter) left to the window press
    // its default button; Escape performs its cancel operation.
    virtual void unhandledEvent(const Event& event);
    // The button Return presses when no view took the key (the platform's default button).
    std::shared_ptr<View> defaultButton() const { return defaultButton_.lock(); }
    void setDefaultButton(const std::shared_ptr<View>& button) { defaultButton_ = button; }
    // What Escape does when no view took the key; nothing by default. A window that can never
    // be key gets Escape while it is on screen all the same (backends take the key for it).
    void setCancelOperation(std::function<void()> operation) { cancelOperation_ = std::move(operation); }
    bool hasCancelOperation() const { return static_cast<bool>(cancelOperation_); }
    // Escape was pressed for this window (for backends): runs the cancel operation.
    void performCancelOperation();
    // Tracking areas: the mouse is at this screen point; `topmost` tells whether this window is
    // the one under it.
    void updateTracking(Point screenPoint, bool topmost, const Event* cause);

    // Backend side.
    WindowPeer* peer() const { return peer_.get(); }
    // The backend tells of occlusion changes.
    void setOcclusionState(BackendBadge, unsigned state) { applyOcclusionState(state); }

private:
    friend class Application;
    friend class View;
    friend class WindowAnimator;
    friend void setWindowFrameAnimated(Window&, const Rect&);
    friend void setWindowAlphaAnimated(Window&, double);

    void applyFrame(const Rect& frame);
    void applyAlpha(double alpha);
    void applyOcclusionState(unsigned state);
    void layoutFrameViews();
    void layoutTitleBarButtons();
    void postNotification(const char* name);
    void orderIn(bool makeKey, bool toFront = true);
    void resignKeyStatus();
    void becomeKeyStatus();
    void scheduleLayout();
    void setVisibleInternal(bool visible);
    void dispatchMouse(const Event& event);
    void moveByBackgroundDrag(const Event& event);
    void tellPeer(WindowChange change);

    int number_;
    Rect frame_;
    // The end of the last frame animation, until the frame is set without one.
    std::optional<Rect> restingFrame_;
    unsigned styleMask_;
    std::string title_;
    TitleVisibility titleVisibility_ = TitleVisibility::Visible;
    bool titlebarTransparent_ = false;
    int level_ = WindowLevel::Normal;
    unsigned collectionBehavior_ = CollectionDefault;
    bool opaque_ = true;
    Color backgroundColor_ = Color::fromHex(0xECECEC);
    double alpha_ = 1;
    bool hasShadow_ = true;
    bool movable_ = true;
    bool movableByBackground_ = false;
    bool ignoresMouseEvents_ = false;
    bool acceptsMouseMoved_ = false;
    bool hidesOnDeactivate_ = false;
    Size minSize_{0, 0};
    Size maxSize_{1e9, 1e9};
    bool visible_ = false;
    bool closed_ = false;
    bool miniaturized_ = false;
    unsigned occlusionState_ = 0;
    bool layoutScheduled_ = false;

    std::shared_ptr<View> frameView_;
    std::shared_ptr<View> contentView_;
    std::shared_ptr<View> titleBarView_;
    std::shared_ptr<Control> buttons_[3];
    std::weak_ptr<View> firstResponder_;
    std::weak_ptr<View> defaultButton_;
    std::function<void()> cancelOperation_;
    std::weak_ptr<WindowDelegate> delegate_;
    std::weak_ptr<WindowController> controller_;
    std::shared_ptr<Window> sheet_;
    std::weak_ptr<Window> sheetParent_;
    std::function<void(ModalResponse)> sheetCompletion_;
    struct WaitingSheet {
        std::shared_ptr<Window> sheet;
        std::function<void(ModalResponse)> completion;
    };
    std::vector<WaitingSheet> waitingSheets_;
    void presentSheet(const std::shared_ptr<Window>& sheet, std::function<void(ModalResponse)> completion);
    std::unique_ptr<WindowPeer> peer_;

    // Mouse state of the window.
    std::shared_ptr<View> mouseDownView_;
    bool draggingWindow_ = false;
    Point dragStartScreen_;
    Point dragStartOrigin_;
    Rect preFullScreenFrame_;
    std::optional<Rect> zoomedFrom_;
    std::shared_ptr<Window> keptWhileMiniaturized_;
};

}  // namespace kit
