#pragma once
// The login window: a small fixed-size window (level 1) showing the AI service's login page
// under a top picture, with a refresh button over the page. Closing it while the user is still
// logged out posts kKZAIUserCancelLoginNotification.
//
// Made with kit::create<KZAILoginWindowController>(hasTitleBar, size); the login-state manager
// owns it.

#include <memory>
#include <string>

#include "app/web/KZAIWebViewDelegate.h"
#include "app/windows/KZBaseWindowController.h"
#include "kit/ui/Window.h"

class KZAIWebView;
class KZCustomViewButton;
namespace kit {
class ImageView;
}

class KZAILoginWindowController : public KZBaseWindowController,
                                  public kit::WindowDelegate,
                                  public KZAIWebViewDelegate {
public:
    // initWithTitleStyle:windowSize:
    KZAILoginWindowController(bool hasTitleBar, kit::Size windowSize);

    void customInit() override;
    void setupViews() override;
    void setupViewsLayout() override;
    kit::Size windowButtonOffsetSize() override { return {0, 0}; }
    std::string windowTitle() override;

    // Loads the login page when the window is not on screen, then brings it to the front.
    void showWindow() override;
    void loadRequest();
    std::string loginPageURL() const;

    void onUserLoginStateChanged();
    void windowWillClose(kit::Window& closing) override;
    void onClickFlushButtonAction(KZCustomViewButton& sender);

    const std::shared_ptr<kit::ImageView>& topImageView();
    const std::shared_ptr<KZAIWebView>& loginWebView();
    const std::shared_ptr<KZCustomViewButton>& flushButton();

private:
    std::shared_ptr<kit::ImageView> topImageView_;
    std::shared_ptr<KZAIWebView> loginWebView_;
    std::shared_ptr<KZCustomViewButton> flushButton_;
};
