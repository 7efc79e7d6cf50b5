// A second process for the D-Bus tests, driven by distributed notifications on the bus named by
// DBUS_SESSION_BUS_ADDRESS. Usage: test_kit_sys_peer <label> [--register <bundle id>]
//   posts "test.peer.ready" {"label", "pid", "registered", "arguments" (the others)} once it
//   listens;
//   "test.ping" (any object)            -> "test.pong", same object and user info, plus "from";
//   "test.peer.register" (object label) -> registers userInfo["id"], answers
//                                          "test.peer.registered" {"id", "ok", "pid"};
//   "test.peer.exit" (object label)     -> exits;
//   an activation request (Activate called on our bus object) -> "test.peer.activated" {"options"}.
// It also exits when the bus goes away, or after two minutes, so it never outlives a test.

#include <unistd.h>

#include <cstdio>
#include <string>

#include "kit/base/NotificationCenter.h"
#include "kit/base/ProcessInfo.h"
#include "kit/base/RunLoop.h"
#include "kit/sys/DBusDistributedNotificationCenter.h"
#include "kit/sys/DBusWorkspace.h"

int main(int argc, char** argv) {
    std::string label = argc > 1 ? argv[1] : "peer";
    std::string registerAtStart;
    kit::Array arguments;
    for (int i = 2; i < argc; ++i) {
        if (std::string(argv[i]) == "--register" && i + 1 < argc) registerAtStart = argv[++i];
        else arguments.emplace_back(argv[i]);
    }

    auto loop = kit::makeGlibRunLoop();
    kit::RunLoop::setMain(loop);

    auto centerResult = kit::DBusDistributedNotificationCenter::connect();
    auto workspaceResult = kit::DBusWorkspace::connect();
    if (!centerResult || !workspaceResult) {
        std::fprintf(stderr, "peer %s: %s%s\n", label.c_str(), centerResult.error().c_str(),
                     workspaceResult.error().c_str());
        return 2;
    }
    auto center = *centerResult;
    auto workspace = *workspaceResult;
    int pid = kit::process::processId();

    auto ping = center->addObserver("test.ping", std::nullopt, [&](const kit::DistributedNotification& n) {
        kit::Value info = n.userInfo.isNull() ? kit::Value(kit::Dictionary{}) : n.userInfo;
        if (auto* dictionary = info.asDictionary()) dictionary->set("from", label);
        center->post("test.pong", n.object, info);
    });
    auto reg = center->addObserver("test.peer.register", label, [&](const kit::DistributedNotification& n) {
        std::string id = n.userInfo["id"].asString() ? *n.userInfo["id"].asString() : "";
        bool ok = workspace->registerApplication(id);
        center->post("test.peer.registered", label,
                     kit::Value(kit::Dictionary{{"id", id}, {"ok", ok}, {"pid", pid}}));
    });
    auto quit = center->addObserver("test.peer.exit", label, [&](const kit::DistributedNotification&) {
        center->flush();
        loop->quit();
    });
    auto activated = kit::NotificationCenter::defaultCenter().addObserverForName(
        kit::kApplicationActivateRequest, nullptr, [&](const kit::Notification& n) {
            center->post("test.peer.activated", label, kit::Value(kit::Dictionary{{"options", n.userInfo["options"]}}));
        });

    auto watchdog = loop->scheduleTimer(0.2, true, [&, started = loop->now()](kit::Timer&) {
        if (!center->isConnected() || !workspace->isConnected() || loop->now() - started > 120) loop->quit();
    });

    bool registered = registerAtStart.empty() || workspace->registerApplication(registerAtStart);
    center->post("test.peer.ready", label,
                 kit::Value(kit::Dictionary{
                     {"label", label}, {"pid", pid}, {"registered", registered}, {"arguments", arguments}}));
    loop->run();
    watchdog->invalidate();
    center->flush();
    return 0;
}
