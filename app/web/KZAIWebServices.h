#pragma once
// What the AI web view asks of the layers above it: the login-state manager, which the page tells
// its login state and asks for the login window, and the window-controller manager, which opens a
// tab in the image or document tool window for a new-window request. They live in layers this one
// does not link: the process entry (and tests) wire them; without a wiring a call only logs.

#include <functional>
#include <string>

#include "kit/base/Value.h"

class KZAIWebServices {
public:
    // The login-state manager's onLoginStateChanged: with the page's whole data object.
    static void setLoginStateChangedHandler(std::function<void(const kit::Dictionary& info)> handler);
    // The login-state manager's showLoginWindowRelateToWindow with no window.
    static void setShowLoginWindowHandler(std::function<void()> handler);

    // The window-controller manager's showAIImageWindowControllerAndCreateNewTab and
    // showAIDocumentWindowControllerAndCreateNewTab: (address).
    static void setShowImageWindowHandler(std::function<void()> handler);
    static void setShowDocumentWindowHandler(std::function<void(const std::string& url)> handler);

    static void onLoginStateChanged(const kit::Dictionary& info);
    static void showLoginWindowRelateToWindow();
    static void showAIImageWindowControllerAndCreateNewTab();
    static void showAIDocumentWindowControllerAndCreateNewTab(const std::string& url);

    static void reset();
};
