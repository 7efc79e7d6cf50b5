#include "app/windows/KZWindowControllerManager.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <utility>

#include "app/capture/KZAIPermissionTipsWindowController.h"
#include "app/capture/KZAISplashWindowController.h"
#include "app/capture/KZDragManager.h"
#include "app/capture/KZDropWindController.h"
#include "app/capture/KZScreenshotManager.h"
#include "app/capture/KZStatusGuideTipWindowController.h"
#include "app/core/AppDelegate.h"
#include "app/core/KZAIIPCClient.h"
#include "app/core/KZAIUserManager.h"
#include "app/core/KZSharedPlistManager.h"
#include "app/core/KZShortcutScreenshotReceiver.h"
#include "app/tools/KZExplainPanelController.h"
#include "app/tools/KZTranslatePanelController.h"
#include "app/web/KZAIWebServices.h"
#include "app/web/KZAIWebView.h"
#include "app/windows/KZAIKeepAliveWebPage.h"
#include "app/windows/KZAILoginWindowController.h"
#include "app/windows/KZSideMainWindowController.h"
// The tool windows.
#include "app/core/KZBundleInfo.h"
#include "app/tools/KZAIBrowserWindowController.h"
#include "app/tools/KZAIDocumentWindowController.h"
#include "app/tools/KZAIImageWindowController.h"
#include "app/tools/KZAIWritingWindowController.h"
#include "frameworks/HXReport.h"
#include "frameworks/JWTipManager.h"
#include "frameworks/LanguageHelper.h"
#include "kit/base/Log.h"
#include "kit/base/NotificationCenter.h"
#include "kit/base/RunLoop.h"
#include "kit/sys/DistributedNotificationCenter.h"
#include "kit/sys/Workspace.h"
#include "kit/ui/Application.h"
#include "kit/ui/Create.h"
#include "kit/ui/Screen.h"
#include "kit/ui/StatusItem.h"
#include "kit/ui/Window.h"
#include "kit/ui/WindowController.h"
#include "kit/web/Url.h"

namespace {

std::shared_ptr<KZWindowControllerManager>& slot() {
    // Never destroyed: services outlive the static objects they use at exit.
    static auto* manager = new std::shared_ptr<KZWindowControllerManager>;
    return *manager;
}

// The platform's "Line[%d] %s" prefix: source line and method name.
#define KZ_LOG_METHOD(method, format, ...) kit::logf("Line[%d] %s " format, __LINE__, method, ##__VA_ARGS__)

bool isVisible(const std::shared_ptr<kit::WindowController>& controller) {
    return controller && controller->window() && controller->window()->isVisible();
}

[[maybe_unused]] void logUnavailable(const char* what) {
    kit::logf("[WndCtrl] %s is not available in this build", what);
}

}  // namespace

KZWindowControllerManager& KZWindowControllerManager::manager() { return *sharedPointer(); }

std::shared_ptr<KZWindowControllerManager> KZWindowControllerManager::sharedPointer() {
    auto& s = slot();
    if (!s) {
        s = std::make_shared<KZWindowControllerManager>();
        s->init();
    }
    return s;
}

void KZWindowControllerManager::resetManager() {
    auto& s = slot();
    if (!s) return;
    auto old = std::move(s);
    s.reset();
    // Its windows go with it.
    if (old->sideMainWindowController_) old->sideMainWindowController_->window()->close();
    if (old->dropWindowController_) old->dropWindowController_->close();
    if (old->splashWindowController_) {
        if (auto w = old->splashWindowController_->window()) w->setDelegate({});
        old->splashWindowController_->close();
    }
    for (const auto& tip : {old->permissionWndController_, old->permissionWndControllerForSheet_})
        if (tip) tip->endWindow();
    for (const auto& controller : old->viewControllers_) controller->close();
    if (old->explainPanelController_) old->explainPanelController_->close();
    if (old->translatePanelController_) old->translatePanelController_->close();
}

