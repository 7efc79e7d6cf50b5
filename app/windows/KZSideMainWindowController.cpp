#include "app/windows/KZSideMainWindowController.h"

#include <algorithm>
#include <filesystem>

#include "app/capture/KZDragManager.h"
#include "app/capture/KZScreenshotManager.h"
#include "app/core/KZAIUserManager.h"
#include "app/core/KZBundleInfo.h"
#include "app/core/KZLaunchQueue.h"
#include "app/core/KZSharedPlistManager.h"
#include "app/ui/KZWindowTitleTabBarBackgroundView.h"
#include "app/web/KZAIWebView.h"
#include "app/web/KZSharedWebData.h"
#include "app/web/KZWebTypes.h"
#include "app/windows/KZCanNotBeKeyWnd.h"
#include "app/windows/KZCustomWindow.h"
#include "app/windows/KZWindowControllerManager.h"
#include "frameworks/HXReport.h"
#include "kit/base/Log.h"
#include "kit/base/RunLoop.h"
#include "kit/ui/Animation.h"
#include "kit/ui/Application.h"
#include "kit/ui/Control.h"
#include "kit/ui/Create.h"
#include "kit/ui/Event.h"
#include "kit/ui/Layout.h"
#include "kit/ui/Screen.h"

namespace {

// Collection behaviours of the side window (the newer platform's values).
constexpr unsigned kPinnedCollectionBehavior =
    kit::CollectionCanJoinAllSpaces | kit::CollectionFullScreenPrimary | kit::CollectionFullScreenAuxiliary;
constexpr unsigned kUnpinnedCollectionBehavior = kit::CollectionFullScreenPrimary;
constexpr int kPinnedLevel = 20;

const std::vector<std::string>& defaultDragExtensions() {
    static const std::vector<std::string> extensions{"txt",  "pdf", "doc", "docx", "ppt", "pptx", "xls",
                                                     "xlsx", "csv", "jpg", "jpeg", "png", "bmp",  "webp"};
    return extensions;
}

kit::Rect visibleFrameOf(const std::shared_ptr<kit::Screen>& screen) {
    return screen ? screen->visibleFrame() : kit::Rect{};
}

// The application's window a notification came from, when it is one of the base window
// controllers' windows.
// The application's window that sent a notification, when it is of the class asked for.
template <class WindowClass>
std::shared_ptr<WindowClass> windowOf(const void* object) {
    if (!object) return nullptr;
    for (const auto& window : kit::Application::shared().windows())
        if (window.get() == object) return std::dynamic_pointer_cast<WindowClass>(window);
    return nullptr;
}

std::shared_ptr<KZCanNotBeKeyWnd> controllerWindowOf(const void* object) { return windowOf<KZCanNotBeKeyWnd>(object); }

}  // namespace

KZSideMainWindowController::KZSideMainWindowController()
    : KZBaseWindowController(false, false, kit::Size{kDefaultWidth, kDefaultHeight}) {}

KZSideMainWindowController::~KZSideMainWindowController() {
    kit::NotificationCenter::defaultCenter().removeObserver(static_cast<kit::WindowController*>(this));
    KZGlobalTimer::shared().unregisterListener(this);
    kit::RunLoop::main().cancelPerforms(this);
}

std::shared_ptr<KZSideMainWindowController> KZSideMainWindowController::self() {
    return std::static_pointer_cast<KZSideMainWindowController>(shared_from_this());
}

// ---- Construction ---------------------------------------------------------------------------------

