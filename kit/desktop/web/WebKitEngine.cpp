#include "kit/desktop/web/WebKitEngine.h"

#include <gtk/gtk.h>

#include <cstdlib>
#include <memory>
#include <string_view>

#include "kit/base/Log.h"
#include "kit/desktop/Desktop.h"
#include "kit/desktop/web/WebKitDownloadService.h"
#include "kit/desktop/web/WebKitWebEngine.h"
#include "kit/desktop/web/WebKitWebsiteData.h"
#include "kit/web/Download.h"
#include "kit/web/WebEngine.h"
#include "kit/web/WebView.h"

// Last: Xlib's macros (Bool, None) would break the headers above.
#include "kit/desktop/X11.h"

namespace kit::desktop {

namespace {

class WebKitEngineFactory final : public WebEngineFactory {
public:
    std::unique_ptr<WebEngine> makeEngine(WebView& webView, const WebViewConfiguration& configuration) override {
        return std::make_unique<WebKitWebEngine>(webView, configuration, WebKitWebEngine::takePendingRelatedView());
    }
};

// Pages are composited through GPU buffers (DMA-BUF) only where the display offers a GPU: an X
// server with direct rendering (DRI3 or DRI2). Without it GL is a software rasteriser, and the
// page processes composite into shared memory instead, which costs them far less memory.
// QUARN_WEB_RENDERING=software or =accelerated chooses either path. Chosen before the first
// page process starts, which inherits it. The log line says which path and what chose it (the
// benchmark's reference window makes the same choice and compares).
void chooseRenderingPath() {
    const char* chosen = std::getenv("QUARN_WEB_RENDERING");
    const std::string_view variable = chosen ? chosen : "";
    bool gpu = true;
    const char* reason = "QUARN_WEB_RENDERING=accelerated";
    if (variable == "software") {
        gpu = false;
        reason = "QUARN_WEB_RENDERING=software";
    } else if (variable != "accelerated") {
        reason = "not an X display";
        GdkDisplay* display = gdk_display_get_default();
        if (display && GDK_IS_X11_DISPLAY(display)) {
            Display* x = gdk_x11_display_get_xdisplay(display);
            int opcode = 0, event = 0, error = 0;
            gpu = XQueryExtension(x, "DRI3", &opcode, &event, &error) ||
                  XQueryExtension(x, "DRI2", &opcode, &event, &error);
            reason = gpu ? "the display has direct rendering" : "no direct rendering";
        }
    }
    if (!gpu) g_setenv("WEBKIT_DISABLE_DMABUF_RENDERER", "1", FALSE);
    logf("[WebKit] pages composited %s (%s)", gpu ? "through GPU buffers" : "in shared memory", reason);
}

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

Status installWebEngine(const FolderChain& downloadFolder) {
    if (installation()) return Status::success();
    if (!isInstalled()) return Error{"the desktop backend is not installed (call kit::desktop::install() first)"};
    auto state = std::make_unique<Installation>();
    state->factory = std::make_shared<WebKitEngineFactory>();
    state->downloads = std::make_shared<WebKitDownloadService>(downloadFolder);
    state->previousFactory = WebEngineFactory::current();
    state->previousDownloads = DownloadService::current();
    chooseRenderingPath();
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

void removeDownloadLeftovers() {
    if (auto& state = installation()) state->downloads->removeLeftovers();
}

GtkWidget* webKitWidgetFor(const WebView& view) {
    auto* engine = WebKitWebEngine::of(view);
    return engine ? GTK_WIDGET(engine->widget()) : nullptr;
}

std::string userAgentOf(const WebView& view) {
    auto* engine = WebKitWebEngine::of(view);
    return engine ? engine->userAgent() : std::string();
}

}  // namespace kit::desktop