void KZWindowControllerManager::installServices() {
    KZCoreHooks::setWindowManagerProvider([]() -> KZWindowControllerManaging* { return &manager(); });
    KZCoreHooks::setScreenshotSelecting([] { return KZScreenshotManager::shared().isSelecting(); });
    KZCoreHooks::setTerminationGuard([](std::function<void(bool)> decided, bool askUser) {
        auto& s = slot();
        return s && s->holdTerminationForOpenFiles(std::move(decided), askUser);
    });

    KZAIUserManager::Parts parts;
    parts.keepAlivePage = [](const std::weak_ptr<KZAIUserManager>& owner) -> std::shared_ptr<KZAIKeepAlivePage> {
        return KZAIKeepAliveWebPage::make(owner);
    };
    parts.loginWindow = []() -> std::shared_ptr<kit::WindowController> {
        return kit::create<KZAILoginWindowController>(
            false, kit::Size{KZAIUserManager::kLoginWindowWidth, KZAIUserManager::kLoginWindowHeight});
    };
    parts.didShowLoginWindow = [] {
        if (auto m = slot()) m->closeExplainTranslateWindows();
    };
    KZAIUserManager::setParts(std::move(parts));

    // The IPC client's and the screenshot hot key's calls into this layer that the entry left open.
    auto ipc = KZAIIPCClient::services();
    if (!ipc.showExplainPanelControllerWindowWithText) {
        ipc.showExplainPanelControllerWindowWithText = [](const std::string& text, kit::Point origin) {
            manager().showExplainPanelControllerWindowWithText(text, origin);
        };
    }
    if (!ipc.showTranslatePanelControllerWindowWithText) {
        ipc.showTranslatePanelControllerWindowWithText = [](const std::string& text, kit::Point origin) {
            manager().showTranslatePanelControllerWindowWithText(text, origin);
        };
    }
    if (!ipc.updateExplainPanelControllerWindowFrame) {
        ipc.updateExplainPanelControllerWindowFrame = [](const kit::Rect& frame) {
            manager().updateExplainPanelControllerWindowFrame(frame);
        };
    }
    if (!ipc.updateTranslatePanelControllerWindowFrame) {
        ipc.updateTranslatePanelControllerWindowFrame = [](const kit::Rect& frame) {
            manager().updateTranslatePanelControllerWindowFrame(frame);
        };
    }
    if (!ipc.setFileDragEnable) ipc.setFileDragEnable = [](bool enable) { KZDragManager::shared().setEnable(enable); };
    KZAIIPCClient::setServices(std::move(ipc));
    auto shortcut = KZShortcutScreenshotReceiver::services();
    if (!shortcut.startScreenshotWithCompleteHandler) {
        shortcut.startScreenshotWithCompleteHandler = [](const KZShortcutScreenshotReceiver::CompleteHandler& handler) {
            KZScreenshotManager::shared().startScreenshotWithCompleteHandler(handler);
        };
    }
    if (!shortcut.showAISideWindowControllerWithImage) {
        shortcut.showAISideWindowControllerWithImage = [](const std::shared_ptr<kit::Image>& image) {
            manager().showAISideWindowControllerWithImage(image ? *image : kit::Image());
        };
    }
    if (!shortcut.showLoginWindowRelateToWindow)
        shortcut.showLoginWindowRelateToWindow = [] {
            KZAIUserManager::shared().showLoginWindowRelateToWindow(nullptr);
        };
    KZShortcutScreenshotReceiver::setServices(std::move(shortcut));

    KZAIWebServices::setLoginStateChangedHandler(
        [](const kit::Dictionary& info) { KZAIUserManager::shared().onLoginStateChanged(info); });
    KZAIWebServices::setShowLoginWindowHandler(
        [] { KZAIUserManager::shared().showLoginWindowRelateToWindow(nullptr); });
    KZAIWebServices::setShowImageWindowHandler([] { manager().showAIImageWindowControllerAndCreateNewTab(); });
    KZAIWebServices::setShowDocumentWindowHandler(
        [](const std::string& url) { manager().showAIDocumentWindowControllerAndCreateNewTab(url); });
}

KZWindowControllerManager::~KZWindowControllerManager() = default;

std::shared_ptr<KZSideMainWindowController> KZWindowControllerManager::makeSideWindowController() {
    auto side = kit::create<KZSideMainWindowController>();
    side->window()->center();
    return side;
}

std::shared_ptr<KZAIPermissionTipsWindowController> KZWindowControllerManager::makePermissionTip() {
    auto tip =
        kit::create<KZAIPermissionTipsWindowController>(false, kit::Size{kPermissionTipWidth, kPermissionTipHeight});
    tip->window()->center();
    return tip;
}

void KZWindowControllerManager::init() {
    sideMainWindowController_ = makeSideWindowController();
    permissionWndController_ = makePermissionTip();
    permissionWndControllerForSheet_ = makePermissionTip();
    explainPanelController_ = kit::create<KZExplainPanelController>(kit::Size{kPanelWidth, kPanelHeight});
    translatePanelController_ = kit::create<KZTranslatePanelController>(kit::Size{kPanelWidth, kPanelHeight});

    auto& settings = KZSharedPlistManager::sharedManager();
    p_useShowStatusBarItem_ = settings.db_showAIStatusBarItem();
    // On a later turn, once the delegate is done with the manager.
    std::weak_ptr<KZWindowControllerManager> weak = weak_from_this();
    kit::RunLoop::main().post([weak] {
        auto self = weak.lock();
        if (!self) return;
        if (KZSharedPlistManager::sharedManager().db_showAIStatusBarItem()) {
            self->__showStatusBarItem();
        } else {
            self->__hideStatusBarItem();
        }
    });
    languageObserver_ = kit::DistributedNotificationCenter::defaultCenter().addObserver(
        "user_language_change", std::nullopt, [weak](const kit::DistributedNotification&) {
            if (auto self = weak.lock()) self->_userChangeLanguage();
        });
    windowKeyObserver_ = kit::NotificationCenter::defaultCenter().addObserverForName(
        kit::kWindowDidBecomeKeyNotification, nullptr, [weak](const kit::Notification& note) {
            if (auto self = weak.lock()) self->sayQuitQuestionWaits(note.object);
        });
}

// ---- Status item ----------------------------------------------------------------------------------

void KZWindowControllerManager::setShowAIStatusBarItem(bool show) {
    KZ_LOG_METHOD("-[KZWindowControllerManager setShowAIStatusBarItem:]", "[GT] Set Show AI Status Bar Item, show: %d",
                  show ? 1 : 0);
    if (show == p_useShowStatusBarItem_) return;
    p_useShowStatusBarItem_ = show;
    KZSharedPlistManager::sharedManager().db_setShowAIStatusBarItem(show);
    if (show) {
        __showStatusBarItem();
    } else {
        __hideStatusBarItem();
    }
    KZAIIPCClient::shared().ai2main_showAIStatusItemChangedNotification(show);
}

