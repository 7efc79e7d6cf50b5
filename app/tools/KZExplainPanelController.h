#pragma once
// The explain panel: the AI service's explain page next to the selected text. The window-
// controller manager makes one (400 x 324) for the life of the process.

#include <string>

#include "app/tools/KZWebPanelController.h"
#include "app/web/KZWebTypes.h"

class KZExplainPanelController : public KZWebPanelController {
public:
    static constexpr const char* kPagePath = "embed/chat/explain?version=%d";
    static constexpr int kPanelType = 1;

    using KZWebPanelController::KZWebPanelController;
    std::string webURL() const override;
    std::string panelTitle() const override;
    int windowType() const override { return KZWebWindowTypeExplain; }
    int buttonClickedType() const override { return KZWebWindowTypeExplain; }
    long webViewScene() const override { return KZWebViewSceneExplain; }
    // Passed on to the text-grabbing tool, which answers with the panel's new frame.
    void webviewDidChangeSizeTo(KZAIWebView& webview, kit::Size size) override;
};
