#pragma once
// A loading or script error as the platform reports it: a domain and a code.

#include <string>
#include <utility>

namespace kit {

inline constexpr const char* kURLErrorDomain = "NSURLErrorDomain";
inline constexpr const char* kWebKitErrorDomain = "WebKitErrorDomain";
inline constexpr const char* kWKErrorDomain = "WKErrorDomain";

// NSURLErrorDomain codes.
inline constexpr long kURLErrorCancelled = -999;
inline constexpr long kURLErrorTimedOut = -1001;
inline constexpr long kURLErrorCannotFindHost = -1003;
inline constexpr long kURLErrorCannotConnectToHost = -1004;
inline constexpr long kURLErrorNetworkConnectionLost = -1005;
inline constexpr long kURLErrorNotConnectedToInternet = -1009;
inline constexpr long kURLErrorBadServerResponse = -1011;
inline constexpr long kURLErrorServerCertificateUntrusted = -1202;
inline constexpr long kURLErrorCannotCreateFile = -3000;
// WebKitErrorDomain codes.
inline constexpr long kWebKitErrorFrameLoadInterruptedByPolicyChange = 102;
// WKErrorDomain codes.
inline constexpr long kWKErrorJavaScriptExceptionOccurred = 4;
inline constexpr long kWKErrorWebViewInvalidated = 3;

struct WebError {
    WebError() = default;
    WebError(std::string errorDomain, long errorCode, std::string description = {}, std::string url = {})
        : domain(std::move(errorDomain)), code(errorCode), localizedDescription(std::move(description)),
          failingUrl(std::move(url)) {}

    std::string domain;
    long code = 0;
    std::string localizedDescription;
    // The address that failed, when known.
    std::string failingUrl;

    // A load that another load replaced or that was stopped: not a failure the user should see.
    bool isCancellation() const { return domain == kURLErrorDomain && code == kURLErrorCancelled; }
    // "Error Domain=<domain> Code=<code> \"<description>\"", as the platform describes errors.
    std::string description() const;
};

}  // namespace kit