void KZWindowControllerManager::quitAIFromStatusBar() {
    KZ_LOG_METHOD("-[KZWindowControllerManager quitAIFromStatusBar]", "[GT] Quit AI From Status Bar");
    __hideStatusBarItem();
}

void KZWindowControllerManager::showStatusBarIconWhenQuarnLaunch() {
    KZ_LOG_METHOD("-[KZWindowControllerManager showStatusBarIconWhenQuarnLaunch]",
                  "[GT] Show Status Bar Icon Quarn Launch");
    if (showAIStatusBarItem()) __showStatusBarItem();
}

void KZWindowControllerManager::__showStatusBarItem() {
    KZ_LOG_METHOD("-[KZWindowControllerManager __showStatusBarItem]", "[GT] __show status bar item");
    if (auto delegate = AppDelegate::current()) delegate->createStatueBar();
    HXReport::reportButtonClick(21000);
}

void KZWindowControllerManager::__hideStatusBarItem() {
    KZ_LOG_METHOD("-[KZWindowControllerManager __hideStatusBarItem]", "[GT] __hide status bar item");
    if (auto delegate = AppDelegate::current()) delegate->removeStatusBar();
}

// ---- Onboarding and tips --------------------------------------------------------------------------

void KZWindowControllerManager::showAISpliashWindowController() {
    std::weak_ptr<KZWindowControllerManager> weak = weak_from_this();
    AISpliashModel_ = JWTipModel::tipModelWithPriority(JWTipTaskPriorityHigh, 0, [weak](const auto& model) {
        if (auto self = weak.lock()) {
            self->__showAISpliashWindowController();
        } else {
            model->notifyTaskCompleted();
        }
    });
    AISpliashModel_->setName("AI Spliash");
    JWTipManager::manager().addTaskModel(AISpliashModel_);
}

const std::shared_ptr<KZAISplashWindowController>& KZWindowControllerManager::splashWindowController() {
    if (!splashWindowController_) {
        splashWindowController_ =
            kit::create<KZAISplashWindowController>(false, kit::Size{kSplashWidth, kSplashHeight});
        splashWindowController_->window()->center();
    }
    return splashWindowController_;
}

void KZWindowControllerManager::__showAISpliashWindowController() {
    if (KZSharedPlistManager::sharedManager().db_hasShowGuideWindow()) {
        kit::logLine("[WndCtrl] AI Spliash Window has been shown before.");
        if (AISpliashModel_) AISpliashModel_->notifyTaskCompleted();
        return;
    }
    KZAIIPCClient::shared().ai2main_enableGetTextProcessNotification();
    kit::Application::shared().activate(true);
    auto splash = splashWindowController();
    splash->showWindow();
    std::weak_ptr<KZWindowControllerManager> weak = weak_from_this();
    splash->setWindowWillCloseBlock([weak] {
        auto self = weak.lock();
        if (self && self->AISpliashModel_) self->AISpliashModel_->notifyTaskCompleted();
    });
    kit::logf("[WndCtrl] Show AI Spliash Window, frame is %s", kit::stringFromRect(splash->window()->frame()).c_str());
}

void KZWindowControllerManager::showGuideEnableWindowController() {
    kit::logLine("[WndCtrl] Show Guide Enable Window");
    // Sized for the language of the text it shows (the host's, or the source's when the host's
    // table has none), and never narrower than that text.
    const char* text = KZStatusGuideTipWindowController::kTipText;
    const bool chinese = KZLocalizedString(text) == text;
    auto tip = kit::create<KZStatusGuideTipWindowController>(kit::Size{chinese ? 328.0 : 490.0, kGuideTipHeight},
                                                             kit::EdgeInsets{0, 10, 0, 10});
    const kit::Size size{tip->widthFittingText(tip->size().width), kGuideTipHeight};
    const double offset = chinese ? 40 : 60;
    auto w = tip->window();
    kit::Rect buttonWindow;
    auto item = statusItem();
    if (item && item->hasWindow()) buttonWindow = item->windowFrame();
    w->setFrame({guideTipOrigin(buttonWindow, size, offset), size});
    kit::logf("[WndCtrl] Guide tip at %s, the status item at %s", kit::stringFromRect(w->frame()).c_str(),
              kit::stringFromRect(buttonWindow).c_str());
    w->setLevel(kit::WindowLevel::Floating);
    tip->showWindow();
    viewControllers_.push_back(tip);
    // The tray may place or move the item after the tip showed: the tip goes with it. A window
    // manager may put the tip elsewhere than asked (i3 offsets it by its frame as it maps it, and
    // holds it to its smallest floating height): where that covers the item, the tip is asked for
    // its place again, and then for that place less the offset.
    guideTipObservers_.clear();
    if (item) {
        struct Placing {
            kit::Point requested;
            int corrections = 0;
        };
        auto placing = std::make_shared<Placing>(Placing{w->frame().origin});
        std::weak_ptr<kit::StatusItem> weakItem = item;
        std::weak_ptr<kit::Window> weakTip = w;
        auto& center = kit::NotificationCenter::defaultCenter();
        guideTipObservers_.push_back(center.addObserverForName(
            kit::kStatusItemWindowDidChangeNotification, item.get(),
            [weakItem, weakTip, placing, offset](const kit::Notification&) {
                auto item = weakItem.lock();
                auto tip = weakTip.lock();
                if (!item || !tip || !tip->isVisible() || !item->hasWindow() || item->windowFrame().isEmpty()) return;
                placing->requested = guideTipOrigin(item->windowFrame(), tip->frame().size, offset);
                tip->setFrameOrigin(placing->requested);
                kit::logf("[WndCtrl] Guide tip moved to %s, the status item to %s",
                          kit::stringFromRect(tip->frame()).c_str(), kit::stringFromRect(item->windowFrame()).c_str());
            }));
        guideTipObservers_.push_back(center.addObserverForName(
            kit::kWindowDidMoveNotification, w.get(), [weakItem, weakTip, placing, offset](const kit::Notification&) {
                auto item = weakItem.lock();
                auto tip = weakTip.lock();
                if (!item || !tip || !tip->isVisible() || item->windowFrame().isEmpty()) return;
                const kit::Rect got = tip->frame();
                if (!got.intersects(item->windowFrame()) || placing->corrections >= 2) return;
                // Asked again first (i3 offsets a window only as it maps it); then less the offset.
                const kit::Point wanted = guideTipOrigin(item->windowFrame(), got.size, offset);
                const kit::Point shift{got.minX() - placing->requested.x, got.minY() - placing->requested.y};
                placing->requested =
                    placing->corrections++ == 0 ? wanted : kit::Point{wanted.x - shift.x, wanted.y - shift.y};
                tip->setFrameOrigin(placing->requested);
                kit::logf("[WndCtrl] Guide tip placed at %s over the status item: asked for %s",
                          kit::stringFromRect(got).c_str(), kit::stringFromRect(tip->frame()).c_str());
            }));
    }
    std::weak_ptr<KZWindowControllerManager> weak = weak_from_this();
    kit::RunLoop::main().postAfter(kGuideTipDuration, [weak] {
        if (auto self = weak.lock()) self->closeGuideEnableWindowController();
    });
}

