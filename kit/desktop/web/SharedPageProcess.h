#pragma once

#include <webkit2/webkit2.h>

#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace kit::desktop {

// One page process that the web views made with the same name (and web context) share: WebKit
// puts a view made related to a live member into that member's process.
//
// Its members' loads start one at a time. WebKitGTK (2.50) lets a second page of a process go
// ahead with a load of a site while the network process is still being told that the process
// may load that site; when the page's first request wins that race, the network process has
// the process ended, with every page in it, and WebKit tells no view. So a load asked for
// waits until the one before it has started, or ended without starting.
class SharedPageProcess {
public:
    using Loader = const void*;

    // The group of `name` in `context`, made when it has no members yet.
    static SharedPageProcess& named(const std::string& name, WebKitWebContext* context);
    // The view leaves every group; a group without members is gone.
    static void leave(WebKitWebView* view);

    // The member a new view is made related to, or null when there is none.
    WebKitWebView* relatedView() const { return members_.empty() ? nullptr : members_.front(); }
    void join(WebKitWebView* view) { members_.push_back(view); }

    // Runs `start` now, or once the loads asked for before it have started. A loader's later
    // load replaces its waiting one.
    void admit(Loader loader, std::function<void()> start);
    // The loader's load has started (or was refused, or failed): the next one may go.
    void started(Loader loader);
    // The loader's load is stopped or the loader is gone: its waiting load is dropped too.
    void withdraw(Loader loader);

private:
    SharedPageProcess(std::string name, WebKitWebContext* context) : name_(std::move(name)), context_(context) {}
    void next();

    std::string name_;
    WebKitWebContext* context_;
    std::vector<WebKitWebView*> members_;
    Loader loading_ = nullptr;
    std::deque<std::pair<Loader, std::function<void()>>> waiting_;
};

}  // namespace kit::desktop
