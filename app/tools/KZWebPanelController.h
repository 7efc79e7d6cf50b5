#pragma once
// A floating panel showing one AI page next to text the user selected in another application.
// The page fills the white rounded surface; text that arrives before the page is ready waits
// (the last one only) and is sent when the page says it is ready while the panel is shown. The
// page hears when the panel shows and hides, login-state changes and cancelled logins; it asks
// for the conversation to go on in the side window. The concrete panels give the page address,
// title, window type, button type and scene, and pass the page's size on to the text tool.
//
// Made with kit::create<Subclass>(frameSize). Ownership: the controller owns the panel, its
// surface, the top bar and the web view; the web view holds the controller (its delegate)
// weakly. Main thread only.

#include <memory>
#include <optional>
#include <string>

#include "app/tools/KZBasePanelController.h"
#include "app/web/KZAIWebViewDelegate.h"

namespace kit {
class View;
}
class KZPanelTopView;
class KZAIPanelWebview;

class KZWebPanelController : public KZBasePanelController, public KZAIWebViewDelegate {
public:
    using KZBasePanelController::KZBasePanelController;
    ~KZWebPanelController() override;

    void setupContentView() override;
    void loadRequest();
    void setupSubviews();
    void setupLayout();

    // Shows the panel with its frame origin at the point (kept on the screen that holds it) and
    // hands the text (nullopt: "") to the page, or queues it while the page is not ready. While
    // logged out the login window opens instead and nothing is kept. A point that is not finite
    // is ignored.
    void showWindowWithText(const std::optional<std::string>& text, kit::Point frameOrigin);
    bool isMovable() const override { return true; }

    void onForceReloadWebview() override;
    void onUserCancelLogin() override;
    void onWindowDidOrderOut(KZCustomPanel& panel) override;
    void onUserLoginStateChanged() override;

    // Page callbacks.
    void webviewContinueAsk(KZAIWebView& webview, const kit::Value& type, const kit::Value& sessionId) override;
    void webviewIsReadyFrom(KZAIWebView& webview, const std::optional<std::string>& from) override;

    const std::shared_ptr<KZPanelTopView>& topView();
    const std::shared_ptr<kit::View>& contentView() const { return contentView_; }
    const std::shared_ptr<KZAIPanelWebview>& webView();
    const std::string& pendingProcessStringBeforeWebReady() const { return pendingProcessStringBeforeWebReady_; }

    // Values of the concrete panels.
    virtual std::string webURL() const { return {}; }
    virtual std::string panelTitle() const { return {}; }
    virtual int windowType() const { return 0; }
    virtual int buttonClickedType() const { return 0; }
    virtual long webViewScene() const { return 1; }

    static constexpr double kCornerRadius = 8;

private:
    std::shared_ptr<KZPanelTopView> topView_;
    std::shared_ptr<kit::View> contentView_;
    std::shared_ptr<KZAIPanelWebview> webView_;
    std::string pendingProcessStringBeforeWebReady_;
    // Whether the page has been asked for (at launch it waits for the side window's page).
    bool pageRequested_ = false;
};
