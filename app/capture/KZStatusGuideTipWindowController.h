#pragma once
// The tip under the status item that tells where the AI assistant lives. The window-controller
// manager places it, shows it and closes it 5 seconds later.
//
// Made with kit::create<KZStatusGuideTipWindowController>(size, contentInset).

#include <memory>

#include "app/windows/KZBasePopoverWindowController.h"
#include "frameworks/LanguageHelper.h"

namespace kit {
class Label;
}

class KZStatusGuideTipWindowController : public KZBasePopoverWindowController {
public:
    static constexpr const char* kTipText = KZLocalizableKey("AI助手在这里，点击状态栏图标即可随时打开");

    using KZBasePopoverWindowController::KZBasePopoverWindowController;

    // The width that shows the whole text with its margins, at least `minimum`.
    double widthFittingText(double minimum) const;

    // Shown in front without the keyboard focus: the user goes on typing where they were.
    void showWindow() override;
    void setupSubviews() override;
    void setupSubViewsLayout() override;

    const std::shared_ptr<kit::Label>& tipLabel() const { return tipLabel_; }

private:
    std::shared_ptr<kit::Label> tipLabel_;
};
