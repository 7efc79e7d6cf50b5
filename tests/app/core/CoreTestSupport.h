#pragma once
// The test bed of the application core: a fresh TestEnvironment, a scripted network, this
// application's bundle identifier, and every process-wide service forgotten before and after.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "app/core/AppDelegate.h"
#include "app/core/KZAIIPCClient.h"
#include "app/core/KZAIUserManager.h"
#include "app/core/KZBundleInfo.h"
#include "app/core/KZCoreHooks.h"
#include "app/core/KZGlobalNetworkListener.h"
#include "app/core/KZGlobalTimer.h"
#include "app/core/KZSharedPlistManager.h"
#include "app/windows/KZWindowControllerManager.h"
#include "frameworks/HXReport.h"
#include "frameworks/JWAppThemeHelper.h"
#include "frameworks/JWTipManager.h"
#include "frameworks/KZShortcutManager.h"
#include "frameworks/LanguageHelper.h"
#include "frameworks/MachineModel.h"
#include "kit/base/ProcessInfo.h"
#include "kit/base/PropertyList.h"
#include "kit/headless/ScriptedReachability.h"
#include "kit/headless/TestEnvironment.h"
#include "kit/ui/Alert.h"
#include "kit/ui/StatusItem.h"
#include "sdk/core/Frolk.h"

inline void resetProcessServices() {
    AppDelegate::setCurrent(nullptr);
    KZWindowControllerManager::resetManager();
    KZCoreHooks::reset();
    KZAIIPCClient::resetShared();
    KZAIUserManager::resetShared();
    KZSharedPlistManager::resetSharedManager();
    KZGlobalTimer::resetShared();
    KZGlobalNetworkListener::resetShared();
    KZShortcutManager::resetShared();
    JWTipManager::resetManager();
    JWAppThemeHelper::resetForTesting();
    BundleLanguage::resetForTesting();
    MachineModel::setLiquidScreen(std::nullopt);
    HXReport::resetForTesting();
    Frolk::resetForTesting();
    kit::StatusBar::resetSystem();
    kit::Alert::setPresenter(nullptr);
    KZBundleInfo::reload();
}

class CoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        env_ = std::make_unique<kit::TestEnvironment>();
        network_ = std::make_unique<kit::ScriptedReachability>();
        resetProcessServices();
        kit::process::setBundleIdentifier(KZBundleInfo::kBundleIdentifier);
        kit::process::setArguments({"/Applications/Morvane Quarn.app/Contents/Frameworks/QuarnAI.app/Contents/MacOS/QuarnAI"});
    }
    void TearDown() override {
        resetProcessServices();
        network_.reset();
        env_.reset();
    }

    kit::TestEnvironment& env() { return *env_; }
    kit::ScriptedReachability& network() { return *network_; }

    std::filesystem::path configFolder() const {
        return env_->home() / "Library/Application Support/QuarnAI/config";
    }
    std::filesystem::path plistPath() const { return configFolder() / "QuarnAIConfig.plist"; }

    void writeFile(const std::filesystem::path& path, const std::string& bytes) {
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
    }
    static std::string readFile(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    // The settings file as written, or a null value when it is not a property list.
    kit::Value fileValue() {
        auto value = kit::readPropertyListFile(plistPath());
        return value ? *value : kit::Value();
    }
    void writeSettings(const kit::Dictionary& dict) {
        std::filesystem::create_directories(configFolder());
        ASSERT_TRUE(kit::writePropertyListFile(plistPath(), kit::Value(dict)).ok());
    }

    std::vector<HXReportEvent> reportsWithKey(std::int64_t key) {
        std::vector<HXReportEvent> out;
        for (auto& e : HXReport::recordedEvents())
            if (e.key == key && e.method != "initialize") out.push_back(e);
        return out;
    }

private:
    std::unique_ptr<kit::TestEnvironment> env_;
    std::unique_ptr<kit::ScriptedReachability> network_;
};
