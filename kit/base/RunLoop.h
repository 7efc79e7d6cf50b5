#pragma once
// The clock and the main run loop. Everything of the application runs on one main loop: posted
// tasks, delayed tasks, timers, cancellable delayed performs. Two implementations exist: a
// virtual-time loop for tests (time moves only when the test advances it) and a GLib main-loop
// one for the real application. The implementation is chosen once, at start-up.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

namespace kit {

using Task = std::function<void()>;
using TaskId = std::uint64_t;

class RunLoop;

// A one-shot or repeating timer. Repeating timers keep their schedule: the next fire date is the
// previous fire date plus the interval (fire dates missed while the loop was busy are skipped).
// The loop holds a scheduled timer until it is invalidated or a one-shot timer has fired.
class Timer : public std::enable_shared_from_this<Timer> {
public:
    using Callback = std::function<void(Timer&)>;

    double interval() const { return interval_; }
    bool repeats() const { return repeats_; }
    bool isValid() const { return valid_; }
    // Stops the timer; safe to call from its own callback and more than once.
    void invalidate();
    // Fires now, out of schedule; a one-shot timer is then invalidated.
    void fire();

    // A repeating interval of zero or less becomes 0.1 ms, so a timer can never spin the loop.
    Timer(RunLoop& loop, double interval, bool repeats, Callback callback);

private:
    friend class RunLoop;
    struct LoopLink;

    void arm(double at);
    void onScheduledFire();

    // Held weakly: a timer may outlive its loop, and then it only forgets its schedule.
    std::weak_ptr<LoopLink> link_;
    double interval_;
    bool repeats_;
    bool valid_ = true;
    double nextFire_ = 0;
    TaskId pending_ = 0;
    Callback callback_;
};

class RunLoop {
public:
    virtual ~RunLoop();

    // The main loop of the process. setMain installs it once at start-up (tests install a
    // virtual loop per test); main() before any setMain installs a virtual loop.
    static RunLoop& main();
    static void setMain(std::shared_ptr<RunLoop> loop);
    static std::shared_ptr<RunLoop> mainShared();

    // Monotonic seconds, for delays and timers.
    virtual double now() const = 0;
    // Wall-clock seconds since 1970, for dates.
    virtual double wallTime() const = 0;

    // Runs a task on a later turn of the loop, after tasks posted before it. Safe from any thread.
    virtual void post(Task task) = 0;
    // Runs a task once the delay has passed. Returns an id for cancel(). Main thread only (the
    // thread that made the loop; checked in debug builds, as the other "main thread only" here).
    virtual TaskId postAfter(double delaySeconds, Task task) = 0;
    // Cancels a delayed task that has not run yet; unknown or finished ids are ignored. Main
    // thread only.
    virtual void cancel(TaskId id) = 0;

    // Runs until quit().
    virtual void run() = 0;
    virtual void quit() = 0;
    // Runs a nested loop (a modal session) until `done` answers true. Timers and delayed tasks
    // keep firing inside it. The virtual loop moves its clock to the next due task while waiting,
    // and returns false when nothing is left to run and `done` is still false (so a test never
    // hangs); the real loop returns true once done.
    virtual bool runNested(const std::function<bool()>& done) = 0;

    // Timers. The returned timer is already scheduled.
    std::shared_ptr<Timer> scheduleTimer(double interval, bool repeats, Timer::Callback callback);

    // Delayed performs keyed by target and name, as a controller's "perform after delay" and
    // "cancel previous perform requests". Several performs with one key may be pending at once.
    // Main thread only.
    void performAfterDelay(const void* target, std::string name, double delaySeconds, Task task);
    // Cancels every pending perform with this target and name.
    void cancelPerforms(const void* target, std::string_view name);
    // Cancels every pending perform of this target.
    void cancelPerforms(const void* target);
    // Number of pending performs with this target and name (for tests and assertions).
    std::size_t pendingPerforms(const void* target, std::string_view name) const;

    // Whether the calling thread is the one that made this loop.
    bool isOwnThread() const { return std::this_thread::get_id() == thread_; }

protected:
    RunLoop();

    // Runs a task at a monotonic time (now() scale). Loops override it to keep a repeating
    // timer's schedule exact; the default converts to a delay.
    virtual TaskId postAt(double monotonicTime, Task task);
    // Drops the timers and performs this loop holds. Implementations call it first in their
    // destructor, while their task queue still exists, so that nothing calls back into a
    // half-destroyed loop.
    void detachTimersAndPerforms();

private:
    friend class Timer;
    struct PerformTable;
    void cancelPerformsMatching(const void* target, const std::string_view* name);
    std::unique_ptr<PerformTable> performs_;
    std::shared_ptr<Timer::LoopLink> timerLink_;
    std::thread::id thread_ = std::this_thread::get_id();
};

// Creates the loops. The virtual loop starts at monotonic time 0 and at the current wall time.
class VirtualRunLoop;
std::shared_ptr<VirtualRunLoop> makeVirtualRunLoop();
std::shared_ptr<RunLoop> makeGlibRunLoop();
// A GLib loop on a main context of its own, for a worker thread: the thread that makes it is its
// own thread (postAfter, cancel, run and quit are for it; post is for any thread). While run()
// runs, the context is the thread's default, so the GLib objects its tasks make call back on it;
// once quit, the outermost run() runs what is already due there (their clean-up) and returns.
// The loop may be released on any thread once it no longer runs.
std::shared_ptr<RunLoop> makeGlibRunLoopWithOwnContext();

// The test loop: nothing runs until the test asks.
class VirtualRunLoop : public RunLoop {
public:
    // Runs every task that is due now (and tasks posted by those), without moving the clock.
    virtual void runUntilIdle() = 0;
    // Moves the clock forward, running every task due on the way in time order, each at its own
    // due time; then runs what is due at the end.
    virtual void advance(double seconds) = 0;
    // Moves the clock to the next due task and runs it; false when none is pending.
    virtual bool runNext() = 0;
    virtual std::size_t pendingTaskCount() const = 0;
    virtual void setWallTime(double secondsSince1970) = 0;
};

}  // namespace kit
