#pragma once
// The owner of every window controller of the application and of the status item's on/off
// state. Everything that opens, places or closes a window goes through it; it creates the
// controllers, fixes their frames and forwards calls.
//
// The tool windows are built on this manager's operations: until their classes exist, the
// operations that need them log and do nothing, and the manager keeps them as plain window
// controllers (visibility, closing and destruction work already). The explain and translate
// panels exist from init on.
//
// Ownership: the manager lives for the process (manager()) and owns every controller; the
// status item is the application delegate's and held weakly. Main thread only.
//
// The writing, image, document and browser windows (app/tools) are made here on first use and
// placed against the side window.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <typeinfo>
#include <vector>

#include "app/core/KZCoreHooks.h"
#include "app/web/KZAIWebViewDelegate.h"
#include "frameworks/LanguageHelper.h"
#include "kit/base/Geometry.h"
#include "kit/ui/Image.h"

namespace kit {
class StatusItem;
class Window;
class WindowController;
}  // namespace kit
class JWTipModel;
class KZSideMainWindowController;
class KZAISplashWindowController;
class KZDropWindController;
class KZAIPermissionTipsWindowController;
class KZExplainPanelController;
class KZTranslatePanelController;
class KZAITabWindowController;
class KZBaseTabWindowController;
class KZWindowTitleTabBarItemModel;

// Where a request to show the side window came from.
enum KZAISideWindowSourceType : int {
    KZAISideWindowSourceTypeOpen = 1,
    KZAISideWindowSourceTypeSearch = 2,
    KZAISideWindowSourceTypeContinueAsk = 3,
    KZAISideWindowSourceTypeScreenshot = 4,
};