void KZSideMainWindowController::customInit() {
    auto w = window();
    auto me = self();
    w->setDelegate(std::static_pointer_cast<kit::WindowDelegate>(me));
    for (auto kind : {kit::WindowButton::Miniaturize, kit::WindowButton::Zoom})
        if (auto button = w->standardWindowButton(kind)) button->setHidden(true);

    w->setMinSize(w->frame().size);
    w->setMaxSize(w->frame().size);
    w->setMovable(false);

    __changeWindowLevelAndCollectionBehaviorWhenPinChanged();

    // Registered under the controller's address, removed when it goes.
    const std::shared_ptr<kit::WindowController> observer = me;
    KZObserveUserLoginNotifications(observer, me);

    std::weak_ptr<KZSideMainWindowController> weak = me;
    auto& center = kit::NotificationCenter::defaultCenter();
    currentScreenCount_ = static_cast<long>(kit::Screen::screens().size());
    center.addObserver(observer, kit::kApplicationDidChangeScreenParametersNotification, nullptr,
                       [weak](const kit::Notification& note) {
                           if (auto s = weak.lock()) s->onScreenDidChange(note);
                       });

    initAutoHiddenListeners();
    registerDragDrop();

    currentMouseLocationScreen_ = kit::Screen::mainScreen();
    latestWindowShowInScreen_ = currentMouseLocationScreen_;

    KZGlobalTimer::shared().registerListener(std::static_pointer_cast<KZGlobalTimerDelegate>(me));

    draggingObservation_ = KZDragManager::shared().addDraggingObserver([weak](bool oldValue, bool newValue) {
        if (auto s = weak.lock()) s->observeDraggingChanged(oldValue, newValue);
    });
}

const std::shared_ptr<KZWindowTitleTabBarBackgroundView>& KZSideMainWindowController::titleBgView() {
    if (!titleBgView_) titleBgView_ = kit::create<KZWindowTitleTabBarBackgroundView>();
    return titleBgView_;
}

const std::shared_ptr<KZSideWindowRightView>& KZSideMainWindowController::rightView() {
    if (!rightView_) {
        rightView_ = kit::create<KZSideWindowRightView>(std::weak_ptr<KZSideWindowRightViewDelegate>(
            std::static_pointer_cast<KZSideWindowRightViewDelegate>(self())));
    }
    return rightView_;
}

const std::shared_ptr<KZAIWebView>& KZSideMainWindowController::singleWebView() {
    if (!singleWebView_) {
        singleWebView_ = kit::create<KZAIWebView>();
        singleWebView_->setDelegate(std::static_pointer_cast<KZAIWebViewDelegate>(self()));
    }
    return singleWebView_;
}

void KZSideMainWindowController::setupViews() {
    auto content = window()->contentView();
    content->setWantsLayer(true);
    content->addSubview(titleBgView());
    titleBgView_->addSubview(rightView());
    content->addSubview(singleWebView());

    kit::makeConstraints(titleBgView_, [&](kit::ConstraintMaker& make) {
        make.left().top().right().equalTo(content);
        make.height().equalTo(kTitleHeight);
    });
    kit::makeConstraints(rightView_, [&](kit::ConstraintMaker& make) {
        make.top().bottom().right().equalTo(titleBgView_);
        make.width().equalTo(p_Right_Bg_View_Width);
    });
    layoutWebView();
    singleWebView_->loadRequestWithURL(currentWebviewURL());
    // A hot key brings the window in: what can be made ahead of its first showing is made now.
    window()->prepareForDisplay();
}

void KZSideMainWindowController::layoutWebView() {
    auto content = window()->contentView();
    const double width = windowsWidth();
    kit::makeConstraints(singleWebView_, [&](kit::ConstraintMaker& make) {
        make.right().bottom().equalTo(content);
        make.top().equalTo(kit::bottomOf(titleBgView_));
        // As wide as the content, so that a window the window manager makes larger (tiled, full
        // screen) shows the page all over; never narrower than the window's own width, so that
        // the page keeps its width against the right edge while the window slides.
        make.width().equalTo(content).priority(kit::kLayoutPriorityDefaultLow);
        make.width().greaterThanOrEqualTo(width);
    });
}

std::string KZSideMainWindowController::currentWebviewURL() const {
    return KZBundleInfo::aiPageURL(kChatPagePath, KZWebPageVersion);
}

// ---- Geometry -------------------------------------------------------------------------------------

