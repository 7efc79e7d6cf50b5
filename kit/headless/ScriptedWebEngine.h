#pragma once
// The headless web engine: a scripted page driven from C++. It records what the web view asks of
// it (loads, reloads, stops, the user agent, every evaluated script), answers the bridge's fetch
// of the page's message queue with what the test put in it, runs a test-supplied responder for
// other scripts, and raises navigation and UI events when the test says so.
//
// Scripts are answered on later turns of the run loop, in order (env.runUntilIdle() delivers
// them). Navigation commands call the web view's delegates at once and return their decision
// when it was given synchronously; a later decision is kept in the last...() accessors.
//
//   kit::ScriptedWebBackend web;                        // installs the engine and downloads
//   auto view = kit::create<kit::WebView>(kit::Rect{0, 0, 400, 600});
//   auto& page = *kit::ScriptedWebEngine::of(*view);
//   view->loadRequest({"https://ai.example.com/chat"});
//   page.completePendingLoad("Chat");                    // decide, start, commit, finish
//   page.queueBridgeMessage(kit::Dictionary{{"handlerName", "WebIsReady"}});
//   page.signalBridgeQueue();
//   env.runUntilIdle();

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "kit/base/Lifetime.h"
#include "kit/base/Value.h"
#include "kit/web/WebEngine.h"
#include "kit/web/WebView.h"

namespace kit {

class ScriptedDownloadService;

class ScriptedWebEngine : public WebEngine {
public:
    ScriptedWebEngine(WebView& view, const WebViewConfiguration& configuration);
    ~ScriptedWebEngine() override;

    // The scripted engine of a web view, or nullptr when the view has another engine.
    static ScriptedWebEngine* of(const WebView& view);

    WebView& webView() const { return view_; }
    const WebViewConfiguration& configuration() const { return configuration_; }

    // ---- What the web view asked. --------------------------------------------------------
    const std::vector<UrlRequest>& loadedRequests() const { return loadedRequests_; }
    int reloadCount() const { return reloadCount_; }
    int stopCount() const { return stopCount_; }
    const std::string& customUserAgent() const { return customUserAgent_; }
    // Every script evaluated, in order.
    const std::vector<std::string>& evaluatedScripts() const { return scripts_; }
    // The scripts evaluated since the last take, in order.
    std::vector<std::string> takeEvaluatedScripts();
    // The bridge messages carried into the page ("WebViewJavascriptBridge._handleMessageFromObjC"
    // scripts, decoded) since the last take, in order. A script that cannot be decoded gives a
    // null value. A message guarded by "if (location.origin === '...') " counts only when the
    // document shown when it was evaluated had that origin.
    std::vector<Value> takeBridgeMessages();

    // ---- Scripts. ----------------------------------------------------------------------------
    using Responder = std::function<ScriptResult(const std::string& script)>;
    // Answers scripts other than the queue fetch; without one they answer null (undefined).
    void setResponder(Responder responder) { responder_ = std::move(responder); }
    // The page's bridge queue: the next fetch answers a JSON array of the queued messages and
    // empties the queue.
    void queueBridgeMessage(Value message);
    // The next fetch answers this instead, as is (any text, a non-string, an error).
    void setNextFetchAnswer(ScriptResult answer);
    int fetchCount() const { return fetchCount_; }

    // ---- Navigation on command. --------------------------------------------------------------
    // Asks the navigation delegate about an action; the decision when it was given at once.
    std::optional<NavigationActionPolicy> requestNavigation(const NavigationAction& action);
    std::optional<NavigationActionPolicy> requestNavigation(const std::string& url,
                                                            NavigationType type = NavigationType::LinkActivated,
                                                            bool targetsMainFrame = true);
    std::optional<NavigationActionPolicy> lastNavigationActionPolicy() const { return *lastActionPolicy_; }
    // The page's hidden frame signals the bridge: a subframe navigation to the queue address.
    std::optional<NavigationActionPolicy> signalBridgeQueue();
    // The page asks for the bridge script.
    std::optional<NavigationActionPolicy> requestBridgeLoaded(const std::string& url = "https://__bridge_loaded__");

    std::optional<NavigationResponsePolicy> receiveResponse(const NavigationResponse& response);
    std::optional<NavigationResponsePolicy> lastNavigationResponsePolicy() const { return *lastResponsePolicy_; }

    // The steps of a main-frame load. Start sets the address, loading and progress 0.1; commit
    // clears the title and sets progress 0.5; finish sets the title, progress 1 and not loading;
    // the failures end loading.
    NavigationId startProvisionalNavigation(const std::string& url);
    void receiveServerRedirect(const std::string& url);
    void commitNavigation();
    // The page process has committed a document of `url` that the web view has not heard of yet:
    // scripts evaluated from now run in it, until commitNavigation() tells the view.
    void commitInPageProcessOnly(const std::string& url);
    void finishNavigation(const std::string& title = {});
    void failProvisionalNavigation(const WebError& error);
    void failNavigation(const WebError& error);
    NavigationId currentNavigation() const { return navigation_; }