kit::Point KZWindowControllerManager::guideTipOrigin(const kit::Rect& item, kit::Size size, double offset) {
    constexpr double kGap = 6;
    const double x = item.maxX() - size.width + offset;
    const auto screen = kit::Screen::screenNearest({item.midX(), item.midY()});
    if (!screen) return {x, item.minY() - kGap - size.height};
    const kit::Rect visible = screen->visibleFrame();
    // Under the item when there is room (a panel at the top), else over it (at the bottom), else
    // beside it (a panel at a side); then kept inside the visible frame.
    const kit::Point candidates[] = {
        {x, item.minY() - kGap - size.height},
        {x, item.maxY() + kGap},
        {item.minX() - kGap - size.width, item.midY() - size.height / 2},
        {item.maxX() + kGap, item.midY() - size.height / 2},
    };
    auto keptInside = [&](kit::Point p) {
        return kit::Point{std::max(visible.minX(), std::min(p.x, visible.maxX() - size.width)),
                          std::max(visible.minY(), std::min(p.y, visible.maxY() - size.height))};
    };
    // The first place with room that, kept inside the visible frame, leaves the item uncovered
    // (a tray the work area does not leave out may lie inside the visible frame).
    for (std::size_t i = 0; i < std::size(candidates); ++i) {
        const kit::Point& c = candidates[i];
        const bool vertical = i < 2;
        const bool fits = vertical ? c.y >= visible.minY() && c.y + size.height <= visible.maxY()
                                   : c.x >= visible.minX() && c.x + size.width <= visible.maxX();
        const kit::Point kept = keptInside(c);
        if (fits && !kit::Rect{kept, size}.intersects(item)) return kept;
    }
    return keptInside(candidates[0]);
}

void KZWindowControllerManager::closeGuideEnableWindowController() {
    kit::logLine("[WndCtrl] Close Guide Enable Window");
    closeWindowController(typeid(KZStatusGuideTipWindowController));
}

void KZWindowControllerManager::closeWindowController(const std::type_info& type) {
    for (auto it = viewControllers_.begin(); it != viewControllers_.end(); ++it) {
        const kit::WindowController& member = **it;
        if (typeid(member) != type) continue;
        auto controller = *it;
        viewControllers_.erase(it);
        controller->close();
        kit::Application::shared().releaseLater(std::move(controller));
        return;
    }
}

// ---- Side window ----------------------------------------------------------------------------------

void KZWindowControllerManager::loadSideWindowController() {
    kit::logLine("[WndCtrl] Preload Side Window");
    if (sideMainWindowController_) sideMainWindowController_->window()->center();
}

void KZWindowControllerManager::showSideMainWindowController() {
    if (sideMainWindowController_) sideMainWindowController_->showWithCompletionHandler();
}

void KZWindowControllerManager::hotkeyShowSideMainWindowController() {
    HXReport::reportCommonKeyValue(24023, "2");
    HXReport::reportCommonKeyValue(24020, "32");
    showSideMainWindowController();
}

bool KZWindowControllerManager::isVisibleSideMainWindow() const {
    return sideMainWindowController_ && sideMainWindowController_->window()->isVisible();
}

