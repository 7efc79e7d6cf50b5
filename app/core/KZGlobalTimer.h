#pragma once
// One tick a second, fanned out to weakly held listeners. The timer starts when the service is
// first used and never stops. A tick walks a snapshot of the live listeners, so listeners may
// register or unregister (themselves or others) while being called.

#include <memory>
#include <mutex>
#include <vector>

namespace kit {
class Timer;
}

class KZGlobalTimer;

class KZGlobalTimerDelegate {
public:
    virtual ~KZGlobalTimerDelegate() = default;
    virtual void onTimerTick(KZGlobalTimer& timer) = 0;
};

class KZGlobalTimer {
public:
    static KZGlobalTimer& shared();
    // Stops and forgets the shared timer (tests install a new loop per test).
    static void resetShared();

    KZGlobalTimer();
    ~KZGlobalTimer();

    // Adds a listener unless it is null or already present; held weakly.
    void registerListener(const std::shared_ptr<KZGlobalTimerDelegate>& listener);
    // Removes a listener when present.
    void unregisterListener(const KZGlobalTimerDelegate* listener);
    std::size_t listenerCount() const;

private:
    void __onClockTick();

    mutable std::mutex mutex_;
    std::vector<std::weak_ptr<KZGlobalTimerDelegate>> weakTable_;
    std::shared_ptr<kit::Timer> timer_;
};
