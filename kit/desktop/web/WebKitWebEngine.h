#pragma once
// The WebKitGTK engine of one web view. It owns a WebKitWebView widget (kept in a private
// offscreen window until the view is in a desktop window, then placed at the view's frame by
// WebViewHost) and turns WebKit's signals into the web view's engine... events, on the main loop.
//
// What WebKitGTK does not do by itself:
//   - a request's cache policy: the ones that ask for fresh data send "Cache-Control: no-cache";
//     the others follow WebKit's cache rules. Pages load with GET only;
//   - a request's timeout: a run-loop timer stops a load that has not committed in time and the
//     load fails with NSURLErrorDomain -1001. Every main-frame load has one: a reload re-issues
//     the request of the page shown with its time limit, and a navigation the page starts itself
//     has the platform's default;
//   - script results in order: results are handed on in the order the scripts were given;
//   - server trust: a certificate that does not validate is never trusted; the delegate hears of
//     it as a server-trust challenge and the load fails with NSURLErrorDomain -1202;
//   - user agents that are not valid HTTP product tokens (the application's is not): they reach
//     the page processes as a stand-in (UserAgentStandIn.h), and WebKitPageExtension puts the
//     real agent in every request that passes through a page process (pages, frames, their
//     subresources, fetches, a worker's script and its fetches) and in every frame's
//     navigator.userAgent. It cannot reach what WebKit builds without the page process's hooks:
//     the handshake of a WebSocket and navigator.userAgent inside a worker (dedicated, shared or
//     service) carry the stand-in, which is the agent with the refused bytes percent-escaped;
//   - pages scale with the desktop's font resolution (WebKit zooms them by it), text and form
//     controls alike: controls are given the font size WebKit gives them at 96 dpi, which the zoom
//     then scales, instead of one that has the resolution in it already;
//   - element full screen stays on in WebKit (with it off WebKitGTK 2.50 crashes when a page
//     opens a window); a page whose configuration does not allow it is refused when it asks;
//   - right clicks: the page shows its context menu only when the web view takes the click
//     (WebView::engineAllowsContextMenu), so subclasses that drop right clicks keep it closed;
//   - files dropped from another program reach the page's drop event without their contents, so
//     the engine reads the dropped addresses off the drop itself and reports them, local files as
//     paths (WebView::engineDidDropFiles), once the drop has happened; the load of a dropped
//     address that WebKit starts when the page does not take the drop is refused, so a drop never
//     replaces the page nor starts a download; drags that began in this program (a page's own,
//     whose list the page wrote) are never reported;
//   - which frame a navigation targets is not exposed by WebKitGTK: navigations the engine
//     started (loads, reloads, back and forward) and page navigations are reported as targeting
//     the main frame, new windows as not.
//
// Ownership: the web view owns its engine; the engine owns the widget (one reference) and
// disconnects every signal before letting it go. Callbacks that outlive the engine (script
// results, decisions held by a delegate) check a token that expires with it.

#include <webkit2/webkit2.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kit/base/Lifetime.h"
#include "kit/base/RunLoop.h"
#include "kit/desktop/web/WebKitGlue.h"
#include "kit/web/WebEngine.h"
#include "kit/web/WebView.h"

namespace kit::desktop {

class SharedPageProcess;

class WebKitWebEngine final : public WebEngine {
public:
    // `relatedView`: the view whose page asked for this new window (nullptr for a fresh view).
    WebKitWebEngine(WebView& view, const WebViewConfiguration& configuration, WebKitWebView* relatedView);
    ~WebKitWebEngine() override;
    WebKitWebEngine(const WebKitWebEngine&) = delete;
    WebKitWebEngine& operator=(const WebKitWebEngine&) = delete;

    // The WebKit engine of a web view, or nullptr when it has another engine.
    static WebKitWebEngine* of(const WebView& view);
    // While a page asks for a new window, the engine made next belongs to that page's view.
    static WebKitWebView* takePendingRelatedView();

    WebView& webView() const { return view_; }
    WebKitWebView* widget() const { return widget_.get(); }
    // The private top-level that holds the widget while the view is not in a desktop window.
    GtkWidget* parking() const { return parking_.get(); }
    // The agent string the engine sends now.
    std::string userAgent() const;

