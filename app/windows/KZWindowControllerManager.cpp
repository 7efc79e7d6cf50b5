#include "app/windows/KZWindowControllerManager.h"

#include "app/core/AppDelegate.h"
#include "app/core/KZAIIPCClient.h"
#include "app/core/KZSharedPlistManager.h"
#include "frameworks/HXReport.h"
#include "frameworks/JWTipManager.h"
#include "kit/base/Log.h"
#include "kit/base/RunLoop.h"
#include "kit/sys/DistributedNotificationCenter.h"

namespace {

std::shared_ptr<KZWindowControllerManager>& slot() {
    // Never destroyed: services outlive the static objects they use at exit.
    static auto* manager = new std::shared_ptr<KZWindowControllerManager>;
    return *manager;
}

// The platform's "Line[%d] %s" prefix: source line and method name.
#define KZ_LOG_METHOD(method, format, ...) kit::logf("Line[%d] %s " format, __LINE__, method, ##__VA_ARGS__)

}  // namespace

KZWindowControllerManager& KZWindowControllerManager::manager() {
    auto& s = slot();
    if (!s) {
        s = std::make_shared<KZWindowControllerManager>();
        s->init();
    }
    return *s;
}

void KZWindowControllerManager::resetManager() { slot().reset(); }

void KZWindowControllerManager::init() {
    auto& settings = KZSharedPlistManager::sharedManager();
    p_useShowStatusBarItem_ = settings.db_showAIStatusBarItem();
    // On a later turn, once the delegate is done with the manager.
    std::weak_ptr<KZWindowControllerManager> weak = weak_from_this();
    kit::RunLoop::main().post([weak] {
        auto self = weak.lock();
        if (!self) return;
        if (KZSharedPlistManager::sharedManager().db_showAIStatusBarItem()) {
            self->__showStatusBarItem();
        } else {
            self->__hideStatusBarItem();
        }
    });
    languageObserver_ = kit::DistributedNotificationCenter::defaultCenter().addObserver(
        "user_language_change", std::nullopt, [weak](const kit::DistributedNotification&) {
            if (auto self = weak.lock()) self->_userChangeLanguage();
        });
}

void KZWindowControllerManager::loadSideWindowController() { kit::logLine("[WndCtrl] Preload Side Window"); }

void KZWindowControllerManager::showAISpliashWindowController() {
    std::weak_ptr<KZWindowControllerManager> weak = weak_from_this();
    AISpliashModel_ = JWTipModel::tipModelWithPriority(JWTipTaskPriorityHigh, 0, [weak](const auto& model) {
        if (auto self = weak.lock()) {
            self->__showAISpliashWindowController();
        } else {
            model->notifyTaskCompleted();
        }
    });
    AISpliashModel_->setName("AI Spliash");
    JWTipManager::manager().addTaskModel(AISpliashModel_);
}

void KZWindowControllerManager::__showAISpliashWindowController() {
    if (KZSharedPlistManager::sharedManager().db_hasShowGuideWindow()) {
        kit::logLine("[WndCtrl] AI Spliash Window has been shown before.");
    } else {
        // The onboarding splash comes with the onboarding work; the queue must not wait for it.
        kit::logLine("[WndCtrl] AI Spliash Window is not available yet");
    }
    if (AISpliashModel_) AISpliashModel_->notifyTaskCompleted();
}

void KZWindowControllerManager::setShowAIStatusBarItem(bool show) {
    KZ_LOG_METHOD("-[KZWindowControllerManager setShowAIStatusBarItem:]", "[GT] Set Show AI Status Bar Item, show: %d",
                  show ? 1 : 0);
    if (show == p_useShowStatusBarItem_) return;
    p_useShowStatusBarItem_ = show;
    KZSharedPlistManager::sharedManager().db_setShowAIStatusBarItem(show);
    if (show) {
        __showStatusBarItem();
    } else {
        __hideStatusBarItem();
    }
    KZAIIPCClient::shared().ai2main_showAIStatusItemChangedNotification(show);
}

void KZWindowControllerManager::showStatusBarIconWhenQuarnLaunch() {
    KZ_LOG_METHOD("-[KZWindowControllerManager showStatusBarIconWhenQuarnLaunch]",
                  "[GT] Show Status Bar Icon Quarn Launch");
    if (showAIStatusBarItem()) __showStatusBarItem();
}

void KZWindowControllerManager::__showStatusBarItem() {
    KZ_LOG_METHOD("-[KZWindowControllerManager __showStatusBarItem]", "[GT] __show status bar item");
    if (auto delegate = AppDelegate::current()) delegate->createStatueBar();
    HXReport::reportButtonClick(21000);
}

void KZWindowControllerManager::__hideStatusBarItem() {
    KZ_LOG_METHOD("-[KZWindowControllerManager __hideStatusBarItem]", "[GT] __hide status bar item");
    if (auto delegate = AppDelegate::current()) delegate->removeStatusBar();
}

void KZWindowControllerManager::showSideMainWindowController() {
    kit::logLine("[WndCtrl] Show Side Main Window (side window not available yet)");
}

void KZWindowControllerManager::hotkeyShowSideMainWindowController() {
    HXReport::reportCommonKeyValue(24023, "2");
    HXReport::reportCommonKeyValue(24020, "32");
    showSideMainWindowController();
}

void KZWindowControllerManager::showAISideWindowController(int type, const std::string& text) {
    kit::logf("[WndCtrl] Show AI Side Window, type: %d, text: %s", type, text.c_str());
}

void KZWindowControllerManager::showPermissionWindowAlone() {
    kit::logLine("[WndCtrl] Show Permission Window Alone (not available yet)");
}

void KZWindowControllerManager::showExplainPanelControllerWindowWithText(const std::string&, kit::Point) {
    kit::logLine("[WndCtrl] Show Explain Panel (not available yet)");
}

void KZWindowControllerManager::showTranslatePanelControllerWindowWithText(const std::string&, kit::Point) {
    kit::logLine("[WndCtrl] Show Translate Panel (not available yet)");
}

void KZWindowControllerManager::updateExplainPanelControllerWindowFrame(const kit::Rect&) {
    kit::logLine("[WndCtrl] Update Explain Panel Frame (not available yet)");
}

void KZWindowControllerManager::updateTranslatePanelControllerWindowFrame(const kit::Rect&) {
    kit::logLine("[WndCtrl] Update Translate Panel Frame (not available yet)");
}

void KZWindowControllerManager::closeExplainTranslateWindows() {
    kit::logLine("[WndCtrl] Close Explain and Translate Panels (not available yet)");
}

void KZWindowControllerManager::_userChangeLanguage() {
    // Whichever observer of the language change runs first, the windows are rebuilt with the
    // new language only after it is applied.
    AppDelegate::_setupLanguage();
    kit::logLine("[WndCtrl] user language changed (windows are rebuilt once they exist)");
}
