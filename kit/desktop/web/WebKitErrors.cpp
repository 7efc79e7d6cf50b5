#include "kit/desktop/web/WebKitErrors.h"

#include <webkit2/webkit2.h>

#include <string_view>

namespace kit::desktop {

namespace {

constexpr long kURLErrorHTTPTooManyRedirects = -1007;

long urlCodeForIoError(int code) {
    switch (code) {
        case G_IO_ERROR_CANCELLED: return kURLErrorCancelled;
        case G_IO_ERROR_TIMED_OUT: return kURLErrorTimedOut;
        case G_IO_ERROR_CONNECTION_REFUSED:
        case G_IO_ERROR_HOST_UNREACHABLE: return kURLErrorCannotConnectToHost;
        case G_IO_ERROR_NETWORK_UNREACHABLE: return kURLErrorNotConnectedToInternet;
        case G_IO_ERROR_CONNECTION_CLOSED: return kURLErrorNetworkConnectionLost;
        case G_IO_ERROR_HOST_NOT_FOUND: return kURLErrorCannotFindHost;
        case G_IO_ERROR_NOT_FOUND: return kURLErrorFileDoesNotExist;
        case G_IO_ERROR_PROXY_FAILED:
        case G_IO_ERROR_PROXY_NOT_ALLOWED:
        case G_IO_ERROR_PROXY_AUTH_FAILED:
        case G_IO_ERROR_PROXY_NEED_AUTH: return kURLErrorCannotConnectToHost;
        default: return kURLErrorUnknown;
    }
}

}  // namespace

WebError webErrorFromGError(const GError* error, const std::string& failingUrl) {
    if (!error) return WebError{kURLErrorDomain, kURLErrorUnknown, "Unknown error", failingUrl};
    const std::string message = error->message ? error->message : "";
    auto urlError = [&](long code) { return WebError{kURLErrorDomain, code, message, failingUrl}; };
    auto webKitError = [&](long code) { return WebError{kWebKitErrorDomain, code, message, failingUrl}; };

    if (error->domain == WEBKIT_NETWORK_ERROR) {
        switch (error->code) {
            case WEBKIT_NETWORK_ERROR_CANCELLED: return urlError(kURLErrorCancelled);
            case WEBKIT_NETWORK_ERROR_TRANSPORT: return urlError(kURLErrorNetworkConnectionLost);
            case WEBKIT_NETWORK_ERROR_UNKNOWN_PROTOCOL: return urlError(kURLErrorUnsupportedURL);
            case WEBKIT_NETWORK_ERROR_FILE_DOES_NOT_EXIST: return urlError(kURLErrorFileDoesNotExist);
            default: return urlError(kURLErrorUnknown);
        }
    }
    if (error->domain == WEBKIT_POLICY_ERROR) {
        switch (error->code) {
            case WEBKIT_POLICY_ERROR_CANNOT_SHOW_MIME_TYPE: return webKitError(kWebKitErrorCannotShowMIMEType);
            case WEBKIT_POLICY_ERROR_CANNOT_SHOW_URI: return webKitError(kWebKitErrorCannotShowURL);
            case WEBKIT_POLICY_ERROR_CANNOT_USE_RESTRICTED_PORT: return webKitError(kWebKitErrorCannotUseRestrictedPort);
            default: return webKitError(kWebKitErrorFrameLoadInterruptedByPolicyChange);
        }
    }
    if (error->domain == WEBKIT_PLUGIN_ERROR) return webKitError(error->code);
    if (error->domain == WEBKIT_DOWNLOAD_ERROR) {
        switch (error->code) {
            case WEBKIT_DOWNLOAD_ERROR_CANCELLED_BY_USER: return urlError(kURLErrorCancelled);
            case WEBKIT_DOWNLOAD_ERROR_DESTINATION: return urlError(kURLErrorCannotCreateFile);
            default: return urlError(kURLErrorNetworkConnectionLost);
        }
    }
    if (error->domain == G_IO_ERROR) return urlError(urlCodeForIoError(error->code));
    if (error->domain == G_RESOLVER_ERROR) return urlError(kURLErrorCannotFindHost);
    if (error->domain == G_TLS_ERROR) {
        return urlError(error->code == G_TLS_ERROR_BAD_CERTIFICATE ? kURLErrorServerCertificateUntrusted
                                                                   : kURLErrorSecureConnectionFailed);
    }
    // libsoup's own errors, known by their domain's name so that this file needs no libsoup.
    const std::string_view domain = g_quark_to_string(error->domain);
    if (domain == "soup-session-error-quark") {
        return urlError(error->code == 2 /* too many redirects */ ? kURLErrorHTTPTooManyRedirects
                                                                  : kURLErrorBadServerResponse);
    }
    return urlError(kURLErrorUnknown);
}

WebError timedOutError(const std::string& failingUrl) {
    return WebError{kURLErrorDomain, kURLErrorTimedOut, "The request timed out.", failingUrl};
}

WebError untrustedCertificateError(const std::string& failingUrl, const std::string& reason) {
    std::string description = "The certificate for this server is invalid.";
    if (!reason.empty()) description += " (" + reason + ")";
    return WebError{kURLErrorDomain, kURLErrorServerCertificateUntrusted, description, failingUrl};
}

std::string certificateFailureReason(GTlsCertificateFlags flags) {
    struct Reason {
        GTlsCertificateFlags flag;
        const char* text;
    };
    static constexpr Reason reasons[] = {
        {G_TLS_CERTIFICATE_UNKNOWN_CA, "the certificate is not signed by a trusted authority"},
        {G_TLS_CERTIFICATE_BAD_IDENTITY, "the certificate does not match the host"},
        {G_TLS_CERTIFICATE_NOT_ACTIVATED, "the certificate is not yet valid"},
        {G_TLS_CERTIFICATE_EXPIRED, "the certificate has expired"},
        {G_TLS_CERTIFICATE_REVOKED, "the certificate has been revoked"},
        {G_TLS_CERTIFICATE_INSECURE, "the certificate uses an insecure algorithm"},
        {G_TLS_CERTIFICATE_GENERIC_ERROR, "the certificate could not be validated"},
    };
    std::string text;
    for (const Reason& reason : reasons) {
        if (!(flags & reason.flag)) continue;
        if (!text.empty()) text += "; ";
        text += reason.text;
    }
    return text;
}

}  // namespace kit::desktop