    void loadRequest(const UrlRequest& request) override;
    void reload() override;
    void stopLoading() override;
    void evaluateJavaScript(std::uint64_t scriptId, const std::string& script) override;
    void customUserAgentDidChange(const std::string& customAgent) override;
    void viewGeometryDidChange() override;

private:
    struct PendingScript {
        std::uint64_t id;
        std::optional<ScriptResult> result;
    };

    void connectSignals();
    void applyPreferences();
    void sizeControlsForPageZoom();
    void scriptDidFinish(std::uint64_t scriptId, ScriptResult result);
    void armTimeout(double seconds, const std::string& url);
    void cancelTimeout();
    // Loads of a view in a shared page process go through its queue (see SharedPageProcess).
    void startLoad(std::function<void()> start);
    void loadDidStart();
    FrameInfo mainFrameInfo() const;
    NavigationAction navigationActionFrom(WebKitNavigationAction* action, bool newWindow) const;

    gboolean onDecidePolicy(WebKitPolicyDecision* decision, WebKitPolicyDecisionType type);
    void onLoadChanged(WebKitLoadEvent event);
    gboolean onLoadFailed(WebKitLoadEvent event, const char* failingUri, GError* error);
    gboolean onLoadFailedWithTlsErrors(const char* failingUri, GTlsCertificate* certificate, GTlsCertificateFlags errors);
    void onWebProcessTerminated(WebKitWebProcessTerminationReason reason);
    GtkWidget* onCreate(WebKitNavigationAction* action);
    void onClose();
    gboolean onContextMenu(GdkEvent* event);
    gboolean onFullscreen(bool enter);
    gboolean onScriptDialog(WebKitScriptDialog* dialog);
    gboolean onRunFileChooser(WebKitFileChooserRequest* request);
    gboolean onAuthenticate(WebKitAuthenticationRequest* request);
    void onDragDataReceived(GdkDragContext* context, GtkSelectionData* data);
    void onDragDrop(GdkDragContext* context);
    void reportDrop();
    bool isDroppedAddress(const std::string& url) const;

    WebView& view_;
    WebViewConfiguration configuration_;
    GRef<WebKitSettings> settings_;
    // The agent pages and servers get; empty while it is WebKit's own.
    std::string agent_;
    GRef<WebKitWebView> widget_;
    GRef<GtkWidget> parking_;
    // Declared after the objects they are connected to, so they are disconnected first.
    SignalConnections signals_;
    // Made for a window that a page opened, and not yet handed to WebKit.
    bool relatedToPage_ = false;
    SharedPageProcess* shared_ = nullptr;

    std::deque<PendingScript> scripts_;
    GRef<GCancellable> cancellable_;

    NavigationId navigation_ = 0;
    NavigationId nextNavigation_ = 1;
    // From the start of a main-frame load until it finishes.
    bool navigationActive_ = false;
    bool navigationFailed_ = false;
    // The load timer, the navigation it belongs to (0 until that load starts) and whether it
    // fired.
    TaskId timeoutTask_ = 0;
    // How long a load of a shared process may keep the next one waiting without starting.
    static constexpr double kLoadStartPatience = 5.0;
    TaskId loadStartTask_ = 0;
    NavigationId timeoutNavigation_ = 0;
    bool timedOut_ = false;
    // The time limit of the load asked for, until its navigation starts, and the one of the
    // request the page shown came from (what a reload re-issues).
    std::optional<double> askedTimeout_;
    double pageTimeout_ = UrlRequest().timeoutInterval;
    std::optional<WebError> certificateError_;

    // The last drag from another program over the page (held, so that a new drag never takes its
    // address), the local paths its address list carried, and whether it was dropped.
    GRef<GdkDragContext> dragContext_;
    std::optional<std::vector<std::string>> dragPaths_;
    bool dropped_ = false;
    std::vector<std::string> dragAddresses_;
    // The addresses of the last drop reported: WebKit loads one of them when the page leaves
    // the drop to it, and that load is refused.
    std::vector<std::string> droppedAddresses_;

    Lifetime lifetime_;
};

}  // namespace kit::desktop
