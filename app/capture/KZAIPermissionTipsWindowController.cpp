#include "app/capture/KZAIPermissionTipsWindowController.h"

#include "app/core/KZAIIPCClient.h"
#include "app/ui/KZCustomViewButton.h"
#include "frameworks/JWAppThemeHelper.h"
#include "frameworks/LanguageHelper.h"
#include "kit/base/Log.h"
#include "kit/sys/ScreenCapture.h"
#include "kit/ui/Application.h"
#include "kit/ui/Control.h"
#include "kit/ui/Create.h"
#include "kit/ui/Label.h"
#include "kit/ui/Layout.h"
#include "kit/ui/Window.h"

KZAIPermissionTipsWindowController::KZAIPermissionTipsWindowController(bool hasTitleBar, kit::Size windowSize)
    : KZBaseWindowController(hasTitleBar, windowSize) {}

KZAIPermissionTipsWindowController::~KZAIPermissionTipsWindowController() {
    if (pendingShow_) kit::RunLoop::main().cancel(pendingShow_);
}

void KZAIPermissionTipsWindowController::customInit() {
    auto w = window();
    w->setMinSize(w->frame().size);
    w->setMaxSize(w->frame().size);
    for (auto kind : {kit::WindowButton::Miniaturize, kit::WindowButton::Zoom})
        if (auto button = w->standardWindowButton(kind)) button->setHidden(true);
}

void KZAIPermissionTipsWindowController::setupViews() {
    auto content = window()->contentView();
    titleLabel_ = kit::Label::withString({});
    titleLabel_->setFont(kit::Font::boldSystemFont(20));
    titleLabel_->setAlignment(kit::TextAlignment::Center);
    // The window is white in either appearance (the base window's surface), so its text keeps
    // the light appearance's colours: readable whatever the appearance was when it was made.
    titleLabel_->setTextColor(JWAppThemeHelper::getColor(11, true));
    content->addSubview(titleLabel_);

    detailLabel_ = kit::Label::wrappingWithString({});
    detailLabel_->setFont(kit::Font::systemFont(14));
    detailLabel_->setAlignment(kit::TextAlignment::Center);
    detailLabel_->setTextColor(JWAppThemeHelper::getColor(11, true));
    content->addSubview(detailLabel_);

    confirmButton_ = KZCustomViewButton::buttonWithStyle(KZCustomViewButtonStylePrimary);
    std::weak_ptr<KZAIPermissionTipsWindowController> weak =
        std::static_pointer_cast<KZAIPermissionTipsWindowController>(shared_from_this());
    confirmButton_->setActionBlock([weak](KZCustomViewButton&) {
        if (auto self = weak.lock()) self->onClickConfirm();
    });
    content->addSubview(confirmButton_);
    // For the keyboard: Return confirms, Escape closes the tip, and the keyboard goes back to the
    // window below (the onboarding, or the sheet's window).
    window()->setDefaultButton(confirmButton_);
    window()->setCancelOperation([weak] {
        if (auto self = weak.lock()) self->endWindow();
    });
    setTipsType(tipsType_);
}

void KZAIPermissionTipsWindowController::setupViewsLayout() {
    auto content = window()->contentView();
    kit::makeConstraints(titleLabel_, [&](kit::ConstraintMaker& make) {
        make.centerX().equalTo(content);
        make.top().equalTo(content).offset(120);
    });
    kit::makeConstraints(detailLabel_, [&](kit::ConstraintMaker& make) {
        make.left().equalTo(content).offset(40);
        make.right().equalTo(content).offset(-40);
        make.top().equalTo(kit::bottomOf(titleLabel_)).offset(20);
    });
    kit::makeConstraints(confirmButton_, [&](kit::ConstraintMaker& make) {
        make.centerX().equalTo(content);
        make.bottom().equalTo(content).offset(-40);
        make.size().equalTo(kit::Size{200, 36});
    });
}

void KZAIPermissionTipsWindowController::setTipsType(int type) {
    tipsType_ = type;
    if (!titleLabel_) return;
    if (type == KZPermissionTipsTypeScreenRecording) {
        titleLabel_->setStringValue(KZLocalizedString("开启屏幕录制权限"));
        detailLabel_->setStringValue(
            KZLocalizedString("截图提问需要屏幕录制权限，请在系统设置中允许Quarn AI助手录制屏幕。"));
    } else {
        titleLabel_->setStringValue(KZLocalizedString("开启辅助功能权限"));
        detailLabel_->setStringValue(
            KZLocalizedString("划词解释和翻译需要辅助功能权限，请在系统设置中允许Quarn AI助手使用辅助功能。"));
    }
    confirmButton_->setButtonTitle(KZLocalizedString("去开启"));
}

void KZAIPermissionTipsWindowController::onClickConfirm() {
    if (tipsType_ == KZPermissionTipsTypeScreenRecording) {
        kit::logLine("[Permission] request screen recording");
        kit::ScreenCapture::shared().requestPermission();
    } else {
        // The text-grabbing tool owns the accessibility prompt.
        KZAIIPCClient::shared().ai2text_showAccessibilityPromptNotification();
    }
    endWindow();
}

void KZAIPermissionTipsWindowController::showOnWindow(const std::shared_ptr<kit::Window>& parent) {
    kit::Application::shared().activate(true);
    endWindow();
    std::weak_ptr<KZAIPermissionTipsWindowController> weak =
        std::static_pointer_cast<KZAIPermissionTipsWindowController>(shared_from_this());
    std::weak_ptr<kit::Window> weakParent = parent;
    const bool alone = parent == nullptr;
    pendingShow_ = kit::RunLoop::main().postAfter(kShowDelay, [weak, weakParent, alone] {
        auto self = weak.lock();
        if (!self) return;
        self->pendingShow_ = 0;
        auto own = self->window();
        if (alone) {
            own->makeKeyAndOrderFront();
            return;
        }
        auto parentWindow = weakParent.lock();
        if (!parentWindow || parentWindow->isClosed()) {
            kit::logLine("[Permission] tip not shown: its window is gone");
            return;
        }
        parentWindow->beginSheet(own);
    });
}

bool KZAIPermissionTipsWindowController::endWindow() {
    if (pendingShow_) {
        kit::RunLoop::main().cancel(pendingShow_);
        pendingShow_ = 0;
    }
    auto own = window();
    bool hadSheet = false;
    if (auto parent = own->sheetParent()) {
        parent->endSheet(own);
        hadSheet = true;
    }
    own->close();
    return hadSheet;
}
