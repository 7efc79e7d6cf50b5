#pragma once
// The user's login state with the AI service, for the whole application. Pages report the state
// (onLoginStateChanged); the manager filters the reports, stores the accepted state in the shared
// settings, posts kKZAIUserLoginStateChangedNotification and tells a hidden keep-alive page. It
// also opens and closes the login window.
//
// The keep-alive page (an AI web view) and the login window live in the window layer, above the
// core: that layer installs their makers with setParts() at start-up. Without them the manager
// keeps the state alone and logs what it could not do.
//
// Ownership: the manager owns the keep-alive page and the login window controller; the page
// reports back to the manager through a weak reference.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "kit/base/NotificationCenter.h"
#include "kit/base/Value.h"

namespace kit {
class Window;
class WindowController;
}

inline constexpr const char* kKZAIUserLoginStateChangedNotification = "kKZAIUserLoginStateChangedNotification";
inline constexpr const char* kKZAIUserCancelLoginNotification = "kKZAIUserCancelLoginNotification";
inline constexpr const char* kKZAIUserForceReloadWebViewNotification = "kKZAIUserForceReloadWebViewNotification";

// Registers `target` (held weakly, registered under its own address and so removed when it goes)
// for the three notifications above: onUserLoginStateChanged(), onUserCancelLogin() and
// onForceReloadWebview(). The side window, the tool windows and the panels hear them alike.
template <class Target>
void KZObserveUserLoginNotifications(const std::shared_ptr<const void>& observer, const std::shared_ptr<Target>& target) {
    auto& center = kit::NotificationCenter::defaultCenter();
    std::weak_ptr<Target> weak = target;
    center.addObserver(observer, kKZAIUserLoginStateChangedNotification, nullptr, [weak](const kit::Notification&) {
        if (auto t = weak.lock()) t->onUserLoginStateChanged();
    });
    center.addObserver(observer, kKZAIUserCancelLoginNotification, nullptr, [weak](const kit::Notification&) {
        if (auto t = weak.lock()) t->onUserCancelLogin();
    });
    center.addObserver(observer, kKZAIUserForceReloadWebViewNotification, nullptr, [weak](const kit::Notification&) {
        if (auto t = weak.lock()) t->onForceReloadWebview();
    });
}

// The hidden page that keeps the login session alive, as the manager uses it.
class KZAIKeepAlivePage {
public:
    virtual ~KZAIKeepAlivePage() = default;
    virtual void loadRequestWithURL(const std::string& url) = 0;
    virtual bool isAIWebReady() const = 0;
    virtual void native2js_requestAuthUser() = 0;
    virtual void native2js_requestLogout() = 0;
    virtual void native2js_cancelLogin() = 0;
    virtual void native2js_loginEventNotify(bool isLogin) = 0;
    virtual void native2js_clientUserChange(bool isLogin, bool webViewVisible) = 0;
};

class KZAIUserManager : public std::enable_shared_from_this<KZAIUserManager> {
public:
    static constexpr const char* kKeepAlivePagePath = "thirdParty/dorvaka/pmChatHome?version=%d";
    static constexpr const char* kLoginPagePath = "thirdParty/quarn/login?version=%d";
    static constexpr double kLoginAfterLogoutGuard = 2.0;
    static constexpr double kLoginWindowWidth = 370;
    static constexpr double kLoginWindowHeight = 450;

    struct Parts {
        // Makes the keep-alive page, which reports to the manager (webviewIsReadyFrom,
        // webviewDidRecieveNetworkChanged).
        std::function<std::shared_ptr<KZAIKeepAlivePage>(const std::weak_ptr<KZAIUserManager>& manager)> keepAlivePage;
        // Makes a login window controller (370 x 450, not yet shown).
        std::function<std::shared_ptr<kit::WindowController>()> loginWindow;
        // Runs after the login window is shown (the window-controller manager closes the
        // explain and translate panels).
        std::function<void()> didShowLoginWindow;
    };
    // Used by managers made from now on.
    static void setParts(Parts parts);

    static KZAIUserManager& shared();
    static std::shared_ptr<KZAIUserManager> sharedPointer();
    static void resetShared();

    KZAIUserManager() = default;
    ~KZAIUserManager();
    KZAIUserManager(const KZAIUserManager&) = delete;
    KZAIUserManager& operator=(const KZAIUserManager&) = delete;
    // Keep-alive page, stored state, launch report, observers.
    void init();

    bool isLogin() const { return isUserLogin_; }
    const std::string& userName() const { return curUserName_; }
    const std::string& userAvatar() const { return userAvatar_; }
    // The avatar address; nullopt when there is none.
    std::optional<std::string> avatarUrl() const;
    // Main-loop clock seconds (RunLoop::now) of the last accepted logout report.
    const std::optional<double>& lastLogoutDate() const { return lastLogoutDate_; }

    // A page's login report: {"state", "avatar", "userName"}.
    void onLoginStateChanged(const kit::Dictionary& info);

    // Opens the login window centred on `window` (on the screen without one), unless logged in.
    void showLoginWindowRelateToWindow(const std::shared_ptr<kit::Window>& window = nullptr);
    void closeLoginWindow();
    void createLoginWindowForcibly();
    const std::shared_ptr<kit::WindowController>& loginWindowController() const { return loginWindowController_; }

    void native2js_Logout();
    void reloadKeepAliveWebview();
    const std::shared_ptr<KZAIKeepAlivePage>& keepAliveBridge() const { return keepAliveBridge_; }

    bool needReflushWebviewWhenShowWindowAfter15min() const { return needReflush_; }
    void setNeedReflushWebviewWhenShowWindowAfter15min(bool value) { needReflush_ = value; }

    // Callbacks of the keep-alive page.
    void webviewIsReadyFrom(const std::optional<std::string>& from);
    void webviewDidRecieveNetworkChanged(bool reachable);

    void onUserCancelLogin();
    void onAppDidBecomeActive();

private:
    void __distoryLoginWindow();
    void tellKeepAlivePage();

    bool isUserLogin_ = false;
    std::string userAvatar_;
    std::string curUserName_;
    std::optional<double> lastLogoutDate_;
    bool needReflush_ = false;
    std::shared_ptr<KZAIKeepAlivePage> keepAliveBridge_;
    std::shared_ptr<kit::WindowController> loginWindowController_;
};