float KZSideMainWindowController::windowsWidth() const {
    const kit::Rect visible = visibleFrameOf(currentMouseLocationScreen_);
    const float width = static_cast<float>(std::max(0.2 * visible.width(), 390.0));
    return std::min(width, 420.0f);
}

float KZSideMainWindowController::windowsHeight() const {
    const kit::Rect visible = visibleFrameOf(currentMouseLocationScreen_);
    // Without a screen the visible height is 0: a window with a negative height is no window.
    return static_cast<float>(std::max(0.0, std::min(visible.height() - 20 - 20, 2160.0)));
}

void KZSideMainWindowController::__findMouseLocationScreen() {
    const auto screens = kit::Screen::screens();
    // One screen (or none) is the answer wherever the pointer is: asking the display where the
    // pointer is would cost a round trip to it every second for nothing.
    if (screens.size() <= 1) {
        currentMouseLocationScreen_ = kit::Screen::mainScreen();
        return;
    }
    const auto found = kit::Screen::screenUnderMouse(kit::Event::mouseLocation());
    currentMouseLocationScreen_ = found ? found : kit::Screen::mainScreen();
}

void KZSideMainWindowController::__changeWindowLevelAndCollectionBehaviorWhenPinChanged() {
    auto w = window();
    if (!w) return;
    if (KZSharedPlistManager::sharedManager().db_qaWindowPinState()) {
        w->setLevel(kPinnedLevel);
        w->setCollectionBehavior(kPinnedCollectionBehavior);
    } else {
        w->setLevel(kit::WindowLevel::Normal);
        w->setCollectionBehavior(kUnpinnedCollectionBehavior);
    }
}

bool KZSideMainWindowController::isPinnedOnRightView() { return rightView()->isPinned(); }

bool KZSideMainWindowController::isShowSystemPanel() { return singleWebView()->isShowPanel(); }

// ---- Showing and hiding ---------------------------------------------------------------------------

void KZSideMainWindowController::closeWindowAtOnce() {
    ++slideGeneration_;
    const bool wasClosing = isWindowClosing_;
    window()->close();
    if (wasClosing) finishSlideOut();
}

void KZSideMainWindowController::finishSlideOut() {
    isWindowClosing_ = false;
    if (auto handler = std::exchange(slideOutHandler_, nullptr)) handler();
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f", kit::RunLoop::main().now() - beginShowWindowDate_);
    HXReport::reportCommonKeyValue(24024, seconds);
}

void KZSideMainWindowController::showWithCompletionHandler(Handler handler) {
    const double now = kit::RunLoop::main().now();
    // The pointer may have gone to another screen since the last tick.
    __findMouseLocationScreen();
    kit::Application::shared().activate(true);

    auto w = window();
    if (w->isVisible()) {
        // Sliding in, shown or sliding out on this screen: only to the front. A running
        // slide-out still closes the window and tells its handler when it ends.
        if (currentMouseLocationScreen_ == latestWindowShowInScreen_) {
            beginShowWindowDate_ = now;
            w->makeKeyAndOrderFront();
            if (handler) handler();
            return;
        }
        // A slide-out cut short here reports the time since the earlier show.
        closeWindowAtOnce();
    }
    beginShowWindowDate_ = now;

    const kit::Rect visible = visibleFrameOf(currentMouseLocationScreen_);
    const float width = windowsWidth();
    const float height = windowsHeight();
    const float x = static_cast<float>(visible.maxX() - width - 20);
    const float y = static_cast<float>(visible.maxY() - height - 20);

    kit::updateConstraints(singleWebView(),
                           [&](kit::ConstraintMaker& make) { make.width().greaterThanOrEqualTo(double(width)); });

    // Placed before it is ordered in: shown first, it would flash where it was last.
    w->setFrame(kit::Rect{double(x) + double(width), double(y), 0, double(height)}, false);
    w->makeKeyAndOrderFront();
    latestWindowShowInScreen_ = currentMouseLocationScreen_;

    const kit::Rect target{double(x), double(y), double(width), double(height)};
    slideWindowTo(target, true, [handler = std::move(handler), target](KZSideMainWindowController& s, bool finished) {
        // Stopped early by a frame change that is not ours (the window manager placing the
        // window as it maps it): the window still ends where the slide was going.
        if (!finished) s.window()->setFrame(target);
        s.onSideWindowShow();
        if (handler) handler();
    });
}

