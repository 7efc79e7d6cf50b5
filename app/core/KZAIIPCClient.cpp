#include "app/core/KZAIIPCClient.h"

#include <memory>

#include "kit/base/Log.h"
#include "kit/sys/DistributedNotificationCenter.h"

namespace {
std::unique_ptr<KZAIIPCClient>& slot() {
    // Never destroyed: services outlive the static objects they use at exit.
    static auto* client = new std::unique_ptr<KZAIIPCClient>;
    return *client;
}
}  // namespace

KZAIIPCClient& KZAIIPCClient::shared() {
    auto& s = slot();
    if (!s) s = std::make_unique<KZAIIPCClient>();
    return *s;
}

void KZAIIPCClient::resetShared() { slot().reset(); }

void KZAIIPCClient::registerObservers() {
    // The observed names and their handlers come with the IPC work.
}

void KZAIIPCClient::unregisterObservers() {}

void KZAIIPCClient::ai2main_showAIStatusItemChangedNotification(bool show) {
    kit::logLine("AIIPC-- sendShowAIStatusItemChangedNotification");
    kit::Dictionary userInfo{{"code", std::int64_t{1}},
                             {"message", "ai2main_showAIStatusItemChangedNotification"},
                             {"data", show}};
    kit::DistributedNotificationCenter::defaultCenter().post(kShowAIStatusItemChangedToHost, {},
                                                             kit::Value(std::move(userInfo)));
}

void KZAIIPCClient::handleText2AIEventWithArguments(const std::vector<std::string>& arguments) {
    std::string text;
    for (const auto& a : arguments) {
        if (!text.empty()) text += ", ";
        text += a;
    }
    kit::logf("[KZAIIPCClientHandler] event arguments: (%s)", text.c_str());
}