void KZWindowControllerManager::showAISideWindowController(int type, const std::string& text) {
    kit::logf("[WndCtrl] Show AI Side Window, type: %d, text: %s", type, text.empty() ? "(null)" : text.c_str());
    if (!sideMainWindowController_) return;
    switch (type) {
        case KZAISideWindowSourceTypeOpen:
        case KZAISideWindowSourceTypeContinueAsk:
        case KZAISideWindowSourceTypeScreenshot: sideMainWindowController_->showWithText(std::nullopt); break;
        case KZAISideWindowSourceTypeSearch:
            if (KZAIUserManager::shared().isLogin()) {
                sideMainWindowController_->showWithText(text);
            } else {
                KZAIUserManager::shared().showLoginWindowRelateToWindow(nullptr);
            }
            break;
        default: break;
    }
}

void KZWindowControllerManager::showAISideWindowControllerWithImage(const kit::Image& image) {
    kit::logf("[WndCtrl] Show AI Side Window, image %s",
              image.isNull() ? "(null)" : kit::stringFromSize(image.size()).c_str());
    if (sideMainWindowController_) sideMainWindowController_->showWithImage(image);
}

void KZWindowControllerManager::native2js_CommitContinueAsk(int type, const std::optional<std::string>& sid) {
    kit::logf("[WndCtrl] Commit Continue Ask, type: %d, sid: %s", type, sid ? sid->c_str() : "(null)");
    showAISideWindowController(KZAISideWindowSourceTypeContinueAsk, {});
    if (sideMainWindowController_) sideMainWindowController_->onCommitContinueAsk(type, sid);
}

void KZWindowControllerManager::notifySideWindowWebViewSystemDragFile(int dragging) {
    if (sideMainWindowController_) sideMainWindowController_->onSystemDragFile(dragging != 0);
}

// ---- Tool windows ---------------------------------------------------------------------------------

kit::Rect KZWindowControllerManager::__calulateFrameWithFunctionWindow(const std::shared_ptr<kit::Window>&) const {
    const kit::Size fallback = __functionWindowDefaultSize();
    std::shared_ptr<kit::Window> side = sideMainWindowController_ ? sideMainWindowController_->window() : nullptr;
    // The side window's own screen: the main screen may be another one.
    std::shared_ptr<kit::Screen> screen = side ? side->screen() : nullptr;
    if (!screen) screen = kit::Screen::mainScreen();
    const kit::Rect visible = screen ? screen->visibleFrame() : kit::Rect{};
    const double left = visible.minX() + 20;

    const kit::Rect s = side ? side->frame() : kit::Rect{};
    const double height = static_cast<float>(s.height());
    const double width = static_cast<float>(1.4285714285714286 * height);
    const double available = s.minX() - left;
    if (available >= width) return {s.minX() - width, s.minY(), width, height};
    if (available >= fallback.width) return {left, s.minY(), available, height};
    // Not even the default width is left: the default size, centred on that screen.
    return {std::floor(visible.midX() - fallback.width / 2), std::floor(visible.midY() - fallback.height / 2),
            fallback.width, fallback.height};
}

void KZWindowControllerManager::placeFunctionWindow(const std::shared_ptr<kit::WindowController>& controller) const {
    if (!controller || !controller->window()) return;
    controller->window()->setFrame(__calulateFrameWithFunctionWindow(controller->window()), false);
}

void KZWindowControllerManager::__createDocumentWindowIfNeed() {
    if (documentWindowController_) return;
    documentWindowController_ = kit::create<KZAIDocumentWindowController>(true, __functionWindowDefaultSize());
    placeFunctionWindow(documentWindowController_);
}

void KZWindowControllerManager::__createWritingWindowIfNeed() {
    if (writingWindowController_) return;
    writingWindowController_ = kit::create<KZAIWritingWindowController>(false, __functionWindowDefaultSize());
    placeFunctionWindow(writingWindowController_);
}

void KZWindowControllerManager::__createImageWindowControllerIfNeed() {
    if (imageWindowController_) return;
    imageWindowController_ = kit::create<KZAIImageWindowController>(true, __functionWindowDefaultSize());
    imageWindowController_->window()->center();
}

void KZWindowControllerManager::__createBrowserWindowControllerIfNeed() {
    if (browserWindowController_) return;
    browserWindowController_ = kit::create<KZAIBrowserWindowController>(true, __functionWindowDefaultSize());
    browserWindowController_->window()->center();
}

namespace {

// Whether an address belongs to the AI service the application is configured with.
bool isAIServiceAddress(const std::string& url) {
    const auto address = kit::Url::parse(url);
    const auto base = kit::Url::parse(KZBundleInfo::aiBaseURL());
    return address && base && !base->origin().empty() && address->origin() == base->origin();
}

// Tool windows made elsewhere (or plain ones in tests) are only shown.
template <class T>
std::shared_ptr<T> as(const std::shared_ptr<kit::WindowController>& controller) {
    return std::dynamic_pointer_cast<T>(controller);
}

}  // namespace

void KZWindowControllerManager::showAIDocumentWindowControllerAndCreateNewTab(const std::string& url) {
    kit::logf("[WndCtrl] Show AI Document Window And Create New Tab: %s", url.c_str());
    // Only the AI service's own pages become document tabs; other web addresses go to the
    // default browser, anything else nowhere.
    if (!isAIServiceAddress(url)) {
        const auto address = kit::Url::parse(url);
        if (address && (address->scheme() == "http" || address->scheme() == "https")) {
            kit::logf("[WndCtrl] not an AI page, opened in the browser: %s", url.c_str());
            kit::Workspace::shared().openURL(address->absoluteString());
        } else {
            kit::logf("[WndCtrl] not an AI page, dropped: %s", url.c_str());
        }
        return;
    }
    __createDocumentWindowIfNeed();
    if (auto document = as<KZAIDocumentWindowController>(documentWindowController_)) {
        document->showWindowAndCreateNewTabWithUrl(url);
    } else if (documentWindowController_) {
        documentWindowController_->showWindow();
    }
}

