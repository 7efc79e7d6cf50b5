#include "app/ui/KZAppearanceFollower.h"

#include <memory>

#include "frameworks/JWAppThemeHelper.h"
#include "kit/base/NotificationCenter.h"
#include "kit/ui/Application.h"
#include "kit/ui/Backend.h"

namespace {
std::shared_ptr<void>& observerToken() {
    static std::shared_ptr<void> token;
    return token;
}
}  // namespace

void KZAppearanceFollower::sync() {
    // The theme helper decides (it knows the user's setting and the desktop's theme); the
    // application is then pinned to its answer, so the views and the helper never disagree.
    kit::Application::shared().setAppearancePreference(JWAppThemeHelper::isDarkMode() ? kit::AppearancePreference::Dark
                                                                                      : kit::AppearancePreference::Light);
}

void KZAppearanceFollower::start() {
    // The desktop's theme as the backend knows it at launch; later changes of it reach the
    // helper through setSystemDarkMode.
    JWAppThemeHelper::setSystemDarkMode(kit::UiBackend::current().systemAppearance() == kit::Appearance::Dark);
    auto& token = observerToken();
    if (!token) {
        token = kit::NotificationCenter::defaultCenter().addObserverForName(
            JWAppThemeHelper::kAppearanceDidChangeNotification, nullptr, [](const kit::Notification&) { sync(); });
    }
    sync();
}

void KZAppearanceFollower::stop() { observerToken().reset(); }

bool KZAppearanceFollower::isRunning() { return observerToken() != nullptr; }
