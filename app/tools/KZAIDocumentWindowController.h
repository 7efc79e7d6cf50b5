#pragma once
// The AI document window: one page of the AI service's document tool per tab. A tab's close
// button closes it at once; closing the window asks once ("关闭当前打开的所有文件？") when two or
// more files are open, and removes everything without asking for one. The last tab gone, the
// window-controller manager destroys the window. Reports 24050 to 24053 with "4"; 24053 carries
// the number of tabs when the user asked to close, before any was removed. An OK closes the tabs
// that were open when the question came up: a tab opened while it was asked stays, and the window
// with it.
//
// Made by the manager with kit::create<KZAIDocumentWindowController>(true, kit::Size{1000, 700}).

#include <functional>
#include <optional>
#include <vector>

#include "app/tools/KZBaseTabWindowController.h"
#include "frameworks/LanguageHelper.h"

class KZTabWndConfirmCloseWindowController;

class KZAIDocumentWindowController : public KZAITabWindowController {
public:
    static constexpr const char* kPageFormat = "thirdParty/dorvaka/file?version=%d";
    static constexpr const char* kReportValue = "4";
    static constexpr const char* kConfirmText = KZLocalizableKey("关闭当前打开的所有文件？");

    using KZAITabWindowController::KZAITabWindowController;
    // Whoever still waits for an answer hears that nothing was closed.
    ~KZAIDocumentWindowController() override;

    bool confirmCloseWindow() const { return confirmCloseWindow_; }
    // Made on first use.
    const std::shared_ptr<KZTabWndConfirmCloseWindowController>& confirmCloseWindowController();

    void customInit() override;
    void showWindowAndCreateNewTabWithUrl(const std::string& url);
    void createDefaultTab(const std::optional<std::string>& url, const std::optional<kit::Dictionary>& actionInfo) override;
    void removeTabBarModel(const std::shared_ptr<KZWindowTitleTabBarItemModel>& model) override;
    void __removeAllItemsAndModels();
    void __showConfirmCloseWindow();

    // Two or more tabs, one of which holds an opened file: closing would ask.
    bool hasUnsavedWork() override;
    // Shows the window and asks its close question (joining one already up).
    void closeUnsavedWorkBeforeQuit(std::function<void(bool proceed)> done) override;

    bool windowShouldClose(kit::Window& window) override;
    void windowWillClose(kit::Window& window) override;
    void windowDidMiniaturize(kit::Window& window) override;
    void windowWillEnterFullScreen(kit::Window& window) override;
    void windowWillExitFullScreen(kit::Window& window) override;

private:
    void destroyWindow();

    std::shared_ptr<KZTabWndConfirmCloseWindowController> confirmCloseWindowController_;
    bool confirmCloseWindow_ = false;
    std::optional<std::size_t> tabCountAtCloseRequest_;
    // The tabs the question is about, and who waits for the answer.
    std::vector<std::weak_ptr<KZWindowTitleTabBarItemModel>> askedTabs_;
    std::vector<std::function<void(bool confirmed)>> answerWaiters_;
};
