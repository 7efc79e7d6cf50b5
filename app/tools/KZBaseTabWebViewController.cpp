#include "app/tools/KZBaseTabWebViewController.h"

#include <filesystem>
#include <utility>

#include "app/tools/KZWindowTitleTabBarItemModel.h"
#include "app/web/KZAIWebView.h"
#include "app/web/KZBaseWebView.h"
#include "app/web/KZWKWebView.h"
#include "app/web/KZWebTypes.h"
#include "frameworks/HXReport.h"
#include "frameworks/LanguageHelper.h"
#include "kit/base/Ascii.h"
#include "kit/base/Log.h"
#include "kit/ui/Create.h"
#include "kit/ui/Layout.h"
#include "kit/ui/View.h"

namespace {

std::string lowerExtension(const std::string& path) {
    std::string ext = std::filesystem::path(path).extension().string();
    if (!ext.empty() && ext.front() == '.') ext.erase(0, 1);
    return kit::asciiLowercase(ext);
}

std::string stemOrDefault(const std::string& path, const char* fallback) {
    std::string stem = std::filesystem::path(path).stem().string();
    return stem.empty() ? KZLocalizedString(fallback) : stem;
}

}  // namespace

// ---- Base -----------------------------------------------------------------------------------------

KZBaseTabWebViewController::~KZBaseTabWebViewController() = default;

std::shared_ptr<KZBaseWebView> KZBaseTabWebViewController::makeWebView() { return kit::create<KZBaseWebView>(); }

const std::shared_ptr<KZBaseWebView>& KZBaseTabWebViewController::innerWebView() {
    if (!innerWebView_) {
        innerWebView_ = makeWebView();
        innerWebView_->setDelegate(std::static_pointer_cast<KZBaseWebViewDelegate>(
            std::static_pointer_cast<KZAIWebViewDelegate>(shared_from_this())));
    }
    return innerWebView_;
}

void KZBaseTabWebViewController::setCurrentModel(const std::shared_ptr<KZWindowTitleTabBarItemModel>& model) {
    currentModel_ = model;
    if (model) model->setAssociateWebView(innerWebView());
}

const std::shared_ptr<kit::View>& KZBaseTabWebViewController::view() {
    if (!view_) {
        loadView();
        viewDidLoad();
    }
    return view_;
}

void KZBaseTabWebViewController::loadView() { view_ = kit::create<kit::View>(); }

void KZBaseTabWebViewController::viewDidLoad() {
    auto web = innerWebView();
    view_->addSubview(web);
    kit::makeConstraints(web, [&](kit::ConstraintMaker& make) { make.edges().equalTo(view_); });
    if (currentModel()) loadRequest();
}

void KZBaseTabWebViewController::viewWillAppear() { innerWebView()->reloadIfTerminate(); }

void KZBaseTabWebViewController::loadRequest() {
    auto model = currentModel();
    innerWebView()->loadRequestWithURL(model ? model->webUrlString() : std::string());
}

// ---- AI tabs --------------------------------------------------------------------------------------

std::shared_ptr<KZBaseWebView> KZAITabWebViewController::makeWebView() { return kit::create<KZAIWebView>(); }

std::shared_ptr<KZAIWebView> KZAITabWebViewController::aiWebView() {
    return std::static_pointer_cast<KZAIWebView>(innerWebView());
}

std::shared_ptr<KZAIWindowTitleTabBarItemModel> KZAITabWebViewController::currentAIModel() const {
    return std::dynamic_pointer_cast<KZAIWindowTitleTabBarItemModel>(currentModel());
}

void KZAITabWebViewController::webviewIsReadyFrom(KZAIWebView& webview, const std::optional<std::string>&) {
    if (!tempWebActionInfo_) return;
    // Delivered once: cleared before the call, which may come back here.
    kit::Dictionary action = std::move(*tempWebActionInfo_);
    tempWebActionInfo_.reset();
    webview.native2js_handleFile(action);
}

KZAITabWebViewController::~KZAITabWebViewController() {
    if (fallback_) kit::RunLoop::main().cancel(fallback_);
    for (auto& waiter : savedWaiters_) kit::RunLoop::main().post([waiter = std::move(waiter)] { waiter(true); });
}

void KZAITabWebViewController::askWhetherSaved(std::function<void(bool saved)> answer) {
    savedWaiters_.push_back(std::move(answer));
    if (isAskingStatus_ == 0) aiWebView()->native2js_currentPageIsSaved();
}

bool KZAITabWebViewController::canAskPage() {
    auto web = aiWebView();
    return web->isAIWebReady() && !web->isContentProcessTerminated();
}

