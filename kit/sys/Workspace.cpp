#include "kit/sys/Workspace.h"

#include <gio/gio.h>

#include <mutex>

#include "kit/base/Log.h"
#include "kit/sys/DBusWorkspace.h"

namespace kit {

namespace {

std::mutex& sharedMutex() {
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<Workspace>& sharedSlot() {
    static std::shared_ptr<Workspace> workspace;
    return workspace;
}

}  // namespace

Workspace& Workspace::shared() {
    std::lock_guard lock(sharedMutex());
    auto& slot = sharedSlot();
    if (!slot) {
        auto connected = DBusWorkspace::connect();
        if (connected) {
            slot = std::move(*connected);
        } else {
            logf("[Workspace] %s; no running applications can be seen", connected.error().c_str());
            slot = DBusWorkspace::disconnected();
        }
    }
    return *slot;
}

void Workspace::setShared(std::shared_ptr<Workspace> workspace) {
    std::shared_ptr<Workspace> previous;
    {
        std::lock_guard lock(sharedMutex());
        previous = std::exchange(sharedSlot(), std::move(workspace));
    }
}

std::filesystem::path bundleExecutablePath(const std::filesystem::path& bundle) {
    std::filesystem::path folder = bundle;
    while (folder.has_parent_path() && folder.filename().empty()) folder = folder.parent_path();
    std::string name = folder.filename().string();
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".app") == 0) name.resize(name.size() - 4);
    return folder / "Contents" / "MacOS" / name;
}

bool Workspace::activateFileViewerSelectingURLs(const std::vector<std::filesystem::path>& files) {
    if (files.empty()) return false;
    gchar* uri = g_filename_to_uri(files.front().parent_path().c_str(), nullptr, nullptr);
    if (!uri) {
        logf("[Workspace] cannot show %s: not an absolute path", files.front().c_str());
        return false;
    }
    const std::string folder = uri;
    g_free(uri);
    return openURL(folder);
}

std::shared_ptr<Workspace> Workspace::installedShared() {
    std::lock_guard lock(sharedMutex());
    return sharedSlot();
}

}  // namespace kit
