#include "kit/desktop/web/WebKitWebEngine.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "kit/base/Log.h"
#include "kit/desktop/FrameTrace.h"
#include "kit/desktop/KeyCodes.h"
#include "kit/desktop/dnd/XdndUriList.h"
#include "kit/desktop/web/SharedPageProcess.h"
#include "kit/desktop/web/WebKitConversions.h"
#include "kit/desktop/web/WebKitErrors.h"
#include "kit/desktop/web/WebKitWebsiteData.h"
#include "kit/desktop/web/WebViewHost.h"
#include "kit/ui/Window.h"
#include "kit/web/Url.h"

namespace kit::desktop {

namespace {

WebKitWebView* gPendingRelatedView = nullptr;

// Sets the page that asks for a new window while its UI delegate makes the new view.
class PendingRelatedView {
public:
    explicit PendingRelatedView(WebKitWebView* view) : previous_(std::exchange(gPendingRelatedView, view)) {}
    ~PendingRelatedView() { gPendingRelatedView = previous_; }
    PendingRelatedView(const PendingRelatedView&) = delete;
    PendingRelatedView& operator=(const PendingRelatedView&) = delete;

private:
    WebKitWebView* previous_;
};

// Answers held by a delegate. WebKit waits for each until it is given, so an answer that the
// delegate drops unanswered is given the safe way: a navigation is not allowed, a dialog is
// dismissed, a file choice or a login is cancelled.
struct PolicyAnswer {
    explicit PolicyAnswer(WebKitPolicyDecision* d) : decision(GRef<WebKitPolicyDecision>::retain(d)) {}
    ~PolicyAnswer() {
        if (!answered) webkit_policy_decision_ignore(decision.get());
    }
    void answer(bool allow, bool download) {
        if (answered) return;
        answered = true;
        if (download) {
            // Saved by WebKit in the user's download folder.
            webkit_policy_decision_download(decision.get());
        } else if (allow) {
            webkit_policy_decision_use(decision.get());
        } else {
            webkit_policy_decision_ignore(decision.get());
        }
    }
    GRef<WebKitPolicyDecision> decision;
    bool answered = false;
};

// A dialog answered within the signal is left to WebKit; one answered later is held (and closed
// with its answer, or dismissed when the delegate drops it).
struct DialogAnswer {
    explicit DialogAnswer(WebKitScriptDialog* d) : dialog(d) {}
    ~DialogAnswer() {
        if (!held) return;
        if (!answered) webkit_script_dialog_close(dialog);
        webkit_script_dialog_unref(dialog);
    }
    void finish() {
        if (answered) return;
        answered = true;
        if (held) webkit_script_dialog_close(dialog);
    }
    void holdIfUnanswered() {
        if (answered || held) return;
        webkit_script_dialog_ref(dialog);
        held = true;
    }
    WebKitScriptDialog* dialog;
    bool held = false;
    bool answered = false;
};

struct FileChoiceAnswer {
    explicit FileChoiceAnswer(WebKitFileChooserRequest* r) : request(GRef<WebKitFileChooserRequest>::retain(r)) {}
    ~FileChoiceAnswer() {
        if (!answered) webkit_file_chooser_request_cancel(request.get());
    }
    void answer(const std::optional<std::vector<std::string>>& files) {
        if (answered) return;
        answered = true;
        std::vector<std::string> paths;
        if (files) {
            for (const auto& file : *files) {
                if (auto path = filePathFromAnswer(file)) {
                    paths.push_back(*path);
                } else {
                    logf("The open panel answered an address that is not a file, ignored: %s", file.c_str());
                }
            }
        }
        if (paths.empty()) {
            webkit_file_chooser_request_cancel(request.get());
            return;
        }
        std::vector<const gchar*> list;
        list.reserve(paths.size() + 1);
        for (const auto& path : paths) list.push_back(path.c_str());
        list.push_back(nullptr);
        webkit_file_chooser_request_select_files(request.get(), list.data());
    }
    GRef<WebKitFileChooserRequest> request;
    bool answered = false;
};

struct LoginAnswer {
    explicit LoginAnswer(WebKitAuthenticationRequest* r) : request(GRef<WebKitAuthenticationRequest>::retain(r)) {}
    ~LoginAnswer() {
        if (!answered) webkit_authentication_request_cancel(request.get());
    }
    GRef<WebKitAuthenticationRequest> request;
    bool answered = false;
    // While the signal is being emitted: default handling is then WebKit's own login dialog.
    bool inSignal = true;
    bool useWebKitDefault = false;
};

std::string authenticationMethodFor(WebKitAuthenticationScheme scheme) {
    switch (scheme) {
        case WEBKIT_AUTHENTICATION_SCHEME_HTTP_BASIC: return kAuthenticationMethodHTTPBasic;
        default: return kAuthenticationMethodDefault;
    }
}

bool asksForNoCache(UrlRequestCachePolicy policy) {
    return policy == UrlRequestCachePolicy::ReloadIgnoringLocalCacheData ||
           policy == UrlRequestCachePolicy::ReloadIgnoringLocalAndRemoteCacheData;
}

}  // namespace

WebKitWebEngine::WebKitWebEngine(WebView& view, const WebViewConfiguration& configuration, WebKitWebView* relatedView)
    : view_(view),
      configuration_(configuration),
      settings_(GRef<WebKitSettings>::adopt(webkit_settings_new())),
      cancellable_(GRef<GCancellable>::adopt(g_cancellable_new())) {
    applyPreferences();
    GtkWidget* widget = nullptr;
    if (relatedView) {
        // A window a page opened shares that page's process and context, as WebKit requires.
        widget = GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "related-view", relatedView, nullptr));
        relatedToPage_ = true;
    } else {
        WebKitWebContext* context = webKitContextFor(configuration_.websiteDataStore);
        if (!configuration_.sharedProcessName.empty())
            shared_ = &SharedPageProcess::named(configuration_.sharedProcessName, context);
        if (WebKitWebView* member = shared_ ? shared_->relatedView() : nullptr) {
            // Related to a live member: WebKit puts its pages in that member's process.
            widget = GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "related-view", member, nullptr));
        } else {
            widget = GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context, nullptr));
        }
        if (shared_) shared_->join(WEBKIT_WEB_VIEW(widget));
    }
    widget_ = GRef<WebKitWebView>::adopt(WEBKIT_WEB_VIEW(g_object_ref_sink(widget)));
    webkit_web_view_set_settings(widget_.get(), settings_.get());
    gtk_widget_show(widget);

    // Until the view is in a window the page lives in a private top-level that is never shown:
    // the page loads, runs and answers scripts, and nothing of it is drawn (in a shown offscreen
    // window WebKit would render it all through its compositor).
    parking_ = GRef<GtkWidget>::sink(gtk_offscreen_window_new());
    gtk_container_add(GTK_CONTAINER(parking_.get()), widget);

    connectSignals();
    sizeControlsForPageZoom();
    viewGeometryDidChange();
}