void KZSideMainWindowController::slideWindowTo(const kit::Rect& target, bool slidingIn,
                                               std::function<void(KZSideMainWindowController&, bool)> done) {
    auto w = window();
    // A slide or close begun later takes over: this one's end then does nothing.
    const std::uint64_t generation = ++slideGeneration_;
    std::weak_ptr<KZSideMainWindowController> weak = self();
    kit::AnimationContext::runAnimationGroup(
        [&](kit::AnimationContext& context) {
            context.duration = kSlideDuration;
            context.timingFunction = kit::TimingFunction::EaseInEaseOut;
            // Sliding in from nothing, the first sliver is drawn now rather than a frame later.
            context.firstFrameAtOnce = slidingIn;
            w->animator().setFrame(target);
        },
        [weak, generation, done = std::move(done)](bool finished) {
            auto s = weak.lock();
            if (!s || s->slideGeneration_ != generation) return;
            done(*s, finished);
        });
}

void KZSideMainWindowController::hideWithCompletionHandler(Handler handler) {
    auto w = window();
    if (isWindowClosing_ || !w->isVisible()) {
        if (handler) handler();
        return;
    }
    isWindowClosing_ = true;
    slideOutHandler_ = std::move(handler);
    const kit::Rect frame = w->frame();
    const float x = static_cast<float>(frame.minX());
    const float y = static_cast<float>(frame.minY());
    const float width = static_cast<float>(frame.width());
    const float height = static_cast<float>(frame.height());
    const kit::Rect target{double(x) + double(width), double(y), 0, double(height)};

    slideWindowTo(target, false, [](KZSideMainWindowController& s, bool) {
        s.window()->close();
        s.finishSlideOut();
    });
}

bool KZSideMainWindowController::windowShouldClose(kit::Window&) {
    std::weak_ptr<KZSideMainWindowController> weak = self();
    hideWithCompletionHandler([weak] {
        if (auto s = weak.lock()) s->onSideWindowClose();
    });
    return false;
}

void KZSideMainWindowController::showWithText(const std::optional<std::string>& text, Handler handler) {
    const bool hasText = text && !text->empty();
    auto webView = singleWebView();
    const bool ready = webView->isAIWebReady();
    if (!ready) {
        // Only a text replaces a waiting one: a plain show must not wipe it out.
        if (hasText) needSearchStringBeforeWebReady_ = *text;
        webView->_reportWebViewIsNotReadyWhenUserEnter(KZWebViewSceneSide);
    }
    showWithCompletionHandler(std::move(handler));
    if (ready && hasText) {
        webView->native2js_sendMessageToJSWithType(KZWebWindowTypeSearch, *text);
        webView->native2js_webShow(KZWebWindowTypeSearch, true);
    }
    HXReport::reportCommonKeyValue(24023, "4");
}

void KZSideMainWindowController::showWithImage(const kit::Image& image, Handler handler) {
    auto webView = singleWebView();
    if (webView->isAIWebReady()) {
        if (!image.isNull()) webView->native2js_fileForAnalyze(image);
    } else {
        if (!image.isNull()) needSearchImageBeforeWebReady_ = image;
        webView->_reportWebViewIsNotReadyWhenUserEnter(KZWebViewSceneSide);
    }
    showWithCompletionHandler(std::move(handler));
    HXReport::reportCommonKeyValue(24023, "3");
}

void KZSideMainWindowController::webviewIsReadyFrom(KZAIWebView&, const std::optional<std::string>& from) {
    kit::logf("[SIDE] Web Is Ready：%s", from ? from->c_str() : "(null)");
    // What the launch left for later may start now.
    KZLaunchQueue::release();
    auto w = window();
    if (!needSearchStringBeforeWebReady_.empty() && w->isVisible()) {
        const std::string text = needSearchStringBeforeWebReady_;
        showWithText(text);
        needSearchStringBeforeWebReady_.clear();
    }
    if (!needSearchImageBeforeWebReady_.isNull() && w->isVisible()) {
        const kit::Image image = needSearchImageBeforeWebReady_;
        showWithImage(image);
        needSearchImageBeforeWebReady_ = kit::Image();
    }
}

