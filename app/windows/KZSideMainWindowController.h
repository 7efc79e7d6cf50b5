#pragma once
// The AI chat side window: it slides in from the right edge at the top-right corner of the
// screen under the mouse, shows the chat page in its one AI web view, and slides out again. The
// window-controller manager makes exactly one and forwards every show request to it.
//
// Slides carry a generation: a show or an immediate close supersedes a running slide, whose
// completion then does nothing. Text and images for the page wait while the page is not ready
// and are sent when it says it is, if the window is visible then.
//
// The page's requests (tool windows, a screenshot, the login window, full screen) arrive as web
// view delegate calls. While a file is dragged anywhere on screen with the window hidden, a small
// drop window borrows the web view; it always comes back at the drop. The window slides out by
// itself when the user turns to other windows, unless it is pinned, the page shows a file panel, a
// file is being dragged, or a tool window, permission tip or the login window is up.
//
// Made with kit::create<KZSideMainWindowController>(). Ownership: the controller owns its window,
// the title area and the web view (which it lends to the drop window during a file drag); the
// timer, the notification centre and the drag manager hold it weakly.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/core/KZGlobalTimer.h"
#include "app/web/KZAIWebViewDelegate.h"
#include "app/windows/KZBaseWindowController.h"
#include "app/windows/KZSideWindowRightView.h"
#include "kit/ui/EventMonitor.h"
#include "kit/ui/Image.h"
#include "kit/ui/Window.h"

class KZAIWebView;
class KZWindowTitleTabBarBackgroundView;
namespace kit {
class Screen;
}