// WebKitGTK zooms every page by GTK's font resolution over 96 dpi (Xft.dpi times GDK_DPI_SCALE),
// so pages scale with the desktop's text as GTK's own texts do. It also sizes the form controls'
// font (GTK's font) at that resolution, which the zoom would then count twice. A user style sheet
// gives controls the size WebKit gives them at 96 dpi (GTK's font in whole pixels), and the zoom
// scales text and controls alike. A page's own styles still size its controls as they say.
void WebKitWebEngine::sizeControlsForPageZoom() {
    constexpr double kBaseResolution = 96;
    constexpr double kPointsPerInch = 72;
    GtkSettings* settings = gtk_settings_get_for_screen(gtk_widget_get_screen(GTK_WIDGET(widget_.get())));
    gchar* fontName = nullptr;
    g_object_get(settings, "gtk-font-name", &fontName, nullptr);
    PangoFontDescription* font = pango_font_description_from_string(fontName ? fontName : "");
    g_free(fontName);
    double size = static_cast<double>(pango_font_description_get_size(font)) / PANGO_SCALE;
    if (!pango_font_description_get_size_is_absolute(font)) size = size * kBaseResolution / kPointsPerInch;
    pango_font_description_free(font);
    WebKitUserContentManager* manager = webkit_web_view_get_user_content_manager(widget_.get());
    // Views that share a page's manager set the same sheet.
    webkit_user_content_manager_remove_all_style_sheets(manager);
    if (size < 1) return;
    const std::string css =
        "input, textarea, select, button { font-size: " + std::to_string(static_cast<int>(size)) + "px; }";
    WebKitUserStyleSheet* sheet = webkit_user_style_sheet_new(css.c_str(), WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
                                                              WEBKIT_USER_STYLE_LEVEL_USER, nullptr, nullptr);
    webkit_user_content_manager_add_style_sheet(manager, sheet);
    webkit_user_style_sheet_unref(sheet);
}

WebKitWebEngine::~WebKitWebEngine() {
    lifetime_.end();
    cancelTimeout();
    g_cancellable_cancel(cancellable_.get());
    signals_.disconnectAll();
    GtkWidget* widget = GTK_WIDGET(widget_.get());
    RunLoop::main().cancel(loadStartTask_);
    if (shared_) shared_->withdraw(this);
    SharedPageProcess::leave(widget_.get());
    WebViewHost::remove(widget);
    // Destroying the widget closes its page; the last reference goes with widget_.
    gtk_widget_destroy(widget);
    gtk_widget_destroy(parking_.get());
}

WebKitWebEngine* WebKitWebEngine::of(const WebView& view) { return dynamic_cast<WebKitWebEngine*>(&view.engine()); }

