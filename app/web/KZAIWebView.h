#pragma once
// The web view of every AI page. On top of the base web view it talks to the page over the
// JavaScript bridge (13 page-to-application handlers, 14 application-to-page calls), tracks the
// page's readiness ("WebIsReady", checked 5 seconds after each finished navigation), relays
// window full-screen changes, and sends the timing reports 24011 to 24014.
//
// Addresses that carry an image as Base64 data or name a file to download are never navigated
// to: the image or file is saved into the private download folder (KZDownloadFolder) and offered
// in a save panel on the view's window (reports 24005 to 24010). New windows asking for the image
// or document tool open a tab there. The page's file input gets an open panel filtered by the
// types the pages declared (KZSharedWebData).
//
// Pages are trusted by origin: only a document shown (the last committed main-frame page) of the
// AI service's origin (KZBundleInfo::aiBaseURL()) gets the page script, the application's calls
// and its queue read; the handlers check it again and give any other page an empty answer.
//
// Made with kit::create<KZAIWebView>(). Ownership: the view owns its bridge, which holds the
// platform web view and this view (its web-view delegate) weakly; handlers hold the view weakly.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/web/KZAIWebViewDelegate.h"
#include "app/web/KZBaseWebView.h"
#include "app/web/KZWebTypes.h"
#include "kit/base/Value.h"
#include "kit/ui/Image.h"
#include "kit/web/Download.h"

class WKWebViewJavascriptBridge;

class KZAIWebView : public KZBaseWebView {
public:
    explicit KZAIWebView(kit::Rect frame = {});
    ~KZAIWebView() override;
    void init() override;
    std::string className() const override { return "KZAIWebView"; }

    // The base's delegate, when it speaks this protocol.
    std::shared_ptr<KZAIWebViewDelegate> aiDelegate() const;

    const std::shared_ptr<WKWebViewJavascriptBridge>& bridge() const { return bridge_; }
    bool isAIWebReady() const { return isAIWebReady_; }
    void setIsAIWebReady(bool ready) { isAIWebReady_ = ready; }
    bool hasOpenFile() const { return hasOpenFile_; }
    bool isShowPanel() const { return isShowPanel_; }
    void setIsShowPanel(bool isShowPanel) { isShowPanel_ = isShowPanel; }
    long saveImageIndex() const { return saveImageIndex_; }
    void setSaveImageIndex(long index) { saveImageIndex_ = index; }
    // Main-loop clock times; nullopt when not recorded.
    const std::optional<double>& didStartPrepareForJSDate() const { return didStartPrepareForJSDate_; }
    const std::optional<double>& didStartDownloadImageDate() const { return didStartDownloadImageDate_; }
    const std::optional<double>& didStartDownloadFileDate() const { return didStartDownloadFileDate_; }
    const std::map<long, double>& didSendJSMessageDateDictionary() const { return didSendJSMessageDateDictionary_; }

    // Whether the document now shown may use the handlers.
    bool isTrustedPage() const;
    // "scheme://host[:port]" of an address, the scheme's default port left out; empty when the
    // address has no host.
    static std::string comparableOrigin(std::string_view address);
    // The AI service's origin in that form.
    static std::string serviceOrigin();
    // The origin of the document now shown; empty before the first commit.
    const std::string& committedOrigin() const { return committedOrigin_; }

