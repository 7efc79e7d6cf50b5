#pragma once
// What a web view asks its navigation delegate about: navigation actions and responses, server
// authentication challenges, and the policies that answer them.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "kit/web/UrlRequest.h"

namespace kit {

// Identifies one navigation across its events (start, redirect, commit, finish or failure).
using NavigationId = std::uint64_t;

// The platform's navigation types, with its values.
enum class NavigationType : int {
    LinkActivated = 0,
    FormSubmitted = 1,
    BackForward = 2,
    Reload = 3,
    FormResubmitted = 4,
    Other = -1,
};

struct FrameInfo {
    bool isMainFrame = true;
    UrlRequest request;
    // "scheme://host[:port]" of the frame's document; empty when unknown.
    std::string securityOrigin;
};

struct NavigationAction {
    UrlRequest request;
    NavigationType navigationType = NavigationType::Other;
    FrameInfo sourceFrame;
    // False for a new window (no target frame) and for subframes.
    bool targetsMainFrame = true;
    // True when the action asks for a new window (target "_blank", window.open).
    bool targetsNewWindow = false;
    // True when the user's click or key press started the action, not a script on its own.
    bool userGesture = false;
};

enum class NavigationActionPolicy : int { Cancel = 0, Allow = 1, Download = 2 };

struct NavigationResponse {
    UrlResponse response;
    bool isForMainFrame = true;
    bool canShowMimeType = true;
};

enum class NavigationResponsePolicy : int { Cancel = 0, Allow = 1, Download = 2 };

inline constexpr const char* kAuthenticationMethodServerTrust = "NSURLAuthenticationMethodServerTrust";
inline constexpr const char* kAuthenticationMethodDefault = "NSURLAuthenticationMethodDefault";
inline constexpr const char* kAuthenticationMethodHTTPBasic = "NSURLAuthenticationMethodHTTPBasic";

// The certificate chain a server presented, with the outcome of the system's validation of it
// for the host (chain to a trusted root, validity dates, host name).
struct ServerTrust {
    std::string host;
    bool validates = false;
    // Why it does not validate; empty when it does.
    std::string failureReason;
};

struct ProtectionSpace {
    std::string host;
    int port = 443;
    std::string protocol = "https";
    std::string authenticationMethod = kAuthenticationMethodServerTrust;
    // Present for server-trust challenges.
    std::shared_ptr<const ServerTrust> serverTrust;
};

struct AuthenticationChallenge {
    ProtectionSpace protectionSpace;
    int previousFailureCount = 0;
};

// The platform's dispositions, with its values.
enum class AuthChallengeDisposition : int {
    UseCredential = 0,
    PerformDefaultHandling = 1,
    CancelAuthenticationChallenge = 2,
    RejectProtectionSpace = 3,
};

// A credential for a server-trust challenge: the trust it accepts.
struct Credential {
    std::shared_ptr<const ServerTrust> serverTrust;
};

using NavigationActionDecision = std::function<void(NavigationActionPolicy)>;
using NavigationResponseDecision = std::function<void(NavigationResponsePolicy)>;
using AuthenticationDecision = std::function<void(AuthChallengeDisposition, std::shared_ptr<const Credential>)>;

}  // namespace kit
