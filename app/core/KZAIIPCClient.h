#pragma once
// The channel to the host application and the text-grabbing tool over distributed
// notifications. Start-up needs its shape now: the observers (none registered yet), the
// status-item handler, the launch-argument dispatcher (it only logs for now) and the status-item
// notification to the host, which is complete.

#include <functional>
#include <string>
#include <vector>

class KZAIIPCClient {
public:
    static constexpr const char* kShowAIStatusItemChangedToHost = "kA2M_KZAIIPCShowAIStatusItemChangedNotification";

    static KZAIIPCClient& shared();
    static void resetShared();

    void registerObservers();
    void unregisterObservers();

    // Receives the host's status-item choice; set by the application delegate.
    std::function<void(bool)> showStatusBarChangedHandler;

    // Tells the host that this application turned its status item on or off.
    void ai2main_showAIStatusItemChangedNotification(bool show);

    // An argument array whose element 1 is an event code "1" to "6".
    void handleText2AIEventWithArguments(const std::vector<std::string>& arguments);
};
