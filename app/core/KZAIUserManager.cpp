#include "app/core/KZAIUserManager.h"

#include <cmath>
#include <ctime>

#include "app/core/KZBundleInfo.h"
#include "app/core/KZSharedPlistManager.h"
#include "frameworks/HXReport.h"
#include "kit/base/Log.h"
#include "kit/base/NotificationCenter.h"
#include "kit/base/RunLoop.h"
#include "kit/ui/Application.h"
#include "kit/ui/Screen.h"
#include "kit/ui/Window.h"
#include "kit/ui/WindowController.h"

namespace {

constexpr int kPageVersion = 6;

std::shared_ptr<KZAIUserManager>& slot() {
    // Never destroyed: services outlive the static objects they use at exit.
    static auto* manager = new std::shared_ptr<KZAIUserManager>;
    return *manager;
}

KZAIUserManager::Parts& parts() {
    static auto* p = new KZAIUserManager::Parts;
    return *p;
}

std::string stringOf(const kit::Dictionary& info, const char* key) {
    const kit::Value* value = info.find(key);
    const std::string* text = value ? value->asString() : nullptr;
    return text ? *text : std::string();
}

// The platform's description of a date: "2026-12-07 04:25:16 +0000".
std::string describeDate(double secondsSince1970) {
    const std::time_t seconds = static_cast<std::time_t>(std::floor(secondsSince1970));
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S +0000", &utc);
    return text;
}

}  // namespace

void KZAIUserManager::setParts(Parts p) { parts() = std::move(p); }

KZAIUserManager& KZAIUserManager::shared() { return *sharedPointer(); }

std::shared_ptr<KZAIUserManager> KZAIUserManager::sharedPointer() {
    auto& s = slot();
    if (!s) {
        s = std::make_shared<KZAIUserManager>();
        s->init();
    }
    return s;
}

void KZAIUserManager::resetShared() {
    auto& s = slot();
    if (s && s->loginWindowController_) {
        // Its window goes with it: no cancel notice for a manager that no longer exists.
        auto controller = std::move(s->loginWindowController_);
        if (auto window = controller->window()) window->setDelegate({});
        controller->close();
    }
    s.reset();
}

KZAIUserManager::~KZAIUserManager() { kit::NotificationCenter::defaultCenter().removeObserver(this); }

void KZAIUserManager::init() {
    if (parts().keepAlivePage) {
        keepAliveBridge_ = parts().keepAlivePage(weak_from_this());
        reloadKeepAliveWebview();
    } else {
        kit::logLine("[UA] no keep-alive page: the login state is kept without it");
    }

    const kit::Dictionary info = KZSharedPlistManager::sharedManager().db_authUserInfo();
    const kit::Value* state = info.find("state");
    isUserLogin_ = state && state->integerValue() == 0;
    userAvatar_ = stringOf(info, "avatar");
    curUserName_ = stringOf(info, "userName");

    const char* loginKind = "0";
    if (isUserLogin_) loginKind = userAvatar_.find("ek_zxapp") != std::string::npos ? "2" : "1";
    HXReport::reportCommonKeyValue(24021, loginKind);

    std::weak_ptr<KZAIUserManager> weak = weak_from_this();
    auto& center = kit::NotificationCenter::defaultCenter();
    center.addObserver(shared_from_this(), kKZAIUserCancelLoginNotification, nullptr, [weak](const kit::Notification&) {
        if (auto self = weak.lock()) self->onUserCancelLogin();
    });
    center.addObserver(shared_from_this(), kit::kApplicationDidBecomeActiveNotification, nullptr,
                       [weak](const kit::Notification&) {
                           if (auto self = weak.lock()) self->onAppDidBecomeActive();
                       });
}

std::optional<std::string> KZAIUserManager::avatarUrl() const {
    if (userAvatar_.empty()) return std::nullopt;
    return userAvatar_;
}

// ---- Keep-alive page ------------------------------------------------------------------------------

void KZAIUserManager::reloadKeepAliveWebview() {
    kit::logLine("Keep Alive Web reload");
    if (keepAliveBridge_) keepAliveBridge_->loadRequestWithURL(KZBundleInfo::aiPageURL(kKeepAlivePagePath, kPageVersion));
    needReflush_ = false;
}

void KZAIUserManager::webviewIsReadyFrom(const std::optional<std::string>& from) {
    kit::logf("Keep Alive Web ready from: %s", from ? from->c_str() : "(null)");
    if (keepAliveBridge_) keepAliveBridge_->native2js_requestAuthUser();
}

void KZAIUserManager::webviewDidRecieveNetworkChanged(bool reachable) {
    if (!reachable) return;
    kit::logf("keepAliveBridge on network change send get user: %d", 1);
    if (keepAliveBridge_) keepAliveBridge_->native2js_requestAuthUser();
}

