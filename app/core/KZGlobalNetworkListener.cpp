#include "app/core/KZGlobalNetworkListener.h"

#include <algorithm>
#include <sstream>
#include <thread>

#include "app/core/KZBundleInfo.h"
#include "kit/base/Log.h"
#include "kit/base/NotificationCenter.h"

namespace {
std::unique_ptr<KZGlobalNetworkListener>& slot() {
    // Never destroyed: services outlive the static objects they use at exit.
    static auto* listener = new std::unique_ptr<KZGlobalNetworkListener>;
    return *listener;
}

std::string currentThreadDescription() {
    std::ostringstream out;
    out << "<thread " << std::this_thread::get_id() << ">";
    return out.str();
}
}  // namespace

KZGlobalNetworkListener& KZGlobalNetworkListener::shared() {
    auto& s = slot();
    if (!s) s = std::make_unique<KZGlobalNetworkListener>();
    return *s;
}

void KZGlobalNetworkListener::resetShared() { slot().reset(); }

KZGlobalNetworkListener::~KZGlobalNetworkListener() {
    observerToken_.reset();
    if (reachAbility_) reachAbility_->stopNotifier();
}

void KZGlobalNetworkListener::start() {
    currentState_ = Unknown;
    // A second start replaces the first watch rather than adding one.
    if (reachAbility_) reachAbility_->stopNotifier();
    observerToken_ = kit::NotificationCenter::defaultCenter().addObserverForName(
        kReachabilityChangedNotification, nullptr, [this](const kit::Notification&) { reachabilityChanged(); });
    reachAbility_ = Reachability::reachabilityWithHostName(KZBundleInfo::reachabilityProbeHost());
    if (reachAbility_) reachAbility_->startNotifier();
}

void KZGlobalNetworkListener::stop() {
    weakTable_.clear();
    observerToken_.reset();
    if (reachAbility_) reachAbility_->stopNotifier();
}

bool KZGlobalNetworkListener::isReachable() { return reachAbility_ && reachAbility_->isReachable(); }

void KZGlobalNetworkListener::registerListener(const std::shared_ptr<KZGlobalNetworkListenerDelegate>& listener) {
    if (!listener) return;
    std::erase_if(weakTable_, [](const auto& w) { return w.expired(); });
    for (const auto& w : weakTable_)
        if (w.lock() == listener) return;
    weakTable_.push_back(listener);
}

void KZGlobalNetworkListener::unregisterListener(const KZGlobalNetworkListenerDelegate* listener) {
    std::erase_if(weakTable_, [&](const auto& w) {
        auto l = w.lock();
        return !l || l.get() == listener;
    });
}

std::size_t KZGlobalNetworkListener::listenerCount() const {
    return static_cast<std::size_t>(
        std::count_if(weakTable_.begin(), weakTable_.end(), [](const auto& w) { return !w.expired(); }));
}

void KZGlobalNetworkListener::reachabilityChanged() {
    bool reachable = isReachable();
    kit::logf("[GlobalNetworkListener] network reachable changed : %d , thread = %s", reachable ? 1 : 0,
              currentThreadDescription().c_str());
    if (currentState_ == Unknown) {
        currentState_ = reachable ? Reachable : Unreachable;
        return;
    }
    if ((currentState_ == Reachable) == reachable) return;
    currentState_ = reachable ? Reachable : Unreachable;
    kit::logf("[GlobalNetworkListener] send network reachable changed : %d", reachable ? 1 : 0);
    std::vector<std::shared_ptr<KZGlobalNetworkListenerDelegate>> live;
    for (const auto& w : weakTable_)
        if (auto l = w.lock()) live.push_back(std::move(l));
    for (const auto& listener : live) listener->onReceiveNetworkChanged(reachable);
}
