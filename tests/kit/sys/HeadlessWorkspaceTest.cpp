#include "kit/headless/HeadlessWorkspace.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "kit/base/NotificationCenter.h"
#include "kit/base/Paths.h"
#include "kit/base/ProcessInfo.h"
#include "kit/base/UserDefaults.h"
#include "kit/headless/TestEnvironment.h"

namespace kit {
namespace {

struct Seen {
    std::string name;
    std::string bundleIdentifier;
    std::int64_t processId;
    const void* object;
};

class HeadlessWorkspaceTest : public ::testing::Test {
protected:
    TestEnvironment env;
    std::vector<Seen> seen;
    std::shared_ptr<void> launchToken;
    std::shared_ptr<void> terminateToken;

    void SetUp() override {
        auto record = [this](const Notification& n) {
            seen.push_back({n.name, n.userInfo["NSApplicationBundleIdentifier"].asString()
                                        ? *n.userInfo["NSApplicationBundleIdentifier"].asString()
                                        : "",
                            n.userInfo["NSApplicationProcessIdentifier"].integerValue(), n.object});
        };
        auto& center = Workspace::shared().notificationCenter();
        launchToken = center.addObserverForName(kWorkspaceDidLaunchApplication, nullptr, record);
        terminateToken = center.addObserverForName(kWorkspaceDidTerminateApplication, nullptr, record);
    }
};

TEST_F(HeadlessWorkspaceTest, addingAndRemovingApplicationsPostsLaunchAndTerminationLater) {
    EXPECT_EQ(&Workspace::shared(), &env.workspace());
    int pid = env.workspace().addRunningApplication("com.morvane.Quarn", 4242);
    EXPECT_EQ(pid, 4242);
    int other = env.workspace().addRunningApplication("com.morvane.QuarnGetText");
    EXPECT_NE(other, 0);
    EXPECT_TRUE(seen.empty());
    env.runUntilIdle();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].name, kWorkspaceDidLaunchApplication);
    EXPECT_EQ(seen[0].bundleIdentifier, "com.morvane.Quarn");
    EXPECT_EQ(seen[0].processId, 4242);
    EXPECT_EQ(seen[0].object, &env.workspace());

    ASSERT_EQ(env.workspace().runningApplications("com.morvane.Quarn").size(), 1u);
    EXPECT_EQ(env.workspace().runningApplications("").size(), 2u);
    EXPECT_TRUE(env.workspace().runningApplications("com.other").empty());

    EXPECT_TRUE(env.workspace().removeRunningApplication("com.morvane.Quarn"));
    EXPECT_FALSE(env.workspace().removeRunningApplication("com.morvane.Quarn"));
    env.runUntilIdle();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[2].name, kWorkspaceDidTerminateApplication);
    EXPECT_EQ(seen[2].processId, 4242);
    EXPECT_TRUE(env.workspace().runningApplications("com.morvane.Quarn").empty());
}

TEST_F(HeadlessWorkspaceTest, registeringClaimsTheIdentifierOnlyWhenNobodyHoldsIt) {
    env.workspace().addRunningApplication("com.morvane.QuarnAIAssistant", 77);
    EXPECT_FALSE(env.workspace().registerApplication("com.morvane.QuarnAIAssistant"));
    EXPECT_FALSE(env.workspace().registerApplication("not a name"));
    EXPECT_TRUE(env.workspace().registerApplication("com.morvane.Mine"));
    EXPECT_TRUE(env.workspace().registerApplication("com.morvane.Mine"));
    auto mine = env.workspace().runningApplications("com.morvane.Mine");
    ASSERT_EQ(mine.size(), 1u);
    EXPECT_EQ(mine[0].processId, process::processId());
}

TEST_F(HeadlessWorkspaceTest, activatingOurselvesAsksTheInterfaceToComeForward) {
    process::setBundleIdentifier("com.morvane.QuarnAIAssistant");
    std::vector<std::int64_t> requests;
    auto token = NotificationCenter::defaultCenter().addObserverForName(
        kApplicationActivateRequest, nullptr,
        [&](const Notification& n) { requests.push_back(n.userInfo["options"].integerValue()); });
    env.workspace().activate("com.morvane.QuarnAIAssistant", 3);
    env.workspace().activate("com.morvane.Quarn", 1);
    ASSERT_EQ(env.workspace().activations().size(), 2u);
    EXPECT_EQ(env.workspace().activations()[1].bundleIdentifier, "com.morvane.Quarn");
    EXPECT_EQ(requests, std::vector<std::int64_t>{3});
}

