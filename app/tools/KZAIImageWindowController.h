#pragma once
// The AI image window: one page of the AI service's image tool per tab. Closing a tab whose page
// has an opened file first asks the page whether its work is saved; an unsaved answer (or none in
// 3 s) shows the confirm sheet "是否关闭 … 文件？关闭后将无法继续操作。". Closing the window closes
// the tabs one at a time the same way, starting with the selected one; Cancel stops there. The last
// tab gone, the window-controller manager destroys the window. Reports 24050 to 24053 with "3".
//
// Each tab keeps its own pending close: an answer acts only on the tab it came from and only while
// that tab's close is pending, a second request for a pending tab does not start another, and
// sheets for several unsaved tabs come one after the other. Unsaved work is never closed without
// the user's OK. A page whose content process has ended has nothing left to save: its tab closes
// without waiting for an answer.
//
// A window close works on the tabs that were open when it began: a tab opened meanwhile stays
// (and the window with it), a tab the user closes meanwhile leaves the sequence and is closed on
// its own. Cancel on any sheet ends the window close, and it answers false to whoever waits for
// it (a quit); it answers true once every tab it began with is gone.
//
// Made by the manager with kit::create<KZAIImageWindowController>(true, kit::Size{1000, 700}).

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "app/tools/KZBaseTabWebViewController.h"
#include "app/tools/KZBaseTabWindowController.h"
#include "frameworks/LanguageHelper.h"

class KZTabWndConfirmCloseWindowController;

class KZAIImageWindowController : public KZAITabWindowController, public KZAIImageWebViewControllerDelegate {
public:
    static constexpr const char* kPageFormat = "thirdParty/dorvaka/picture?version=%d";
    static constexpr const char* kReportValue = "3";
    static constexpr const char* kConfirmFormat = KZLocalizableKey("是否关闭 %@ 文件？关闭后将无法继续操作。");
    static constexpr double kNextCloseDelay = 0.5;
    static constexpr int kWindowTypeAIImage = 4;

    enum CloseType : int { CloseTypeTab = 1, CloseTypeWindow = 2 };

    using KZAITabWindowController::KZAITabWindowController;
    // Whoever still waits for an answer hears that nothing was closed.
    ~KZAIImageWindowController() override;

    // Whether a window close is in progress.
    bool isClosingByClickWindowClose() const { return windowClose_.has_value(); }
    // Whether a tab's page has reported an opened file (and can still be asked about it).
    bool hasOpenFiles() const;
    bool hasUnsavedWork() override { return hasOpenFiles(); }
    // Shows the window and closes it as its close button does, joining a close in progress.
    void closeUnsavedWorkBeforeQuit(std::function<void(bool proceed)> done) override;
    void probeUnsavedWork(std::function<void(bool unsaved)> answer) override;
    // Made on first use.
    const std::shared_ptr<KZTabWndConfirmCloseWindowController>& confirmCloseWindowController();
    // The tabs whose close waits for the page or for the user, oldest first.
    std::vector<std::shared_ptr<KZWindowTitleTabBarItemModel>> pendingCloses() const;

    int customWindowType() override { return kWindowTypeAIImage; }
    bool showsRefreshButtonInTabBar() override { return false; }
    void createDefaultTab(const std::optional<std::string>& url, const std::optional<kit::Dictionary>& actionInfo) override;
    // A tab's close button.
    void removeTabBarModelByClickWindowClose(const std::shared_ptr<KZWindowTitleTabBarItemModel>& model);
    void removeTabBarModel(const std::shared_ptr<KZWindowTitleTabBarItemModel>& model) override;
    void __removeModel(const std::shared_ptr<KZWindowTitleTabBarItemModel>& model, int closeType);
    void __removeModelNext();
    void recieveJSIsSavedResult(bool saved, const std::shared_ptr<KZWindowTitleTabBarItemModel>& model) override;
    static std::string confirmTextFor(const std::string& title);

    bool windowShouldClose(kit::Window& window) override;
    void windowWillClose(kit::Window& window) override;
    void windowDidMiniaturize(kit::Window& window) override;
    void windowWillEnterFullScreen(kit::Window& window) override;
    void windowWillExitFullScreen(kit::Window& window) override;

private:
    enum class PendingState { AskingPage, WaitingForSheet, Confirming };
    struct PendingClose {
        std::weak_ptr<KZWindowTitleTabBarItemModel> model;
        PendingState state;
    };
    struct WindowClose {
        std::uint64_t id = 0;
        // The tabs it began with that it has not reached yet, and the one it is closing.
        std::vector<std::weak_ptr<KZWindowTitleTabBarItemModel>> remaining;
        std::weak_ptr<KZWindowTitleTabBarItemModel> current;
        std::vector<std::function<void(bool closedAll)>> waiters;
    };

    PendingClose* pendingFor(const std::shared_ptr<KZWindowTitleTabBarItemModel>& model);
    void forget(const std::shared_ptr<KZWindowTitleTabBarItemModel>& model);
    // Shows the sheet for the oldest unsaved tab waiting for one, unless a sheet is up.
    void showNextConfirmSheet();
    void __showConfirmCloseWindowWithHandler(const std::function<void(bool)>& handler,
                                             const std::shared_ptr<KZWindowTitleTabBarItemModel>& model);
    void destroyWindow();
    void beginWindowClose(std::function<void(bool closedAll)> done);
    void endWindowClose(bool closedAll);

    std::shared_ptr<KZTabWndConfirmCloseWindowController> confirmCloseWindowController_;
    std::vector<PendingClose> pending_;
    std::optional<WindowClose> windowClose_;
    std::uint64_t lastWindowCloseId_ = 0;
};
