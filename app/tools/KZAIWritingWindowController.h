#pragma once
// The AI writing window: one page of the AI service's writing tool, without a tab strip. Closing
// it only hides it: the controller, its tab and its loaded page stay with the window-controller
// manager, and the page hears that it is no longer visible. Reports 24050 to 24052 with "2".
//
// Made by the manager with kit::create<KZAIWritingWindowController>(false, kit::Size{1000, 700}).

#include "app/tools/KZBaseTabWindowController.h"

class KZAIWritingWindowController : public KZAITabWindowController {
public:
    static constexpr const char* kPageFormat = "thirdParty/dorvaka/write?version=%d";
    static constexpr const char* kReportValue = "2";

    using KZAITabWindowController::KZAITabWindowController;

    void createDefaultTab(const std::optional<std::string>& url, const std::optional<kit::Dictionary>& actionInfo) override;

    void windowWillClose(kit::Window& window) override;
    void windowDidMiniaturize(kit::Window& window) override;
    void windowWillEnterFullScreen(kit::Window& window) override;
    void windowWillExitFullScreen(kit::Window& window) override;
};
