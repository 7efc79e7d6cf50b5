#pragma once
// Reachability of the probe host, fanned out to weakly held listeners. The first report after
// start() only sets the state; listeners hear of actual changes after it. Fan-out walks a
// snapshot of the live listeners, so listeners may register or unregister while being called.

#include <memory>
#include <vector>

#include "app/core/Reachability.h"

class KZGlobalNetworkListenerDelegate {
public:
    virtual ~KZGlobalNetworkListenerDelegate() = default;
    virtual void onReceiveNetworkChanged(bool reachable) = 0;
};

class KZGlobalNetworkListener {
public:
    enum State : int { Unknown = 0, Reachable = 1, Unreachable = 2 };

    static KZGlobalNetworkListener& shared();
    static void resetShared();

    ~KZGlobalNetworkListener();

    void start();
    void stop();
    bool isReachable();
    int currentState() const { return currentState_; }
    const std::shared_ptr<Reachability>& reachAbility() const { return reachAbility_; }

    void registerListener(const std::shared_ptr<KZGlobalNetworkListenerDelegate>& listener);
    void unregisterListener(const KZGlobalNetworkListenerDelegate* listener);
    std::size_t listenerCount() const;

private:
    void reachabilityChanged();

    std::shared_ptr<Reachability> reachAbility_;
    std::vector<std::weak_ptr<KZGlobalNetworkListenerDelegate>> weakTable_;
    int currentState_ = Unknown;
    std::shared_ptr<void> observerToken_;
};