class KZSideMainWindowController : public KZBaseWindowController,
                                   public kit::WindowDelegate,
                                   public KZSideWindowRightViewDelegate,
                                   public KZAIWebViewDelegate,
                                   public KZGlobalTimerDelegate {
public:
    using Handler = std::function<void()>;

    static constexpr double p_Right_Bg_View_Width = 165;
    static constexpr double kTitleHeight = 40;
    static constexpr double kDefaultWidth = 420;
    static constexpr double kDefaultHeight = 800;
    static constexpr double kSlideDuration = 0.2;
    static constexpr double kScreenChangeReshowDelay = 2.0;
    static constexpr double kScreenChangeReshowAfter = 0.3;
    static constexpr double kDropCloseDelay = 0.1;
    static constexpr const char* kChatPagePath = "thirdParty/dorvaka/pmChat?version=%d";
    static constexpr const char* kDelayReshowSelector = "__delayReshowSideWindow";
    static constexpr double kAutoDisappearDelay = 0.1;
    static constexpr double kAutoHideAfterOtherWindowDelay = 0.5;
    static constexpr double kFlushWebviewDelay = 86400.0;
    static constexpr const char* kAutoDisappearSelector = "__windowAutoDisapper";
    static constexpr const char* kFlushWebviewSelector = "__flushWebviewsWhenSideWindowHidden15min";

    // initWithTitleStyle:resizable:windowSize: with no title bar, fixed size, 420 x 800.
    KZSideMainWindowController();
    ~KZSideMainWindowController() override;

    void customInit() override;
    void setupViews() override;
    void onWindowFrameChanged() override {}

    // ---- Showing and hiding. --------------------------------------------------------------------
    void showWithCompletionHandler(Handler handler = {});
    void hideWithCompletionHandler(Handler handler = {});
    void showWithText(const std::optional<std::string>& text, Handler handler = {});
    // A null image is "no image".
    void showWithImage(const kit::Image& image, Handler handler = {});
    void onCommitContinueAsk(int type, const std::optional<std::string>& sessionID);
    void onSystemDragFile(bool dragging);
    void onSideWindowShow();
    void onSideWindowClose();

    // ---- Geometry. ------------------------------------------------------------------------------
    // 390 to 420 points, from the screen under the mouse.
    float windowsWidth() const;
    float windowsHeight() const;
    std::shared_ptr<kit::Screen> currentMouseLocationScreen() const { return currentMouseLocationScreen_; }
    std::shared_ptr<kit::Screen> latestWindowShowInScreen() const { return latestWindowShowInScreen_; }
    void __findMouseLocationScreen();
    void __changeWindowLevelAndCollectionBehaviorWhenPinChanged();

    // ---- Screens. -------------------------------------------------------------------------------
    void onScreenDidChange(const kit::Notification& notification);
    void delayReshowSideWindowWhenScreensDidChanged();
    void __delayReshowSideWindow();
    long currentScreenCount() const { return currentScreenCount_; }

    // ---- Page. ----------------------------------------------------------------------------------
    std::string currentWebviewURL() const;
    const std::shared_ptr<KZAIWebView>& singleWebView();
    const std::shared_ptr<KZWindowTitleTabBarBackgroundView>& titleBgView();
    const std::shared_ptr<KZSideWindowRightView>& rightView();
    const std::string& needSearchStringBeforeWebReady() const { return needSearchStringBeforeWebReady_; }
    const kit::Image& needSearchImageBeforeWebReady() const { return needSearchImageBeforeWebReady_; }
    bool isPinnedOnRightView();
    bool isShowSystemPanel();
    bool isWindowClosing() const { return isWindowClosing_; }
    bool isDraggingFile() const { return isDraggingFile_; }
    // Main-loop clock seconds of the last show request.
    double beginShowWindowDate() const { return beginShowWindowDate_; }

    // ---- Login notifications. -------------------------------------------------------------------
    void onUserLoginStateChanged();
    void onUserCancelLogin();
    void onForceReloadWebview();

    // ---- Drag to the AI. ------------------------------------------------------------------------
    void registerDragDrop();
    void initAutoHiddenListeners();
    void observeDraggingChanged(bool oldValue, bool newValue);
    // Takes the web view back from the drop window.
    void giveBackWebView();
    const std::optional<std::string>& draggedFileExtension() const { return draggedFileExtension_; }
    // Whether the current drag opened the drop window (which then has the web view).
    bool isDropWindowOpenForDrag() const { return dropWindowOpenedForDrag_; }

    // ---- Auto-hide. -----------------------------------------------------------------------------
    void onAppWindowWillClose(const kit::Notification& notification);
    void onAppWindowDidMiniaturize(const kit::Notification& notification);
    void onAppWindowDidBecomeKey(const kit::Notification& notification);
    void windowDidResignKey(kit::Window& window) override;
    void __beginDelayWindowDisappear();
    void __windowAutoDisapper();
    void __cancelDelayWindowAutoDisappear();

    // ---- Page flush (nothing calls the first two). ----------------------------------------------
    void __delayMarkWebviewNeedReflush();
    void __cancelDelayFlushWebview();
    void __flushWebviewsWhenSideWindowHidden15min();

    // ---- Delegates. -----------------------------------------------------------------------------
    bool windowShouldClose(kit::Window& window) override;
    void onClickLogin() override;
    void onClickLogout() override;
    void onClickFlushWeb() override;
    void onPinStatusChangedFromRightView(KZSideWindowRightView& view) override;
    std::shared_ptr<kit::Window> getWindow() override;
    void onTimerTick(KZGlobalTimer& timer) override;
    void webviewIsReadyFrom(KZAIWebView& webview, const std::optional<std::string>& from) override;
    void webviewReceiveFileAction(KZAIWebView& webview, const kit::Dictionary& action) override;
    void webviewDidReceiveWebRequestLogin(KZAIWebView& webview) override;
    void webviewDidNotifyStartCapture(KZAIWebView& webview) override;
    void webviewElementWillEnterFullScreen(KZAIWebView& webview, const kit::Notification& notification) override;
    void webviewElementDidExitFullScreen(KZAIWebView& webview, const kit::Notification& notification) override;

private:
    std::shared_ptr<KZSideMainWindowController> self();
    // Closes the window at once, superseding any running slide; a running slide-out still
    // finishes (its handler runs and its time is reported).
    void closeWindowAtOnce();
    // The end of a slide-out, once the window is closed.
    void finishSlideOut();
    // Slides the window to `target` (both slides: in from and out to zero width at the right
    // edge). `done` runs when the slide ends, finished or stopped by a frame change that is not
    // its own, unless a later slide or close took over. A slide in shows its first frame at once.
    void slideWindowTo(const kit::Rect& target, bool slidingIn, std::function<void(KZSideMainWindowController&, bool)> done);
    void layoutWebView();
    void onDragStart(const std::vector<std::string>& paths);
    void onDrop(bool inside);

    std::shared_ptr<KZWindowTitleTabBarBackgroundView> titleBgView_;
    std::shared_ptr<KZSideWindowRightView> rightView_;
    std::shared_ptr<KZAIWebView> singleWebView_;
    std::string needSearchStringBeforeWebReady_;
    kit::Image needSearchImageBeforeWebReady_;
    std::shared_ptr<kit::Screen> currentMouseLocationScreen_;
    std::shared_ptr<kit::Screen> latestWindowShowInScreen_;
    double beginShowWindowDate_ = 0;
    long currentScreenCount_ = 0;
    bool isWindowClosing_ = false;
    bool isDraggingFile_ = false;
    std::uint64_t slideGeneration_ = 0;
    // The handler of the running slide-out.
    Handler slideOutHandler_;
    std::optional<std::string> draggedFileExtension_;
    bool dropWindowOpenedForDrag_ = false;
    std::shared_ptr<void> draggingObservation_;
    // The files of a drag the drop window was opened for: a drop there hands them to the page.
    std::vector<std::string> draggedPaths_;
    // Presses in other applications: the user turned away, even while a popover of this
    // window had the keyboard (the window itself then resigns nothing).
    std::shared_ptr<kit::EventMonitor> pressElsewhereMonitor_;
};