void KZAITabWebViewController::webviewDidSendPageIsSaved(KZAIWebView& webview) {
    if (isAskingStatus_ != 0) {
        kit::logf("[IMG] is in asking: %d", isAskingStatus_);
        return;
    }
    isAskingStatus_ = 1;
    const std::uint64_t question = ++question_;
    std::weak_ptr<KZBaseTabWebViewController> weak = weak_from_this();
    auto answer = [weak, question](bool saved) {
        auto self = std::static_pointer_cast<KZAITabWebViewController>(weak.lock());
        if (!self || self->question_ != question || self->isAskingStatus_ != 1) return;
        self->webviewClientIsSavedFromJS(*self->aiWebView(), saved);
    };
    // The fallback belongs to this question only: a later question is not answered by it.
    fallback_ = kit::RunLoop::main().postAfter(kIsSavedTimeout, [weak, answer] {
        if (auto self = std::static_pointer_cast<KZAITabWebViewController>(weak.lock())) self->fallback_ = 0;
        answer(false);
    });
    // A page whose process has ended never answers: nothing of it is left to save. Answered on
    // the next turn, after the question has been sent.
    const auto& platformView = webview.webView();
    auto answerIfGone = [answer](kit::WebView& view) {
        if (!view.isContentProcessTerminated()) return;
        kit::logLine("[IMG] the page's content process has ended: nothing left to save");
        kit::RunLoop::main().post([answer] { answer(true); });
    };
    processObservation_ = platformView->observe(kit::WebViewProperty::ContentProcessTerminated, answerIfGone);
    answerIfGone(*platformView);
}

void KZAITabWebViewController::webviewClientIsSavedFromJS(KZAIWebView&, bool saved) {
    if (isAskingStatus_ != 1) {
        kit::logf("[IMG] not in asking: %d", isAskingStatus_);
        return;
    }
    isAskingStatus_ = 0;
    processObservation_.reset();
    if (fallback_) {
        kit::RunLoop::main().cancel(fallback_);
        fallback_ = 0;
    }
    // The answer names its own tab: the window acts only on a close pending for it.
    auto keep = shared_from_this();
    for (auto& waiter : std::exchange(savedWaiters_, {})) waiter(saved);
    if (auto d = delegate()) d->recieveJSIsSavedResult(saved, currentModel());
}

void KZAIWritingWebViewController::webviewDidReceiveWebRequestLogin(KZAIWebView&) {
    HXReport::reportCommonKeyValue(24022, "9");
}

// ---- Image tabs -----------------------------------------------------------------------------------

void KZAIImageWebViewController::webviewIsReadyFrom(KZAIWebView& webview, const std::optional<std::string>& from) {
    if (from && *from == KZWebReadyFrom::Image) KZAITabWebViewController::webviewIsReadyFrom(webview, from);
}

void KZAIImageWebViewController::webviewDidOpenFilePath(KZAIWebView&, const std::optional<std::string>& path) {
    auto model = currentModel();
    if (!model || !model->associateTabBarItem()) {
        kit::logLine("on notify web use file, but associate tab item not found!");
        return;
    }
    const std::string p = path.value_or("");
    model->setTitle(__titleFromPath(p));
    model->setIconName(__iconNameFromPath(p));
}

std::string KZAIImageWebViewController::__titleFromPath(const std::string& path) { return stemOrDefault(path, kDefaultTitle); }

std::string KZAIImageWebViewController::__iconNameFromPath(const std::string& path) {
    const std::string ext = lowerExtension(path);
    if (ext == "bmp") return "title_bar_tab_icon_bmp";
    if (ext == "gif") return "title_bar_tab_icon_gif";
    if (ext == "jpg" || ext == "jpeg") return "title_bar_tab_icon_jpg";
    if (ext == "png") return "title_bar_tab_icon_png";
    if (ext == "webp") return "title_bar_tab_icon_webp";
    return kDefaultIconName;
}

std::optional<std::string> KZAIImageWebViewController::recommendedImageSaveNameForWebview(KZAIWebView&) {
    auto model = currentModel();
    return model ? model->title() : std::string();
}

void KZAIImageWebViewController::webviewDidReceiveWebRequestLogin(KZAIWebView&) {
    HXReport::reportCommonKeyValue(24022, "11");
}

// ---- Document tabs --------------------------------------------------------------------------------

void KZAIDocumentWebViewController::webviewIsReadyFrom(KZAIWebView& webview, const std::optional<std::string>& from) {
    if (!from || *from != KZWebReadyFrom::Document) return;
    kit::logf("[WebView] J2N_WebIsReady document : Get Data : %s ", from->c_str());
    KZAITabWebViewController::webviewIsReadyFrom(webview, from);
}

void KZAIDocumentWebViewController::webviewDidOpenFilePath(KZAIWebView&, const std::optional<std::string>& path) {
    auto model = currentModel();
    if (!model || !model->associateTabBarItem()) {
        kit::logf("Line[%d] %s on notify web use file, but associate tab item not found!", __LINE__, __func__);
        return;
    }
    const std::string p = path.value_or("");
    model->setTitle(__titleFromPath(p));
    model->setIconName(__iconNameFromPath(p));
}

std::string KZAIDocumentWebViewController::__titleFromPath(const std::string& path) {
    return stemOrDefault(path, kDefaultTitle);
}

std::string KZAIDocumentWebViewController::__iconNameFromPath(const std::string& path) {
    const std::string ext = lowerExtension(path);
    if (ext == "pdf") return "title_bar_tab_icon_pdf";
    if (ext == "doc") return "title_bar_tab_icon_doc";
    if (ext == "xls" || ext == "xlsx") return "title_bar_tab_icon_excel";
    if (ext == "txt") return "title_bar_tab_icon_txt";
    if (ext == "ppt") return "title_bar_tab_icon_ppt";
    return kDefaultIconName;
}

void KZAIDocumentWebViewController::webviewDidReceiveWebRequestLogin(KZAIWebView&) {
    HXReport::reportCommonKeyValue(24022, "7");
}