WebKitWebView* WebKitWebEngine::takePendingRelatedView() { return std::exchange(gPendingRelatedView, nullptr); }

std::string WebKitWebEngine::userAgent() const {
    if (!agent_.empty()) return agent_;
    const char* agent = webkit_settings_get_user_agent(settings_.get());
    return agent ? agent : "";
}

void WebKitWebEngine::applyPreferences() {
    WebKitSettings* settings = settings_.get();
    const WebPreferences& preferences = configuration_.preferences;
    webkit_settings_set_enable_javascript(settings, preferences.javaScriptEnabled);
    webkit_settings_set_javascript_can_open_windows_automatically(settings,
                                                                  preferences.javaScriptCanOpenWindowsAutomatically);
    // Full screen stays on in WebKit: with it off, a window the page opens crashes WebKitGTK
    // (2.50). A page that may not use it is refused when it asks (see onFullscreen).
    webkit_settings_set_enable_fullscreen(settings, TRUE);
    webkit_settings_set_enable_developer_extras(settings, preferences.developerExtrasEnabled);
    customUserAgentDidChange({});
}

void WebKitWebEngine::customUserAgentDidChange(const std::string& customAgent) {
    agent_.clear();
    std::string agent = customAgent;
    if (agent.empty()) {
        webkit_settings_set_user_agent(settings_.get(), nullptr);
        const std::string& name = configuration_.applicationNameForUserAgent;
        if (name.empty()) return;
        agent = userAgent() + " " + name;
    }
    if (isValidUserAgent(agent)) {
        webkit_settings_set_user_agent(settings_.get(), agent.c_str());
        agent_ = agent;
    } else if (pageExtensionDirectory()) {
        webkit_settings_set_user_agent(settings_.get(), userAgentStandIn(agent).c_str());
        agent_ = agent;
    } else {
        logf("WebKit cannot send the user agent \"%s\"; pages get its own", agent.c_str());
        webkit_settings_set_user_agent(settings_.get(), nullptr);
    }
}

void WebKitWebEngine::viewGeometryDidChange() { WebViewHost::place(view_, GTK_WIDGET(widget_.get()), parking_.get()); }

// ---- Loading -------------------------------------------------------------------------------

void WebKitWebEngine::loadRequest(const UrlRequest& request) {
    cancelTimeout();
    auto uriRequest = GRef<WebKitURIRequest>::adopt(webkit_uri_request_new(request.url.c_str()));
    if (SoupMessageHeaders* headers = webkit_uri_request_get_http_headers(uriRequest.get())) {
        for (const auto& [name, value] : request.headers) soup_message_headers_replace(headers, name.c_str(), value.c_str());
        if (asksForNoCache(request.cachePolicy)) {
            soup_message_headers_replace(headers, "Cache-Control", "no-cache");
            soup_message_headers_replace(headers, "Pragma", "no-cache");
        }
    }
    if (request.httpMethod != "GET") {
        logf("The web view loads %s with GET: WebKitGTK loads pages only with GET (asked: %s)", request.url.c_str(),
             request.httpMethod.c_str());
    }
    startLoad([this, uriRequest] { webkit_web_view_load_request(widget_.get(), uriRequest.get()); });
    armTimeout(request.timeoutInterval, request.url);
}

void WebKitWebEngine::reload() {
    // A reload re-issues the request of the page shown, with that request's time limit.
    cancelTimeout();
    startLoad([this] { webkit_web_view_reload(widget_.get()); });
    armTimeout(pageTimeout_, view_.url());
}

void WebKitWebEngine::stopLoading() {
    cancelTimeout();
    if (shared_) shared_->withdraw(this);
    webkit_web_view_stop_loading(widget_.get());
}

void WebKitWebEngine::startLoad(std::function<void()> start) {
    if (!shared_) {
        start();
        return;
    }
    shared_->admit(this, [this, start = std::move(start)] {
        // Should WebKit never tell that the load started (a process that ends without a word),
        // the next view's load goes after a while all the same.
        RunLoop::main().cancel(loadStartTask_);
        loadStartTask_ = RunLoop::main().postAfter(kLoadStartPatience, [this, alive = lifetime_.watch()] {
            if (alive.expired()) return;
            loadStartTask_ = 0;
            if (shared_) shared_->started(this);
        });
        start();
    });
}

void WebKitWebEngine::loadDidStart() {
    if (!shared_) return;
    RunLoop::main().cancel(loadStartTask_);
    loadStartTask_ = 0;
    shared_->started(this);
}

void WebKitWebEngine::armTimeout(double seconds, const std::string& url) {
    askedTimeout_ = seconds;
    if (seconds <= 0) return;
    timeoutNavigation_ = 0;
    timeoutTask_ = RunLoop::main().postAfter(seconds, [this, alive = lifetime_.watch(), url] {
        if (alive.expired()) return;
        timeoutTask_ = 0;
        logf("The load of %s timed out", url.c_str());
        timedOut_ = true;
        if (shared_) shared_->withdraw(this);
        webkit_web_view_stop_loading(widget_.get());
    });
}

