#pragma once
// The translate panel: the AI service's translate page next to the selected text. The window-
// controller manager makes one (400 x 324) for the life of the process.

#include <string>

#include "app/tools/KZWebPanelController.h"
#include "app/web/KZWebTypes.h"

class KZTranslatePanelController : public KZWebPanelController {
public:
    static constexpr const char* kPagePath = "embed/chat/translate?version=%d";
    static constexpr int kPanelType = 2;

    using KZWebPanelController::KZWebPanelController;
    std::string webURL() const override;
    std::string panelTitle() const override;
    int windowType() const override { return KZWebWindowTypeTranslate; }
    int buttonClickedType() const override { return KZWebWindowTypeTranslate; }
    long webViewScene() const override { return KZWebViewSceneTranslate; }
    // Passed on to the text-grabbing tool, which answers with the panel's new frame.
    void webviewDidChangeSizeTo(KZAIWebView& webview, kit::Size size) override;
};
