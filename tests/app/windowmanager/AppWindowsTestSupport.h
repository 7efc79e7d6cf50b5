#pragma once
// The test bed of the window layer: a temporary home and virtual clock, the headless user
// interface with one 1440 x 900 screen, scripted web pages, screen capture and desktop drags, the
// AI service at https://ai.quarn.test/, and every process-wide service forgotten before and after.
// The window layer is wired to the core as the process entry wires it.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/capture/KZDragManager.h"
#include "app/capture/KZScreenshotManager.h"
#include "app/core/AppDelegate.h"
#include "app/core/KZAIIPCClient.h"
#include "app/core/KZAIUserManager.h"
#include "app/core/KZBundleInfo.h"
#include "app/core/KZCoreHooks.h"
#include "app/core/KZGlobalNetworkListener.h"
#include "app/core/KZGlobalTimer.h"
#include "app/core/KZSharedPlistManager.h"
#include "app/core/KZShortcutScreenshotReceiver.h"
#include "app/web/KZAIWebServices.h"
#include "app/web/KZAIWebView.h"
#include "app/web/KZBaseWebViewReportHelper.h"
#include "app/web/KZWKWebView.h"
#include "app/web/KZSharedWebData.h"
#include "app/windows/KZSideMainWindowController.h"
#include "app/windows/KZWindowControllerManager.h"
#include "frameworks/HXReport.h"
#include "frameworks/JWAppThemeHelper.h"
#include "frameworks/JWTipManager.h"
#include "frameworks/LanguageHelper.h"
#include "kit/base/ProcessInfo.h"
#include "kit/base/Value.h"
#include "kit/headless/HeadlessUi.h"
#include "kit/headless/ScriptedDragMonitor.h"
#include "kit/headless/ScriptedScreenCapture.h"
#include "kit/headless/ScriptedWebEngine.h"
#include "kit/headless/TestEnvironment.h"
#include "kit/ui/Animation.h"
#include "kit/ui/Application.h"
#include "kit/ui/Create.h"
#include "kit/ui/StatusItem.h"
#include "kit/ui/Window.h"
#include "tests/support/TestOutput.h"

namespace apptest {

inline constexpr const char* kServiceBase = "https://ai.quarn.test/";
inline constexpr double kAfterSlide = 0.25;

inline void resetAppServices() {
    KZWindowControllerManager::resetManager();
    KZAIUserManager::resetShared();
    KZAIUserManager::setParts({});
    KZDragManager::resetShared();
    KZScreenshotManager::resetShared();
    KZCoreHooks::reset();
    KZAIWebServices::reset();
    KZAIIPCClient::resetShared();
    KZShortcutScreenshotReceiver::resetServices();
    AppDelegate::setCurrent(nullptr);
    KZSharedPlistManager::resetSharedManager();
    KZGlobalTimer::resetShared();
    KZGlobalNetworkListener::resetShared();
    JWTipManager::resetManager();
    KZSharedWebData::resetShared();
    KZBaseWebViewReportHelper::sharedHelper().resetForTesting();
    HXReport::resetForTesting();
    JWAppThemeHelper::resetForTesting();
    BundleLanguage::resetForTesting();
    kit::StatusBar::resetSystem();
    KZBundleInfo::reload();
}

class AppWindowsTest : public ::testing::Test {
protected:
    AppWindowsTest() {
        if (const char* previous = std::getenv("QUARN_AI_BASE_URL")) previousBase_ = previous;
        ::setenv("QUARN_AI_BASE_URL", kServiceBase, 1);
        // The settings file is made only by this application.
        kit::process::setBundleIdentifier(KZBundleInfo::kBundleIdentifier);
        resetAppServices();
        KZWindowControllerManager::installServices();
    }
    ~AppWindowsTest() override {
        resetAppServices();
        env.runUntilIdle();
        if (previousBase_) {
            ::setenv("QUARN_AI_BASE_URL", previousBase_->c_str(), 1);
        } else {
            ::unsetenv("QUARN_AI_BASE_URL");
        }
    }

    KZWindowControllerManager& manager() { return KZWindowControllerManager::manager(); }
    KZSideMainWindowController& side() { return *manager().sideMainWindowController(); }
    kit::Window& sideWindow() { return *side().window(); }

    static kit::ScriptedWebEngine& pageOf(const KZAIWebView& view) {
        auto* engine = kit::ScriptedWebEngine::of(*view.webView());
        if (!engine) throw std::runtime_error("the web view has no scripted engine");
        return *engine;
    }

    // Loads the view's pending request to its end and lets the page fetch the bridge.
    void openPage(KZAIWebView& view) {
        auto& page = pageOf(view);
        ASSERT_TRUE(page.completePendingLoad("AI"));
        page.requestBridgeLoaded();
        env.runUntilIdle();
        page.takeBridgeMessages();
    }

    // The page calls an application handler.
    void pageCalls(KZAIWebView& view, const std::string& handlerName, kit::Value data = {}) {
        auto& page = pageOf(view);
        kit::Dictionary message{{"handlerName", handlerName},
                                {"callbackId", "cb_" + std::to_string(++callbacks_) + "_1765000000000"}};
        if (!data.isNull()) message.set("data", std::move(data));
        page.queueBridgeMessage(std::move(message));
        page.signalBridgeQueue();
        env.runUntilIdle();
    }

    // Loads the page and has it say it is ready; clears what was sent to it so far.
    void makeReady(KZAIWebView& view, const std::string& from = "main") {
        openPage(view);
        pageCalls(view, "WebIsReady", kit::Dictionary{{"from", from}});
        pageOf(view).takeBridgeMessages();
    }

    // The calls the application made into the page since the last take (answers left out).
    std::vector<kit::Value> callsToPage(KZAIWebView& view) {
        env.runUntilIdle();
        std::vector<kit::Value> calls;
        for (auto& message : pageOf(view).takeBridgeMessages())
            if (message["handlerName"].isString()) calls.push_back(std::move(message));
        return calls;
    }
    std::vector<std::string> callNamesToPage(KZAIWebView& view) {
        std::vector<std::string> names;
        for (const auto& call : callsToPage(view)) names.push_back(*call["handlerName"].asString());
        return names;
    }

    static std::vector<std::string> reports(std::int64_t key) {
        std::vector<std::string> values;
        for (const auto& event : HXReport::recordedEvents())
            if (event.method == "reportCommonKeyValue" && event.key == key) values.push_back(event.value);
        return values;
    }
    static std::size_t clicks(std::int64_t key) {
        std::size_t count = 0;
        for (const auto& event : HXReport::recordedEvents())
            if (event.method == "reportButtonClick" && event.key == key) ++count;
        return count;
    }

    std::filesystem::path outputDirectory(const std::string& area) {
        return kit::testing::testOutputDirectory(area, env.root());
    }

    kit::TestEnvironment env;
    kit::HeadlessUi ui;
    kit::ScriptedWebBackend web;
    kit::ScriptedScreenCapture capture;
    kit::ScriptedDragMonitor drags;

private:
    std::optional<std::string> previousBase_;
    int callbacks_ = 0;
};

}  // namespace apptest