TEST_F(HeadlessWorkspaceTest, launchesAreRecordedAndStartOnlyWhatTheTestConfigured) {
    EXPECT_FALSE(env.workspace().launchApplication("/Applications/Missing.app", {"x"}, LaunchDefault));
    env.workspace().setLaunchStartsApplication("/Applications/Morvane Quarn.app", "com.morvane.Quarn");
    EXPECT_TRUE(env.workspace().launchApplication("/Applications/Morvane Quarn.app", {"2", "ai"},
                                                  LaunchWithoutAddingToRecents));
    ASSERT_EQ(env.workspace().launches().size(), 2u);
    const auto& launch = env.workspace().launches()[1];
    EXPECT_EQ(launch.arguments, (std::vector<std::string>{"2", "ai"}));
    EXPECT_EQ(launch.options, 256u);
    EXPECT_EQ(env.workspace().runningApplications("com.morvane.Quarn").size(), 1u);
    env.runUntilIdle();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].bundleIdentifier, "com.morvane.Quarn");

    EXPECT_TRUE(env.workspace().openURL("https://example.com/a"));
    env.workspace().setOpenURLResult(false);
    EXPECT_FALSE(env.workspace().openURL("x:y"));
    EXPECT_EQ(env.workspace().openedURLs(), (std::vector<std::string>{"https://example.com/a", "x:y"}));
}

TEST_F(HeadlessWorkspaceTest, aWorkspaceReleasedBeforeItsNotificationsRunIsNotTouched) {
    auto workspace = std::make_shared<HeadlessWorkspace>();
    int delivered = 0;
    auto token = workspace->notificationCenter().addObserverForName("", nullptr,
                                                                    [&](const Notification&) { ++delivered; });
    workspace->addRunningApplication("com.a.b");
    workspace.reset();
    env.runUntilIdle();
    EXPECT_EQ(delivered, 0);
}

TEST(TestEnvironment, providesAFreshMachineAndPutsEverythingBack) {
    const char* homeBefore = std::getenv("HOME");
    std::string savedHome = homeBefore ? homeBefore : "";
    bool hadSystemRoot = std::getenv("QUARN_SYSTEM_ROOT") != nullptr;
    auto loopBefore = RunLoop::mainShared();
    auto centerBefore = DistributedNotificationCenter::installedDefault();
    auto workspaceBefore = Workspace::installedShared();
    std::filesystem::path root;
    {
        TestEnvironment env;
        root = env.root();
        EXPECT_TRUE(std::filesystem::is_directory(env.home()));
        EXPECT_EQ(paths::home(), env.home());
        EXPECT_EQ(paths::systemRoot(), env.systemRoot());
        EXPECT_EQ(&RunLoop::main(), &env.loop());
        EXPECT_EQ(&DistributedNotificationCenter::defaultCenter(), &env.distributedCenter());
        EXPECT_EQ(&Workspace::shared(), &env.workspace());
        EXPECT_EQ(UserDefaults::standard().filePath().string().rfind(env.home().string(), 0), 0u);

        auto bundle = env.makeSystemFolder("/Applications/Morvane Quarn.app");
        EXPECT_EQ(bundle, env.systemRoot() / "Applications" / "Morvane Quarn.app");
        EXPECT_TRUE(std::filesystem::is_directory(bundle));
        std::ofstream(env.home() / "file") << "x";

        bool ran = false;
        env.loop().postAfter(10, [&] { ran = true; });
        env.advance(9.5);
        EXPECT_FALSE(ran);
        env.advance(0.5);
        EXPECT_TRUE(ran);
        logLine("captured line");
        EXPECT_TRUE(env.log().contains("captured line"));
    }
    EXPECT_FALSE(std::filesystem::exists(root));
    const char* homeAfter = std::getenv("HOME");
    EXPECT_EQ(homeAfter ? homeAfter : "", savedHome);
    EXPECT_EQ(std::getenv("QUARN_SYSTEM_ROOT") != nullptr, hadSystemRoot);
    EXPECT_EQ(RunLoop::mainShared(), loopBefore);
    EXPECT_EQ(DistributedNotificationCenter::installedDefault(), centerBefore);
    EXPECT_EQ(Workspace::installedShared(), workspaceBefore);
}

}  // namespace
}  // namespace kit
