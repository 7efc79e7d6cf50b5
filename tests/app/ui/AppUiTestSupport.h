#pragma once
// The fixture of the base-view tests: the headless user interface with the theme helper in
// light mode and the application's appearance following it.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "app/ui/KZAppearanceFollower.h"
#include "frameworks/JWAppThemeHelper.h"
#include "kit/headless/HeadlessUi.h"
#include "kit/headless/TestEnvironment.h"
#include "kit/ui/Application.h"
#include "kit/ui/Create.h"
#include "kit/ui/View.h"
#include "kit/ui/Window.h"
#include "tests/support/TestOutput.h"

namespace quarn::testing {

class AppUiTest : public ::testing::Test {
protected:
    AppUiTest() {
        JWAppThemeHelper::resetForTesting();
        JWAppThemeHelper::setApplicationAppearance(kit::AppearancePreference::Light);
        KZAppearanceFollower::start();
    }
    ~AppUiTest() override {
        KZAppearanceFollower::stop();
        JWAppThemeHelper::resetForTesting();
    }

    // Turns the theme (and so every view) dark or light.
    void setDark(bool dark) {
        JWAppThemeHelper::setApplicationAppearance(dark ? kit::AppearancePreference::Dark : kit::AppearancePreference::Light);
    }

    // A visible, key window of that content size, at the screen's origin.
    std::shared_ptr<kit::Window> makeWindow(kit::Size size) {
        auto window = kit::create<kit::Window>(kit::Rect{{100, 100}, size}, kit::WindowStyleBorderless | kit::WindowStyleResizable);
        window->makeKeyAndOrderFront();
        return window;
    }

    std::filesystem::path outputDirectory() { return kit::testing::testOutputDirectory("app_ui", env.root()); }

    kit::TestEnvironment env;
    kit::HeadlessUi ui;
};

inline bool near(const kit::Color& a, const kit::Color& b, double tolerance = 1.5 / 255) {
    return std::fabs(a.red - b.red) <= tolerance && std::fabs(a.green - b.green) <= tolerance &&
           std::fabs(a.blue - b.blue) <= tolerance && std::fabs(a.alpha - b.alpha) <= tolerance;
}

}  // namespace quarn::testing

namespace kit {
inline void PrintTo(const Color& c, std::ostream* os) {
    *os << "rgba(" << c.red * 255 << ", " << c.green * 255 << ", " << c.blue * 255 << ", " << c.alpha << ")";
}
}  // namespace kit
