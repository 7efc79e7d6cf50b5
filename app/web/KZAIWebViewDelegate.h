#pragma once
// What the owner of an AI web view (a window or controller) hears from its page. Every method is
// optional: the defaults do nothing (and recommend no image name).

#include <optional>
#include <string>

#include "app/web/KZBaseWebView.h"
#include "kit/base/Geometry.h"
#include "kit/base/NotificationCenter.h"
#include "kit/base/Value.h"

class KZAIWebView;

class KZAIWebViewDelegate : public KZBaseWebViewDelegate {
public:
    // "OpenFileNotify": the page's path, nullopt when it sent none.
    virtual void webviewDidOpenFilePath(KZAIWebView& webview, const std::optional<std::string>& path) {
        (void)webview, (void)path;
    }
    // "WebViewSizeNotify".
    virtual void webviewDidChangeSizeTo(KZAIWebView& webview, kit::Size size) { (void)webview, (void)size; }
    // "WebIsReady": the page's "from" (KZWebReadyFrom), nullopt when it sent none.
    virtual void webviewIsReadyFrom(KZAIWebView& webview, const std::optional<std::string>& from) {
        (void)webview, (void)from;
    }
    // "ContinueAsk": "type" and "session_id" as the page sent them (null when absent).
    virtual void webviewContinueAsk(KZAIWebView& webview, const kit::Value& type, const kit::Value& sessionId) {
        (void)webview, (void)type, (void)sessionId;
    }
    // "ClientIsSaved".
    virtual void webviewClientIsSavedFromJS(KZAIWebView& webview, bool saved) { (void)webview, (void)saved; }
    // "RequestLogin", before the login window is asked for.
    virtual void webviewDidReceiveWebRequestLogin(KZAIWebView& webview) { (void)webview; }
    // The base name of an image from the page about to be saved; nullopt for the default.
    virtual std::optional<std::string> recommendedImageSaveNameForWebview(KZAIWebView& webview) {
        (void)webview;
        return std::nullopt;
    }
    // Just before "IsSaved" is sent.
    virtual void webviewDidSendPageIsSaved(KZAIWebView& webview) { (void)webview; }
    // "FileAction": the page's data.
    virtual void webviewReceiveFileAction(KZAIWebView& webview, const kit::Dictionary& action) {
        (void)webview, (void)action;
    }
    // "StartCapture".
    virtual void webviewDidNotifyStartCapture(KZAIWebView& webview) { (void)webview; }
    // Any window will enter or did exit full screen; the delegate decides whether it is its own.
    virtual void webviewElementWillEnterFullScreen(KZAIWebView& webview, const kit::Notification& notification) {
        (void)webview, (void)notification;
    }
    virtual void webviewElementDidExitFullScreen(KZAIWebView& webview, const kit::Notification& notification) {
        (void)webview, (void)notification;
    }
};