    // ---- Application-to-page calls. ------------------------------------------------------------
    void native2js_requestAuthUser();
    void native2js_requestLogout();
    void native2js_swipeWindowClose(int windowType);
    void native2js_sendMessageToJSWithType(int windowType, const std::optional<std::string>& message);
    void native2js_webShow(int windowType, bool isVisiable);
    void native2js_commitContinueAsk(int windowType, const std::optional<std::string>& sessionID);
    void native2js_systemDragFile(bool dragging);
    // The block is not used: the page's answer is only logged.
    void native2js_currentPageIsSaved(const std::function<void(bool)>& block = {});
    void native2js_loginEventNotify(bool isLogin);
    void native2js_clientUserChange(bool isLogin, bool webViewVisible);
    void native2js_cancelLogin();
    // Sends the image as PNG data; an image that cannot be encoded is not sent.
    void native2js_fileForAnalyze(const kit::Image& image);
    // Why a dropped file was not sent, as the alert tells it.
    struct DropRefusal {
        std::string title;
        std::string detail;
    };
    // Sends a file the user dropped on the page (its local path) as a data address of its type,
    // with its size and its name as "filePath". The file is opened once, without waiting on a
    // FIFO, and read to at most kDroppedFileSizeLimit and one byte. What is not sent (not a file
    // of this computer, not a regular readable file, larger than the limit) is answered with why.
    std::optional<DropRefusal> native2js_droppedFileForAnalyze(const std::string& dropped);
    // Hands what the user dropped (local paths, other addresses as they came) to the page once a
    // page of the service is ready, at once when it is; until then it waits, with whatever else
    // was dropped. After the files went, one alert tells the user about those that could not.
    void handOverDroppedFiles(const std::vector<std::string>& dropped);
    const std::vector<std::string>& waitingDrop() const { return waitingDrop_; }
    // While set, drops the engine reports are left to the view's owner, which hands them over
    // itself (the drop window, whose drop the drag manager has seen).
    void setDropsHandedOverByOwner(bool byOwner) { dropsHandedOverByOwner_ = byOwner; }
    void native2js_handleFile(const kit::Dictionary& fileAction);
    void native2js_windowHide();

    // ---- Reports. ------------------------------------------------------------------------------
    void _reportWebViewIsNotReadyWhenUserEnter(long scene);
    void _reportWebViewDidSendJSMessage(long type);
    void _reportWebViewDidReceiveJSMessage(long type);

    // ---- Overrides of the base. ----------------------------------------------------------------
    void decidePolicyForNavigationAction(kit::WebView& webView, const kit::NavigationAction& action,
                                         kit::NavigationActionDecision decisionHandler) override;
    void didFinishNavigation(kit::WebView& webView, kit::NavigationId navigation) override;
    std::shared_ptr<kit::WebView> createWebView(kit::WebView& webView, const kit::WebViewConfiguration& configuration,
                                                const kit::NavigationAction& action,
                                                const kit::WindowFeatures& features) override;

    // Calls made while no page of the service has asked for the bridge wait for one, at most this
    // many (the oldest go first); a later call of the same state replaces an earlier one (see
    // startupQueueSupersedeKey). A page of another origin never gets the page script, and its
    // arrival drops whatever was waiting.
    static constexpr std::size_t kStartupQueueLimit = 16;
    // The length the platform's strings give a text (UTF-16 code units), as logged and reported.
    static long utf16Length(std::string_view text);
    static std::string startupQueueSupersedeKey(std::string_view handlerName, const kit::Value& data);

    // ---- Downloads, saved images and the open panel. -------------------------------------------
    // Address classification, case aside: image data ("data:image...;base64,") and addresses that
    // end in a download suffix (before any query).
    static bool isImageDataAddress(const std::string& url);
    static bool __canDownload(const std::string& url);
    // The image subtype of a data address ("^data:image/(\w+);base64,", case kept); "png" when
    // it does not match.
    static std::string __extractImageFormatFromBase64String(const std::string& text);
    // The Base64 data after the last "base64,", characters outside the alphabet ignored; nullopt
    // when nothing decodes.
    static std::optional<std::vector<std::uint8_t>> __imageDataFromBase64String(const std::string& text);
    // Saves the image of a data address and offers it in the save panel.
    void __startDownloadBase64Picture(const std::string& text);
    // Downloads the address and offers the file in the save panel.
    void __startDownloadWithURL(const std::string& url);
    void __downloadWithURL(const std::string& url);
    // The save panel for a file waiting in the download folder; `handler` runs after the file was
    // saved where the user chose.
    void savePanelWithFileName(const std::string& fileName, const std::filesystem::path& tempPath,
                               std::function<void()> handler = {});
    // A panel of this view begun (up or waiting for its turn), and answered.
    void panelDidBegin();
    void panelDidEnd();
    // Downloads under way.
    std::size_t activeDownloadCount() const { return downloadSessions_.size(); }
    void runOpenPanel(kit::WebView& webView, const kit::OpenPanelParameters& parameters, const kit::FrameInfo& frame,
                      std::function<void(std::optional<std::vector<std::string>>)> completionHandler) override;
    // The engine gives the page the names of files dropped from another program, not their
    // contents: a page of the service gets them from handOverDroppedFiles.
    void didDropFiles(kit::WebView& webView, const std::vector<std::string>& paths) override;