void KZSideMainWindowController::onCommitContinueAsk(int type, const std::optional<std::string>& sessionID) {
    singleWebView()->native2js_commitContinueAsk(type, sessionID);
}

void KZSideMainWindowController::onSystemDragFile(bool dragging) {
    singleWebView()->native2js_systemDragFile(dragging);
}

void KZSideMainWindowController::onSideWindowShow() { kit::logLine("[SD] Side Window Show"); }

void KZSideMainWindowController::onSideWindowClose() {
    singleWebView()->native2js_windowHide();
    kit::logLine("[SD] Side Window Close");
}

// ---- Screens --------------------------------------------------------------------------------------

void KZSideMainWindowController::onTimerTick(KZGlobalTimer&) { __findMouseLocationScreen(); }

void KZSideMainWindowController::onScreenDidChange(const kit::Notification& notification) {
    const long count = static_cast<long>(kit::Screen::screens().size());
    kit::logf("[SD] -- Screen Did Change %s, last count: %ld, now screen count: %ld", notification.name.c_str(),
              currentScreenCount_, count);
    if (count == currentScreenCount_) return;
    currentScreenCount_ = count;
    delayReshowSideWindowWhenScreensDidChanged();
}

void KZSideMainWindowController::delayReshowSideWindowWhenScreensDidChanged() {
    if (!window()->isVisible()) return;
    closeWindowAtOnce();
    auto& loop = kit::RunLoop::main();
    loop.cancelPerforms(this, kDelayReshowSelector);
    std::weak_ptr<KZSideMainWindowController> weak = self();
    loop.performAfterDelay(this, kDelayReshowSelector, kScreenChangeReshowDelay, [weak] {
        if (auto s = weak.lock()) s->__delayReshowSideWindow();
    });
}

void KZSideMainWindowController::__delayReshowSideWindow() {
    kit::logLine("[SD] -- Screen Did Change __delayReshowSideWindow");
    std::weak_ptr<KZSideMainWindowController> weak = self();
    kit::RunLoop::main().postAfter(kScreenChangeReshowAfter, [weak] {
        if (auto s = weak.lock()) s->showWithCompletionHandler();
    });
}

// ---- Login ----------------------------------------------------------------------------------------

void KZSideMainWindowController::onUserLoginStateChanged() {
    rightView()->onUserLoginStateChanged();
    const bool login = KZAIUserManager::shared().isLogin();
    singleWebView()->native2js_loginEventNotify(login);
    singleWebView()->native2js_clientUserChange(login, true);
}

void KZSideMainWindowController::onUserCancelLogin() { singleWebView()->native2js_cancelLogin(); }

void KZSideMainWindowController::onForceReloadWebview() {
    rightView()->onUserLoginStateChanged();
    singleWebView()->reloadOriginUrl();
}

void KZSideMainWindowController::onClickLogin() {
    KZAIUserManager::shared().showLoginWindowRelateToWindow(nullptr);
    HXReport::reportCommonKeyValue(24022, "3");
}

void KZSideMainWindowController::onClickLogout() { singleWebView()->native2js_requestLogout(); }

void KZSideMainWindowController::onClickFlushWeb() { singleWebView()->reload(); }

void KZSideMainWindowController::onPinStatusChangedFromRightView(KZSideWindowRightView&) {
    __changeWindowLevelAndCollectionBehaviorWhenPinChanged();
}

std::shared_ptr<kit::Window> KZSideMainWindowController::getWindow() { return window(); }

// ---- Drag to the AI -------------------------------------------------------------------------------

