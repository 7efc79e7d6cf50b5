#pragma once
// What the AI web view asks of the login-state manager, which the page tells its login state and
// asks for the login window. The manager lives in a layer this one does not link: the process
// entry (and tests) wire it; without a wiring a call only logs.

#include <functional>
#include <string>

#include "kit/base/Value.h"

class KZAIWebServices {
public:
    // The login-state manager's onLoginStateChanged: with the page's whole data object.
    static void setLoginStateChangedHandler(std::function<void(const kit::Dictionary& info)> handler);
    // The login-state manager's showLoginWindowRelateToWindow with no window.
    static void setShowLoginWindowHandler(std::function<void()> handler);

    static void onLoginStateChanged(const kit::Dictionary& info);
    static void showLoginWindowRelateToWindow();

    static void reset();
};
