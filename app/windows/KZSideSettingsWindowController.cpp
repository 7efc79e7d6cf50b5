#include "app/windows/KZSideSettingsWindowController.h"

#include "app/ui/KZBackgroundView.h"
#include "app/ui/KZCustomViewButton.h"
#include "app/ui/KZHoverView.h"
#include "app/ui/KZLineView.h"
#include "frameworks/JWAppThemeHelper.h"
#include "frameworks/LanguageHelper.h"
#include "kit/ui/Create.h"
#include "kit/ui/Layout.h"
#include "kit/ui/Window.h"

void placePopoverTopRight(kit::Window& window, kit::Point point, double gap) {
    const kit::Size size = window.frame().size;
    window.setFrameOrigin({point.x - size.width, point.y - size.height - gap});
}

std::shared_ptr<KZCustomViewButton> KZSideSettingsWindowController::makeEntry(
    const char* title, void (KZSideSettingsWindowController::*action)(KZCustomViewButton&)) {
    auto button = KZCustomViewButton::buttonWithStyle(KZCustomViewButtonStyleNone);
    button->setButtonTitle(KZLocalizedString(title));
    button->setTitleFont(kit::Font::systemFont(14));
    button->setTitleAlignment(kit::TextAlignment::Left);
    button->setDefaultTitleThemeColor(11);
    button->setDownTitleColor(JWAppThemeHelper::getColor(12, true));
    auto& hover = button->hoverView();
    hover->setGetDefaultColor(nullptr);
    hover->setGetHoverColor([](bool) { return JWAppThemeHelper::getColor(15); });
    hover->setGetPressColor([](bool) { return JWAppThemeHelper::getColor(14); });
    button->addTarget(std::static_pointer_cast<KZSideSettingsWindowController>(shared_from_this()), action);
    return button;
}

const std::shared_ptr<KZWindowLoginBackgroundView>& KZSideSettingsWindowController::bgView() {
    if (!bgView_) bgView_ = kit::create<KZWindowLoginBackgroundView>();
    return bgView_;
}

const std::shared_ptr<KZLineView>& KZSideSettingsWindowController::lineView() {
    if (!lineView_) lineView_ = kit::create<KZLineView>(kit::Rect{});
    return lineView_;
}

const std::shared_ptr<KZCustomViewButton>& KZSideSettingsWindowController::settingsButton() {
    if (!settingsButton_)
        settingsButton_ =
            makeEntry(KZLocalizableKey("偏好设置"), &KZSideSettingsWindowController::onClickSettingsButton);
    return settingsButton_;
}

const std::shared_ptr<KZCustomViewButton>& KZSideSettingsWindowController::quitButton() {
    if (!quitButton_)
        quitButton_ = makeEntry(KZLocalizableKey("退出AI助手"), &KZSideSettingsWindowController::onClickQuitButton);
    return quitButton_;
}

void KZSideSettingsWindowController::setupSubviews() {
    KZBasePopoverWindowController::setupSubviews();
    auto& content = contentView();
    content->addSubview(bgView());
    content->addSubview(settingsButton());
    content->addSubview(lineView());
    content->addSubview(quitButton());
}

void KZSideSettingsWindowController::setupSubViewsLayout() {
    KZBasePopoverWindowController::setupSubViewsLayout();
    auto content = contentView();
    kit::makeConstraints(bgView_, [&](kit::ConstraintMaker& make) { make.edges().equalTo(content).inset(0); });
    kit::makeConstraints(settingsButton_, [&](kit::ConstraintMaker& make) {
        make.left().equalTo(content).offset(20);
        make.right().equalTo(content).offset(-20);
        make.top().equalTo(content).offset(10);
        make.height().equalTo(24);
    });
    kit::makeConstraints(lineView_, [&](kit::ConstraintMaker& make) {
        make.left().equalTo(content).offset(20);
        make.right().equalTo(content).offset(-20);
        make.top().equalTo(kit::bottomOf(settingsButton_)).offset(8);
        make.height().equalTo(1);
    });
    kit::makeConstraints(quitButton_, [&](kit::ConstraintMaker& make) {
        make.left().equalTo(content).offset(20);
        make.right().equalTo(content).offset(-20);
        make.top().equalTo(kit::bottomOf(lineView_)).offset(8);
        make.height().equalTo(24);
    });
}

void KZSideSettingsWindowController::showWindowTopRightPoint(kit::Point point) {
    placePopoverTopRight(*window(), point, kGapBelowPoint);
    showWindow();
}

void KZSideSettingsWindowController::onClickSettingsButton(KZCustomViewButton&) {
    close();
    if (onClickSettings_) {
        auto block = onClickSettings_;
        block();
    }
}

void KZSideSettingsWindowController::onClickQuitButton(KZCustomViewButton&) {
    close();
    if (onClickQuit_) {
        auto block = onClickQuit_;
        block();
    }
}