void KZSideMainWindowController::registerDragDrop() {
    auto extensions = KZSharedWebData::shared().supportedNativeDragTypes();
    if (extensions.empty()) extensions = defaultDragExtensions();
    auto& drag = KZDragManager::shared();
    drag.setEnable(KZSharedPlistManager::sharedManager().db_fileDragState());
    drag.setMultiple(false);
    drag.setFileExtensions(extensions);
    std::weak_ptr<KZSideMainWindowController> weak = self();
    drag.setShowDropViewBlock([weak](const std::vector<std::string>& paths) {
        if (auto s = weak.lock()) s->onDragStart(paths);
    });
    drag.setDropCompletionBlock([weak](bool inside) {
        if (auto s = weak.lock()) s->onDrop(inside);
    });
}

void KZSideMainWindowController::onDragStart(const std::vector<std::string>& paths) {
    if (!paths.empty()) {
        const std::string extension = std::filesystem::path(paths.front()).extension().string();
        draggedFileExtension_ = extension.empty() ? std::string() : extension.substr(1);
    }
    const std::string extension = draggedFileExtension_.value_or("");
    HXReport::reportCommonKeyValue(21121, extension);
    HXReport::reportCommonKeyValue(21122, extension);
    auto& manager = KZWindowControllerManager::manager();
    if (!manager.isVisibleSideMainWindow()) {
        dropWindowOpenedForDrag_ = true;
        draggedPaths_ = paths;
        // The drop on the drop window is handed over from here, once: the page's own drop may
        // come too late for the window, or not at all.
        singleWebView()->setDropsHandedOverByOwner(true);
        manager.showDropWindowController();
    }
}

void KZSideMainWindowController::onDrop(bool inside) {
    // Whether the side window is visible now does not matter: a drop window opened for this drag
    // has the web view, which must come back (the window may have been shown during the drag).
    if (!dropWindowOpenedForDrag_) {
        draggedFileExtension_.reset();
        return;
    }
    dropWindowOpenedForDrag_ = false;
    std::weak_ptr<KZSideMainWindowController> weak = self();
    kit::RunLoop::main().postAfter(kDropCloseDelay, [weak, inside] {
        auto s = weak.lock();
        if (!s) return;
        auto& windows = KZWindowControllerManager::manager();
        windows.closeDropWindowController();
        windows.giveWebviewBackSideWindow();
        auto webView = s->singleWebView();
        if (inside) {
            const std::string extension = s->draggedFileExtension_.value_or("");
            HXReport::reportCommonKeyValue(24023, "5");
            HXReport::reportCommonKeyValue(24020, "34");
            HXReport::reportCommonKeyValue(21123, extension);
            windows.showSideMainWindowController();
            // Whichever comes first, the slide or the page's readiness: the files go when the
            // page is ready.
            webView->handOverDroppedFiles(s->draggedPaths_);
        }
        s->draggedFileExtension_.reset();
        s->draggedPaths_.clear();
        // After whatever the engine reported of the drop window's drop, which came before.
        std::weak_ptr<KZAIWebView> weakView = webView;
        kit::RunLoop::main().post([weakView] {
            if (auto view = weakView.lock()) view->setDropsHandedOverByOwner(false);
        });
    });
}

void KZSideMainWindowController::observeDraggingChanged(bool oldValue, bool newValue) {
    kit::logf("[SD] dragging changed, old: %d, new: %d", oldValue ? 1 : 0, newValue ? 1 : 0);
    isDraggingFile_ = newValue;
    if (window()->isVisible()) onSystemDragFile(newValue);
}

void KZSideMainWindowController::giveBackWebView() {
    auto webView = singleWebView();
    kit::removeConstraints(webView);
    webView->removeFromSuperview();
    window()->contentView()->addSubview(webView, kit::View::Ordering::Below, nullptr);
    layoutWebView();
}

// ---- Page actions ---------------------------------------------------------------------------------

