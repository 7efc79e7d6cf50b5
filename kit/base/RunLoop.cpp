#include "kit/base/RunLoop.h"

#include <cmath>
#include <cstdlib>
#include <map>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

#include "kit/base/Log.h"
#include "kit/base/MainThread.h"

namespace kit {

struct Timer::LoopLink {
    RunLoop* loop = nullptr;
    // The loop's strong hold on every scheduled timer. The tasks that fire a timer capture only a
    // raw pointer, so re-arming a repeating timer allocates nothing; a timer leaves this table
    // (and its pending task is cancelled) before it can be destroyed.
    std::unordered_map<Timer*, std::shared_ptr<Timer>> timers;
};

struct RunLoop::PerformTable {
    struct Entry {
        const void* target;
        std::string name;
        TaskId task;
    };
    std::map<std::uint64_t, Entry> entries;
    std::uint64_t nextSerial = 1;
};

namespace {

std::mutex& mainMutex() {
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<RunLoop>& mainSlot() {
    static std::shared_ptr<RunLoop> loop;
    return loop;
}

constexpr double kMinimumRepeatInterval = 0.0001;

}  // namespace

// ---- Main loop

bool isMainThread() { return RunLoop::main().isOwnThread(); }

void failThreadCheck(const char* operation) {
    logf("%s called from a thread other than its loop's (main thread only)", operation);
    std::abort();
}

RunLoop& RunLoop::main() { return *mainShared(); }

std::shared_ptr<RunLoop> RunLoop::mainShared() {
    std::lock_guard lock(mainMutex());
    auto& slot = mainSlot();
    if (!slot) slot = makeVirtualRunLoop();
    return slot;
}

void RunLoop::setMain(std::shared_ptr<RunLoop> loop) {
    std::shared_ptr<RunLoop> previous;
    {
        std::lock_guard lock(mainMutex());
        previous = std::exchange(mainSlot(), std::move(loop));
    }
    // The previous loop may be destroyed here, outside the lock, since its tasks may ask for
    // the main loop while they are released.
}

RunLoop::RunLoop()
    : performs_(std::make_unique<PerformTable>()), timerLink_(std::make_shared<Timer::LoopLink>()) {
    timerLink_->loop = this;
}

RunLoop::~RunLoop() { detachTimersAndPerforms(); }

void RunLoop::detachTimersAndPerforms() {
    if (!timerLink_) return;
    // Timers released here may run destructors that invalidate other timers; with the link gone
    // those calls no longer reach this loop.
    auto link = std::move(timerLink_);
    link->loop = nullptr;
    auto timers = std::move(link->timers);
    link.reset();
    timers.clear();
    performs_->entries.clear();
}

TaskId RunLoop::postAt(double monotonicTime, Task task) {
    return postAfter(std::max(0.0, monotonicTime - now()), std::move(task));
}

// ---- Timers

Timer::Timer(RunLoop& loop, double interval, bool repeats, Callback callback)
    : link_(loop.timerLink_),
      interval_(repeats && !(interval > kMinimumRepeatInterval) ? kMinimumRepeatInterval
                                                                : std::max(0.0, interval)),
      repeats_(repeats),
      callback_(std::move(callback)) {}

std::shared_ptr<Timer> RunLoop::scheduleTimer(double interval, bool repeats, Timer::Callback callback) {
    auto timer = std::make_shared<Timer>(*this, interval, repeats, std::move(callback));
    timerLink_->timers.emplace(timer.get(), timer);
    timer->arm(now() + timer->interval_);
    return timer;
}

void Timer::arm(double at) {
    auto link = link_.lock();
    if (!link || !link->loop) return;
    nextFire_ = at;
    pending_ = link->loop->postAt(at, [timer = this] { timer->onScheduledFire(); });
}

void Timer::onScheduledFire() {
    pending_ = 0;
    if (!valid_) return;
    auto self = shared_from_this();
    callback_(*this);
    if (!valid_ || pending_ != 0) return;
    if (!repeats_) {
        invalidate();
        return;
    }
    auto link = link_.lock();
    if (!link || !link->loop) return;
    // Keep the schedule; skip fire dates that passed while the callback or the loop was busy.
    double now = link->loop->now();
    double next = nextFire_ + interval_;
    if (next <= now) next += (std::floor((now - next) / interval_) + 1) * interval_;
    arm(next);
}

void Timer::fire() {
    if (!valid_) return;
    auto self = weak_from_this().lock();
    callback_(*this);
    if (!repeats_) invalidate();
}

void Timer::invalidate() {
    if (!valid_) return;
    valid_ = false;
    // The loop's table may hold the last reference; stay alive until this call returns.
    auto self = weak_from_this().lock();
    auto link = link_.lock();
    if (!link || !link->loop) return;
    if (pending_ != 0) link->loop->cancel(std::exchange(pending_, 0));
    link->timers.erase(this);
}

// ---- Delayed performs

void RunLoop::performAfterDelay(const void* target, std::string name, double delaySeconds, Task task) {
    KIT_ASSERT_ON_THREAD(isOwnThread());
    auto serial = performs_->nextSerial++;
    auto id = postAfter(delaySeconds, [this, serial, task = std::move(task)] {
        performs_->entries.erase(serial);
        task();
    });
    performs_->entries.emplace(serial, PerformTable::Entry{target, std::move(name), id});
}

void RunLoop::cancelPerforms(const void* target, std::string_view name) {
    cancelPerformsMatching(target, &name);
}

void RunLoop::cancelPerforms(const void* target) { cancelPerformsMatching(target, nullptr); }

void RunLoop::cancelPerformsMatching(const void* target, const std::string_view* name) {
    KIT_ASSERT_ON_THREAD(isOwnThread());
    // Ids first, cancels after: a cancelled task's captures may cancel more performs as they go.
    std::vector<TaskId> ids;
    auto& entries = performs_->entries;
    for (auto it = entries.begin(); it != entries.end();) {
        if (it->second.target == target && (!name || it->second.name == *name)) {
            ids.push_back(it->second.task);
            it = entries.erase(it);
        } else {
            ++it;
        }
    }
    for (auto id : ids) cancel(id);
}

std::size_t RunLoop::pendingPerforms(const void* target, std::string_view name) const {
    std::size_t n = 0;
    for (const auto& [serial, entry] : performs_->entries)
        if (entry.target == target && entry.name == name) ++n;
    return n;
}

}  // namespace kit
