#pragma once
// A request for an address and the response that answers it.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kit {

// The platform's cache policies, with its values.
enum class UrlRequestCachePolicy : int {
    UseProtocolCachePolicy = 0,
    ReloadIgnoringLocalCacheData = 1,
    ReturnCacheDataElseLoad = 2,
    ReturnCacheDataDontLoad = 3,
    ReloadIgnoringLocalAndRemoteCacheData = 4,
};

struct UrlRequest {
    std::string url;
    UrlRequestCachePolicy cachePolicy = UrlRequestCachePolicy::UseProtocolCachePolicy;
    // Seconds; the platform's default.
    double timeoutInterval = 60.0;
    std::string httpMethod = "GET";
    std::vector<std::pair<std::string, std::string>> headers;

    UrlRequest() = default;
    UrlRequest(std::string address, UrlRequestCachePolicy policy = UrlRequestCachePolicy::UseProtocolCachePolicy,
               double timeout = 60.0)
        : url(std::move(address)), cachePolicy(policy), timeoutInterval(timeout) {}
};

struct UrlResponse {
    std::string url;
    // 0 for responses that are not HTTP.
    int statusCode = 0;
    std::string mimeType;
    // The file name a download should get: from the server's Content-Disposition, else the last
    // path component, as the platform derives it (percent-escapes kept).
    std::string suggestedFilename;
    // -1 when unknown.
    std::int64_t expectedContentLength = -1;
    std::vector<std::pair<std::string, std::string>> headers;
};

}  // namespace kit
