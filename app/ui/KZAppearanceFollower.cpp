#include "app/ui/KZAppearanceFollower.h"

#include <memory>
#include <vector>

#include "frameworks/JWAppThemeHelper.h"
#include "kit/base/NotificationCenter.h"
#include "kit/ui/Application.h"
#include "kit/ui/Backend.h"

namespace {
// While running: the observers of the theme's changes and of the desktop's.
std::vector<std::shared_ptr<void>>& observerTokens() {
    static std::vector<std::shared_ptr<void>> tokens;
    return tokens;
}

void readSystemAppearance() {
    JWAppThemeHelper::setSystemDarkMode(kit::UiBackend::current().systemAppearance() == kit::Appearance::Dark);
}
}  // namespace

void KZAppearanceFollower::sync() {
    // The theme helper decides (it knows the user's setting and the desktop's theme); the
    // application is then pinned to its answer, so the views and the helper never disagree.
    kit::Application::shared().setAppearancePreference(JWAppThemeHelper::isDarkMode() ? kit::AppearancePreference::Dark
                                                                                      : kit::AppearancePreference::Light);
}

void KZAppearanceFollower::start() {
    auto& tokens = observerTokens();
    if (tokens.empty()) {
        auto& center = kit::NotificationCenter::defaultCenter();
        tokens.push_back(center.addObserverForName(JWAppThemeHelper::kAppearanceDidChangeNotification, nullptr,
                                                   [](const kit::Notification&) { sync(); }));
        // The application is pinned to the theme's answer, so the desktop's changes reach the
        // theme here (it re-colours through the observer above when its answer changes).
        tokens.push_back(center.addObserverForName(kit::kApplicationDidChangeSystemAppearanceNotification, nullptr,
                                                   [](const kit::Notification&) { readSystemAppearance(); }));
    }
    readSystemAppearance();
    sync();
}

void KZAppearanceFollower::stop() { observerTokens().clear(); }

bool KZAppearanceFollower::isRunning() { return !observerTokens().empty(); }