void KZWindowControllerManager::showAIDocumentWindowFromSideWindowWithActionInfo(const kit::Dictionary& actionInfo) {
    kit::logf("[WndCtrl] Show AI Document Window With Action Info: %s", kit::describe(kit::Value(actionInfo)).c_str());
    __createDocumentWindowIfNeed();
    if (auto document = as<KZAIDocumentWindowController>(documentWindowController_)) {
        document->showWindowAndCreateNewTabWithActionInfo(actionInfo);
    } else if (documentWindowController_) {
        documentWindowController_->showWindow();
    }
}

void KZWindowControllerManager::showAIWritingWindowControllerFromSideWindow() {
    kit::logLine("[WndCtrl] Show AI Writing Window");
    __createWritingWindowIfNeed();
    if (writingWindowController_) writingWindowController_->showWindow();
}

void KZWindowControllerManager::showAIWritingWindowFromSideWindowWithActionInfo(const kit::Dictionary& actionInfo) {
    __createWritingWindowIfNeed();
    if (auto writing = as<KZAIWritingWindowController>(writingWindowController_)) {
        writing->showWindowAndCreateNewTabWithActionInfo(actionInfo);
    } else if (writingWindowController_) {
        writingWindowController_->showWindow();
    }
}

void KZWindowControllerManager::showAIImageWindowFromSideWindowWithActionInfo(const kit::Dictionary& actionInfo) {
    kit::logLine("[WndCtrl] Show AI Image Window");
    if (!imageWindowController_) {
        __createImageWindowControllerIfNeed();
        placeFunctionWindow(imageWindowController_);
    }
    if (auto image = as<KZAIImageWindowController>(imageWindowController_)) {
        image->showWindowAndCreateNewTabWithActionInfo(actionInfo);
    } else if (imageWindowController_) {
        imageWindowController_->showWindow();
    }
}

void KZWindowControllerManager::showAIImageWindowControllerAndCreateNewTab() {
    kit::logLine("[WndCtrl] Show AI Image Window And Create New Tab");
    if (!imageWindowController_) {
        __createImageWindowControllerIfNeed();
        placeFunctionWindow(imageWindowController_);
    }
    if (auto image = as<KZAIImageWindowController>(imageWindowController_)) {
        image->showWindowAndCreateNewTabWithActionInfo(std::nullopt);
    } else if (imageWindowController_) {
        imageWindowController_->showWindow();
    }
}

void KZWindowControllerManager::showBrowserWindowControllerAndCreateNewTab(const std::string& url) {
    kit::logf("[WndCtrl] Show Browser Window And Create New Tab: %s", url.c_str());
    __setupBrowserWindow();
    if (auto browser = std::dynamic_pointer_cast<KZAIBrowserWindowController>(browserWindowController_)) {
        browser->showWindowAndCreateNewTabWithUrl(url);
    } else if (browserWindowController_) {
        browserWindowController_->showWindow();
    }
}

void KZWindowControllerManager::__setupBrowserWindow() {
    __createBrowserWindowControllerIfNeed();
    placeFunctionWindow(browserWindowController_);
}

void KZWindowControllerManager::destoryAIDocumentWindowController() {
    kit::logLine("[WndCtrl] Destory AI Document Window");
    if (!documentWindowController_) return;
    documentWindowController_->close();
    kit::Application::shared().releaseLater(std::move(documentWindowController_));
    documentWindowController_.reset();
}

void KZWindowControllerManager::destoryAIImageWindowController() {
    kit::logLine("[WndCtrl] Destory AI Image Window");
    if (!imageWindowController_) return;
    imageWindowController_->close();
    kit::Application::shared().releaseLater(std::move(imageWindowController_));
    imageWindowController_.reset();
}

bool KZWindowControllerManager::holdTerminationForOpenFiles(std::function<void(bool proceed)> decided, bool askUser) {
    if (quit_) {
        if (decided) quit_->decided.push_back(std::move(decided));
        if (!askUser) return true;
        if (!quit_->askUser) {
            kit::logLine("[WndCtrl] quit requested while the pages are asked: the user will be asked");
            quit_->askUser = true;
            return true;
        }
        kit::logLine("[WndCtrl] quit requested again: its question stands");
        bringQuitQuestionForward();
        return true;
    }
    quit_ = Quit{++lastQuitId_, {}, {}, {}, askUser};
    if (decided) quit_->decided.push_back(std::move(decided));
    if (askUser) {
        if (askNextBeforeQuit()) return true;
        quit_.reset();
        return false;
    }
    std::vector<std::shared_ptr<KZAITabWindowController>> tools;
    for (const auto& controller : {writingWindowController_, imageWindowController_, documentWindowController_})
        if (auto tool = std::dynamic_pointer_cast<KZAITabWindowController>(controller); tool && tool->hasUnsavedWork())
            tools.push_back(tool);
    if (tools.empty()) {
        quit_.reset();
        return false;
    }
    // No question: the pages say whether their work is saved; the quit goes on only when it is.
    struct Probe {
        std::size_t waiting = 0;
        bool unsaved = false;
    };
    auto probe = std::make_shared<Probe>();
    probe->waiting = tools.size();
    std::weak_ptr<KZWindowControllerManager> weak = weak_from_this();
    const std::uint64_t id = quit_->id;
    for (const auto& tool : tools) {
        tool->probeUnsavedWork([weak, id, probe](bool unsaved) {
            probe->unsaved = probe->unsaved || unsaved;
            if (--probe->waiting > 0) return;
            auto self = weak.lock();
            if (!self || !self->quit_ || self->quit_->id != id) return;
            if (probe->unsaved && !self->quit_->askUser) {
                // Not logged: the caller says once why it keeps waiting (this may run every second).
                self->finishQuit(false);
                return;
            }
            if (!self->askNextBeforeQuit()) self->finishQuit(true);
        });
    }
    return true;
}

