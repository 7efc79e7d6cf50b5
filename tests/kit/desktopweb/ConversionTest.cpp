// WebKitGTK's errors and values as the platform layer reports them (no display needed).

#include <gtest/gtest.h>
#include <webkit2/webkit2.h>

#include "kit/desktop/web/WebKitConversions.h"
#include "kit/desktop/web/WebKitErrors.h"

namespace kit::desktop {
namespace {

WebError mapped(GQuark domain, int code) {
    GError* error = g_error_new_literal(domain, code, "message");
    WebError out = webErrorFromGError(error, "https://example.com/x");
    g_error_free(error);
    return out;
}

TEST(WebKitErrorsTest, ErrorsGetThePlatformsDomainsAndCodes) {
    struct Case {
        GQuark domain;
        int code;
        const char* expectedDomain;
        long expectedCode;
    };
    const Case cases[] = {
        {WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED, kURLErrorDomain, kURLErrorCancelled},
        {G_IO_ERROR, G_IO_ERROR_CANCELLED, kURLErrorDomain, kURLErrorCancelled},
        {G_IO_ERROR, G_IO_ERROR_CONNECTION_REFUSED, kURLErrorDomain, kURLErrorCannotConnectToHost},
        {G_IO_ERROR, G_IO_ERROR_TIMED_OUT, kURLErrorDomain, kURLErrorTimedOut},
        {G_IO_ERROR, G_IO_ERROR_NETWORK_UNREACHABLE, kURLErrorDomain, kURLErrorNotConnectedToInternet},
        {G_IO_ERROR, G_IO_ERROR_CONNECTION_CLOSED, kURLErrorDomain, kURLErrorNetworkConnectionLost},
        {G_RESOLVER_ERROR, G_RESOLVER_ERROR_NOT_FOUND, kURLErrorDomain, kURLErrorCannotFindHost},
        {G_TLS_ERROR, G_TLS_ERROR_BAD_CERTIFICATE, kURLErrorDomain, kURLErrorServerCertificateUntrusted},
        {G_TLS_ERROR, G_TLS_ERROR_HANDSHAKE, kURLErrorDomain, kURLErrorSecureConnectionFailed},
        {WEBKIT_POLICY_ERROR, WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE, kWebKitErrorDomain,
         kWebKitErrorFrameLoadInterruptedByPolicyChange},
        {WEBKIT_POLICY_ERROR, WEBKIT_POLICY_ERROR_CANNOT_SHOW_MIME_TYPE, kWebKitErrorDomain, kWebKitErrorCannotShowMIMEType},
        {WEBKIT_DOWNLOAD_ERROR, WEBKIT_DOWNLOAD_ERROR_CANCELLED_BY_USER, kURLErrorDomain, kURLErrorCancelled},
        {g_quark_from_static_string("some-other-domain"), 5, kURLErrorDomain, kURLErrorUnknown},
    };
    for (const Case& c : cases) {
        const WebError error = mapped(c.domain, c.code);
        EXPECT_EQ(error.domain, c.expectedDomain) << g_quark_to_string(c.domain) << " " << c.code;
        EXPECT_EQ(error.code, c.expectedCode) << g_quark_to_string(c.domain) << " " << c.code;
        EXPECT_EQ(error.failingUrl, "https://example.com/x");
        EXPECT_EQ(error.localizedDescription, "message");
    }
    EXPECT_TRUE(mapped(WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED).isCancellation());
    EXPECT_EQ(timedOutError("u").code, kURLErrorTimedOut);
    EXPECT_EQ(untrustedCertificateError("u", "why").code, kURLErrorServerCertificateUntrusted);
}

TEST(WebKitErrorsTest, CertificateFailuresAreExplained) {
    EXPECT_EQ(certificateFailureReason(GTlsCertificateFlags(0)), "");
    const std::string both = certificateFailureReason(GTlsCertificateFlags(G_TLS_CERTIFICATE_UNKNOWN_CA | G_TLS_CERTIFICATE_EXPIRED));
    EXPECT_NE(both.find("trusted authority"), std::string::npos) << both;
    EXPECT_NE(both.find("expired"), std::string::npos) << both;
}

TEST(WebKitConversionsTest, UserAgentsWebKitRefusesAreRecognised) {
    EXPECT_TRUE(isValidUserAgent("Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/605.1.15 (KHTML, like Gecko) Safari/605.1.15"));
    EXPECT_TRUE(isValidUserAgent("QuarnAIAssistant"));
    // The application's own agent has a slash inside a version.
    EXPECT_FALSE(isValidUserAgent("Chrome/109.1.18.0/Morvane QuarnAI/MAC"));
    EXPECT_FALSE(isValidUserAgent(""));
    EXPECT_FALSE(isValidUserAgent("two  spaces"));
    EXPECT_FALSE(isValidUserAgent("line\nbreak"));
    EXPECT_FALSE(isValidUserAgent("Unclosed (comment"));

    // Stand-ins read as the agent, are always taken, and give the agent back; agents WebKit
    // takes as they are, and malformed escapes, are no stand-ins.
    const std::pair<std::string, std::string> standIns[] = {
        {"Chrome/109.1.18.0/Morvane QuarnAI/MAC", "Chrome/109.1.18.0%2FMorvane QuarnAI/MAC"},
        {"two  spaces", "two%20 spaces"},
        {" edges/ ", "%20edges%2F%20"},
        {"/a//b", "%2Fa/%2Fb"},
        {"100% (sure", "100%25 %28sure"},
        {"line\nbreak \xC3\xA9", "line%0Abreak %C3%A9"},
    };
    for (const auto& [agent, expected] : standIns) {
        const std::string standIn = userAgentStandIn(agent);
        EXPECT_EQ(standIn, expected);
        EXPECT_TRUE(isValidUserAgent(standIn)) << standIn;
        EXPECT_EQ(realUserAgent(standIn), agent);
    }
    for (const char* notAStandIn : {"A/1 b", "Mozilla/5.0", "A/1%2", "A/1%zz b", "%41/1", "A%2Fb/1"})
        EXPECT_EQ(realUserAgent(notAStandIn), "") << notAStandIn;
}

TEST(WebKitConversionsTest, OpenPanelAnswersBecomeFilePaths) {
    EXPECT_EQ(filePathFromAnswer("file:///tmp/a%20b.txt"), "/tmp/a b.txt");
    EXPECT_EQ(filePathFromAnswer("/tmp/plain.txt"), "/tmp/plain.txt");
    EXPECT_EQ(filePathFromAnswer("https://example.com/a.txt"), std::nullopt);
    EXPECT_EQ(filePathFromAnswer(""), std::nullopt);
    EXPECT_EQ(lastPathComponent("https://example.com/files/report%201.pdf?x=1"), "report%201.pdf");
}

}  // namespace
}  // namespace kit::desktop
