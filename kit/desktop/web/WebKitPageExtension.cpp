// The web content process side of the web engine, loaded by WebKit into every page process of
// our contexts (built as its own module, not part of kit_desktop).
//
// An agent that WebKitGTK refuses reaches it as a stand-in (UserAgentStandIn.h); here every
// request of the page that passes through the page process gets the real agent back in its
// User-Agent header, and every frame's navigator.userAgent answers it too, before any page
// script runs.

#include <webkit2/webkit-web-extension.h>

#include <string>

#include "UserAgentStandIn.h"
#include "kit/base/GRef.h"

namespace {

using kit::desktop::realUserAgent;

gboolean onSendRequest(WebKitWebPage*, WebKitURIRequest* request, WebKitURIResponse*, gpointer) {
    SoupMessageHeaders* headers = webkit_uri_request_get_http_headers(request);
    if (!headers) return FALSE;
    const char* agent = soup_message_headers_get_one(headers, "User-Agent");
    if (!agent) return FALSE;
    const std::string real = realUserAgent(agent);
    if (!real.empty()) soup_message_headers_replace(headers, "User-Agent", real.c_str());
    return FALSE;
}

void onWindowObjectCleared(WebKitScriptWorld* world, WebKitWebPage*, WebKitFrame* frame, gpointer) {
    using kit::GRef;
    auto context = GRef<JSCContext>::adopt(webkit_frame_get_js_context_for_script_world(frame, world));
    if (!context) return;
    auto navigator = GRef<JSCValue>::adopt(jsc_context_get_value(context.get(), "navigator"));
    auto current = navigator && jsc_value_is_object(navigator.get())
                       ? GRef<JSCValue>::adopt(jsc_value_object_get_property(navigator.get(), "userAgent"))
                       : GRef<JSCValue>();
    gchar* text = current && jsc_value_is_string(current.get()) ? jsc_value_to_string(current.get()) : nullptr;
    const std::string real = text ? realUserAgent(text) : std::string();
    g_free(text);
    if (real.empty()) return;
    auto agent = GRef<JSCValue>::adopt(jsc_value_new_string(context.get(), real.c_str()));
    auto define = GRef<JSCValue>::adopt(jsc_context_evaluate(context.get(),
                                                             "(function (agent) {"
                                                             "  var get = function () { return agent; };"
                                                             "  Object.defineProperty(Navigator.prototype, 'userAgent', { get: get, configurable: true });"
                                                             "  Object.defineProperty(Navigator.prototype, 'appVersion', { get: get, configurable: true });"
                                                             "})",
                                                             -1));
    if (define && jsc_value_is_function(define.get())) {
        // Its result, undefined, is released at once.
        GRef<JSCValue>::adopt(jsc_value_function_call(define.get(), JSC_TYPE_VALUE, agent.get(), G_TYPE_NONE));
    }
}

void onPageCreated(WebKitWebExtension*, WebKitWebPage* page, gpointer) {
    g_signal_connect(page, "send-request", G_CALLBACK(onSendRequest), nullptr);
}

}  // namespace

extern "C" G_MODULE_EXPORT void webkit_web_extension_initialize(WebKitWebExtension* extension) {
    g_signal_connect(extension, "page-created", G_CALLBACK(onPageCreated), nullptr);
    g_signal_connect(webkit_script_world_get_default(), "window-object-cleared", G_CALLBACK(onWindowObjectCleared),
                     nullptr);
}
