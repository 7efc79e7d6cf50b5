#include "kit/headless/TestEnvironment.h"

#include <cstdlib>
#include <stdexcept>
#include <system_error>

#include "kit/base/Paths.h"
#include "kit/base/ProcessInfo.h"
#include "kit/base/UserDefaults.h"

namespace kit {

namespace {

std::filesystem::path makeTemporaryFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/quarn-test-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        throw std::system_error(errno, std::generic_category(), "cannot create a temporary folder");
    return pattern;
}

}  // namespace

TestEnvironment::TestEnvironment(bool silentLog) {
    log_ = std::make_unique<LogCapture>(silentLog);

    root_ = makeTemporaryFolder();
    home_ = root_ / "home";
    systemRoot_ = root_ / "system";
    std::filesystem::create_directories(home_);
    std::filesystem::create_directories(systemRoot_);
    setVariable("HOME", home_.string());
    setVariable("QUARN_SYSTEM_ROOT", systemRoot_.string());
    UserDefaults::resetStandard();
    previousBundleIdentifier_ = process::bundleIdentifier();
    previousArguments_ = process::arguments();

    previousLoop_ = RunLoop::mainShared();
    loop_ = makeVirtualRunLoop();
    RunLoop::setMain(loop_);

    previousCenter_ = DistributedNotificationCenter::installedDefault();
    bus_ = InMemoryDistributedBus::create();
    center_ = bus_->makeCenter("self");
    DistributedNotificationCenter::setDefault(center_);

    previousWorkspace_ = Workspace::installedShared();
    workspace_ = std::make_shared<HeadlessWorkspace>();
    Workspace::setShared(workspace_);
}

TestEnvironment::~TestEnvironment() {
    Workspace::setShared(previousWorkspace_);
    workspace_.reset();
    DistributedNotificationCenter::setDefault(previousCenter_);
    center_.reset();
    bus_.reset();
    RunLoop::setMain(previousLoop_);
    loop_.reset();

    process::setArguments(previousArguments_);
    process::setBundleIdentifier(previousBundleIdentifier_);
    UserDefaults::resetStandard();
    for (auto it = savedVariables_.rbegin(); it != savedVariables_.rend(); ++it) {
        if (it->value) ::setenv(it->name.c_str(), it->value->c_str(), 1);
        else ::unsetenv(it->name.c_str());
    }
    std::error_code error;
    std::filesystem::remove_all(root_, error);
    log_.reset();
}

void TestEnvironment::setVariable(const char* name, const std::string& value) {
    const char* old = std::getenv(name);
    savedVariables_.push_back({name, old ? std::optional<std::string>(old) : std::nullopt});
    ::setenv(name, value.c_str(), 1);
}

std::filesystem::path TestEnvironment::makeSystemFolder(std::string_view platformPath) {
    std::filesystem::path folder = paths::resolveSystemPath(platformPath);
    std::filesystem::create_directories(folder);
    return folder;
}

std::shared_ptr<InMemoryDistributedNotificationCenter> TestEnvironment::makeProcessCenter(std::string label) {
    return bus_->makeCenter(std::move(label));
}

}  // namespace kit
