#pragma once
// WebKitGTK's errors (GLib error domains and codes of WebKit, libsoup, GIO and TLS) as the
// platform reports them: NSURLErrorDomain or WebKitErrorDomain codes, so that the application's
// error texts and reports carry the codes it expects.

#include <gio/gio.h>

#include <string>

#include "kit/web/WebError.h"

namespace kit::desktop {

// NSURLErrorDomain codes beyond those of WebError.h.
inline constexpr long kURLErrorUnknown = -1;
inline constexpr long kURLErrorUnsupportedURL = -1002;
inline constexpr long kURLErrorFileDoesNotExist = -1100;
inline constexpr long kURLErrorSecureConnectionFailed = -1200;
// WebKitErrorDomain codes.
inline constexpr long kWebKitErrorCannotShowMIMEType = 100;
inline constexpr long kWebKitErrorCannotShowURL = 101;
inline constexpr long kWebKitErrorCannotUseRestrictedPort = 103;

// A load or download error; `failingUrl` is the address that failed, when known.
WebError webErrorFromGError(const GError* error, const std::string& failingUrl = {});

// The load that the run-loop timer stopped.
WebError timedOutError(const std::string& failingUrl);

// The load of a server whose certificate does not validate; `reason` says why.
WebError untrustedCertificateError(const std::string& failingUrl, const std::string& reason);

// Why a certificate does not validate, from GLib's flags ("" when they are empty).
std::string certificateFailureReason(GTlsCertificateFlags flags);

}  // namespace kit::desktop
