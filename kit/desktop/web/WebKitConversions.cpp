#include "kit/desktop/web/WebKitConversions.h"

#include "kit/base/Json.h"
#include "kit/web/Url.h"

namespace kit::desktop {

namespace {

void copyHeaders(SoupMessageHeaders* headers, std::vector<std::pair<std::string, std::string>>& out) {
    if (!headers) return;
    SoupMessageHeadersIter it;
    const char* name = nullptr;
    const char* value = nullptr;
    soup_message_headers_iter_init(&it, headers);
    while (soup_message_headers_iter_next(&it, &name, &value)) out.emplace_back(name, value ? value : "");
}

}  // namespace

std::string lastPathComponent(const std::string& address) {
    auto url = Url::parse(address);
    std::string path = url ? url->path() : address;
    while (!path.empty() && path.back() == '/') path.pop_back();
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

UrlResponse urlResponseFrom(WebKitURIResponse* response, const std::string& requestUrl) {
    UrlResponse out;
    if (!response) {
        out.url = requestUrl;
        return out;
    }
    const char* uri = webkit_uri_response_get_uri(response);
    out.url = uri && *uri ? uri : requestUrl;
    out.statusCode = static_cast<int>(webkit_uri_response_get_status_code(response));
    const char* mime = webkit_uri_response_get_mime_type(response);
    out.mimeType = mime ? mime : "";
    const char* suggested = webkit_uri_response_get_suggested_filename(response);
    out.suggestedFilename = suggested && *suggested ? suggested : lastPathComponent(out.url);
    const guint64 length = webkit_uri_response_get_content_length(response);
    out.expectedContentLength = length > 0 ? static_cast<std::int64_t>(length) : -1;
    copyHeaders(webkit_uri_response_get_http_headers(response), out.headers);
    return out;
}

UrlRequest urlRequestFrom(WebKitURIRequest* request) {
    UrlRequest out;
    if (!request) return out;
    const char* uri = webkit_uri_request_get_uri(request);
    out.url = uri ? uri : "";
    const char* method = webkit_uri_request_get_http_method(request);
    out.httpMethod = method && *method ? method : "GET";
    copyHeaders(webkit_uri_request_get_http_headers(request), out.headers);
    return out;
}

NavigationType navigationTypeFrom(WebKitNavigationType type) {
    switch (type) {
        case WEBKIT_NAVIGATION_TYPE_LINK_CLICKED: return NavigationType::LinkActivated;
        case WEBKIT_NAVIGATION_TYPE_FORM_SUBMITTED: return NavigationType::FormSubmitted;
        case WEBKIT_NAVIGATION_TYPE_BACK_FORWARD: return NavigationType::BackForward;
        case WEBKIT_NAVIGATION_TYPE_RELOAD: return NavigationType::Reload;
        case WEBKIT_NAVIGATION_TYPE_FORM_RESUBMITTED: return NavigationType::FormResubmitted;
        default: return NavigationType::Other;
    }
}

ScriptResult scriptResultFrom(JSCValue* value) {
    if (!value || jsc_value_is_undefined(value) || jsc_value_is_null(value)) return Value();
    if (jsc_value_is_function(value)) return Error{"JavaScript execution returned a result of an unsupported type"};
    JSCContext* context = jsc_value_get_context(value);
    gchar* json = jsc_value_to_json(value, 0);
    if (JSCException* exception = jsc_context_get_exception(context)) {
        std::string message = jsc_exception_get_message(exception) ? jsc_exception_get_message(exception) : "";
        jsc_context_clear_exception(context);
        g_free(json);
        return Error{"JavaScript execution returned a result of an unsupported type: " + message};
    }
    if (!json) return Error{"JavaScript execution returned a result of an unsupported type"};
    auto parsed = parseJson(json);
    g_free(json);
    if (!parsed) return Error{"JavaScript execution returned a result of an unsupported type: " + parsed.error()};
    return std::move(parsed).value();
}

std::optional<std::string> filePathFromAnswer(const std::string& answer) {
    if (answer.empty()) return std::nullopt;
    if (answer.front() == '/') return answer;
    gchar* path = g_filename_from_uri(answer.c_str(), nullptr, nullptr);
    if (!path) return std::nullopt;
    std::string out = path;
    g_free(path);
    return out;
}

}  // namespace kit::desktop
