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
// the user's OK.
//
// Made by the manager with kit::create<KZAIImageWindowController>(true, kit::Size{1000, 700}).

#include <vector>

#include "app/tools/KZBaseTabWebViewController.h"
#include "app/tools/KZBaseTabWindowController.h"

class KZTabWndConfirmCloseWindowController;

class KZAIImageWindowController : public KZAITabWindowController, public KZAIImageWebViewControllerDelegate {
public:
    static constexpr const char* kPageFormat = "thirdParty/dorvaka/picture?version=%d";
    static constexpr const char* kReportValue = "3";
    static constexpr const char* kConfirmFormat = "是否关闭 %@ 文件？关闭后将无法继续操作。";
    static constexpr double kNextCloseDelay = 0.5;
    static constexpr int kWindowTypeAIImage = 4;

    enum CloseType : int { CloseTypeTab = 1, CloseTypeWindow = 2 };

    using KZAITabWindowController::KZAITabWindowController;

    bool isClosingByClickWindowClose() const { return isClosingByClickWindowClose_; }
    // Whether a tab's page has reported an opened file.
    bool hasOpenFiles() const;
    // Told when the user cancels closing the window (a tab is kept).
    void setWindowCloseCancelledBlock(std::function<void()> block) { windowCloseCancelled_ = std::move(block); }
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
        int closeType;
        PendingState state;
    };

    PendingClose* pendingFor(const std::shared_ptr<KZWindowTitleTabBarItemModel>& model);
    void forget(const std::shared_ptr<KZWindowTitleTabBarItemModel>& model);
    // Shows the sheet for the oldest unsaved tab waiting for one, unless a sheet is up.
    void showNextConfirmSheet();
    void __showConfirmCloseWindowWithHandler(const std::function<void(bool)>& handler,
                                             const std::shared_ptr<KZWindowTitleTabBarItemModel>& model);
    void destroyWindow();

    std::shared_ptr<KZTabWndConfirmCloseWindowController> confirmCloseWindowController_;
    bool isClosingByClickWindowClose_ = false;
    std::vector<PendingClose> pending_;
    std::function<void()> windowCloseCancelled_;
};