void WebKitWebEngine::cancelTimeout() {
    if (timeoutTask_) RunLoop::main().cancel(timeoutTask_);
    timeoutTask_ = 0;
    timeoutNavigation_ = 0;
    timedOut_ = false;
    askedTimeout_.reset();
}

// ---- Scripts -------------------------------------------------------------------------------

void WebKitWebEngine::evaluateJavaScript(std::uint64_t scriptId, const std::string& script) {
    scripts_.push_back({scriptId, std::nullopt});
    struct Call {
        LifetimeWatch alive;
        WebKitWebEngine* engine;
        std::uint64_t id;
    };
    auto* call = new Call{lifetime_.watch(), this, scriptId};
    webkit_web_view_evaluate_javascript(
        widget_.get(), script.data(), static_cast<gssize>(script.size()), nullptr, nullptr, cancellable_.get(),
        +[](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<Call> call(static_cast<Call*>(data));
            GError* error = nullptr;
            auto value = GRef<JSCValue>::adopt(
                webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error));
            if (!call->alive.expired()) {
                guarded("a script result", [&] {
                    if (error) {
                        call->engine->scriptDidFinish(call->id, Error{error->message ? error->message : "script failed"});
                    } else {
                        call->engine->scriptDidFinish(call->id, scriptResultFrom(value.get()));
                    }
                });
            }
            if (error) g_error_free(error);
        },
        call);
}

void WebKitWebEngine::scriptDidFinish(std::uint64_t scriptId, ScriptResult result) {
    for (auto& pending : scripts_) {
        if (pending.id == scriptId) {
            pending.result = std::move(result);
            break;
        }
    }
    // Results go on in the order the scripts were given.
    while (!scripts_.empty() && scripts_.front().result) {
        PendingScript done = std::move(scripts_.front());
        scripts_.pop_front();
        view_.engineScriptDidFinish(backendBadge(), done.id, std::move(*done.result));
    }
}

// ---- Signals -------------------------------------------------------------------------------

void WebKitWebEngine::connectSignals() {
    gpointer view = widget_.get();
    signals_.connect(gtk_settings_get_for_screen(gtk_widget_get_screen(GTK_WIDGET(widget_.get()))),
                     "notify::gtk-font-name", [this](GtkSettings*, GParamSpec*) { sizeControlsForPageZoom(); });
    signals_.connect(view, "decide-policy",
                     [this](WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type) -> gboolean {
                         return onDecidePolicy(decision, type);
                     });
    signals_.connect(view, "load-changed", [this](WebKitWebView*, WebKitLoadEvent event) { onLoadChanged(event); });
    signals_.connect(
        view, "load-failed",
        [this](WebKitWebView*, WebKitLoadEvent event, gchar* uri, GError* error) -> gboolean {
            return onLoadFailed(event, uri, error);
        },
        TRUE);
    signals_.connect(view, "load-failed-with-tls-errors",
                     [this](WebKitWebView*, gchar* uri, GTlsCertificate* certificate, GTlsCertificateFlags errors)
                         -> gboolean { return onLoadFailedWithTlsErrors(uri, certificate, errors); });
    signals_.connect(view, "web-process-terminated", [this](WebKitWebView*, WebKitWebProcessTerminationReason reason) {
        onWebProcessTerminated(reason);
    });
    signals_.connect(view, "create",
                     [this](WebKitWebView*, WebKitNavigationAction* action) -> GtkWidget* { return onCreate(action); });
    signals_.connect(view, "close", [this](WebKitWebView*) { onClose(); });
    signals_.connect(view, "script-dialog",
                     [this](WebKitWebView*, WebKitScriptDialog* dialog) -> gboolean { return onScriptDialog(dialog); });
    signals_.connect(view, "run-file-chooser", [this](WebKitWebView*, WebKitFileChooserRequest* request) -> gboolean {
        return onRunFileChooser(request);
    });
    signals_.connect(view, "authenticate", [this](WebKitWebView*, WebKitAuthenticationRequest* request) -> gboolean {
        return onAuthenticate(request);
    });
    signals_.connect(
        view, "context-menu",
        [this](WebKitWebView*, WebKitContextMenu*, GdkEvent* event, WebKitHitTestResult*) -> gboolean {
            return onContextMenu(event);
        },
        TRUE);
    signals_.connect(
        view, "enter-fullscreen", [this](WebKitWebView*) -> gboolean { return onFullscreen(true); }, TRUE);
    signals_.connect(view, "leave-fullscreen", [this](WebKitWebView*) -> gboolean { return onFullscreen(false); });
    // Before WebKit's own handlers, which take the data and the drop.
    signals_.connect(view, "drag-data-received",
                     [this](GtkWidget*, GdkDragContext* context, gint, gint, GtkSelectionData* data, guint, guint) {
                         onDragDataReceived(context, data);
                     });
    signals_.connect(view, "drag-drop", [this](GtkWidget*, GdkDragContext* context, gint, gint, guint) -> gboolean {
        onDragDrop(context);
        return FALSE;
    });
    signals_.connect(view, "notify::uri", [this](WebKitWebView* webView, GParamSpec*) {
        const char* uri = webkit_web_view_get_uri(webView);
        view_.engineDidChangeUrl(backendBadge(), uri ? uri : "");
    });
    signals_.connect(view, "notify::title", [this](WebKitWebView* webView, GParamSpec*) {
        const char* title = webkit_web_view_get_title(webView);
        view_.engineDidChangeTitle(backendBadge(), title ? title : "");
    });
    signals_.connect(view, "notify::estimated-load-progress", [this](WebKitWebView* webView, GParamSpec*) {
        view_.engineDidChangeEstimatedProgress(backendBadge(), webkit_web_view_get_estimated_load_progress(webView));
    });
    signals_.connect(view, "notify::is-loading", [this](WebKitWebView* webView, GParamSpec*) {
        view_.engineDidChangeLoading(backendBadge(), webkit_web_view_is_loading(webView));
    });
}