class KZWindowControllerManager : public KZWindowControllerManaging,
                                  public KZAIWebViewDelegate,
                                  public std::enable_shared_from_this<KZWindowControllerManager> {
public:
    static constexpr double kSideWindowWidth = 420;
    static constexpr double kSideWindowHeight = 800;
    static constexpr double kPermissionTipWidth = 380;
    static constexpr double kPermissionTipHeight = 441;
    static constexpr double kSplashWidth = 780;
    static constexpr double kSplashHeight = 482;
    static constexpr double kDropWindowWidth = 420;
    static constexpr double kDropWindowHeight = 110;
    static constexpr double kPanelWidth = 400;
    static constexpr double kPanelHeight = 324;
    static constexpr double kGuideTipHeight = 42;
    // Where the guide tip of a size goes for the status item's frame: under it, its right end
    // `offset` past the item's, or where the item's screen has no room for that, above it, else
    // beside it; always inside the visible frame of the item's screen.
    static kit::Point guideTipOrigin(const kit::Rect& item, kit::Size size, double offset);
    static constexpr double kGuideTipDuration = 5;
    static constexpr int kDropWindowLevel = 3;

    static KZWindowControllerManager& manager();
    static std::shared_ptr<KZWindowControllerManager> sharedPointer();
    static void resetManager();

    // Wires the layers below to this one: the core's window-manager and screenshot hooks, the
    // login-state manager's keep-alive page and login window, and the web views' login services.
    // The process entry calls it once before the launch; tests call it to run the whole road.
    static void installServices();

    KZWindowControllerManager() = default;
    ~KZWindowControllerManager() override;
    void init();

    // ---- Status item. ------------------------------------------------------------------------
    bool showAIStatusBarItem() const override { return p_useShowStatusBarItem_; }
    void setShowAIStatusBarItem(bool show) override;
    void setStatusItem(std::weak_ptr<kit::StatusItem> item) override { statusItem_ = std::move(item); }
    std::shared_ptr<kit::StatusItem> statusItem() const { return statusItem_.lock(); }
    void quitAIFromStatusBar();
    void showStatusBarIconWhenQuarnLaunch() override;
    void __showStatusBarItem();
    void __hideStatusBarItem();

    // ---- Onboarding and tips. ----------------------------------------------------------------
    void showAISpliashWindowController() override;
    void __showAISpliashWindowController();
    const std::shared_ptr<KZAISplashWindowController>& splashWindowController();
    bool hasSplashWindowController() const { return splashWindowController_ != nullptr; }
    const std::shared_ptr<JWTipModel>& AISpliashModel() const { return AISpliashModel_; }
    void showGuideEnableWindowController();
    void closeGuideEnableWindowController();
    // Closes and removes the first loose controller whose class is exactly `type`.
    void closeWindowController(const std::type_info& type);
    const std::vector<std::shared_ptr<kit::WindowController>>& viewControllers() const { return viewControllers_; }

    // ---- Side window. ------------------------------------------------------------------------
    const std::shared_ptr<KZSideMainWindowController>& sideMainWindowController() const {
        return sideMainWindowController_;
    }
    void loadSideWindowController() override;
    void showSideMainWindowController() override;
    void hotkeyShowSideMainWindowController() override;
    bool isVisibleSideMainWindow() const;
    void showAISideWindowController(int type, const std::string& text) override;
    void showAISideWindowControllerWithImage(const kit::Image& image);
    void native2js_CommitContinueAsk(int type, const std::optional<std::string>& sid);
    void notifySideWindowWebViewSystemDragFile(int dragging);

    // ---- Tool windows. -----------------------------------------------------------------------
    void showAIDocumentWindowControllerAndCreateNewTab(const std::string& url);
    void showAIDocumentWindowFromSideWindowWithActionInfo(const kit::Dictionary& actionInfo);
    void showAIWritingWindowControllerFromSideWindow();
    void showAIWritingWindowFromSideWindowWithActionInfo(const kit::Dictionary& actionInfo);
    void showAIImageWindowFromSideWindowWithActionInfo(const kit::Dictionary& actionInfo);
    void showAIImageWindowControllerAndCreateNewTab();
    void showBrowserWindowControllerAndCreateNewTab(const std::string& url);
    void __setupBrowserWindow();
    void destoryAIDocumentWindowController();
    void destoryAIImageWindowController();
    void destoryBrowserWindowController();
    bool isAllFunctionWindowNotVisiable() const;
    // Before the application ends (see KZCoreHooks::holdTermination): the quit is held while the
    // writing, image and document windows, in this order, run their own close questions about
    // unsaved work. It owns the one quit in progress and answers it once, to every caller: false
    // at the first Cancel, true once no window holds unsaved work the user has not let go (a
    // window that gets new work meanwhile is asked again). A request while one runs joins it; one
    // that asks brings its question forward. Without `askUser`, the windows' pages are first asked
    // whether their work is saved, and the quit ends as kept, with no question, when some is not.
    // Answers false when no window holds unsaved work.
    bool holdTerminationForOpenFiles(std::function<void(bool proceed)> decided, bool askUser = true);
    // The window asking the quit's question, with it, comes to the front.
    void bringQuitQuestionForward();
    // While a quit asks the user in another window: a tool window the application shows goes
    // behind the question; one the user brings forward says with a tip that the question waits;
    // one cannot close (quitQuestionWaitsFor answers true): it says so and the question comes
    // forward.
    static constexpr const char* kQuitQuestionWaitsTip = KZLocalizableKey("正在退出，请先回答退出前的提问");
    static void toolWindowDidShow(KZBaseTabWindowController& window);
    bool quitQuestionWaitsFor(KZBaseTabWindowController& window);
    bool isQuitting() const { return quit_.has_value(); }
    // The frame of a tool window: up against the side window's left edge, 10/7 as wide as it is
    // high; the centred default size when the side window leaves less room than that.
    kit::Rect __calulateFrameWithFunctionWindow(const std::shared_ptr<kit::Window>& window) const;
    static kit::Size __functionWindowDefaultSize() { return {1000, 700}; }

    const std::shared_ptr<kit::WindowController>& documentWindowController() const { return documentWindowController_; }
    const std::shared_ptr<kit::WindowController>& writingWindowController() const { return writingWindowController_; }
    const std::shared_ptr<kit::WindowController>& imageWindowController() const { return imageWindowController_; }
    const std::shared_ptr<kit::WindowController>& browserWindowController() const { return browserWindowController_; }
    // Tool windows made elsewhere are handed over here (their classes call this).
    void setDocumentWindowController(std::shared_ptr<kit::WindowController> c) {
        documentWindowController_ = std::move(c);
    }
    void setWritingWindowController(std::shared_ptr<kit::WindowController> c) {
        writingWindowController_ = std::move(c);
    }
    void setImageWindowController(std::shared_ptr<kit::WindowController> c) { imageWindowController_ = std::move(c); }
    void setBrowserWindowController(std::shared_ptr<kit::WindowController> c) {
        browserWindowController_ = std::move(c);
    }

    // ---- Panels. -----------------------------------------------------------------------------
    void showExplainPanelControllerWindowWithText(const std::string& text, kit::Point origin);
    void showTranslatePanelControllerWindowWithText(const std::string& text, kit::Point origin);
    void updateExplainPanelControllerWindowFrame(const kit::Rect& frame);
    void updateTranslatePanelControllerWindowFrame(const kit::Rect& frame);
    void closeExplainTranslateWindows();
    const std::shared_ptr<KZExplainPanelController>& explainPanelController() const { return explainPanelController_; }
    const std::shared_ptr<KZTranslatePanelController>& translatePanelController() const {
        return translatePanelController_;
    }

    // ---- Permission tips. --------------------------------------------------------------------
    void showPermissionWindowOnWindow(const std::shared_ptr<kit::Window>& window);
    void showPermissionWindowAlone() override;
    void showScreenshotPermissionWindowOnWindow(const std::shared_ptr<kit::Window>& window);
    const std::shared_ptr<KZAIPermissionTipsWindowController>& permissionWndController() const {
        return permissionWndController_;
    }
    const std::shared_ptr<KZAIPermissionTipsWindowController>& permissionWndControllerForSheet() const {
        return permissionWndControllerForSheet_;
    }

    // ---- File drop. --------------------------------------------------------------------------
    void showDropWindowController();
    void closeDropWindowController();
    void giveWebviewBackSideWindow();
    const std::shared_ptr<KZDropWindController>& dropWindowController() const { return dropWindowController_; }

    // ---- Quitting and language. --------------------------------------------------------------
    void closeAllAIWindowsWhenQuitFromStatusBar();
    void _userChangeLanguage();

private:
    std::shared_ptr<KZSideMainWindowController> makeSideWindowController();
    std::shared_ptr<KZAIPermissionTipsWindowController> makePermissionTip();
    void __createDocumentWindowIfNeed();
    void __createWritingWindowIfNeed();
    void __createImageWindowControllerIfNeed();
    void __createBrowserWindowControllerIfNeed();
    void placeFunctionWindow(const std::shared_ptr<kit::WindowController>& controller) const;

    bool p_useShowStatusBarItem_ = false;
    std::weak_ptr<kit::StatusItem> statusItem_;
    std::shared_ptr<KZSideMainWindowController> sideMainWindowController_;
    std::vector<std::shared_ptr<kit::WindowController>> viewControllers_;
    std::shared_ptr<KZAISplashWindowController> splashWindowController_;
    std::shared_ptr<KZDropWindController> dropWindowController_;
    std::shared_ptr<kit::WindowController> documentWindowController_;
    std::shared_ptr<kit::WindowController> writingWindowController_;
    std::shared_ptr<kit::WindowController> imageWindowController_;
    std::shared_ptr<kit::WindowController> browserWindowController_;
    std::shared_ptr<KZExplainPanelController> explainPanelController_;
    std::shared_ptr<KZTranslatePanelController> translatePanelController_;
    std::shared_ptr<JWTipModel> AISpliashModel_;
    std::shared_ptr<KZAIPermissionTipsWindowController> permissionWndController_;
    std::shared_ptr<KZAIPermissionTipsWindowController> permissionWndControllerForSheet_;
    std::shared_ptr<void> languageObserver_;
    // Move the guide tip with the status item, and off it, while it shows.
    std::vector<std::shared_ptr<void>> guideTipObservers_;
    struct Quit {
        std::uint64_t id = 0;
        std::vector<std::function<void(bool proceed)>> decided;
        std::weak_ptr<KZAITabWindowController> asking;
        // The tabs whose work was let go in this quit (a window keeping them is not asked again).
        std::vector<std::weak_ptr<KZWindowTitleTabBarItemModel>> settled;
        // Whether the user may be asked; a quit that may not ends as kept where it would ask.
        bool askUser = true;
    };
    // The window whose question a quit waits for, while it asks the user and is on screen.
    std::shared_ptr<kit::Window> quitQuestionWindow() const;
    // A tool window that becomes key while a quit asks elsewhere says that the question waits.
    void sayQuitQuestionWaits(const void* becameKey);
    std::shared_ptr<void> windowKeyObserver_;
    // Asks the next window holding unsaved work; false when none is left.
    bool askNextBeforeQuit();
    void finishQuit(bool proceed);

    std::optional<Quit> quit_;
    std::uint64_t lastQuitId_ = 0;
};
