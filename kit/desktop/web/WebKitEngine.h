#pragma once
// The web engine of the desktop backend: WebKitGTK behind kit/web's engine seam. Call
// installWebEngine() on the main thread after kit::desktop::install(), with the application's
// download folder (downloads are staged inside it); from then on web views show real pages,
// downloads go through WebKit, and the shared website data store keeps its cookies and storage
// in home/Library/Application Support/QuarnAI/WebData.

#include <string>

#include "kit/base/FolderChain.h"
#include "kit/base/Result.h"

typedef struct _GtkWidget GtkWidget;  // NOLINT(bugprone-reserved-identifier): GTK's own tag, declared ahead

namespace kit {
class WebView;
}

namespace kit::desktop {

Status installWebEngine(const FolderChain& downloadFolder);
// Puts the previous engine factory and download service back; web views made since keep their
// engines.
void uninstallWebEngine();
bool isWebEngineInstalled();
// The installed download service removes what ended runs left in its staging folders: work that
// can wait until the launch is over (it also happens before the first transfer).
void removeDownloadLeftovers();

// The WebKitWebView widget of a web view made with the WebKit engine; nullptr otherwise.
GtkWidget* webKitWidgetFor(const WebView& view);
// The agent string a web view's engine sends now; empty for other engines.
std::string userAgentOf(const WebView& view);

}  // namespace kit::desktop
