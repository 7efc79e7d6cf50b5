#include "app/core/KZGlobalTimer.h"

#include <algorithm>

#include "kit/base/RunLoop.h"

namespace {
std::unique_ptr<KZGlobalTimer>& slot() {
    // Never destroyed: services outlive the static objects they use at exit.
    static auto* timer = new std::unique_ptr<KZGlobalTimer>;
    return *timer;
}
}  // namespace

KZGlobalTimer& KZGlobalTimer::shared() {
    auto& s = slot();
    if (!s) s = std::make_unique<KZGlobalTimer>();
    return *s;
}

void KZGlobalTimer::resetShared() { slot().reset(); }

KZGlobalTimer::KZGlobalTimer() {
    timer_ = kit::RunLoop::main().scheduleTimer(1.0, true, [this](kit::Timer&) { __onClockTick(); });
}

KZGlobalTimer::~KZGlobalTimer() {
    if (timer_) timer_->invalidate();
}

void KZGlobalTimer::registerListener(const std::shared_ptr<KZGlobalTimerDelegate>& listener) {
    if (!listener) return;
    std::lock_guard lock(mutex_);
    std::erase_if(weakTable_, [](const auto& w) { return w.expired(); });
    for (const auto& w : weakTable_)
        if (w.lock() == listener) return;
    weakTable_.push_back(listener);
}

void KZGlobalTimer::unregisterListener(const KZGlobalTimerDelegate* listener) {
    std::lock_guard lock(mutex_);
    std::erase_if(weakTable_, [&](const auto& w) {
        auto l = w.lock();
        return !l || l.get() == listener;
    });
}

std::size_t KZGlobalTimer::listenerCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(std::count_if(weakTable_.begin(), weakTable_.end(),
                                                  [](const auto& w) { return !w.expired(); }));
}

void KZGlobalTimer::__onClockTick() {
    std::vector<std::shared_ptr<KZGlobalTimerDelegate>> live;
    {
        std::lock_guard lock(mutex_);
        for (const auto& w : weakTable_)
            if (auto l = w.lock()) live.push_back(std::move(l));
    }
    for (const auto& listener : live) listener->onTimerTick(*this);
}