// ---- Files dropped from another program -----------------------------------------------------

void WebKitWebEngine::onDragDataReceived(GdkDragContext* context, GtkSelectionData* data) {
    if (context != dragContext_.get()) {
        dragContext_ = GRef<GdkDragContext>::retain(context);
        dragPaths_.reset();
        dragAddresses_.clear();
        droppedAddresses_.clear();
        dropped_ = false;
    }
    if (dragPaths_ || !data || gtk_selection_data_get_length(data) < 0 || gtk_drag_get_source_widget(context)) return;
    gchar* target = gdk_atom_name(gtk_selection_data_get_target(data));
    const bool uriList = target && std::string_view(target) == "text/uri-list";
    g_free(target);
    if (!uriList) return;
    const auto* bytes = reinterpret_cast<const char*>(gtk_selection_data_get_data(data));
    std::vector<std::string> paths;
    const auto length = static_cast<std::size_t>(gtk_selection_data_get_length(data));
    auto addresses = parseUriList(std::string_view(bytes, length));
    for (const auto& address : addresses) {
        if (auto path = localPathFromFileUri(address)) {
            paths.push_back(std::move(*path));
        } else {
            paths.push_back(address);
        }
    }
    dragPaths_ = std::move(paths);
    dragAddresses_ = std::move(addresses);
    // Dropped before its addresses came: they complete the drop.
    if (dropped_) reportDrop();
}

void WebKitWebEngine::onDragDrop(GdkDragContext* context) {
    // A drag that began in this program (a page dragging its own links or text) names whatever
    // the page put in its list: only a drag from another program carries files the user chose.
    if (gtk_drag_get_source_widget(context)) {
        dragContext_ = {};
        dragPaths_.reset();
        dropped_ = false;
        return;
    }
    if (context != dragContext_.get()) {
        dragContext_ = GRef<GdkDragContext>::retain(context);
        dragPaths_.reset();
    }
    dropped_ = true;
    if (dragPaths_) reportDrop();
}

void WebKitWebEngine::reportDrop() {
    auto paths = std::move(*dragPaths_);
    // Reported once: whatever else arrives for this drag is WebKit's, but for the load of a
    // dropped address that WebKit starts when the page leaves the drop to it.
    dragPaths_ = std::vector<std::string>{};
    dropped_ = false;
    droppedAddresses_ = std::move(dragAddresses_);
    dragAddresses_.clear();
    if (paths.empty()) return;
    // After the drop has been answered: the application may read files and show alerts.
    RunLoop::main().post([this, watch = lifetime_.watch(), paths = std::move(paths)] {
        if (!watch.expired()) view_.engineDidDropFiles(backendBadge(), paths);
    });
}

bool WebKitWebEngine::isDroppedAddress(const std::string& url) const {
    if (droppedAddresses_.empty()) return false;
    const auto comparable = [](const std::string& address) {
        if (auto path = localPathFromFileUri(address)) return "file://" + *path;
        auto parsed = Url::parse(address);
        return parsed ? parsed->absoluteString() : address;
    };
    const std::string wanted = comparable(url);
    return std::any_of(droppedAddresses_.begin(), droppedAddresses_.end(),
                       [&](const std::string& address) { return comparable(address) == wanted; });
}

FrameInfo WebKitWebEngine::mainFrameInfo() const {
    FrameInfo frame;
    frame.isMainFrame = true;
    frame.request = UrlRequest(view_.url());
    if (auto url = Url::parse(view_.url())) frame.securityOrigin = url->origin();
    return frame;
}

