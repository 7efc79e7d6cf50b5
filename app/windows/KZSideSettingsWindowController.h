#pragma once
// The small menu under the side window's settings button: "偏好设置" (preferences) and
// "退出AI助手" (quit), separated by a line. It only lays the entries out, places itself under a
// point and runs the caller's blocks; the title-bar controls decide what the entries do.
//
// Made with kit::create<KZSideSettingsWindowController>(size, contentInset); the title-bar
// controls own it and make a new one for every click of their settings button.

#include <functional>
#include <memory>

#include "app/windows/KZBasePopoverWindowController.h"

class KZCustomViewButton;
class KZLineView;
class KZWindowLoginBackgroundView;

class KZSideSettingsWindowController : public KZBasePopoverWindowController {
public:
    using Block = std::function<void()>;
    static constexpr double kGapBelowPoint = 9;

    using KZBasePopoverWindowController::KZBasePopoverWindowController;

    int customWindowLevel() override { return 25; }
    void setupSubviews() override;
    void setupSubViewsLayout() override;
    // Shows the popover with its top-right corner 9 points below `point` (screen coordinates).
    void showWindowTopRightPoint(kit::Point point);
    void onClickSettingsButton(KZCustomViewButton& sender);
    void onClickQuitButton(KZCustomViewButton& sender);

    const Block& onClickSettings() const { return onClickSettings_; }
    void setOnClickSettings(Block block) { onClickSettings_ = std::move(block); }
    const Block& onClickQuit() const { return onClickQuit_; }
    void setOnClickQuit(Block block) { onClickQuit_ = std::move(block); }

    const std::shared_ptr<KZWindowLoginBackgroundView>& bgView();
    const std::shared_ptr<KZLineView>& lineView();
    const std::shared_ptr<KZCustomViewButton>& settingsButton();
    const std::shared_ptr<KZCustomViewButton>& quitButton();

private:
    std::shared_ptr<KZCustomViewButton> makeEntry(const char* title,
                                                  void (KZSideSettingsWindowController::*action)(KZCustomViewButton&));

    std::shared_ptr<KZWindowLoginBackgroundView> bgView_;
    std::shared_ptr<KZLineView> lineView_;
    std::shared_ptr<KZCustomViewButton> settingsButton_;
    std::shared_ptr<KZCustomViewButton> quitButton_;
    Block onClickSettings_;
    Block onClickQuit_;
};

// Places a popover window of the side window's title bar: its top-right corner `gap` points
// below `point`, not clamped to the screen.
void placePopoverTopRight(kit::Window& window, kit::Point point, double gap);
