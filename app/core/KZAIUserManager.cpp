#include "app/core/KZAIUserManager.h"

#include <memory>

#include "app/core/KZSharedPlistManager.h"

namespace {
std::unique_ptr<KZAIUserManager>& slot() {
    // Never destroyed: services outlive the static objects they use at exit.
    static auto* manager = new std::unique_ptr<KZAIUserManager>;
    return *manager;
}
}  // namespace

KZAIUserManager& KZAIUserManager::shared() {
    auto& s = slot();
    if (!s) s = std::make_unique<KZAIUserManager>();
    return *s;
}

void KZAIUserManager::resetShared() { slot().reset(); }

KZAIUserManager::KZAIUserManager() {
    const kit::Value info(KZSharedPlistManager::sharedManager().db_authUserInfo());
    isUserLogin_ = info["state"].integerValue() == 0;
    userAvatar_ = info["avatar"].asString() ? *info["avatar"].asString() : "";
    curUserName_ = info["userName"].asString() ? *info["userName"].asString() : "";
}