NavigationAction WebKitWebEngine::navigationActionFrom(WebKitNavigationAction* action, bool newWindow) const {
    NavigationAction out;
    out.request = urlRequestFrom(webkit_navigation_action_get_request(action));
    out.navigationType = navigationTypeFrom(webkit_navigation_action_get_navigation_type(action));
    out.sourceFrame = mainFrameInfo();
    out.targetsMainFrame = !newWindow;
    out.targetsNewWindow = newWindow;
    out.userGesture = webkit_navigation_action_is_user_gesture(action) != FALSE;
    return out;
}

gboolean WebKitWebEngine::onDecidePolicy(WebKitPolicyDecision* decision, WebKitPolicyDecisionType type) {
    auto answer = std::make_shared<PolicyAnswer>(decision);
    if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) {
        auto* responseDecision = WEBKIT_RESPONSE_POLICY_DECISION(decision);
        NavigationResponse response;
        WebKitURIRequest* request = webkit_response_policy_decision_get_request(responseDecision);
        response.response = urlResponseFrom(webkit_response_policy_decision_get_response(responseDecision),
                                            request ? webkit_uri_request_get_uri(request) : "");
        response.isForMainFrame = webkit_response_policy_decision_is_main_frame_main_resource(responseDecision);
        response.canShowMimeType = webkit_response_policy_decision_is_mime_type_supported(responseDecision);
        view_.engineDecidePolicyForNavigationResponse(backendBadge(), response, [answer](NavigationResponsePolicy policy) {
            answer->answer(policy == NavigationResponsePolicy::Allow, policy == NavigationResponsePolicy::Download);
        });
        return TRUE;
    }
    auto* navigationDecision = WEBKIT_NAVIGATION_POLICY_DECISION(decision);
    const NavigationAction action =
        navigationActionFrom(webkit_navigation_policy_decision_get_navigation_action(navigationDecision),
                             type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION);
    // What the user dropped was handed over (engineDidDropFiles): it is not also opened in
    // place of the page, nor downloaded.
    if (type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION && isDroppedAddress(action.request.url)) {
        logf("A dropped address is handed over, not loaded: %s", action.request.url.c_str());
        droppedAddresses_.clear();
        answer->answer(false, false);
        loadDidStart();
        return TRUE;
    }
    view_.engineDecidePolicyForNavigationAction(
        backendBadge(), action, [this, alive = lifetime_.watch(), answer](NavigationActionPolicy policy) {
            answer->answer(policy == NavigationActionPolicy::Allow, policy == NavigationActionPolicy::Download);
            // A refused load never starts: the next one of the process may go.
            if (policy != NavigationActionPolicy::Allow && !alive.expired()) loadDidStart();
        });
    return TRUE;
}

void WebKitWebEngine::onLoadChanged(WebKitLoadEvent event) {
    loadDidStart();
    switch (event) {
        case WEBKIT_LOAD_STARTED: {
            navigation_ = nextNavigation_++;
            // The timer of the load asked for last belongs to the first navigation that starts; a
            // navigation the page starts itself has the time limit of a request made without one.
            if (!askedTimeout_) {
                const char* uri = webkit_web_view_get_uri(widget_.get());
                armTimeout(UrlRequest().timeoutInterval, uri ? uri : "");
            }
            pageTimeout_ = *askedTimeout_;
            askedTimeout_.reset();
            if (timeoutTask_ && !timeoutNavigation_) timeoutNavigation_ = navigation_;
            navigationActive_ = true;
            navigationFailed_ = false;
            certificateError_.reset();
            view_.engineDidStartProvisionalNavigation(backendBadge(), navigation_);
            break;
        }
        case WEBKIT_LOAD_REDIRECTED:
            if (navigationActive_) view_.engineDidReceiveServerRedirect(backendBadge(), navigation_);
            break;
        case WEBKIT_LOAD_COMMITTED:
            // The server answered: the request's timeout no longer applies.
            if (navigation_ == timeoutNavigation_) cancelTimeout();
            if (navigationActive_) view_.engineDidCommitNavigation(backendBadge(), navigation_);
            break;
        case WEBKIT_LOAD_FINISHED: {
            if (navigation_ == timeoutNavigation_) cancelTimeout();
            const bool report = navigationActive_ && !navigationFailed_;
            navigationActive_ = false;
            navigationFailed_ = false;
            if (report) {
                tracePageLoaded(webkit_web_view_get_uri(widget_.get()));
                view_.engineDidFinishNavigation(backendBadge(), navigation_);
            }
            break;
        }
    }
}

