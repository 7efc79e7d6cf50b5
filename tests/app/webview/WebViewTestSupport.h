#pragma once
// The fixture of the web view tests: a temporary home and virtual clock, the headless user
// interface, scripted web pages, and the process-wide services of the web views forgotten before
// and after each test. The AI service lives at https://ai.quarn.test/ for the tests.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/core/KZGlobalNetworkListener.h"
#include "app/web/KZAIWebServices.h"
#include "app/web/KZBaseWebViewReportHelper.h"
#include "app/web/KZSharedWebData.h"
#include "frameworks/HXReport.h"
#include "frameworks/JWAppThemeHelper.h"
#include "frameworks/LanguageHelper.h"
#include "kit/base/Color.h"
#include "kit/base/Value.h"
#include "kit/headless/HeadlessUi.h"
#include "kit/headless/ScriptedWebEngine.h"
#include "kit/headless/TestEnvironment.h"
#include "kit/ui/Image.h"
#include "kit/web/WebView.h"
#include "tests/support/TestOutput.h"

namespace webtest {

inline constexpr const char* kServiceBase = "https://ai.quarn.test/";
inline constexpr const char* kChatPage = "https://ai.quarn.test/chat?version=6";

class WebViewTest : public ::testing::Test {
protected:
    WebViewTest() {
        if (const char* previous = std::getenv("QUARN_AI_BASE_URL")) previousBase_ = previous;
        ::setenv("QUARN_AI_BASE_URL", kServiceBase, 1);
        resetServices();
    }
    ~WebViewTest() override {
        resetServices();
        if (previousBase_) {
            ::setenv("QUARN_AI_BASE_URL", previousBase_->c_str(), 1);
        } else {
            ::unsetenv("QUARN_AI_BASE_URL");
        }
    }

    static void resetServices() {
        HXReport::resetForTesting();
        KZSharedWebData::resetShared();
        KZBaseWebViewReportHelper::sharedHelper().resetForTesting();
        KZAIWebServices::reset();
        KZGlobalNetworkListener::resetShared();
        BundleLanguage::resetForTesting();
        JWAppThemeHelper::resetForTesting();
    }

    // The values reported under a key so far, oldest first.
    static std::vector<std::string> reports(std::int64_t key) {
        std::vector<std::string> values;
        for (const auto& event : HXReport::recordedEvents()) {
            if (event.method == "reportCommonKeyValue" && event.key == key) values.push_back(event.value);
        }
        return values;
    }

    static kit::ScriptedWebEngine& pageOf(const kit::WebView& view) {
        auto* engine = kit::ScriptedWebEngine::of(view);
        if (!engine) throw std::runtime_error("the web view has no scripted engine");
        return *engine;
    }

    std::filesystem::path outputDirectory() { return kit::testing::testOutputDirectory("app_webview", env.root()); }

    kit::TestEnvironment env;
    kit::HeadlessUi ui;
    kit::ScriptedWebBackend web;

private:
    std::optional<std::string> previousBase_;
};

inline bool near(const kit::Color& a, const kit::Color& b, double tolerance = 3.0 / 255) {
    return std::fabs(a.red - b.red) <= tolerance && std::fabs(a.green - b.green) <= tolerance &&
           std::fabs(a.blue - b.blue) <= tolerance && std::fabs(a.alpha - b.alpha) <= tolerance;
}

}  // namespace webtest

namespace kit {
inline void PrintTo(const Color& c, std::ostream* os) {
    *os << "rgba(" << c.red * 255 << ", " << c.green * 255 << ", " << c.blue * 255 << ", " << c.alpha << ")";
}
}  // namespace kit