void KZWindowControllerManager::bringQuitQuestionForward() {
    if (!quit_) return;
    auto asking = quit_->asking.lock();
    auto w = asking ? asking->window() : nullptr;
    if (!w || !w->isVisible()) return;
    w->makeKeyAndOrderFront();
    if (auto sheet = w->attachedSheet()) sheet->makeKeyAndOrderFront();
}

std::shared_ptr<kit::Window> KZWindowControllerManager::quitQuestionWindow() const {
    if (!quit_ || !quit_->askUser) return nullptr;
    auto asking = quit_->asking.lock();
    auto w = asking ? asking->window() : nullptr;
    return w && w->isVisible() ? w : nullptr;
}

void KZWindowControllerManager::toolWindowDidShow(KZBaseTabWindowController& window) {
    // Without a manager no quit is under way (and none is made for this).
    const auto& self = slot();
    auto asking = self ? self->quitQuestionWindow() : nullptr;
    if (!asking || asking == window.window()) return;
    kit::logLine("[WndCtrl] a tool window was shown while a quit asks: the question stays in front");
    self->bringQuitQuestionForward();
}

void KZWindowControllerManager::sayQuitQuestionWaits(const void* becameKey) {
    auto asking = quitQuestionWindow();
    if (!asking || asking.get() == becameKey) return;
    for (const auto& controller :
         {writingWindowController_, imageWindowController_, documentWindowController_, browserWindowController_}) {
        auto tool = std::dynamic_pointer_cast<KZBaseTabWindowController>(controller);
        if (!tool || tool->window().get() != becameKey) continue;
        kit::logLine("[WndCtrl] a tool window came forward while a quit asks: it says the question waits");
        tool->showTipViewWithText(KZLocalizedString(kQuitQuestionWaitsTip));
    }
}

bool KZWindowControllerManager::quitQuestionWaitsFor(KZBaseTabWindowController& window) {
    auto asking = quitQuestionWindow();
    if (!asking || asking == window.window()) return false;
    kit::logLine("[WndCtrl] the window waits for the quit's question: it comes forward");
    window.showTipViewWithText(KZLocalizedString(kQuitQuestionWaitsTip));
    bringQuitQuestionForward();
    return true;
}

bool KZWindowControllerManager::askNextBeforeQuit() {
    for (const auto& controller : {writingWindowController_, imageWindowController_, documentWindowController_}) {
        auto tool = std::dynamic_pointer_cast<KZAITabWindowController>(controller);
        if (!tool || !tool->hasUnsavedWork()) continue;
        const bool settled = std::ranges::all_of(tool->titleBarItemModels(), [&](const auto& model) {
            return std::ranges::any_of(quit_->settled, [&](const auto& weak) { return weak.lock() == model; });
        });
        if (settled) continue;
        kit::logf("[WndCtrl] asking the %s window about unsaved work before quitting",
                  controller == writingWindowController_ ? "writing"
                  : controller == imageWindowController_ ? "image"
                                                         : "document");
        quit_->asking = tool;
        std::weak_ptr<KZWindowControllerManager> weak = weak_from_this();
        // The tabs asked about; one opened while the question is up is asked about after it.
        std::vector<std::weak_ptr<KZWindowTitleTabBarItemModel>> asked(tool->titleBarItemModels().begin(),
                                                                       tool->titleBarItemModels().end());
        const std::uint64_t id = quit_->id;
        tool->closeUnsavedWorkBeforeQuit([weak, id, asked = std::move(asked)](bool proceed) {
            auto self = weak.lock();
            if (!self || !self->quit_ || self->quit_->id != id) return;
            if (!proceed) {
                self->finishQuit(false);
                return;
            }
            self->quit_->settled.insert(self->quit_->settled.end(), asked.begin(), asked.end());
            if (!self->askNextBeforeQuit()) self->finishQuit(true);
        });
        return true;
    }
    return false;
}

void KZWindowControllerManager::finishQuit(bool proceed) {
    if (!quit_) return;
    auto decided = std::move(quit_->decided);
    quit_.reset();
    for (auto& answer : decided) answer(proceed);
}

void KZWindowControllerManager::destoryBrowserWindowController() {
    kit::logLine("[WndCtrl] Destory Browser Window");
    if (!browserWindowController_) return;
    browserWindowController_->close();
    kit::Application::shared().releaseLater(std::move(browserWindowController_));
    browserWindowController_.reset();
}

