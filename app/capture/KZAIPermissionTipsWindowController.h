#pragma once
// The permission tips window, 380 x 441: what the screen-recording (type 1) or the accessibility
// permission (any other type) is needed for, and a button that asks for it. It shows as a sheet
// on a given window or alone.
//
// Made with kit::create<KZAIPermissionTipsWindowController>(hasTitleBar, size).

#include <memory>
#include <string>

#include "app/windows/KZBaseWindowController.h"
#include "kit/base/RunLoop.h"

class KZCustomViewButton;
namespace kit {
class Label;
class Window;
}

// KZPermissionTipsType: 1 screen recording; any other value accessibility.
enum KZPermissionTipsType : int {
    KZPermissionTipsTypeAccessibility = 0,
    KZPermissionTipsTypeScreenRecording = 1,
};

class KZAIPermissionTipsWindowController : public KZBaseWindowController {
public:
    static constexpr double kWidth = 380;
    static constexpr double kHeight = 441;
    static constexpr double kShowDelay = 0.1;

    KZAIPermissionTipsWindowController(bool hasTitleBar, kit::Size windowSize);
    ~KZAIPermissionTipsWindowController() override;

    void customInit() override;
    void setupViews() override;
    void setupViewsLayout() override;
    kit::Size windowButtonOffsetSize() override { return {12.0, 12.0}; }

    int tipsType() const { return tipsType_; }
    void setTipsType(int type);
    // Activates the application, ends an earlier showing, and 0.1 s later begins a sheet on the
    // window or, without one, brings its own window to the front.
    void showOnWindow(const std::shared_ptr<kit::Window>& parent);
    // Closes the window and ends the sheet; true when a sheet was up. A showing still waiting
    // for its 0.1 s is called off.
    bool endWindow();

    // The confirm button's action.
    void onClickConfirm();

    const std::shared_ptr<kit::Label>& titleLabel() const { return titleLabel_; }
    const std::shared_ptr<kit::Label>& detailLabel() const { return detailLabel_; }
    const std::shared_ptr<KZCustomViewButton>& confirmButton() const { return confirmButton_; }

private:
    int tipsType_ = KZPermissionTipsTypeAccessibility;
    std::shared_ptr<kit::Label> titleLabel_;
    std::shared_ptr<kit::Label> detailLabel_;
    std::shared_ptr<KZCustomViewButton> confirmButton_;
    kit::TaskId pendingShow_ = 0;
};