void KZAIUserManager::onAppDidBecomeActive() {
    if (needReflush_) return;
    kit::logLine("Keep Alive Web - App Become Active");
    if (keepAliveBridge_) keepAliveBridge_->native2js_requestAuthUser();
}

void KZAIUserManager::onUserCancelLogin() {
    if (keepAliveBridge_) keepAliveBridge_->native2js_cancelLogin();
}

void KZAIUserManager::native2js_Logout() {
    if (!keepAliveBridge_ || !keepAliveBridge_->isAIWebReady()) kit::logLine("Error: user log out but web not ready");
    if (keepAliveBridge_) keepAliveBridge_->native2js_requestLogout();
}

void KZAIUserManager::tellKeepAlivePage() {
    if (!keepAliveBridge_) return;
    keepAliveBridge_->native2js_loginEventNotify(isUserLogin_);
    keepAliveBridge_->native2js_clientUserChange(isUserLogin_, true);
}

// ---- Reports of the pages -------------------------------------------------------------------------

void KZAIUserManager::onLoginStateChanged(const kit::Dictionary& info) {
    kit::logf("[UA] LoginStateChanged1: %s", kit::describe(kit::Value(info)).c_str());
    // Only a stated integer counts: a missing or malformed state would read as 0, "logged in".
    const kit::Value* stateValue = info.find("state");
    if (!stateValue || !stateValue->isInteger()) {
        kit::logLine("[UA] login report ignored: \"state\" is missing or not an integer");
        return;
    }
    const auto state = stateValue->integerValue();
    if (state == 2) return;

    const bool login = state == 0;
    const std::string avatar = stringOf(info, "avatar");
    const std::string name = stringOf(info, "userName");
    if (login == isUserLogin_ && avatar == userAvatar_ && name == curUserName_) return;

    kit::logf("[UA] LoginStateChanged2: %s", kit::describe(kit::Value(info)).c_str());
    auto& loop = kit::RunLoop::main();
    if (!login) {
        lastLogoutDate_ = loop.now();
        kit::logf("[UA] reveive logout : %s", describeDate(loop.wallTime()).c_str());
    } else if (lastLogoutDate_ && loop.now() - *lastLogoutDate_ < kLoginAfterLogoutGuard) {
        kit::logf("[UA] reveive userinfo in logout 2s in: %s", describeDate(loop.wallTime()).c_str());
        return;
    }

    isUserLogin_ = login;
    userAvatar_ = avatar;
    curUserName_ = name;
    KZSharedPlistManager::sharedManager().db_setAuthUserInfo(
        kit::Dictionary{{"state", std::int64_t{login ? 0 : 1}}, {"avatar", avatar}, {"userName", name}});

    if (isUserLogin_) __distoryLoginWindow();
    // The manager may be replaced by an observer; keep it for the last step.
    auto self = shared_from_this();
    kit::NotificationCenter::defaultCenter().post(kKZAIUserLoginStateChangedNotification);
    tellKeepAlivePage();
}

// ---- Login window ---------------------------------------------------------------------------------

void KZAIUserManager::showLoginWindowRelateToWindow(const std::shared_ptr<kit::Window>& window) {
    if (isUserLogin_) {
        kit::logf("已经有登录: %s， 不需要再弹出登录弹窗", curUserName_.c_str());
        return;
    }
    // A login window on screen stays: replacing it would tell every page the user cancelled.
    if (loginWindowController_ && loginWindowController_->window() && loginWindowController_->window()->isVisible()) {
        loginWindowController_->window()->makeKeyAndOrderFront();
    } else {
        createLoginWindowForcibly();
        if (!loginWindowController_ || !loginWindowController_->window()) return;
        auto login = loginWindowController_->window();
        if (window) {
            const kit::Rect around = window->frame();
            const kit::Size size = login->frame().size;
            login->setFrameOrigin({around.midX() - size.width / 2, around.midY() - size.height / 2});
        } else {
            login->center();
        }
        loginWindowController_->showWindow();
    }
    if (parts().didShowLoginWindow) parts().didShowLoginWindow();
}

void KZAIUserManager::createLoginWindowForcibly() {
    if (loginWindowController_) {
        loginWindowController_->close();
        kit::Application::shared().releaseLater(std::move(loginWindowController_));
        loginWindowController_.reset();
    }
    if (!parts().loginWindow) {
        kit::logLine("[US] no login window: the window layer is not wired");
        return;
    }
    loginWindowController_ = parts().loginWindow();
}

void KZAIUserManager::closeLoginWindow() { __distoryLoginWindow(); }

void KZAIUserManager::__distoryLoginWindow() {
    kit::logLine("[US] distroy Login Window");
    if (!loginWindowController_) return;
    auto controller = std::move(loginWindowController_);
    loginWindowController_.reset();
    controller->close();
    // The close may come from the login page's own report: let the page finish first.
    kit::Application::shared().releaseLater(std::move(controller));
}
