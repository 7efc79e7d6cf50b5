#include "app/tools/KZAIBrowserWindowController.h"

#include <cmath>
#include <optional>

#include "app/tools/KZWindowTitleTabBarItemModel.h"
#include "app/ui/KZCustomViewButton.h"
#include "app/ui/KZHoverView.h"
#include "app/web/KZWKWebView.h"
#include "app/windows/KZWindowControllerManager.h"
#include "frameworks/LanguageHelper.h"
#include "kit/base/Log.h"
#include "kit/sys/Workspace.h"
#include "kit/ui/Create.h"
#include "kit/ui/Layout.h"
#include "kit/ui/Pasteboard.h"
#include "kit/web/Url.h"
#include "kit/web/WebView.h"

// ---- Web view -------------------------------------------------------------------------------------

void KZAIBrowserWebView::setCurrentFaviconURLString(std::string address) {
    currentFaviconURLString_ = std::move(address);
    if (faviconDidChange_) {
        auto block = faviconDidChange_;
        block();
    }
}

std::string KZAIBrowserWebView::resolveAddress(const std::string& reference, const std::string& base) {
    if (kit::Url::parse(reference)) return reference;
    const auto b = kit::Url::parse(base);
    if (!b || b->origin().empty()) return {};
    if (reference.starts_with("//")) return b->scheme() + ":" + reference;
    const std::string origin = b->scheme() + "://" + b->host() + (b->port() >= 0 ? ":" + std::to_string(b->port()) : "");
    if (!reference.empty() && reference.front() == '/') return origin + reference;
    std::string path = b->path().empty() ? "/" : b->path();
    if (!reference.empty() && (reference.front() == '?' || reference.front() == '#')) {
        std::string out = origin + path;
        if (reference.front() == '#' && b->query()) out += "?" + *b->query();
        return out + reference;
    }
    // A path relative to the page's folder, with "." and ".." steps taken.
    path = path.substr(0, path.rfind('/') + 1) + reference;
    std::vector<std::string> parts;
    std::size_t start = 1;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        const std::string part = path.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
            if (end == path.size()) parts.emplace_back();
        } else if (part == ".") {
            if (end == path.size()) parts.emplace_back();
        } else {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string joined;
    for (const auto& part : parts) joined += "/" + part;
    return origin + (joined.empty() ? "/" : joined);
}

void KZAIBrowserWebView::didCommitNavigation(kit::WebView& webView, kit::NavigationId navigation) {
    KZBaseWebView::didCommitNavigation(webView, navigation);
    if (!isOwnWebView(webView)) return;
    std::weak_ptr<kit::View> weak = weak_from_this();
    webView.evaluateJavaScript(kFaviconScript, [weak](const kit::ScriptResult& result) {
        auto self = std::static_pointer_cast<KZAIBrowserWebView>(weak.lock());
        if (!self || !result) return;
        const std::string* address = result.value().asString();
        if (!address) return;
        std::string absolute = *address;
        if (absolute.rfind("http", 0) != 0) absolute = resolveAddress(absolute, self->currentURL());
        if (absolute.empty()) return;
        self->setCurrentFaviconURLString(std::move(absolute));
    });
}

// ---- Tab page -------------------------------------------------------------------------------------

std::shared_ptr<KZBaseWebView> KZAIBrowserWebViewController::makeWebView() { return kit::create<KZAIBrowserWebView>(); }

std::shared_ptr<KZAIBrowserWebView> KZAIBrowserWebViewController::browserWebView() {
    return std::static_pointer_cast<KZAIBrowserWebView>(innerWebView());
}

void KZAIBrowserWebViewController::viewDidLoad() {
    KZBaseTabWebViewController::viewDidLoad();
    auto web = browserWebView();
    std::weak_ptr<KZBaseTabWebViewController> weak = weak_from_this();
    titleObservation_ = web->webView()->observe(kit::WebViewProperty::Title, [weak](kit::WebView&) {
        if (auto self = std::static_pointer_cast<KZAIBrowserWebViewController>(weak.lock())) self->titleDidChange();
    });
    web->setFaviconDidChange([weak] {
        if (auto self = std::static_pointer_cast<KZAIBrowserWebViewController>(weak.lock())) self->faviconDidChange();
    });
    titleDidChange();  // the current value at once
}

void KZAIBrowserWebViewController::titleDidChange() {
    auto model = currentModel();
    const std::string& title = browserWebView()->webView()->title();
    if (model && !title.empty()) model->setTitle(title);
}

void KZAIBrowserWebViewController::faviconDidChange() {
    if (auto model = currentModel()) model->setIconURL(browserWebView()->currentFaviconURLString());
}

// ---- Right view -----------------------------------------------------------------------------------

