#include "app/capture/KZAISplashWindowController.h"

#include "app/core/KZSharedPlistManager.h"
#include "app/ui/KZCustomViewButton.h"
#include "frameworks/JWAppThemeHelper.h"
#include "frameworks/LanguageHelper.h"
#include "kit/ui/Control.h"
#include "kit/ui/Create.h"
#include "kit/ui/Label.h"
#include "kit/ui/Layout.h"

KZAISplashWindowController::KZAISplashWindowController(bool hasTitleBar, kit::Size windowSize)
    : KZBaseWindowController(hasTitleBar, windowSize) {}

void KZAISplashWindowController::customInit() {
    auto w = window();
    w->setDelegate(std::static_pointer_cast<KZAISplashWindowController>(shared_from_this()));
    w->setMinSize(w->frame().size);
    w->setMaxSize(w->frame().size);
    for (auto kind : {kit::WindowButton::Miniaturize, kit::WindowButton::Zoom})
        if (auto button = w->standardWindowButton(kind)) button->setHidden(true);
}

void KZAISplashWindowController::setupViews() {
    auto content = window()->contentView();
    titleLabel_ = kit::Label::withString(KZLocalizedString("欢迎使用Quarn AI助手"));
    titleLabel_->setFont(kit::Font::boldSystemFont(28));
    titleLabel_->setAlignment(kit::TextAlignment::Center);
    titleLabel_->setTextColor(JWAppThemeHelper::getAiTitleColor());
    content->addSubview(titleLabel_);

    detailLabel_ = kit::Label::wrappingWithString(
        KZLocalizedString("划词解释、翻译，截图提问，拖拽文件即可与AI对话。按快捷键或点击状态栏图标，随时打开AI助手。"));
    detailLabel_->setFont(kit::Font::systemFont(15));
    detailLabel_->setAlignment(kit::TextAlignment::Center);
    detailLabel_->setTextColor(JWAppThemeHelper::getColor(11));
    content->addSubview(detailLabel_);

    startButton_ = KZCustomViewButton::buttonWithStyle(KZCustomViewButtonStylePrimary);
    startButton_->setButtonTitle(KZLocalizedString("开始使用"));
    std::weak_ptr<KZAISplashWindowController> weak =
        std::static_pointer_cast<KZAISplashWindowController>(shared_from_this());
    startButton_->setActionBlock([weak](KZCustomViewButton&) {
        if (auto self = weak.lock()) self->onClickStartButton();
    });
    content->addSubview(startButton_);
}

void KZAISplashWindowController::setupViewsLayout() {
    auto content = window()->contentView();
    kit::makeConstraints(titleLabel_, [&](kit::ConstraintMaker& make) {
        make.centerX().equalTo(content);
        make.top().equalTo(content).offset(150);
    });
    kit::makeConstraints(detailLabel_, [&](kit::ConstraintMaker& make) {
        make.left().equalTo(content).offset(120);
        make.right().equalTo(content).offset(-120);
        make.top().equalTo(kit::bottomOf(titleLabel_)).offset(24);
    });
    kit::makeConstraints(startButton_, [&](kit::ConstraintMaker& make) {
        make.centerX().equalTo(content);
        make.bottom().equalTo(content).offset(-60);
        make.size().equalTo(kit::Size{160, 36});
    });
}

void KZAISplashWindowController::onClickStartButton() { close(); }

void KZAISplashWindowController::windowWillClose(kit::Window& closing) {
    if (&closing != window().get()) return;
    auto& settings = KZSharedPlistManager::sharedManager();
    if (!settings.db_hasShowGuideWindow()) settings.db_setHasShowGuideWindow(true);
    if (windowWillCloseBlock_) {
        auto block = windowWillCloseBlock_;
        block();
    }
}