    // A whole main-frame load: action (type Other), start, response, commit, finish. False when
    // the delegate cancelled the action or the response (the latter fails the provisional load
    // with WebKitErrorDomain 102, as the engine does).
    bool loadPage(const std::string& url, const std::string& title = {});
    // loadPage() for the last request the web view loaded; false when there is none.
    bool completePendingLoad(const std::string& title = {});

    // The content process died; with `clearPage` the view is left without title and address.
    void terminateWebContentProcess(bool clearPage = true);
    void setTitle(const std::string& title);
    void setEstimatedProgress(double progress);

    using ChallengeAnswer = std::pair<AuthChallengeDisposition, std::shared_ptr<const Credential>>;
    std::optional<ChallengeAnswer> receiveAuthenticationChallenge(const AuthenticationChallenge& challenge);
    // A server-trust challenge for the current page's host.
    std::optional<ChallengeAnswer> receiveServerTrustChallenge(bool certificateValidates, int previousFailureCount = 0);

    // ---- UI on command. ------------------------------------------------------------------------
    // The page opens a new window (target "_blank" or window.open), on a click of the user's or
    // on the page's own. The web view the UI delegate made, which then gets the request loaded,
    // or nullptr.
    std::shared_ptr<WebView> openNewWindow(const std::string& url, NavigationType type = NavigationType::LinkActivated,
                                           bool userGesture = true);
    void closeWindow();
    std::optional<bool> runConfirmPanel(const std::string& message);
    std::optional<std::optional<std::string>> runTextInputPanel(const std::string& prompt,
                                                                const std::string& defaultText = {});
    bool runAlertPanel(const std::string& message);
    // The page's file input; the answer when given at once, else see lastOpenPanelAnswer().
    std::optional<std::optional<std::vector<std::string>>> runOpenPanel(const OpenPanelParameters& parameters = {});
    // The same with an answer handler of the test's own, which hears the answer even when it
    // comes after this engine has gone.
    void runOpenPanel(const OpenPanelParameters& parameters,
                      std::function<void(std::optional<std::vector<std::string>>)> completionHandler);
    std::optional<std::optional<std::vector<std::string>>> lastOpenPanelAnswer() const { return *lastOpenPanelAnswer_; }
    // The user drops files from another program on the page.
    void dropFiles(const std::vector<std::string>& paths);

    // ---- WebEngine. ------------------------------------------------------------------------------
    void loadRequest(const UrlRequest& request) override;
    void reload() override;
    void stopLoading() override;
    void evaluateJavaScript(std::uint64_t scriptId, const std::string& script) override;
    void customUserAgentDidChange(const std::string& userAgent) override;

private:
    ScriptResult answer(const std::string& script);
    FrameInfo mainFrame() const;

    WebView& view_;
    WebViewConfiguration configuration_;
    std::vector<UrlRequest> loadedRequests_;
    int reloadCount_ = 0;
    int stopCount_ = 0;
    std::string customUserAgent_;
    std::vector<std::string> scripts_;
    // The origin of the document each script ran in.
    std::vector<std::string> scriptOrigins_;
    std::string documentAhead_;
    std::string committedDocument_;
    std::size_t scriptsTaken_ = 0;
    std::size_t messagesTaken_ = 0;
    Responder responder_;
    Array bridgeQueue_;
    std::optional<ScriptResult> nextFetchAnswer_;
    int fetchCount_ = 0;
    NavigationId navigation_ = 0;
    NavigationId nextNavigation_ = 1;
    std::shared_ptr<std::optional<NavigationActionPolicy>> lastActionPolicy_;
    std::shared_ptr<std::optional<NavigationResponsePolicy>> lastResponsePolicy_;
    std::shared_ptr<std::optional<std::optional<std::vector<std::string>>>> lastOpenPanelAnswer_;
    // Expires with the engine: answers still queued on the loop check it.
    Lifetime alive_;
};

// Installs the scripted engine and the scripted download service for its lifetime; the shared
// website data store is made afresh on both ends.
class ScriptedWebBackend {
public:
    ScriptedWebBackend();
    ~ScriptedWebBackend();
    ScriptedWebBackend(const ScriptedWebBackend&) = delete;
    ScriptedWebBackend& operator=(const ScriptedWebBackend&) = delete;

    ScriptedDownloadService& downloads() { return *downloads_; }
    // The engines of the web views made since, still alive, in creation order.
    std::vector<ScriptedWebEngine*> engines() const;

private:
    class Factory;
    std::shared_ptr<Factory> factory_;
    std::shared_ptr<ScriptedDownloadService> downloads_;
};

}  // namespace kit