    static constexpr double kDownloadTimeout = 10.0;
    static constexpr double kOpenPanelDelay = 0.1;
    static constexpr double kReadyCheckDelay = 5.0;
    static constexpr const char* kReadyCheckSelector = "__checkIfAIWebReady";
    static constexpr const char* kAnalyzeFilePath = "/mac/screenshot.png";
    static constexpr int kAnalyzeFilePurpose = 14;
    // The largest dropped file handed to the page (its data address is a third larger again).
    static constexpr std::uintmax_t kDroppedFileSizeLimit = std::uintmax_t{10} * 1024 * 1024;

protected:
    void __resetRequestStatus() override;
    void _reportWebViewDidStartLoad() override;

    // Downloads, image data and the tool windows' addresses: true when the address was taken and
    // the navigation must not go on.
    virtual bool divertNavigationAction(const kit::NavigationAction& action);
    virtual bool divertNewWindowAction(const kit::NavigationAction& action);

private:
    friend class KZAIWebViewBridge;
    friend class KZAIWebViewDownloadSession;
    // Why the file could not be placed for the user, or nothing when a panel offers it.
    std::optional<kit::WebError> URLSessionDidFinishDownloadingTo(const kit::DownloadTask& task,
                                                                  const std::filesystem::path& location);
    void URLSessionDidComplete(const kit::DownloadTask& task, const std::optional<kit::WebError>& error);
    void _reportWebViewDidStartDownloadImage(long length);
    void _reportWebViewDidEndDownloadImage(long length, bool written);
    void _reportWebViewDidStartDownloadFile();
    void _reportWebViewDidEndDownloadFile(const std::optional<kit::WebError>& error);

    // A new main-frame document replaced the old one.
    void mainFrameDidCommit();

    using HandlerWork = std::function<void(KZAIWebView& view, const kit::Dictionary& data,
                                           const std::function<void(const kit::Value&)>& answer)>;
    void registJSBridge();
    void registerJ2NHandler(const char* name, HandlerWork work);
    void callPage(const char* handlerName, const kit::Value& data, std::string answerLog = {});

    void handleReportData(const kit::Dictionary& data, const std::function<void(const kit::Value&)>& answer);
    void handleSetFileMediaType(const kit::Dictionary& data);
    void handleReportAuthUser(const kit::Dictionary& data);
    void _reportWebViewDidReady();

    void sendWaitingDrop();
    void __checkIfAIWebReady();
    void __cancelCheckingIfAIWebReady();
    void windowFullScreenChanged(const kit::Notification& notification, bool willEnter);

    std::shared_ptr<WKWebViewJavascriptBridge> bridge_;
    bool isAIWebReady_ = false;
    std::vector<std::string> waitingDrop_;
    bool dropsHandedOverByOwner_ = false;
    bool hasOpenFile_ = false;
    bool isShowPanel_ = false;
    // Panels of this view up or waiting for their turn.
    int panelsPending_ = 0;
    long saveImageIndex_ = 1;
    std::optional<double> didStartPrepareForJSDate_;
    std::optional<double> didStartDownloadImageDate_;
    std::optional<double> didStartDownloadFileDate_;
    std::map<long, double> didSendJSMessageDateDictionary_;
    std::vector<std::shared_ptr<void>> fullScreenTokens_;
    // One delegate per download, released when its task completes.
    std::vector<std::shared_ptr<kit::DownloadDelegate>> downloadSessions_;
    std::string committedOrigin_;
};
