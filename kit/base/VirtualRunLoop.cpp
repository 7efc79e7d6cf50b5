// The test loop. Tasks live in a slot table whose slots are reused, ordered by a binary heap on
// (due time, posting order); a cancelled task frees its slot at once and leaves a stale heap entry
// that is skipped when reached. A repeating timer therefore re-arms without allocating.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <mutex>
#include <vector>

#include "kit/base/MainThread.h"
#include "kit/base/RunLoop.h"

namespace kit {
namespace {

double realWallTime() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

class VirtualRunLoopImpl final : public VirtualRunLoop {
public:
    VirtualRunLoopImpl() : wallBase_(realWallTime()) {}

    ~VirtualRunLoopImpl() override {
        detachTimersAndPerforms();
        std::vector<Slot> slots;
        {
            std::lock_guard lock(mutex_);
            slots.swap(slots_);
            heap_.clear();
        }
        // Tasks are released outside the lock: their captures may post or cancel.
    }

    double now() const override { return now_.load(std::memory_order_relaxed); }

    double wallTime() const override {
        std::lock_guard lock(mutex_);
        return wallBase_ + now_.load(std::memory_order_relaxed);
    }

    void setWallTime(double secondsSince1970) override {
        std::lock_guard lock(mutex_);
        wallBase_ = secondsSince1970 - now_.load(std::memory_order_relaxed);
    }

    void post(Task task) override {
        if (!task) return;
        std::lock_guard lock(mutex_);
        insertLocked(now_.load(std::memory_order_relaxed), std::move(task));
    }

    TaskId postAfter(double delaySeconds, Task task) override {
        KIT_ASSERT_ON_THREAD(isOwnThread());
        if (!task) return 0;
        std::lock_guard lock(mutex_);
        return insertLocked(now_.load(std::memory_order_relaxed) + sanitizeDelay(delaySeconds),
                            std::move(task));
    }

    void cancel(TaskId id) override {
        KIT_ASSERT_ON_THREAD(isOwnThread());
        Task released;
        {
            std::lock_guard lock(mutex_);
            auto index = static_cast<std::uint32_t>(id & 0xFFFFFFFFu);
            auto generation = static_cast<std::uint32_t>(id >> 32);
            if (index == 0 || index > slots_.size()) return;
            Slot& slot = slots_[index - 1];
            if (!slot.live || slot.generation != generation) return;
            released = freeSlotLocked(index - 1);
            ++staleEntries_;
            compactIfStaleLocked();
        }
    }

    void run() override {
        quitRequested_ = false;
        while (!quitRequested_) {
            Task task = takeNext(kForever);
            if (!task) break;
            task();
        }
        quitRequested_ = false;
    }

    void quit() override { quitRequested_ = true; }

    bool runNested(const std::function<bool()>& done) override {
        while (!done()) {
            Task task = takeNext(kForever);
            if (!task) return false;
            task();
        }
        return true;
    }

    void runUntilIdle() override {
        while (Task task = takeNext(now())) task();
    }

    void advance(double seconds) override {
        double target = now() + sanitizeDelay(seconds);
        while (Task task = takeNext(target)) task();
        std::lock_guard lock(mutex_);
        if (now_.load(std::memory_order_relaxed) < target) now_.store(target, std::memory_order_relaxed);
    }

    bool runNext() override {
        Task task = takeNext(kForever);
        if (!task) return false;
        task();
        return true;
    }

    std::size_t pendingTaskCount() const override {
        std::lock_guard lock(mutex_);
        return liveCount_;
    }

protected:
    TaskId postAt(double monotonicTime, Task task) override {
        if (!task) return 0;
        std::lock_guard lock(mutex_);
        double now = now_.load(std::memory_order_relaxed);
        double due = std::isnan(monotonicTime) ? now : std::max(now, monotonicTime);
        return insertLocked(due, std::move(task));
    }

private:
    static constexpr double kForever = std::numeric_limits<double>::infinity();

    struct Slot {
        Task task;
        std::uint32_t generation = 0;
        bool live = false;
    };
    struct Entry {
        double due;
        std::uint64_t order;
        std::uint32_t slot;
        std::uint32_t generation;
    };
    // std::push_heap keeps the greatest on top; "greater" here means later.
    struct Later {
        bool operator()(const Entry& a, const Entry& b) const {
            return a.due != b.due ? a.due > b.due : a.order > b.order;
        }
    };

    static double sanitizeDelay(double seconds) { return seconds > 0 ? seconds : 0; }

    TaskId insertLocked(double due, Task task) {
        std::uint32_t index;
        if (!freeSlots_.empty()) {
            index = freeSlots_.back();
            freeSlots_.pop_back();
        } else {
            index = static_cast<std::uint32_t>(slots_.size());
            slots_.emplace_back();
        }
        Slot& slot = slots_[index];
        slot.task = std::move(task);
        slot.live = true;
        ++liveCount_;
        heap_.push_back({due, nextOrder_++, index, slot.generation});
        std::push_heap(heap_.begin(), heap_.end(), Later{});
        return (static_cast<TaskId>(slot.generation) << 32) | (index + 1);
    }

    Task freeSlotLocked(std::uint32_t index) {
        Slot& slot = slots_[index];
        Task task = std::move(slot.task);
        slot.task = nullptr;
        slot.live = false;
        ++slot.generation;
        --liveCount_;
        freeSlots_.push_back(index);
        return task;
    }

    bool isStale(const Entry& e) const {
        const Slot& slot = slots_[e.slot];
        return !slot.live || slot.generation != e.generation;
    }

    void compactIfStaleLocked() {
        if (staleEntries_ < 64 || staleEntries_ * 2 < heap_.size()) return;
        std::erase_if(heap_, [this](const Entry& e) { return isStale(e); });
        std::make_heap(heap_.begin(), heap_.end(), Later{});
        staleEntries_ = 0;
    }

    // Takes the earliest task due at or before `limit`, moving the clock to its due time.
    Task takeNext(double limit) {
        std::lock_guard lock(mutex_);
        while (!heap_.empty()) {
            const Entry top = heap_.front();
            if (isStale(top)) {
                std::pop_heap(heap_.begin(), heap_.end(), Later{});
                heap_.pop_back();
                if (staleEntries_ > 0) --staleEntries_;
                continue;
            }
            if (top.due > limit) return nullptr;
            std::pop_heap(heap_.begin(), heap_.end(), Later{});
            heap_.pop_back();
            if (top.due > now_.load(std::memory_order_relaxed)) now_.store(top.due, std::memory_order_relaxed);
            return freeSlotLocked(top.slot);
        }
        return nullptr;
    }

    mutable std::mutex mutex_;
    std::vector<Slot> slots_;
    std::vector<std::uint32_t> freeSlots_;
    std::vector<Entry> heap_;
    std::uint64_t nextOrder_ = 0;
    std::size_t liveCount_ = 0;
    std::size_t staleEntries_ = 0;
    std::atomic<double> now_{0};
    double wallBase_;
    bool quitRequested_ = false;
};

}  // namespace

std::shared_ptr<VirtualRunLoop> makeVirtualRunLoop() { return std::make_shared<VirtualRunLoopImpl>(); }

}  // namespace kit
