#pragma once
// The first-run onboarding window, 780 x 482. Closing it marks the guide as shown in the shared
// settings (when it was not yet) and then runs the will-close block.
//
// Made with kit::create<KZAISplashWindowController>(hasTitleBar, size).

#include <functional>
#include <memory>

#include "app/windows/KZBaseWindowController.h"
#include "kit/ui/Window.h"

class KZCustomViewButton;
namespace kit {
class Label;
}

class KZAISplashWindowController : public KZBaseWindowController, public kit::WindowDelegate {
public:
    using WillCloseBlock = std::function<void()>;

    static constexpr double kWidth = 780;
    static constexpr double kHeight = 482;

    KZAISplashWindowController(bool hasTitleBar, kit::Size windowSize);

    void customInit() override;
    void setupViews() override;
    void setupViewsLayout() override;
    bool canMovableByWindowBackground() override { return true; }
    kit::Size windowButtonOffsetSize() override { return {12.0, 12.0}; }

    void setWindowWillCloseBlock(WillCloseBlock block) { windowWillCloseBlock_ = std::move(block); }
    void windowWillClose(kit::Window& window) override;

    const std::shared_ptr<KZCustomViewButton>& startButton() const { return startButton_; }

private:
    void onClickStartButton();

    WillCloseBlock windowWillCloseBlock_;
    std::shared_ptr<kit::Label> titleLabel_;
    std::shared_ptr<kit::Label> detailLabel_;
    std::shared_ptr<KZCustomViewButton> startButton_;
};