gboolean WebKitWebEngine::onLoadFailed(WebKitLoadEvent event, const char* failingUri, GError* error) {
    loadDidStart();
    const std::string uri = failingUri ? failingUri : "";
    // A failure of an earlier navigation (replaced by a new load) leaves the new load's timer be.
    const bool timedNavigation = timeoutNavigation_ && navigation_ == timeoutNavigation_;
    WebError webError;
    if (timedNavigation && timedOut_) {
        webError = timedOutError(uri);
    } else if (certificateError_) {
        webError = *certificateError_;
    } else {
        webError = webErrorFromGError(error, uri);
    }
    if (timedNavigation) cancelTimeout();
    certificateError_.reset();
    // A load refused before it started (its action was cancelled) is not reported, as on the
    // platform. The failure is reported here and WebKit's own error page is not shown: the
    // application shows its own.
    if (!navigationActive_ || navigationFailed_) return TRUE;
    navigationFailed_ = true;
    if (event == WEBKIT_LOAD_COMMITTED) {
        view_.engineDidFailNavigation(backendBadge(), navigation_, webError);
    } else {
        view_.engineDidFailProvisionalNavigation(backendBadge(), navigation_, webError);
    }
    return TRUE;
}

gboolean WebKitWebEngine::onLoadFailedWithTlsErrors(const char* failingUri, GTlsCertificate*,
                                                    GTlsCertificateFlags errors) {
    const std::string uri = failingUri ? failingUri : "";
    auto url = Url::parse(uri);
    auto trust = std::make_shared<ServerTrust>();
    trust->host = url ? url->host() : std::string();
    trust->validates = false;
    trust->failureReason = certificateFailureReason(errors);
    if (trust->failureReason.empty()) trust->failureReason = "the certificate could not be validated";

    AuthenticationChallenge challenge;
    challenge.protectionSpace.host = trust->host;
    challenge.protectionSpace.port = url && url->port() > 0 ? url->port() : 443;
    challenge.protectionSpace.protocol = url ? url->scheme() : "https";
    challenge.protectionSpace.authenticationMethod = kAuthenticationMethodServerTrust;
    challenge.protectionSpace.serverTrust = trust;
    certificateError_ = untrustedCertificateError(uri, trust->failureReason);
    // The delegate hears of it; whatever it answers, a certificate that does not validate is not
    // trusted and the load fails.
    view_.engineDidReceiveAuthenticationChallenge(
        backendBadge(), challenge, [](AuthChallengeDisposition, const std::shared_ptr<const Credential>&) {});
    return FALSE;
}

void WebKitWebEngine::onWebProcessTerminated(WebKitWebProcessTerminationReason reason) {
    logf("The web content process of %s ended (reason %d)", view_.url().c_str(), static_cast<int>(reason));
    cancelTimeout();
    loadDidStart();
    navigationActive_ = false;
    view_.engineDidChangeLoading(backendBadge(), false);
    view_.engineWebContentProcessDidTerminate(backendBadge());
}

GtkWidget* WebKitWebEngine::onCreate(WebKitNavigationAction* webKitAction) {
    const NavigationAction action = navigationActionFrom(webKitAction, true);
    std::shared_ptr<WebView> created;
    {
        PendingRelatedView pending(widget_.get());
        created = view_.engineCreateWebView(backendBadge(), action, WindowFeatures{});
    }
    if (!created) return nullptr;
    if (auto* engine = of(*created); engine && engine->relatedToPage_) {
        // WebKit shows the page in the new view itself.
        engine->relatedToPage_ = false;
        return GTK_WIDGET(engine->widget());
    }
    // A view made elsewhere: it loads the address on its own.
    created->loadRequest(action.request);
    return nullptr;
}

void WebKitWebEngine::onClose() { view_.engineDidClose(backendBadge()); }

gboolean WebKitWebEngine::onContextMenu(GdkEvent* gdkEvent) {
    Event event;
    event.type = EventType::RightMouseDown;
    event.timestamp = RunLoop::main().now();
    event.clickCount = 1;
    event.buttonNumber = 1;
    auto window = view_.window();
    event.window = window;
    double x = 0;
    double y = 0;
    if (gdkEvent && window && gdk_event_get_coords(gdkEvent, &x, &y)) {
        GtkWidget* widget = GTK_WIDGET(widget_.get());
        int inWindowX = 0;
        int inWindowY = 0;
        if (gtk_widget_translate_coordinates(widget, gtk_widget_get_toplevel(widget), static_cast<int>(x),
                                             static_cast<int>(y), &inWindowX, &inWindowY)) {
            event.locationInWindow = {static_cast<double>(inWindowX), window->frame().height() - inWindowY};
        }
    }
    GdkModifierType state = GdkModifierType(0);
    if (gdkEvent && gdk_event_get_state(gdkEvent, &state)) event.modifierFlags = modifierFlagsFromGdkState(state);
    // A view that drops right clicks keeps the page from showing its menu.
    return view_.engineAllowsContextMenu(backendBadge(), event) ? FALSE : TRUE;
}

gboolean WebKitWebEngine::onFullscreen(bool enter) {
    if (enter) {
        // Refused for pages that may not use it, and while the view is in no window. Otherwise
        // WebKit puts the window in full screen and the page fills it.
        if (!configuration_.preferences.elementFullscreenEnabled || !view_.window()) return TRUE;
        WebViewHost::setFillsWindow(GTK_WIDGET(widget_.get()), true);
        return FALSE;
    }
    WebViewHost::setFillsWindow(GTK_WIDGET(widget_.get()), false);
    return FALSE;
}

