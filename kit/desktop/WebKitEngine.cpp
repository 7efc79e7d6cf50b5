#include "kit/desktop/WebKitEngine.h"

#include <gtk/gtk.h>

#include <memory>

#include "kit/desktop/Desktop.h"
#include "kit/desktop/WebKitDownloadService.h"
#include "kit/desktop/WebKitWebEngine.h"
#include "kit/desktop/WebKitWebsiteData.h"
#include "kit/web/Download.h"
#include "kit/web/WebEngine.h"
#include "kit/web/WebView.h"

namespace kit::desktop {

namespace {

class WebKitEngineFactory final : public WebEngineFactory {
public:
    std::unique_ptr<WebEngine> makeEngine(WebView& webView, const WebViewConfiguration& configuration) override {
        return std::make_unique<WebKitWebEngine>(webView, configuration, WebKitWebEngine::takePendingRelatedView());
    }
};

struct Installation {
    std::shared_ptr<WebKitEngineFactory> factory;
    std::shared_ptr<WebKitDownloadService> downloads;
    std::shared_ptr<WebEngineFactory> previousFactory;
    std::shared_ptr<DownloadService> previousDownloads;
};

std::unique_ptr<Installation>& installation() {
    static std::unique_ptr<Installation> current;
    return current;
}

}  // namespace

Status installWebEngine() {
    if (installation()) return Status::success();
    if (!isInstalled()) return Error{"the desktop backend is not installed (call kit::desktop::install() first)"};
    auto state = std::make_unique<Installation>();
    state->factory = std::make_shared<WebKitEngineFactory>();
    state->downloads = std::make_shared<WebKitDownloadService>();
    state->previousFactory = WebEngineFactory::current();
    state->previousDownloads = DownloadService::current();
    // The shared store gets WebKit's cookie jar now, before any page needs it.
    webKitContextFor(nullptr);
    WebEngineFactory::install(state->factory);
    DownloadService::install(state->downloads);
    installation() = std::move(state);
    return Status::success();
}

void uninstallWebEngine() {
    auto state = std::move(installation());
    if (!state) return;
    if (WebEngineFactory::current() == state->factory) WebEngineFactory::install(state->previousFactory);
    if (DownloadService::current() == state->downloads) DownloadService::install(state->previousDownloads);
}

bool isWebEngineInstalled() { return installation() != nullptr; }

GtkWidget* webKitWidgetFor(const WebView& view) {
    auto* engine = WebKitWebEngine::of(view);
    return engine ? GTK_WIDGET(engine->widget()) : nullptr;
}

std::string userAgentOf(const WebView& view) {
    auto* engine = WebKitWebEngine::of(view);
    return engine ? engine->userAgent() : std::string();
}

}  // namespace kit::desktop