bool KZWindowControllerManager::isAllFunctionWindowNotVisiable() const {
    for (const auto& controller :
         {imageWindowController_, writingWindowController_, documentWindowController_, browserWindowController_})
        if (isVisible(controller)) return false;
    if (isVisible(permissionWndController_) || isVisible(permissionWndControllerForSheet_)) return false;
    const auto& login = KZAIUserManager::shared().loginWindowController();
    if (login) return !isVisible(login);
    return true;
}

// ---- Panels ---------------------------------------------------------------------------------------

void KZWindowControllerManager::showExplainPanelControllerWindowWithText(const std::string& text, kit::Point origin) {
    if (explainPanelController_) explainPanelController_->showWindowWithText(text, origin);
}

void KZWindowControllerManager::showTranslatePanelControllerWindowWithText(const std::string& text, kit::Point origin) {
    if (translatePanelController_) translatePanelController_->showWindowWithText(text, origin);
}

void KZWindowControllerManager::updateExplainPanelControllerWindowFrame(const kit::Rect& frame) {
    if (explainPanelController_) explainPanelController_->setPanelFrame(frame);
}

void KZWindowControllerManager::updateTranslatePanelControllerWindowFrame(const kit::Rect& frame) {
    if (translatePanelController_) translatePanelController_->setPanelFrame(frame);
}

void KZWindowControllerManager::closeExplainTranslateWindows() {
    if (explainPanelController_) explainPanelController_->close();
    if (translatePanelController_) translatePanelController_->close();
}

// ---- Permission tips ------------------------------------------------------------------------------

void KZWindowControllerManager::showPermissionWindowOnWindow(const std::shared_ptr<kit::Window>& window) {
    permissionWndController_->endWindow();
    permissionWndControllerForSheet_->setTipsType(KZPermissionTipsTypeAccessibility);
    permissionWndControllerForSheet_->showOnWindow(window);
}

void KZWindowControllerManager::showPermissionWindowAlone() {
    permissionWndControllerForSheet_->endWindow();
    permissionWndController_->showOnWindow(nullptr);
}

void KZWindowControllerManager::showScreenshotPermissionWindowOnWindow(const std::shared_ptr<kit::Window>& window) {
    permissionWndController_->endWindow();
    permissionWndControllerForSheet_->setTipsType(KZPermissionTipsTypeScreenRecording);
    permissionWndControllerForSheet_->showOnWindow(window);
}

// ---- File drop ------------------------------------------------------------------------------------

void KZWindowControllerManager::showDropWindowController() {
    if (!dropWindowController_)
        dropWindowController_ =
            kit::create<KZDropWindController>(false, kit::Size{kDropWindowWidth, kDropWindowHeight});
    if (sideMainWindowController_) dropWindowController_->injectWebView(sideMainWindowController_->singleWebView());

    std::shared_ptr<kit::Screen> screen =
        sideMainWindowController_ ? sideMainWindowController_->currentMouseLocationScreen() : nullptr;
    if (!screen) screen = kit::Screen::mainScreen();
    kit::Point origin{-kDropWindowWidth - 20, -kDropWindowHeight - 20};
    if (screen) {
        const kit::Rect visible = screen->visibleFrame();
        origin = {visible.maxX() - kDropWindowWidth - 20, visible.maxY() - kDropWindowHeight - 20};
    }
    auto w = dropWindowController_->window();
    w->setFrame({origin, {kDropWindowWidth, kDropWindowHeight}}, true);
    w->setLevel(kDropWindowLevel);
    dropWindowController_->showWindow();
    KZDragManager::shared().setDropWindowFrameInScreen(w->frame());
}

void KZWindowControllerManager::closeDropWindowController() {
    if (!dropWindowController_) return;
    dropWindowController_->close();
    kit::Application::shared().releaseLater(std::move(dropWindowController_));
    dropWindowController_.reset();
}

void KZWindowControllerManager::giveWebviewBackSideWindow() {
    if (sideMainWindowController_) sideMainWindowController_->giveBackWebView();
}

// ---- Quitting and language ------------------------------------------------------------------------

void KZWindowControllerManager::closeAllAIWindowsWhenQuitFromStatusBar() {
    kit::logLine("[WndCtrl] Close All AI Windows When Quit From Status Bar");
    permissionWndController_->endWindow();
    const std::shared_ptr<kit::WindowController> side = sideMainWindowController_;
    for (const auto& controller :
         {side, writingWindowController_, imageWindowController_, documentWindowController_, browserWindowController_})
        if (isVisible(controller)) controller->window()->performClose();
    if (isVisible(splashWindowController_)) splashWindowController_->close();
    KZAIUserManager::shared().closeLoginWindow();
}

void KZWindowControllerManager::_userChangeLanguage() {
    // Whichever observer of the language change runs first, the windows are rebuilt with the
    // new language only after it is applied.
    AppDelegate::_setupLanguage();
    kit::logLine("[WndCtrl] user language changed, rebuilding the side window and the permission tips");
    if (permissionWndController_) {
        permissionWndController_->endWindow();
        permissionWndController_.reset();
    }
    permissionWndController_ = makePermissionTip();
    if (permissionWndControllerForSheet_) {
        permissionWndControllerForSheet_->endWindow();
        permissionWndControllerForSheet_.reset();
    }
    permissionWndControllerForSheet_ = makePermissionTip();
    if (sideMainWindowController_) {
        sideMainWindowController_->close();
        kit::Application::shared().releaseLater(std::move(sideMainWindowController_));
    }
    sideMainWindowController_ = makeSideWindowController();
}