void KZSideMainWindowController::webviewReceiveFileAction(KZAIWebView&, const kit::Dictionary& action) {
    const kit::Value* typeValue = action.find("type");
    const std::string* type = typeValue ? typeValue->asString() : nullptr;
    if (!type) return;
    auto& manager = KZWindowControllerManager::manager();
    if (*type == "file") {
        manager.showAIDocumentWindowFromSideWindowWithActionInfo(action);
    } else if (*type == "picture") {
        manager.showAIImageWindowFromSideWindowWithActionInfo(action);
    } else if (*type == "write") {
        manager.showAIWritingWindowControllerFromSideWindow();
    }
}

void KZSideMainWindowController::webviewDidReceiveWebRequestLogin(KZAIWebView&) {
    HXReport::reportCommonKeyValue(24022, "4");
}

void KZSideMainWindowController::webviewDidNotifyStartCapture(KZAIWebView&) {
    HXReport::reportCommonKeyValue(24060, "1");
    std::weak_ptr<KZSideMainWindowController> weak = self();
    KZScreenshotManager::shared().startScreenshotWithCompleteHandler(
        [weak](const std::shared_ptr<kit::Image>& image, int) {
            auto s = weak.lock();
            if (!s || !image || image->isNull()) return;
            s->singleWebView()->native2js_fileForAnalyze(*image);
            kit::RunLoop::main().post([weak] {
                if (auto again = weak.lock()) again->showWithCompletionHandler();
            });
        });
}

void KZSideMainWindowController::webviewElementWillEnterFullScreen(KZAIWebView&,
                                                                   const kit::Notification& notification) {
    kit::logf("side -- enter --- %s", kit::objectLogText("Window", notification.object).c_str());
}

void KZSideMainWindowController::webviewElementDidExitFullScreen(KZAIWebView&, const kit::Notification& notification) {
    kit::logf("side -- exit --- %s", kit::objectLogText("Window", notification.object).c_str());
    if (window()->isVisible() || controllerWindowOf(notification.object)) return;
    showWithCompletionHandler();
}

// ---- Auto-hide ------------------------------------------------------------------------------------

void KZSideMainWindowController::initAutoHiddenListeners() {
    std::weak_ptr<KZSideMainWindowController> weak = self();
    auto& center = kit::NotificationCenter::defaultCenter();
    const std::shared_ptr<kit::WindowController> observer = self();
    using Method = void (KZSideMainWindowController::*)(const kit::Notification&);
    for (const auto& [name, method] :
         {std::pair<const char*, Method>{kit::kWindowWillCloseNotification,
                                         &KZSideMainWindowController::onAppWindowWillClose},
          {kit::kWindowDidMiniaturizeNotification, &KZSideMainWindowController::onAppWindowDidMiniaturize},
          {kit::kWindowDidBecomeKeyNotification, &KZSideMainWindowController::onAppWindowDidBecomeKey}}) {
        center.addObserver(observer, name, nullptr, [weak, method = method](const kit::Notification& note) {
            if (auto s = weak.lock()) ((*s).*method)(note);
        });
    }
    const kit::EventMask presses =
        kit::EventMasks::LeftMouseDown | kit::EventMasks::RightMouseDown | kit::EventMasks::OtherMouseDown;
    pressElsewhereMonitor_ = kit::EventMonitor::addGlobalMonitor(presses, [weak](const kit::Event&) {
        auto s = weak.lock();
        if (s && !s->isWindowClosing_) s->__beginDelayWindowDisappear();
    });
}

void KZSideMainWindowController::onAppWindowWillClose(const kit::Notification& notification) {
    auto own = window();
    if (notification.object == own.get()) {
        __cancelDelayWindowAutoDisappear();
        return;
    }
    auto closing = controllerWindowOf(notification.object);
    if (!closing || closing->customWndType() == 5) return;
    kit::logf("[SD] -- window Will Close -- %s", kit::objectLogText("Window", notification.object).c_str());
    std::weak_ptr<KZSideMainWindowController> weak = self();
    kit::RunLoop::main().postAfter(kAutoHideAfterOtherWindowDelay, [weak] {
        if (auto s = weak.lock()) s->__beginDelayWindowDisappear();
    });
}