void KZAIBrowserTabBarRightView::setupSubviews() {
    auto make = [](const char* image, const char* label) {
        auto button = KZCustomViewButton::buttonWithStyle(KZCustomViewButtonStyleIcon);
        button->setButtonImageName(image);
        button->setAccessibilityLabel(KZLocalizedString(label));
        return button;
    };
    refreshButton_ = make("title_bar_webview_flush", KZLocalizableKey("刷新"));
    copiButton_ = make("title_bar_webview_copy", KZLocalizableKey("复制网页链接"));
    externalButton_ = make("title_bar_webview_external", KZLocalizableKey("使用默认浏览器打开"));
    addSubview(refreshButton_);
    addSubview(copiButton_);
    addSubview(externalButton_);
}

void KZAIBrowserTabBarRightView::layout() {
    KZView::layout();
    const kit::Rect b = bounds();
    const double y = std::round(b.midY() - 12);
    refreshButton_->setFrame({0, y, 24, 24});
    copiButton_->setFrame({std::round(b.midX() - 12), y, 24, 24});
    externalButton_->setFrame({b.maxX() - 24, y, 24, 24});
}

// ---- Window ---------------------------------------------------------------------------------------

void KZAIBrowserWindowController::setupViews() {
    KZBaseTabWindowController::setupViews();
    rightView_ = kit::create<KZAIBrowserTabBarRightView>();
    tabBarView()->addSubview(rightView_);
    std::weak_ptr<KZAIBrowserWindowController> weak = self<KZAIBrowserWindowController>();
    rightView_->refreshButton()->setActionBlock([weak](KZCustomViewButton&) {
        if (auto me = weak.lock()) me->didClickRereshButton();
    });
    rightView_->copiButton()->setActionBlock([weak](KZCustomViewButton&) {
        if (auto me = weak.lock()) me->didClickCopyButton();
    });
    rightView_->externalButton()->setActionBlock([weak](KZCustomViewButton&) {
        if (auto me = weak.lock()) me->didClickExternalButton();
    });
    rightView_->copiButton()->hoverView()->setHoverChangeStatusBlock([weak](KZHoverView& view, const kit::Event&) {
        if (auto me = weak.lock()) me->showCopyGuideBubble(view.isHovered());
    });
    rightView_->externalButton()->hoverView()->setHoverChangeStatusBlock([weak](KZHoverView& view, const kit::Event&) {
        if (auto me = weak.lock()) me->showExternalGuideBubble(view.isHovered());
    });
}

void KZAIBrowserWindowController::setupViewsLayout() {
    KZBaseTabWindowController::setupViewsLayout();
    auto strip = tabBarView();
    kit::makeConstraints(rightView_, [&](kit::ConstraintMaker& make) {
        make.size().equalTo(kit::Size{80, 24});
        make.right().equalTo(strip).offset(-20);
        make.centerY().equalTo(strip);
    });
}

void KZAIBrowserWindowController::showWindowAndCreateNewTabWithUrl(const std::string& url) {
    createDefaultTabIfNeeded(url, std::nullopt);
    showWindow();
}

void KZAIBrowserWindowController::createDefaultTab(const std::optional<std::string>& url,
                                                   const std::optional<kit::Dictionary>&) {
    auto model = std::make_shared<KZWindowTitleTabBarItemModel>();
    model->setIconName(kTabIconName);
    model->setTitle(KZLocalizedString(kTabTitle));
    model->setWebUrlString(url.value_or(""));
    setHandlers<KZAIBrowserWindowController>(model, &KZAIBrowserWindowController::removeTabBarModel);
    auto controller = kit::create<KZAIBrowserWebViewController>();
    controller->setCurrentModel(model);
    addTab(model, controller);
}

void KZAIBrowserWindowController::removeTabBarModel(const std::shared_ptr<KZWindowTitleTabBarItemModel>& modelReference) {
    const auto model = modelReference;
    KZBaseTabWindowController::removeTabBarModel(model);
    if (titleBarItemModels().empty()) destroyWindow();
}

bool KZAIBrowserWindowController::windowShouldClose(kit::Window&) {
    __removeAllItemsAndModels();
    return true;
}

void KZAIBrowserWindowController::__removeAllItemsAndModels() {
    removeAllTabsWithoutStrip();
    destroyWindow();
}

void KZAIBrowserWindowController::destroyWindow() {
    auto& manager = KZWindowControllerManager::manager();
    if (manager.browserWindowController().get() == this) {
        manager.destoryBrowserWindowController();
    } else if (auto w = window()) {
        w->close();
    }
}

std::string KZAIBrowserWindowController::selectedPageAddress() const {
    auto model = selectedTitleBarItemModel();
    auto web = model ? model->associateWebView() : nullptr;
    if (!web) return {};
    return web->currentURL().empty() ? web->rootURL() : web->currentURL();
}

void KZAIBrowserWindowController::didClickRereshButton() {
    if (auto model = selectedTitleBarItemModel())
        if (auto web = model->associateWebView()) web->reload();
}

void KZAIBrowserWindowController::didClickCopyButton() const {
    auto& pasteboard = kit::Pasteboard::general();
    pasteboard.clearContents();
    pasteboard.setString(selectedPageAddress());
}

void KZAIBrowserWindowController::didClickExternalButton() const {
    const std::string address = selectedPageAddress();
    if (address.empty()) return;
    kit::Workspace::shared().openURL(address);
}