gboolean WebKitWebEngine::onScriptDialog(WebKitScriptDialog* dialog) {
    auto answer = std::make_shared<DialogAnswer>(dialog);
    const char* text = webkit_script_dialog_get_message(dialog);
    const std::string message = text ? text : "";
    const FrameInfo frame = mainFrameInfo();
    switch (webkit_script_dialog_get_dialog_type(dialog)) {
        case WEBKIT_SCRIPT_DIALOG_ALERT:
            view_.engineRunJavaScriptAlertPanel(backendBadge(), message, frame, [answer] { answer->finish(); });
            break;
        case WEBKIT_SCRIPT_DIALOG_CONFIRM:
            view_.engineRunJavaScriptConfirmPanel(backendBadge(), message, frame, [answer](bool confirmed) {
                if (answer->answered) return;
                webkit_script_dialog_confirm_set_confirmed(answer->dialog, confirmed);
                answer->finish();
            });
            break;
        case WEBKIT_SCRIPT_DIALOG_PROMPT: {
            const char* defaultText = webkit_script_dialog_prompt_get_default_text(dialog);
            view_.engineRunJavaScriptTextInputPanel(backendBadge(), 
                message, defaultText ? defaultText : "", frame, [answer](std::optional<std::string> entered) {
                    if (answer->answered) return;
                    if (entered) webkit_script_dialog_prompt_set_text(answer->dialog, entered->c_str());
                    answer->finish();
                });
            break;
        }
        case WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM:
            // Leaving a page is never held up by the page.
            webkit_script_dialog_confirm_set_confirmed(dialog, TRUE);
            answer->finish();
            break;
    }
    answer->holdIfUnanswered();
    return TRUE;
}

gboolean WebKitWebEngine::onRunFileChooser(WebKitFileChooserRequest* request) {
    auto answer = std::make_shared<FileChoiceAnswer>(request);
    OpenPanelParameters parameters;
    parameters.allowsMultipleSelection = webkit_file_chooser_request_get_select_multiple(request);
    if (const gchar* const* types = webkit_file_chooser_request_get_mime_types(request)) {
        for (; *types; ++types) parameters.acceptedTypes.emplace_back(*types);
    }
    view_.engineRunOpenPanel(backendBadge(), parameters, mainFrameInfo(),
                             [answer](const std::optional<std::vector<std::string>>& files) { answer->answer(files); });
    return TRUE;
}

gboolean WebKitWebEngine::onAuthenticate(WebKitAuthenticationRequest* request) {
    // Certificates are WebKit's to validate (see onLoadFailedWithTlsErrors).
    if (webkit_authentication_request_get_scheme(request) == WEBKIT_AUTHENTICATION_SCHEME_SERVER_TRUST_EVALUATION_REQUESTED) {
        return FALSE;
    }
    auto answer = std::make_shared<LoginAnswer>(request);
    AuthenticationChallenge challenge;
    ProtectionSpace& space = challenge.protectionSpace;
    const char* host = webkit_authentication_request_get_host(request);
    space.host = host ? host : "";
    space.port = static_cast<int>(webkit_authentication_request_get_port(request));
    if (WebKitSecurityOrigin* origin = webkit_authentication_request_get_security_origin(request)) {
        const char* protocol = webkit_security_origin_get_protocol(origin);
        space.protocol = protocol ? protocol : "https";
        webkit_security_origin_unref(origin);
    }
    space.authenticationMethod = authenticationMethodFor(webkit_authentication_request_get_scheme(request));
    challenge.previousFailureCount = webkit_authentication_request_is_retry(request) ? 1 : 0;
    view_.engineDidReceiveAuthenticationChallenge(
        backendBadge(), challenge, [answer](AuthChallengeDisposition disposition, const std::shared_ptr<const Credential>&) {
            if (answer->answered) return;
            answer->answered = true;
            switch (disposition) {
                case AuthChallengeDisposition::PerformDefaultHandling:
                    if (answer->inSignal) {
                        answer->useWebKitDefault = true;
                    } else {
                        // Too late for WebKit's own dialog: go on without a login.
                        webkit_authentication_request_authenticate(answer->request.get(), nullptr);
                    }
                    break;
                case AuthChallengeDisposition::UseCredential:
                    // The platform layer's credentials carry server trust only: no login to give.
                    webkit_authentication_request_authenticate(answer->request.get(), nullptr);
                    break;
                default:
                    webkit_authentication_request_cancel(answer->request.get());
                    break;
            }
        });
    answer->inSignal = false;
    return answer->useWebKitDefault ? FALSE : TRUE;
}

}  // namespace kit::desktop
