#pragma once
// The platform web view of every page: a web view that can drop right clicks, so that pages show
// no context menu.

#include <string>

#include "kit/web/WebView.h"

class KZWKWebView : public kit::WebView {
public:
    using kit::WebView::WebView;
    std::string className() const override { return "KZWKWebView"; }

    bool disableRightMenu() const { return disableRightMenu_; }
    void setDisableRightMenu(bool disable) { disableRightMenu_ = disable; }

    // Passed on only while the menu is allowed.
    void rightMouseDown(const kit::Event& event) override {
        if (!disableRightMenu_) kit::WebView::rightMouseDown(event);
    }

private:
    bool disableRightMenu_ = false;
};
