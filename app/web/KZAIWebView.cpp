#include "app/web/KZAIWebView.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <utility>

#include "app/core/KZBundleInfo.h"
#include "app/web/KZAIWebServices.h"
#include "app/web/KZBaseWebViewReportHelper.h"
#include "app/web/KZSharedWebData.h"
#include "app/web/KZWKWebView.h"
#include "app/web/WKWebViewJavascriptBridge.h"
#include "frameworks/HXReport.h"
#include "frameworks/LanguageHelper.h"
#include "kit/base/FileTypes.h"
#include "kit/base/Geometry.h"
#include "kit/base/Json.h"
#include "kit/base/Log.h"
#include "kit/base/RunLoop.h"
#include "kit/ui/Alert.h"
#include "kit/ui/Window.h"
#include "kit/web/Url.h"

namespace {

using Answer = std::function<void(const kit::Value&)>;

kit::Value okReply() { return kit::Dictionary{{"code", 0}}; }

kit::Value reportReply(int code, std::string msg) { return kit::Dictionary{{"code", code}, {"msg", std::move(msg)}}; }

std::optional<std::string> stringOf(const kit::Dictionary& data, std::string_view key) {
    const kit::Value* value = data.find(key);
    if (!value) return std::nullopt;
    if (const std::string* text = value->asString()) return *text;
    return std::nullopt;
}

// Numbers from the page: numbers and numeric text as the platform reads them; anything else 0.
std::int64_t integerOf(const kit::Dictionary& data, std::string_view key) {
    const kit::Value* value = data.find(key);
    return value ? value->integerValue() : 0;
}

std::string describeAnswer(const kit::Value& value) { return value.isNull() ? "(null)" : kit::describe(value); }

std::string base64Encode(const std::vector<std::uint8_t>& bytes) {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const std::uint32_t n = (std::uint32_t{bytes[i]} << 16) | (std::uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
        out += kAlphabet[(n >> 18) & 63];
        out += kAlphabet[(n >> 12) & 63];
        out += kAlphabet[(n >> 6) & 63];
        out += kAlphabet[n & 63];
    }
    if (const std::size_t rest = bytes.size() - i) {
        std::uint32_t n = std::uint32_t{bytes[i]} << 16;
        if (rest == 2) n |= std::uint32_t{bytes[i + 1]} << 8;
        out += kAlphabet[(n >> 18) & 63];
        out += kAlphabet[(n >> 12) & 63];
        out += rest == 2 ? kAlphabet[(n >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

}  // namespace

// The bridge keeps main-frame commits to itself; the view needs them to know which document it
// shows (the web view's address already names a page that is only being loaded). This facade
// tells the view after the bridge has handled the commit.
class KZAIWebViewBridge : public WKWebViewJavascriptBridge {
public:
    static std::shared_ptr<KZAIWebViewBridge> bridgeForWebView(const std::shared_ptr<kit::WebView>& webView,
                                                               std::weak_ptr<KZAIWebView> owner) {
        auto bridge = std::make_shared<KZAIWebViewBridge>();
        bridge->webView_ = webView;
        bridge->owner_ = std::move(owner);
        if (webView) webView->setNavigationDelegate(bridge);
        bridge->reset();
        return bridge;
    }

    // The view learns which document it shows first; a document of another origin then takes
    // everything that waited for the page with it: nothing meant for the service's page reaches
    // a foreign one.
    void didCommitNavigation(kit::WebView& webView, kit::NavigationId navigation) override {
        auto owner = owner_.lock();
        if (!owner || !isOwnWebView(webView)) return;
        owner->mainFrameDidCommit();
        if (owner->isTrustedPage()) {
            WKWebViewJavascriptBridge::didCommitNavigation(webView, navigation);
            return;
        }
        if (base_->startupQueueSize() > 0)
            kit::logf("[WebView] dropped %zu waiting call(s): the page shown is not the AI service's, origin: %s",
                      base_->startupQueueSize(), KZAIWebView::logText(owner->committedOrigin()).c_str());
        base_->reset();
    }

protected:
    bool pageMayUseBridge() const override {
        auto owner = owner_.lock();
        return owner && owner->isTrustedPage();
    }

private:
    std::weak_ptr<KZAIWebView> owner_;
};

KZAIWebView::KZAIWebView(kit::Rect frame) : KZBaseWebView(frame) {}

KZAIWebView::~KZAIWebView() {
    kit::RunLoop::main().cancelPerforms(this);
    fullScreenTokens_.clear();
}

void KZAIWebView::init() {
    KZBaseWebView::init();
    saveImageIndex_ = 1;
    auto self = std::static_pointer_cast<KZAIWebView>(shared_from_this());
    bridge_ = KZAIWebViewBridge::bridgeForWebView(webView(), self);
    bridge_->setWebViewDelegate(std::static_pointer_cast<kit::WebNavigationDelegate>(self));
    registJSBridge();
    bridge_->base().setStartupQueueLimit(kStartupQueueLimit);
    bridge_->base().setStartupQueueSupersedeKey(startupQueueSupersedeKey);
    bridge_->base().setPageOrigin(serviceOrigin());
    didSendJSMessageDateDictionary_.clear();

    std::weak_ptr<KZAIWebView> weak = self;
    auto& center = kit::NotificationCenter::defaultCenter();
    fullScreenTokens_.push_back(center.addObserverForName(
        kit::kWindowWillEnterFullScreenNotification, nullptr, [weak](const kit::Notification& notification) {
            if (auto view = weak.lock()) view->windowFullScreenChanged(notification, true);
        }));
    fullScreenTokens_.push_back(center.addObserverForName(
        kit::kWindowDidExitFullScreenNotification, nullptr, [weak](const kit::Notification& notification) {
            if (auto view = weak.lock()) view->windowFullScreenChanged(notification, false);
        }));
}

std::shared_ptr<KZAIWebViewDelegate> KZAIWebView::aiDelegate() const {
    return std::dynamic_pointer_cast<KZAIWebViewDelegate>(delegate());
}

bool KZAIWebView::isTrustedPage() const {
    const std::string origin = serviceOrigin();
    return !origin.empty() && origin == committedOrigin_;
}

std::string KZAIWebView::comparableOrigin(std::string_view address) {
    auto url = kit::Url::parse(address);
    return url ? url->webOrigin() : std::string();
}

std::string KZAIWebView::serviceOrigin() { return comparableOrigin(KZBundleInfo::aiBaseURL()); }

// Calls that state something (visible or not, dragging or not, logged in or not, the text to
// show) waiting for the page: only the latest of each is worth delivering. The side window's
// "WindowHide" contradicts its "WebShow" (type "search"), so the two share a key.
std::string KZAIWebView::startupQueueSupersedeKey(std::string_view handlerName, const kit::Value& data) {
    using namespace KZN2JHandlerName;
    const std::string* type = data["type"].asString();
    const std::string typeText = type ? *type : std::string();
    if (handlerName == WebShow) return "visibility:" + typeText;
    if (handlerName == WindowHide) return "visibility:" + KZWebWindowTypeText(KZWebWindowTypeSearch);
    if (handlerName == SwipeOverMessage) return "message:" + typeText;
    if (handlerName == SystemDragFile || handlerName == LoginEventNotify || handlerName == ClientUserChange ||
        handlerName == RequestAuthUser)
        return std::string(handlerName);
    return {};
}

void KZAIWebView::mainFrameDidCommit() {
    auto page = kit::Url::parse(webView()->url());
    committedOrigin_ = page ? page->webOrigin() : std::string();
}

// ---- Page-to-application handlers --------------------------------------------------------------------

void KZAIWebView::registerJ2NHandler(const char* name, HandlerWork work) {
    std::weak_ptr<KZAIWebView> weak = std::static_pointer_cast<KZAIWebView>(shared_from_this());
    bridge_->registerHandler(name, [weak, name, work = std::move(work)](const kit::Value& data, const Answer& answer) {
        auto self = weak.lock();
        if (!self) return;
        if (!self->isTrustedPage()) {
            kit::logf("[WebView] J2N_%s refused: the page is not the AI service's, origin: %s", name,
                      logText(self->committedOrigin()).c_str());
            answer(kit::Value());
            return;
        }
        const kit::Dictionary* object = data.asDictionary();
        const kit::Dictionary copy = object ? *object : kit::Dictionary{};
        kit::logf("[WebView] J2N_%s Get Data : %s, url: %s", name, kit::describe(copy).c_str(),
                  logText(self->rootURL()).c_str());
        work(*self, copy, answer);
    });
}

void KZAIWebView::registJSBridge() {
    using namespace KZJ2NHandlerName;
    registerJ2NHandler(WebViewSizeNotify, [](KZAIWebView& view, const kit::Dictionary& data, const Answer& answer) {
        const kit::Size size{static_cast<double>(integerOf(data, "width")), static_cast<double>(integerOf(data, "height"))};
        if (auto d = view.aiDelegate()) d->webviewDidChangeSizeTo(view, size);
        answer(okReply());
    });
    registerJ2NHandler(WebIsReady, [](KZAIWebView& view, const kit::Dictionary& data, const Answer& answer) {
        view._reportWebViewDidReady();
        view.isAIWebReady_ = true;
        view.__dismissErrorView();
        view.__cancelCheckingIfAIWebReady();
        if (auto d = view.aiDelegate()) d->webviewIsReadyFrom(view, stringOf(data, "from"));
        answer(okReply());
        // A drop that came before the page was ready goes now.
        view.handOverDroppedFiles({});
    });
    registerJ2NHandler(ContinueAsk, [](KZAIWebView& view, const kit::Dictionary& data, const Answer& answer) {
        KZBaseWebViewReportHelper::sharedHelper()._reportWebViewDidSendJSMessage(KZWebJSMessageTypeContinueAsk,
                                                                                view.reportAddress());
        const kit::Value* type = data.find("type");
        const kit::Value* sessionId = data.find("session_id");
        if (auto d = view.aiDelegate())
            d->webviewContinueAsk(view, type ? *type : kit::Value(), sessionId ? *sessionId : kit::Value());
        answer(okReply());
    });
    registerJ2NHandler(RequestLogin, [](KZAIWebView& view, const kit::Dictionary&, const Answer& answer) {
        if (auto d = view.aiDelegate()) d->webviewDidReceiveWebRequestLogin(view);
        KZAIWebServices::showLoginWindowRelateToWindow();
        answer(okReply());
    });
    registerJ2NHandler(ReportAuthUser, [](KZAIWebView& view, const kit::Dictionary& data, const Answer& answer) {
        view.handleReportAuthUser(data);
        answer(okReply());
    });
    registerJ2NHandler(GetVersion, [](KZAIWebView&, const kit::Dictionary&, const Answer& answer) {
        answer(kit::Dictionary{{"code", 0}, {"version", KZWebPageVersion}});
    });
    registerJ2NHandler(ReportData, [](KZAIWebView& view, const kit::Dictionary& data, const Answer& answer) {
        view.handleReportData(data, answer);
    });
    registerJ2NHandler(OpenFileNotify, [](KZAIWebView& view, const kit::Dictionary& data, const Answer& answer) {
        const auto path = stringOf(data, "path");
        if (auto d = view.aiDelegate()) d->webviewDidOpenFilePath(view, path);
        if (path && !path->empty()) view.hasOpenFile_ = true;
        answer(okReply());
    });
    registerJ2NHandler(ClientIsSaved, [](KZAIWebView& view, const kit::Dictionary& data, const Answer& answer) {
        view._reportWebViewDidReceiveJSMessage(KZWebJSMessageTypePageSaved);
        const kit::Value* saved = data.find("data");
        const bool isSaved = saved && (saved->isBool() || saved->isNumber() || saved->isString()) && saved->boolValue();
        if (auto d = view.aiDelegate()) d->webviewClientIsSavedFromJS(view, isSaved);
        answer(okReply());
    });
    registerJ2NHandler(StartCapture, [](KZAIWebView& view, const kit::Dictionary&, const Answer& answer) {
        if (auto d = view.aiDelegate()) d->webviewDidNotifyStartCapture(view);
        answer(okReply());
    });
    registerJ2NHandler(FileAction, [](KZAIWebView& view, const kit::Dictionary& data, const Answer& answer) {
        if (auto d = view.aiDelegate()) d->webviewReceiveFileAction(view, data);
        answer(okReply());
    });
    registerJ2NHandler(SetFileMediaType, [](KZAIWebView& view, const kit::Dictionary& data, const Answer& answer) {
        view.handleSetFileMediaType(data);
        answer(okReply());
    });
    registerJ2NHandler(GetGuid, [](KZAIWebView&, const kit::Dictionary&, const Answer& answer) {
        const auto& guid = KZSharedWebData::shared().reportDataGuid();
        answer(kit::Dictionary{{"code", 0}, {"guid", guid ? *guid : std::string()}});
    });
}

void KZAIWebView::handleReportAuthUser(const kit::Dictionary& data) {
    // Only a page that states its login state changes it: a missing or malformed state would
    // otherwise read as 0, which is "logged in".
    const kit::Value* state = data.find("state");
    if (!state || !state->isInteger()) {
        kit::logLine("[WebView] J2N_ReportAuthUser ignored: \"state\" is missing or not an integer");
        return;
    }
    _reportWebViewDidReceiveJSMessage(KZWebJSMessageTypeAuthUser);
    KZAIWebServices::onLoginStateChanged(data);
}

void KZAIWebView::handleReportData(const kit::Dictionary& data, const Answer& answer) {
    const kit::Value* params = data.find("params");
    if (!params || !params->isDictionary()) {
        kit::logLine("[WebView] params does not exist or not map");
        answer(reportReply(1, "params does not exist or not map"));
        return;
    }
    kit::Dictionary fields = *params->asDictionary();
    fields.erase("cmd");
    fields.erase("sourcePlatform");
    // Page data parsed from JSON always writes back: there is no failing case for the
    // "Error converting to JSON" answer to report.
    const std::string json = kit::toJson(kit::Value(std::move(fields)));
    kit::logf("[WebView] JSON String: %s", json.c_str());
    const auto cmd = static_cast<std::int16_t>(static_cast<std::uint16_t>((*params)["cmd"].integerValue() & 0xFFFF));
    kit::logf("[WebView] cmd=%hd report success", cmd);
    HXReport::reportCommonKeyValue(cmd, json);
    answer(reportReply(0, "success"));
}

void KZAIWebView::handleSetFileMediaType(const kit::Dictionary& data) {
    const auto type = stringOf(data, "type");
    if (!type || (*type != "doc" && *type != "img")) return;
    // Only file extensions: anything else in the list would reach the open panel's filter.
    std::vector<std::string> mediaTypes;
    if (const kit::Value* list = data.find("mediaTypes"); list && list->isArray()) {
        for (const kit::Value& element : *list->asArray()) {
            if (const std::string* text = element.asString(); text && !text->empty()) mediaTypes.push_back(*text);
        }
    }
    if (*type == "doc") {
        KZSharedWebData::shared().saveAllowedDocumentTypes(mediaTypes);
    } else {
        KZSharedWebData::shared().saveAllowedImageTypes(mediaTypes);
    }
}

// ---- Application-to-page calls --------------------------------------------------------------------

void KZAIWebView::callPage(const char* handlerName, const kit::Value& data, std::string answerLog) {
    if (answerLog.empty()) answerLog = std::string("[WebView] N2J_") + handlerName + " Get Callback : ";
    bridge_->callHandler(handlerName, data, [answerLog = std::move(answerLog)](const kit::Value& response) {
        kit::logf("%s%s", answerLog.c_str(), describeAnswer(response).c_str());
    });
}

void KZAIWebView::native2js_requestAuthUser() {
    kit::logf("[WebView] native2js_requestAuthUser, url : %s", logText(rootURL()).c_str());
    _reportWebViewDidSendJSMessage(KZWebJSMessageTypeAuthUser);
    callPage(KZN2JHandlerName::RequestAuthUser, kit::Dictionary{});
}

void KZAIWebView::native2js_requestLogout() {
    kit::logf("[WebView] native2js_requestLogout, url : %s", logText(rootURL()).c_str());
    callPage(KZN2JHandlerName::RequestLogout, kit::Dictionary{});
}

void KZAIWebView::native2js_swipeWindowClose(int windowType) {
    kit::logf("[WebView] native2js_swipeWindowClose windowtype: %d, url : %s", windowType, logText(rootURL()).c_str());
    callPage(KZN2JHandlerName::SwipeWindowClose, kit::Dictionary{{"type", KZWebPanelWindowTypeText(windowType)}});
}

void KZAIWebView::native2js_sendMessageToJSWithType(int windowType, const std::optional<std::string>& message) {
    const std::string text = message.value_or(std::string());
    kit::logf("[WebView] native2js_sendMessageToJSWithType: %d, message length: %ld, url : %s", windowType,
              KZAIWebView::utf16Length(text), logText(rootURL()).c_str());
    callPage(KZN2JHandlerName::SwipeOverMessage,
             kit::Dictionary{{"type", KZWebWindowTypeText(windowType)}, {"message", text}});
}

void KZAIWebView::native2js_webShow(int windowType, bool isVisiable) {
    callPage(KZN2JHandlerName::WebShow,
             kit::Dictionary{{"type", KZWebWindowTypeText(windowType)}, {"visible", isVisiable}});
}

void KZAIWebView::native2js_commitContinueAsk(int windowType, const std::optional<std::string>& sessionID) {
    KZBaseWebViewReportHelper::sharedHelper()._reportWebViewDidReceiveJSMessage(KZWebJSMessageTypeContinueAsk,
                                                                               reportAddress());
    kit::logf("[WebView] native2js_commitContinueAsk: %d, sessionID: %s, url : %s", windowType,
              sessionID ? sessionID->c_str() : "(null)", logText(rootURL()).c_str());
    callPage(KZN2JHandlerName::CommitContinueAsk,
             kit::Dictionary{{"type", KZWebPanelWindowTypeText(windowType)},
                             {"session_id", sessionID.value_or(std::string())}});
}

void KZAIWebView::native2js_systemDragFile(bool dragging) {
    kit::logf("[WebView] native2js_systemDragFile, url : %s, dragging: %d", logText(rootURL()).c_str(), dragging ? 1 : 0);
    callPage(KZN2JHandlerName::SystemDragFile, kit::Dictionary{{"onDrag", dragging ? 1 : 0}});
}

void KZAIWebView::native2js_currentPageIsSaved(const std::function<void(bool)>&) {
    if (auto d = aiDelegate()) d->webviewDidSendPageIsSaved(*this);
    _reportWebViewDidSendJSMessage(KZWebJSMessageTypePageSaved);
    kit::logf("[WebView] native2js_currentPageIsSaved, url : %s", logText(rootURL()).c_str());
    callPage(KZN2JHandlerName::IsSaved, kit::Dictionary{});
}

void KZAIWebView::native2js_loginEventNotify(bool isLogin) {
    kit::logf("[WebView] native2js_loginEventNotify, url : %s", logText(rootURL()).c_str());
    callPage(KZN2JHandlerName::LoginEventNotify, kit::Dictionary{{"type", isLogin ? "loginin" : "loginout"}});
}

void KZAIWebView::native2js_clientUserChange(bool isLogin, bool webViewVisible) {
    kit::logf("[WebView] native2js_clientUserChange, url : %s", logText(rootURL()).c_str());
    callPage(KZN2JHandlerName::ClientUserChange,
             kit::Dictionary{{"type", isLogin ? "loginin" : "loginout"}, {"visible", webViewVisible}});
}

void KZAIWebView::native2js_cancelLogin() {
    kit::logf("[WebView] native2js_cancelLogin, url : %s", logText(rootURL()).c_str());
    callPage(KZN2JHandlerName::CancelLogin, kit::Dictionary{});
}

void KZAIWebView::native2js_fileForAnalyze(const kit::Image& image) {
    kit::logf("[WebView] native2js_fileForAnalyze, url : %s", logText(rootURL()).c_str());
    auto png = image.encode(kit::ImageFormat::Png);
    if (!png || png->empty()) {
        kit::logf("[WebView] native2js_fileForAnalyze: the image cannot be encoded as PNG, nothing sent (%s)",
                  png ? "empty" : png.error().c_str());
        return;
    }
    const auto size = static_cast<std::int64_t>(png->size());
    callPage(KZN2JHandlerName::OnFileForAnalyze,
             kit::Dictionary{{"filePurpose", kAnalyzeFilePurpose},
                             {"requestUrl", "data:image/png;base64," + base64Encode(*png)},
                             {"fileSize", size},
                             {"filePath", kAnalyzeFilePath}});
}

namespace {

std::string withPlaceholders(std::string format, std::initializer_list<std::string> values) {
    std::size_t from = 0;
    for (const auto& value : values) {
        const auto at = format.find("%@", from);
        if (at == std::string::npos) break;
        format.replace(at, 2, value);
        from = at + value.size();
    }
    return format;
}

// "12.5 MB", "300 KB": sizes as a person reads them, in units of 1024.
std::string readableSize(std::uintmax_t bytes) {
    constexpr std::uintmax_t kMegabyte = std::uintmax_t{1024} * 1024;
    char text[32];
    if (bytes >= kMegabyte) {
        std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    } else {
        std::snprintf(text, sizeof text, "%ju KB", (bytes + 1023) / 1024);
    }
    return text;
}

void tellUserFileNotSent(const std::string& message, const std::string& detail) {
    kit::Alert alert;
    alert.iconName = "vx_logo_lightGuide";
    alert.messageText = message;
    alert.informativeText = detail;
    alert.addButtonWithTitle(KZLocalizedString("好的"));
    alert.runModal();
}

// "10,485,761"
std::string groupedDigits(std::uintmax_t number) {
    std::string digits = std::to_string(number);
    for (auto at = static_cast<std::ptrdiff_t>(digits.size()) - 3; at > 0; at -= 3)
        digits.insert(static_cast<std::size_t>(at), ",");
    return digits;
}

// A file's size and the limit it went over, as a person reads them; with their bytes when the
// rounded sizes would read the same.
std::pair<std::string, std::string> readableSizes(std::uintmax_t size, std::uintmax_t limit) {
    std::string sizeText = readableSize(size);
    std::string limitText = readableSize(limit);
    if (sizeText == limitText) {
        const std::string bytes = KZLocalizedString("%@ 字节");
        sizeText += " (" + withPlaceholders(bytes, {groupedDigits(size)}) + ")";
        limitText += " (" + withPlaceholders(bytes, {groupedDigits(limit)}) + ")";
    }
    return {sizeText, limitText};
}

// A dropped file as it was read: once, from one opening, never more than the limit and a byte.
struct DroppedFileRead {
    enum class Outcome { Read, NotAFile, TooLarge } outcome = Outcome::NotAFile;
    std::vector<std::uint8_t> bytes;
    std::uintmax_t size = 0;  // as far as it is known
};

DroppedFileRead readDroppedFile(const std::filesystem::path& file, std::uintmax_t limit) {
    DroppedFileRead read;
    // Without blocking: a FIFO (or a device) named there is refused below, not waited on.
    const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return read;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return read;
    }
    read.size = static_cast<std::uintmax_t>(info.st_size);
    if (read.size > limit) {
        ::close(fd);
        read.outcome = DroppedFileRead::Outcome::TooLarge;
        return read;
    }
    // The file may grow while it is read (or say it is empty and never end): it is read in steps
    // and kept to the limit and one byte, which is enough to know.
    read.bytes.reserve(static_cast<std::size_t>(read.size) + 1);
    std::vector<std::uint8_t> step(std::size_t{64} * 1024);
    std::size_t have = 0;
    while (have <= limit) {
        const ssize_t got = ::read(fd, step.data(), step.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            ::close(fd);
            read.bytes.clear();
            return read;
        }
        if (got == 0) break;
        const std::size_t kept = std::min<std::size_t>(static_cast<std::size_t>(got), limit + 1 - have);
        read.bytes.insert(read.bytes.end(), step.begin(), step.begin() + static_cast<std::ptrdiff_t>(kept));
        have += kept;
    }
    read.bytes.resize(have);
    if (have > limit) {
        if (::fstat(fd, &info) == 0)
            read.size = std::max<std::uintmax_t>(have, static_cast<std::uintmax_t>(info.st_size));
        read.bytes.clear();
        read.outcome = DroppedFileRead::Outcome::TooLarge;
    } else {
        read.size = have;
        read.outcome = DroppedFileRead::Outcome::Read;
    }
    ::close(fd);
    return read;
}

}  // namespace

std::optional<KZAIWebView::DropRefusal> KZAIWebView::native2js_droppedFileForAnalyze(const std::string& dropped) {
    if (dropped.empty() || dropped.front() != '/') {
        kit::logf("[WebView] dropped address not sent, not a file of this computer: %s", logText(dropped).c_str());
        // Long addresses are cut for the alert.
        const std::string shown = dropped.size() > 120 ? dropped.substr(0, 117) + "..." : dropped;
        return DropRefusal{
            KZLocalizedString("无法发送文件"),
            withPlaceholders(KZLocalizedString("“%@”不是这台电脑上的文件，只能发送这台电脑上的文件。"), {shown})};
    }
    const std::filesystem::path file(dropped);
    const std::string name = file.filename().string();
    kit::logf("[WebView] native2js_droppedFileForAnalyze %s, url : %s", name.c_str(), logText(rootURL()).c_str());
    const auto read = readDroppedFile(file, kDroppedFileSizeLimit);
    if (read.outcome == DroppedFileRead::Outcome::NotAFile) {
        kit::logf("[WebView] dropped file not sent: %s is not a readable file", name.c_str());
        return DropRefusal{KZLocalizedString("无法发送文件"),
                           withPlaceholders(KZLocalizedString("“%@”不是可以读取的文件。"), {name})};
    }
    if (read.outcome == DroppedFileRead::Outcome::TooLarge) {
        kit::logf("[WebView] dropped file not sent: %s has %ju bytes, more than %ju", name.c_str(), read.size,
                  kDroppedFileSizeLimit);
        const auto [sizeText, limitText] = readableSizes(read.size, kDroppedFileSizeLimit);
        return DropRefusal{KZLocalizedString("文件太大，无法发送给AI"),
                           withPlaceholders(KZLocalizedString("“%@”有 %@，AI助手只能接收不超过 %@ 的文件。"),
                                            {name, sizeText, limitText})};
    }
    callPage(KZN2JHandlerName::OnFileForAnalyze,
             kit::Dictionary{
                 {"filePurpose", kAnalyzeFilePurpose},
                 {"requestUrl", "data:" + kit::mimeTypeForFileName(name) + ";base64," + base64Encode(read.bytes)},
                 {"fileSize", static_cast<std::int64_t>(read.bytes.size())},
                 {"filePath", name}});
    return std::nullopt;
}

void KZAIWebView::didDropFiles(kit::WebView&, const std::vector<std::string>& paths) {
    if (!isTrustedPage()) {
        kit::logf("[WebView] %zu dropped file(s) not sent: the page shown is not the service's", paths.size());
        return;
    }
    if (dropsHandedOverByOwner_) {
        kit::logf("[WebView] %zu dropped file(s) left to the view's owner", paths.size());
        return;
    }
    handOverDroppedFiles(paths);
}

void KZAIWebView::handOverDroppedFiles(const std::vector<std::string>& dropped) {
    waitingDrop_.insert(waitingDrop_.end(), dropped.begin(), dropped.end());
    if (waitingDrop_.empty()) return;
    if (!isAIWebReady_ || !isTrustedPage()) {
        kit::logf("[WebView] %zu dropped file(s) wait for the page to be ready", waitingDrop_.size());
        return;
    }
    // On a turn of its own: the alert below runs the run loop, which nothing that called this
    // (a page handler, an engine callback) expects.
    std::weak_ptr<KZAIWebView> weak = std::static_pointer_cast<KZAIWebView>(shared_from_this());
    kit::RunLoop::main().post([weak] {
        if (auto self = weak.lock()) self->sendWaitingDrop();
    });
}

void KZAIWebView::sendWaitingDrop() {
    if (waitingDrop_.empty() || !isAIWebReady_ || !isTrustedPage()) return;
    std::vector<DropRefusal> refusals;
    for (const auto& dropped : std::exchange(waitingDrop_, {})) {
        if (auto refusal = native2js_droppedFileForAnalyze(dropped)) refusals.push_back(std::move(*refusal));
    }
    if (refusals.empty()) return;
    // One alert for the whole drop, after every file that could go has gone.
    std::string detail;
    for (const auto& refusal : refusals) detail += (detail.empty() ? "" : "\n") + refusal.detail;
    const bool oneTitle = std::all_of(refusals.begin(), refusals.end(), [&](const DropRefusal& refusal) {
        return refusal.title == refusals.front().title;
    });
    tellUserFileNotSent(oneTitle ? refusals.front().title : KZLocalizedString("无法发送文件"), detail);
}

void KZAIWebView::native2js_handleFile(const kit::Dictionary& fileAction) {
    kit::logf("[WebView] native2js_handleFile %s, url : %s", kit::describe(fileAction).c_str(),
              logText(rootURL()).c_str());
    callPage(KZN2JHandlerName::HandleFile, fileAction, "[WebView] native2js_handleFile Get Callback : ");
}

void KZAIWebView::native2js_windowHide() {
    kit::logf("[WebView] native2js_WindowHide, url : %s", logText(rootURL()).c_str());
    callPage(KZN2JHandlerName::WindowHide, kit::Dictionary{}, "[WebView] native2js_windowHide Get Callback : ");
}

// ---- Readiness -------------------------------------------------------------------------------------

void KZAIWebView::__resetRequestStatus() {
    KZBaseWebView::__resetRequestStatus();
    isAIWebReady_ = false;
    __cancelCheckingIfAIWebReady();
}

void KZAIWebView::didFinishNavigation(kit::WebView& webView, kit::NavigationId navigation) {
    KZBaseWebView::didFinishNavigation(webView, navigation);
    std::weak_ptr<KZAIWebView> weak = std::static_pointer_cast<KZAIWebView>(shared_from_this());
    kit::RunLoop::main().performAfterDelay(this, kReadyCheckSelector, kReadyCheckDelay, [weak] {
        if (auto self = weak.lock()) self->__checkIfAIWebReady();
    });
}

void KZAIWebView::__checkIfAIWebReady() {
    if (isLoading() || isAIWebReady_ || !showsErrorViewIfAIWebReadyTimeout()) return;
    kit::logLine("[WebView] Check Web Ready Failed !!");
    __showErrorViewWithText(errorTextOfWaitingReadyTimeout());
}

void KZAIWebView::__cancelCheckingIfAIWebReady() { kit::RunLoop::main().cancelPerforms(this, kReadyCheckSelector); }

// ---- Full screen -----------------------------------------------------------------------------------

void KZAIWebView::windowFullScreenChanged(const kit::Notification& notification, bool willEnter) {
    auto ownWindow = window();
    const std::string frame = kit::stringFromRect(ownWindow ? ownWindow->frame() : kit::Rect{});
    if (willEnter) {
        kit::logf("[KZBaseWebView]  will Enter Full Screen --  %s %s -- %s",
                  kit::objectLogText("Window", notification.object).c_str(),
                  kit::objectLogText("Window", ownWindow.get()).c_str(), frame.c_str());
    } else {
        kit::logf("[KZBaseWebView] Did Exit Full Screen --  %s %s -- %s",
                  kit::objectLogText("Window", notification.object).c_str(),
                  kit::objectLogText("Window", ownWindow.get()).c_str(), frame.c_str());
    }
    auto d = aiDelegate();
    if (!d) return;
    if (willEnter) {
        d->webviewElementWillEnterFullScreen(*this, notification);
    } else {
        d->webviewElementDidExitFullScreen(*this, notification);
    }
}

// ---- Navigation ------------------------------------------------------------------------------------

void KZAIWebView::decidePolicyForNavigationAction(kit::WebView& webView, const kit::NavigationAction& action,
                                                  kit::NavigationActionDecision decisionHandler) {
    std::optional<kit::NavigationActionPolicy> baseDecision;
    KZBaseWebView::decidePolicyForNavigationAction(webView, action,
                                                   [&baseDecision](kit::NavigationActionPolicy policy) { baseDecision = policy; });
    if (baseDecision != kit::NavigationActionPolicy::Allow) {
        decisionHandler(baseDecision.value_or(kit::NavigationActionPolicy::Cancel));
        return;
    }
    if (divertNavigationAction(action)) {
        decisionHandler(kit::NavigationActionPolicy::Cancel);
        return;
    }
    decisionHandler(kit::NavigationActionPolicy::Allow);
}

std::shared_ptr<kit::WebView> KZAIWebView::createWebView(kit::WebView&, const kit::WebViewConfiguration&,
                                                         const kit::NavigationAction& action,
                                                         const kit::WindowFeatures&) {
    kit::logf("[WebView] createWebViewWithConfiguration origin url: %s, to url: %s", logText(rootURL()).c_str(),
              logText(kit::asciiLowercase(action.request.url)).c_str());
    // Another site's page asks for nothing without the user: no download, no tool window.
    if (!mayOpenNewWindow(action) || divertNewWindowAction(action)) return nullptr;
    openNewWindowInBrowser(action.request.url);
    return nullptr;
}

// ---- Reports ---------------------------------------------------------------------------------------

void KZAIWebView::_reportWebViewDidStartLoad() {
    KZBaseWebView::_reportWebViewDidStartLoad();
    didStartPrepareForJSDate_ = kit::RunLoop::main().now();
}

void KZAIWebView::_reportWebViewDidReady() {
    if (!didStartPrepareForJSDate_) return;
    const long elapsed = KZBaseWebViewReportHelper::millisecondsSince(*didStartPrepareForJSDate_);
    didStartPrepareForJSDate_.reset();
    const std::string address = reportAddress();
    _reportWithKey(24011, {address, std::to_string(elapsed)});
    kit::logf("[KZBaseWebView] WebViewDidReady: %s", address.c_str());
}

void KZAIWebView::_reportWebViewIsNotReadyWhenUserEnter(long scene) {
    _reportWithKey(24012, {reportAddress(), std::to_string(scene)});
    kit::logf("[KZBaseWebView] _WebViewIsNotReadyWhenUserEnter: %ld", scene);
}

void KZAIWebView::_reportWebViewDidSendJSMessage(long type) {
    didSendJSMessageDateDictionary_[type] = kit::RunLoop::main().now();
    _reportWithKey(24013, {reportAddress(), std::to_string(type)});
    kit::logf("[KZBaseWebView] WebViewDidSendJSMessage: %ld", type);
}

void KZAIWebView::_reportWebViewDidReceiveJSMessage(long type) {
    auto it = didSendJSMessageDateDictionary_.find(type);
    if (it == didSendJSMessageDateDictionary_.end()) return;
    const long elapsed = KZBaseWebViewReportHelper::millisecondsSince(it->second);
    didSendJSMessageDateDictionary_.erase(it);
    _reportWithKey(24014, {reportAddress(), std::to_string(type), std::to_string(elapsed)});
    kit::logf("[KZBaseWebView] WebViewDidReceiveJSMessage: %ld", type);
}

// The length the platform's strings give text: UTF-16 code units.
long KZAIWebView::utf16Length(std::string_view text) {
    long length = 0;
    for (unsigned char c : text) {
        if ((c & 0xC0) == 0x80) continue;
        length += c >= 0xF0 ? 2 : 1;
    }
    return length;
}
