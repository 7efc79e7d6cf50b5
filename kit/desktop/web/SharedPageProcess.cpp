#include "kit/desktop/web/SharedPageProcess.h"

#include <list>

namespace kit::desktop {

namespace {

// A list: members keep the address of their group while others come and go.
std::list<SharedPageProcess>& groups() {
    static std::list<SharedPageProcess> all;
    return all;
}

}  // namespace

SharedPageProcess& SharedPageProcess::named(const std::string& name, WebKitWebContext* context) {
    auto& all = groups();
    for (auto& group : all)
        if (group.name_ == name && group.context_ == context) return group;
    return all.emplace_back(SharedPageProcess(name, context));
}

void SharedPageProcess::leave(WebKitWebView* view) {
    auto& all = groups();
    for (auto& group : all) std::erase(group.members_, view);
    all.remove_if([](const SharedPageProcess& group) { return group.members_.empty(); });
}

void SharedPageProcess::admit(Loader loader, std::function<void()> start) {
    if (loading_ && loading_ != loader) {
        std::erase_if(waiting_, [loader](const auto& entry) { return entry.first == loader; });
        waiting_.emplace_back(loader, std::move(start));
        return;
    }
    loading_ = loader;
    start();
}

void SharedPageProcess::started(Loader loader) {
    if (loading_ != loader) return;
    loading_ = nullptr;
    next();
}

void SharedPageProcess::withdraw(Loader loader) {
    std::erase_if(waiting_, [loader](const auto& entry) { return entry.first == loader; });
    started(loader);
}

void SharedPageProcess::next() {
    if (loading_ || waiting_.empty()) return;
    auto [loader, start] = std::move(waiting_.front());
    waiting_.pop_front();
    loading_ = loader;
    start();
}

}  // namespace kit::desktop