void KZSideMainWindowController::onAppWindowDidMiniaturize(const kit::Notification& notification) {
    if (!controllerWindowOf(notification.object)) return;
    kit::logf("[SD] -- Window Did Miniaturize -- %s", kit::objectLogText("Window", notification.object).c_str());
    __beginDelayWindowDisappear();
}

void KZSideMainWindowController::onAppWindowDidBecomeKey(const kit::Notification& notification) {
    if (notification.object == window().get()) {
        kit::logLine("[SD] -- window become key");
        std::weak_ptr<KZSideMainWindowController> weak = self();
        kit::RunLoop::main().postAfter(kAutoHideAfterOtherWindowDelay, [weak] {
            if (auto s = weak.lock()) s->__cancelDelayWindowAutoDisappear();
        });
        return;
    }
    // A popover (the title bar's settings menu or login card) takes the keyboard when it opens;
    // the side window resigning key to it is not the user turning away.
    if (windowOf<KZCustomWindow>(notification.object)) {
        __cancelDelayWindowAutoDisappear();
        return;
    }
    if (!controllerWindowOf(notification.object)) return;
    if (!KZWindowControllerManager::manager().isAllFunctionWindowNotVisiable()) __cancelDelayWindowAutoDisappear();
}

void KZSideMainWindowController::windowDidResignKey(kit::Window&) {
    kit::logLine("[SD] -- window resign key ??");
    if (!isWindowClosing_) __beginDelayWindowDisappear();
}

void KZSideMainWindowController::__beginDelayWindowDisappear() {
    if (!KZWindowControllerManager::manager().isAllFunctionWindowNotVisiable()) return;
    // A hidden window has nothing to slide out, and its page must not hear that it hid.
    if (!window()->isVisible()) return;
    auto& loop = kit::RunLoop::main();
    loop.cancelPerforms(this, kAutoDisappearSelector);
    kit::logLine("[SD] -- begin Delay Window Disappear");
    std::weak_ptr<KZSideMainWindowController> weak = self();
    loop.performAfterDelay(this, kAutoDisappearSelector, kAutoDisappearDelay, [weak] {
        if (auto s = weak.lock()) s->__windowAutoDisapper();
    });
}

void KZSideMainWindowController::__windowAutoDisapper() {
    if (isPinnedOnRightView()) return;
    if (isShowSystemPanel()) {
        kit::logLine("[SD] -- is showing system panel");
        return;
    }
    if (isDraggingFile_) {
        kit::logLine("[SD] -- is dragging file");
        return;
    }
    if (!window()->isVisible() || isWindowClosing_) return;
    std::weak_ptr<KZSideMainWindowController> weak = self();
    hideWithCompletionHandler([weak] {
        if (auto s = weak.lock()) s->onSideWindowClose();
    });
}

void KZSideMainWindowController::__cancelDelayWindowAutoDisappear() {
    kit::logLine("[SD] -- cancel Delay Window Disappear");
    kit::RunLoop::main().cancelPerforms(this, kAutoDisappearSelector);
}

// ---- Page flush -----------------------------------------------------------------------------------

void KZSideMainWindowController::__delayMarkWebviewNeedReflush() {
    __cancelDelayFlushWebview();
    std::weak_ptr<KZSideMainWindowController> weak = self();
    kit::RunLoop::main().performAfterDelay(this, kFlushWebviewSelector, kFlushWebviewDelay, [weak] {
        if (auto s = weak.lock()) s->__flushWebviewsWhenSideWindowHidden15min();
    });
}

void KZSideMainWindowController::__cancelDelayFlushWebview() {
    kit::RunLoop::main().cancelPerforms(this, kFlushWebviewSelector);
}

void KZSideMainWindowController::__flushWebviewsWhenSideWindowHidden15min() {
    kit::logLine("[SD] Webviews When Side Window Hidden");
    singleWebView()->setIsAIWebReady(false);
    KZAIUserManager::shared().setNeedReflushWebviewWhenShowWindowAfter15min(true);
}
