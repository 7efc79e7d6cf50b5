#include "app/tools/KZWebPanelController.h"

#include <cmath>

#include "app/core/KZAIUserManager.h"
#include "app/core/KZLaunchQueue.h"
#include "app/tools/KZAIPanelWebview.h"
#include "app/tools/KZCustomPanel.h"
#include "app/tools/KZPanelTopView.h"
#include "app/windows/KZWindowControllerManager.h"
#include "kit/base/Log.h"
#include "kit/base/RunLoop.h"
#include "kit/ui/Create.h"
#include "kit/ui/Layout.h"
#include "kit/ui/Window.h"

namespace {

// "%@" of a value the page sent: "(null)" when it sent none.
std::string describeOrNull(const kit::Value& value) { return value.isNull() ? "(null)" : kit::describe(value); }

}  // namespace

// The base removes the controller from the notification centre.
KZWebPanelController::~KZWebPanelController() = default;

const std::shared_ptr<KZPanelTopView>& KZWebPanelController::topView() {
    if (!topView_) topView_ = kit::create<KZPanelTopView>(kit::Rect{}, panelTitle());
    return topView_;
}

const std::shared_ptr<KZAIPanelWebview>& KZWebPanelController::webView() {
    if (!webView_) {
        webView_ = kit::create<KZAIPanelWebview>();
        webView_->setDelegate(std::static_pointer_cast<KZAIWebViewDelegate>(
            std::static_pointer_cast<KZWebPanelController>(shared_from_this())));
    }
    return webView_;
}

// ---- Content ----------------------------------------------------------------------------------------

void KZWebPanelController::setupContentView() {
    KZBasePanelController::setupContentView();
    auto w = window();
    w->setMovableByWindowBackground(true);
    contentView_ = kit::create<kit::View>();
    contentView_->setWantsLayer(true);
    contentView_->updateLayer([](kit::LayerStyle& layer) {
        layer.backgroundColor = kit::Color::white();
        layer.cornerRadius = kCornerRadius;
        layer.masksToBounds = true;
    });
    auto surface = w->contentView();
    surface->setWantsLayer(true);
    surface->updateLayer([](kit::LayerStyle& layer) { layer.backgroundColor = kit::Color::clear(); });
    setupSubviews();
    setupLayout();
    // At launch the page waits for the side window's page; a panel shown before then loads it.
    std::weak_ptr<KZWebPanelController> weak = std::static_pointer_cast<KZWebPanelController>(shared_from_this());
    KZLaunchQueue::afterFirstPage([weak] {
        if (auto self = weak.lock(); self && !self->pageRequested_) self->loadRequest();
    });
}

void KZWebPanelController::setupSubviews() {
    window()->contentView()->addSubview(contentView_);
    contentView_->addSubview(topView());
    contentView_->addSubview(webView());
}

void KZWebPanelController::setupLayout() {
    auto surface = window()->contentView();
    kit::makeConstraints(contentView_, [&](kit::ConstraintMaker& make) { make.edges().equalTo(surface).inset(0); });
    // The top bar takes no room: the page fills the panel.
    kit::makeConstraints(topView_, [&](kit::ConstraintMaker& make) {
        make.left().top().right().equalTo(contentView_);
        make.height().equalTo(0.0);
    });
    kit::makeConstraints(webView_, [&](kit::ConstraintMaker& make) {
        make.left().right().bottom().equalTo(contentView_);
        make.top().equalTo(kit::bottomOf(topView_));
    });
}

void KZWebPanelController::loadRequest() {
    pageRequested_ = true;
    webView()->loadRequestWithURL(webURL());
}

// ---- Showing ----------------------------------------------------------------------------------------

void KZWebPanelController::showWindowWithText(const std::optional<std::string>& text, kit::Point frameOrigin) {
    auto w = window();
    const auto frame = frameKeptOnScreen({frameOrigin, w->frame().size}, frameOrigin);
    if (!frame) {
        kit::logf("[%s] origin ignored: %s", panelTitle().c_str(), kit::stringFromPoint(frameOrigin).c_str());
        return;
    }
    auto& users = KZAIUserManager::shared();
    if (!users.isLogin()) {
        // Opening the login window closes both panels.
        users.showLoginWindowRelateToWindow(nullptr);
        return;
    }
    auto& page = *webView();
    if (!pageRequested_) loadRequest();
    if (page.isErrorViewShowing()) page.reloadOriginUrl();
    const std::string message = text.value_or(std::string());
    if (!page.isAIWebReady()) {
        pendingProcessStringBeforeWebReady_ = message;
        kit::logf("[%s] 页面还没有加载好，请稍等：%s", panelTitle().c_str(), message.c_str());
        page._reportWebViewIsNotReadyWhenUserEnter(webViewScene());
    }
    kit::logf("[%s] send message to js：%s", panelTitle().c_str(), message.c_str());
    if (page.isAIWebReady()) {
        pendingProcessStringBeforeWebReady_.clear();
        page.native2js_sendMessageToJSWithType(buttonClickedType(), message);
        page.native2js_webShow(windowType(), true);
    }
    w->setFrameOrigin(frame->origin);
    showWindow();
}

// ---- Hooks ------------------------------------------------------------------------------------------

void KZWebPanelController::onForceReloadWebview() { webView()->reloadOriginUrl(); }

void KZWebPanelController::onUserCancelLogin() {
    kit::logf("[%s] User Cancel Login", panelTitle().c_str());
    webView()->native2js_cancelLogin();
}

void KZWebPanelController::onWindowDidOrderOut(KZCustomPanel&) {
    kit::logf("[%s] WebPanel Window did order out", panelTitle().c_str());
    webView()->native2js_swipeWindowClose(windowType());
    webView()->native2js_webShow(windowType(), false);
}

void KZWebPanelController::onUserLoginStateChanged() {
    kit::logf("[%s] WebPanel User Login State Changed", panelTitle().c_str());
    const bool login = KZAIUserManager::shared().isLogin();
    webView()->native2js_loginEventNotify(login);
    webView()->native2js_clientUserChange(login, true);
}

// ---- Page callbacks ---------------------------------------------------------------------------------

void KZWebPanelController::webviewContinueAsk(KZAIWebView&, const kit::Value& type, const kit::Value& sessionId) {
    kit::logf("[%s] ContinueAsk：%s, sessionId: %s", panelTitle().c_str(), describeOrNull(type).c_str(),
              describeOrNull(sessionId).c_str());
    // A session id that is not a string is no session id.
    const std::string* sid = sessionId.asString();
    if (!sid || sid->empty()) return;
    KZWindowControllerManager::manager().native2js_CommitContinueAsk(windowType(), *sid);
    close();
}

void KZWebPanelController::webviewIsReadyFrom(KZAIWebView&, const std::optional<std::string>& from) {
    kit::logf("[%s] onWebIsReady：%s", panelTitle().c_str(), from ? from->c_str() : "(null)");
    if (pendingProcessStringBeforeWebReady_.empty()) return;
    auto w = window();
    if (w->isVisible()) showWindowWithText(pendingProcessStringBeforeWebReady_, w->frame().origin);
}
