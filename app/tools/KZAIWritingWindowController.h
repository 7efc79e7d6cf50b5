#pragma once
// The AI writing window: one page of the AI service's writing tool, without a tab strip. Closing
// it only hides it: the controller, its tab and its loaded page stay with the window-controller
// manager, and the page hears that it is no longer visible. Reports 24050 to 24052 with "2".
//
// Before the application ends, a ready page is asked whether its work is saved; an unsaved
// answer (or none in 3 s) brings the window forward with a confirm sheet, whose Cancel keeps the
// application running. A page whose content process has ended is not waited for.
//
// Made by the manager with kit::create<KZAIWritingWindowController>(false, kit::Size{1000, 700}).

#include <functional>
#include <memory>
#include <vector>

#include "app/tools/KZBaseTabWebViewController.h"
#include "app/tools/KZBaseTabWindowController.h"
#include "frameworks/LanguageHelper.h"

class KZTabWndConfirmCloseWindowController;

class KZAIWritingWindowController : public KZAITabWindowController, public KZAIImageWebViewControllerDelegate {
public:
    static constexpr const char* kPageFormat = "thirdParty/dorvaka/write?version=%d";
    static constexpr const char* kReportValue = "2";
    static constexpr const char* kConfirmText = KZLocalizableKey("写作内容尚未保存，是否关闭？关闭后将无法继续操作。");

    using KZAITabWindowController::KZAITabWindowController;
    // Whoever still waits for an answer hears that nothing was closed.
    ~KZAIWritingWindowController() override;

    void createDefaultTab(const std::optional<std::string>& url, const std::optional<kit::Dictionary>& actionInfo) override;

    // The page is loaded and can be asked.
    bool hasUnsavedWork() override;
    void closeUnsavedWorkBeforeQuit(std::function<void(bool proceed)> done) override;
    void probeUnsavedWork(std::function<void(bool unsaved)> answer) override;
    void recieveJSIsSavedResult(bool saved, const std::shared_ptr<KZWindowTitleTabBarItemModel>& model) override;
    // Made on first use.
    const std::shared_ptr<KZTabWndConfirmCloseWindowController>& confirmCloseWindowController();

    void windowWillClose(kit::Window& window) override;
    void windowDidMiniaturize(kit::Window& window) override;
    void windowWillEnterFullScreen(kit::Window& window) override;
    void windowWillExitFullScreen(kit::Window& window) override;

private:
    std::shared_ptr<KZAITabWebViewController> tab();
    void answerQuit(bool proceed);

    std::shared_ptr<KZTabWndConfirmCloseWindowController> confirmCloseWindowController_;
    // Who waits for the answer about the page's work; empty when nothing is asked.
    std::vector<std::function<void(bool proceed)>> quitWaiters_;
};
