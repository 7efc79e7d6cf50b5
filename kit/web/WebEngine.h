#pragma once
// The seam between the web view model and a web engine. The model tells its engine what to do;
// the engine reports what the page did through the WebView's engine... operations, on the main
// run loop. Backends install a factory at start-up; without one, web views get an engine that
// loads nothing and answers every script with an error.

#include <cstdint>
#include <memory>
#include <string>

#include "kit/ui/BackendBadge.h"
#include "kit/web/UrlRequest.h"

namespace kit {

class WebView;
struct WebViewConfiguration;

class WebEngine {
public:
    virtual ~WebEngine() = default;

    virtual void loadRequest(const UrlRequest& request) = 0;
    virtual void reload() = 0;
    virtual void stopLoading() = 0;
    // Runs a script in the main frame after every script given before it, then reports its
    // result with WebView::engineScriptDidFinish(scriptId, ...), exactly once.
    virtual void evaluateJavaScript(std::uint64_t scriptId, const std::string& script) = 0;
    // Empty: the engine's own agent string with the configuration's application name.
    virtual void customUserAgentDidChange(const std::string& userAgent) = 0;
    // The view's size, window or visibility changed: an engine that shows the page follows it.
    virtual void viewGeometryDidChange() {}

protected:
    // For the WebView's engine... operations, which only an engine may call.
    static BackendBadge backendBadge() { return {}; }
};

class WebEngineFactory {
public:
    virtual ~WebEngineFactory() = default;
    virtual std::unique_ptr<WebEngine> makeEngine(WebView& webView, const WebViewConfiguration& configuration) = 0;

    // The factory used by web views made from now on.
    static void install(std::shared_ptr<WebEngineFactory> factory);
    static void uninstall();
    static std::shared_ptr<WebEngineFactory> current();
};

}  // namespace kit
