#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include "kit/base/Paths.h"
#include "kit/base/ProcessInfo.h"
#include "tests/support/ScopedEnvironment.h"

namespace kit {
namespace {
namespace fs = std::filesystem;

TEST(Paths, HomeFollowsTheEnvironmentOnEveryCall) {
    {
        testing::ScopedEnv home("HOME", "/tmp/first-home");
        EXPECT_EQ(paths::home(), fs::path("/tmp/first-home"));
        EXPECT_EQ(paths::applicationSupport(), fs::path("/tmp/first-home/Library/Application Support"));
    }
    testing::ScopedEnv home("HOME", "/tmp/second-home");
    EXPECT_EQ(paths::home(), fs::path("/tmp/second-home"));
}

TEST(Paths, HomeFallsBackToThePasswordDatabase) {
    testing::ScopedEnv home("HOME", std::nullopt);
    const passwd* entry = ::getpwuid(::getuid());
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(paths::home(), fs::path(entry->pw_dir));
    testing::ScopedEnv empty("HOME", "");
    EXPECT_EQ(paths::home(), fs::path(entry->pw_dir));
}

TEST(Paths, SystemPathsResolveUnderTheSystemRoot) {
    {
        testing::ScopedEnv root("QUARN_SYSTEM_ROOT", std::nullopt);
        EXPECT_EQ(paths::systemRoot(), fs::path("/"));
        EXPECT_EQ(paths::resolveSystemPath("/Applications/Morvane Quarn.app"),
                  fs::path("/Applications/Morvane Quarn.app"));
    }
    testing::ScopedEnv root("QUARN_SYSTEM_ROOT", "/tmp/sysroot");
    EXPECT_EQ(paths::systemRoot(), fs::path("/tmp/sysroot"));
    EXPECT_EQ(paths::resolveSystemPath("/Applications/Morvane Quarn.app"),
              fs::path("/tmp/sysroot/Applications/Morvane Quarn.app"));
    EXPECT_EQ(paths::resolveSystemPath("Applications//./X.app/"), fs::path("/tmp/sysroot/Applications/X.app"));
    EXPECT_EQ(paths::resolveSystemPath("/"), fs::path("/tmp/sysroot"));
    EXPECT_EQ(paths::resolveSystemPath(""), fs::path("/tmp/sysroot"));
}

TEST(Paths, DotDotNeverEscapesTheSystemRoot) {
    testing::ScopedEnv root("QUARN_SYSTEM_ROOT", "/tmp/sysroot");
    EXPECT_EQ(paths::resolveSystemPath("/../etc/passwd"), fs::path("/tmp/sysroot/etc/passwd"));
    EXPECT_EQ(paths::resolveSystemPath("/Applications/../../../etc"), fs::path("/tmp/sysroot/etc"));
    EXPECT_EQ(paths::resolveSystemPath("/Applications/X.app/../Y.app"), fs::path("/tmp/sysroot/Applications/Y.app"));
    EXPECT_EQ(paths::resolveSystemPath(".."), fs::path("/tmp/sysroot"));
}

TEST(Paths, ExecutableIsThisTestProgram) {
    auto exe = paths::executablePath();
    EXPECT_TRUE(exe.is_absolute());
    EXPECT_TRUE(fs::exists(exe));
    EXPECT_EQ(paths::executableName(), "test_kit_base");
    ASSERT_FALSE(process::arguments().empty());
    EXPECT_EQ(fs::path(process::arguments().front()).filename(), "test_kit_base");
}

TEST(Paths, ResourcesComeFromTheEnvironmentOrBesideTheExecutable) {
    {
        testing::ScopedEnv dir("QUARN_RESOURCES_DIR", "/tmp/some-resources");
        EXPECT_EQ(paths::resourcesDirectory(), fs::path("/tmp/some-resources"));
    }
    testing::ScopedEnv dir("QUARN_RESOURCES_DIR", std::nullopt);
    auto found = paths::resourcesDirectory();
    // The installed layout, <prefix>/share/quarnai beside <prefix>/bin, comes first; a build
    // folder links it to the sources' resources folder.
    const auto installed = paths::installedDataDirectory();
    EXPECT_EQ(installed, paths::executablePath().parent_path().parent_path() / "share" / "quarnai");
    if (fs::is_directory(installed)) {
        EXPECT_EQ(found, installed);
        EXPECT_TRUE(fs::exists(found / "bridge" / "WebViewJavascriptBridge.js"));
        return;
    }
    EXPECT_EQ(found.filename(), "resources");
    auto exeDir = paths::executablePath().parent_path();
    for (auto folder = exeDir; folder != folder.parent_path(); folder = folder.parent_path()) {
        if (fs::is_directory(folder / "resources")) {
            EXPECT_EQ(found, folder / "resources");
            break;
        }
    }
}

TEST(ProcessInfo, IdsAndBundleIdentifier) {
    EXPECT_EQ(process::processId(), ::getpid());
    EXPECT_EQ(process::userId(), static_cast<int>(::getuid()));
    process::setBundleIdentifier("com.example.test");
    EXPECT_EQ(process::bundleIdentifier(), "com.example.test");
    process::setBundleIdentifier("");
    EXPECT_EQ(process::bundleIdentifier(), "");
}

}  // namespace
}  // namespace kit
