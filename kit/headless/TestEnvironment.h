#pragma once
// Everything a unit test needs in place of the machine, set up for the life of one object:
//   - a fresh temporary folder holding the home folder (HOME) and the system root
//     (QUARN_SYSTEM_ROOT), removed afterwards;
//   - a virtual run loop installed as RunLoop::main();
//   - an in-memory distributed bus with this process's centre installed as the default
//     distributed centre (more "processes" with makeProcessCenter);
//   - a HeadlessWorkspace installed as Workspace::shared();
//   - a LogCapture collecting the log lines;
//   - the standard user defaults forgotten, so that they read the temporary home.
// The destructor puts back everything it replaced (environment, loop, centre, workspace, bundle
// identifier, arguments). One environment at a time.
//
// Typical use:
//   kit::TestEnvironment env;
//   env.workspace().addRunningApplication("com.morvane.Quarn");
//   ... code under test ...
//   env.runUntilIdle();
//   EXPECT_EQ(env.distributedBus().postCount("kA2M_..."), 1u);
//
// Other layers extend this class (windows, application core): add members here, set them up in
// the constructor and undo them in the destructor, in reverse order.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kit/base/Log.h"
#include "kit/base/RunLoop.h"
#include "kit/headless/HeadlessWorkspace.h"
#include "kit/headless/InMemoryDistributedNotificationCenter.h"

namespace kit {

class TestEnvironment {
public:
    // Log lines reach the standard error stream too unless `silentLog`.
    explicit TestEnvironment(bool silentLog = true);
    ~TestEnvironment();
    TestEnvironment(const TestEnvironment&) = delete;
    TestEnvironment& operator=(const TestEnvironment&) = delete;

    // The temporary folder, and the home and system root inside it (both exist).
    const std::filesystem::path& root() const { return root_; }
    const std::filesystem::path& home() const { return home_; }
    const std::filesystem::path& systemRoot() const { return systemRoot_; }
    // Creates the folder at a platform path under the system root (with its parents) and returns
    // it, e.g. makeSystemFolder("/Applications/Morvane Quarn.app").
    std::filesystem::path makeSystemFolder(std::string_view platformPath);

    VirtualRunLoop& loop() { return *loop_; }
    // Shortcuts to the loop.
    void runUntilIdle() { loop_->runUntilIdle(); }
    void advance(double seconds) { loop_->advance(seconds); }

    InMemoryDistributedBus& distributedBus() { return *bus_; }
    // This process's centre (the installed default).
    InMemoryDistributedNotificationCenter& distributedCenter() { return *center_; }
    // Another simulated process on the same bus ("host", "tool", ...).
    std::shared_ptr<InMemoryDistributedNotificationCenter> makeProcessCenter(std::string label);

    HeadlessWorkspace& workspace() { return *workspace_; }
    LogCapture& log() { return *log_; }

private:
    struct SavedVariable {
        std::string name;
        std::optional<std::string> value;
    };
    void setVariable(const char* name, const std::string& value);

    std::vector<SavedVariable> savedVariables_;
    std::shared_ptr<RunLoop> previousLoop_;
    std::shared_ptr<DistributedNotificationCenter> previousCenter_;
    std::shared_ptr<Workspace> previousWorkspace_;
    std::string previousBundleIdentifier_;
    std::vector<std::string> previousArguments_;

    std::filesystem::path root_;
    std::filesystem::path home_;
    std::filesystem::path systemRoot_;
    std::unique_ptr<LogCapture> log_;
    std::shared_ptr<VirtualRunLoop> loop_;
    std::shared_ptr<InMemoryDistributedBus> bus_;
    std::shared_ptr<InMemoryDistributedNotificationCenter> center_;
    std::shared_ptr<HeadlessWorkspace> workspace_;
};

}  // namespace kit
