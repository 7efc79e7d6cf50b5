#pragma once
// The web view of a floating panel: an AI web view whose error view offers no refresh button and
// that says the query timed out when the page does not report ready in time.
//
// Made with kit::create<KZAIPanelWebview>(); its panel controller owns it.

#include <string>

#include "app/web/KZAIWebView.h"

class KZAIPanelWebview : public KZAIWebView {
public:
    using KZAIWebView::KZAIWebView;
    void init() override;
    std::string className() const override { return "KZAIPanelWebview"; }
    std::string errorTextOfWaitingReadyTimeout() const override;
};
