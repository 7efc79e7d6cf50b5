#pragma once
// The test bed of IPC and the hot keys: a TestEnvironment with this application's bundle
// identifier, scripted global hot keys, a recording window manager behind KZCoreHooks, recording
// panel, drag and screenshot services, and every process-wide service forgotten around a test.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/core/KZAIIPCClient.h"
#include "app/core/KZAIUserManager.h"
#include "app/core/KZBundleInfo.h"
#include "app/core/KZCoreHooks.h"
#include "app/core/KZSharedPlistManager.h"
#include "app/core/KZShortcutScreenshotReceiver.h"
#include "app/core/KZVXHotKeyManager.h"
#include "frameworks/HXReport.h"
#include "frameworks/KZShortcutManager.h"
#include "kit/base/ProcessInfo.h"
#include "kit/base/PropertyList.h"
#include "kit/headless/ScriptedGlobalHotKeys.h"
#include "kit/headless/TestEnvironment.h"

// Records the window manager operations that IPC and the hot keys call.
class RecordingWindowManager : public KZWindowControllerManaging {
public:
    std::vector<std::string> calls;

    void loadSideWindowController() override { calls.push_back("loadSideWindowController"); }
    void showAISpliashWindowController() override { calls.push_back("showAISpliashWindowController"); }
    void setShowAIStatusBarItem(bool show) override {
        calls.push_back(std::string("setShowAIStatusBarItem ") + (show ? "1" : "0"));
    }
    bool showAIStatusBarItem() const override { return false; }
    void showStatusBarIconWhenQuarnLaunch() override { calls.push_back("showStatusBarIconWhenQuarnLaunch"); }
    void showSideMainWindowController() override { calls.push_back("showSideMainWindowController"); }
    void hotkeyShowSideMainWindowController() override { calls.push_back("hotkeyShowSideMainWindowController"); }
    void setStatusItem(std::weak_ptr<kit::StatusItem>) override {}
    void showAISideWindowController(int type, const std::string& text) override {
        calls.push_back("showAISideWindowController " + std::to_string(type) + " " + text);
    }
    void showPermissionWindowAlone() override { calls.push_back("showPermissionWindowAlone"); }
};

class IpcTest : public ::testing::Test {
protected:
    void SetUp() override {
        env_ = std::make_unique<kit::TestEnvironment>();
        hotKeys_ = std::make_unique<kit::ScriptedGlobalHotKeys>();
        resetServices();
        kit::process::setBundleIdentifier(KZBundleInfo::kBundleIdentifier);
        KZCoreHooks::setWindowManagerProvider([this] { return &windows; });
        KZAIIPCClient::setServices({
            .showExplainPanelControllerWindowWithText =
                [this](const std::string& text, kit::Point origin) {
                    panelCalls.push_back("explain " + text + " " + kit::stringFromPoint(origin));
                },
            .showTranslatePanelControllerWindowWithText =
                [this](const std::string& text, kit::Point origin) {
                    panelCalls.push_back("translate " + text + " " + kit::stringFromPoint(origin));
                },
            .updateExplainPanelControllerWindowFrame =
                [this](const kit::Rect& frame) { panelCalls.push_back("explain frame " + kit::stringFromRect(frame)); },
            .updateTranslatePanelControllerWindowFrame =
                [this](const kit::Rect& frame) {
                    panelCalls.push_back("translate frame " + kit::stringFromRect(frame));
                },
            .setFileDragEnable = [this](bool enable) { dragEnables.push_back(enable); },
        });
        host_ = env_->makeProcessCenter("host");
    }

    void TearDown() override {
        resetServices();
        host_.reset();
        hotKeys_.reset();
        env_.reset();
    }

    static void resetServices() {
        KZAIIPCClient::resetShared();
        KZVXHotKeyManager::resetShared();
        KZShortcutManager::resetShared();
        KZShortcutScreenshotReceiver::resetServices();
        KZAIUserManager::resetShared();
        KZSharedPlistManager::resetSharedManager();
        KZCoreHooks::reset();
        HXReport::resetForTesting();
    }

    kit::TestEnvironment& env() { return *env_; }
    kit::ScriptedGlobalHotKeys& hotKeys() { return *hotKeys_; }
    KZAIIPCClient& client() { return KZAIIPCClient::shared(); }

    // A notification from the host's process, delivered.
    void hostPosts(const std::string& name, const kit::Value& userInfo = {}) {
        host_->post(name, {}, userInfo);
        env_->runUntilIdle();
    }

    std::filesystem::path configFolder() const { return env_->home() / "Library/Application Support/QuarnAI/config"; }

    void writeSettings(const kit::Dictionary& dict) {
        std::filesystem::create_directories(configFolder());
        ASSERT_TRUE(kit::writePropertyListFile(configFolder() / "QuarnAIConfig.plist", kit::Value(dict)).ok());
    }

    // Reports other than the framework's own start, as "key value" (clicks as "key").
    static std::vector<std::string> reports() {
        std::vector<std::string> out;
        for (const auto& event : HXReport::recordedEvents()) {
            if (event.method == "reportButtonClick") out.push_back(std::to_string(event.key));
            if (event.method == "reportCommonKeyValue") out.push_back(std::to_string(event.key) + " " + event.value);
        }
        return out;
    }

    RecordingWindowManager windows;
    std::vector<std::string> panelCalls;
    std::vector<bool> dragEnables;

private:
    std::unique_ptr<kit::TestEnvironment> env_;
    std::unique_ptr<kit::ScriptedGlobalHotKeys> hotKeys_;
    std::shared_ptr<kit::InMemoryDistributedNotificationCenter> host_;
};
