// The application's loop on GLib's default main context, and worker threads' loops on contexts of
// their own. Posted tasks go through one queue and
// one source: posting only signals the context when the queue goes from empty to non-empty.
// Delayed tasks are one source each, with a ready time in monotonic microseconds; GLib runs the
// sources that are ready in one iteration in the order they were attached, so the first of them
// to dispatch runs every task that is due by then in due order.

#include <glib.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <exception>
#include <mutex>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

#include "kit/base/Log.h"
#include "kit/base/MainThread.h"
#include "kit/base/RunLoop.h"

namespace kit {
namespace {

class GlibRunLoop;

struct PostSource {
    GSource base;
    GlibRunLoop* loop;
};

struct DelayedSource {
    GSource base;
    GlibRunLoop* loop;
    TaskId id;
    Task* task;
};

// Exceptions must not unwind through GLib's C frames.
void runGuarded(Task& task) {
    try {
        task();
    } catch (const std::exception& e) {
        logf("Uncaught exception in a run-loop task: %s", e.what());
    } catch (...) {
        logLine("Uncaught exception in a run-loop task");
    }
}

gint64 toReadyTime(double monotonicSeconds) {
    constexpr double kLatest = 9.0e15;  // far beyond any uptime, still exact in a double
    if (std::isnan(monotonicSeconds) || monotonicSeconds < 0) return 0;
    double micros = std::ceil(monotonicSeconds * 1e6);
    return static_cast<gint64>(std::min(micros, kLatest));
}

class GlibRunLoop final : public RunLoop {
public:
    // Adopts a reference to `context`; `own`: a worker's context, made the thread's default while
    // the loop runs.
    GlibRunLoop(GMainContext* context, bool own) : context_(context), ownContext_(own) {
        static GSourceFuncs funcs = {nullptr, nullptr, &GlibRunLoop::dispatchPosted, nullptr,
                                     nullptr, nullptr};
        postSource_ = g_source_new(&funcs, sizeof(PostSource));
        reinterpret_cast<PostSource*>(postSource_)->loop = this;
        g_source_set_name(postSource_, "kit posted tasks");
        // Lets a task run a nested loop (a modal session) that goes on draining the queue.
        g_source_set_can_recurse(postSource_, TRUE);
        g_source_set_ready_time(postSource_, -1);
        g_source_attach(postSource_, context_);
    }

    ~GlibRunLoop() override {
        detachTimersAndPerforms();
        g_source_destroy(postSource_);
        g_source_unref(postSource_);
        auto delayed = std::move(delayed_);
        delayed_.clear();
        dueOrder_.clear();
        for (auto& [id, entry] : delayed) g_source_destroy(entry.source);
        std::deque<Task> queue;
        {
            std::lock_guard lock(mutex_);
            queue.swap(queue_);
        }
        queue.clear();
        g_main_context_unref(context_);
    }

    double now() const override { return static_cast<double>(g_get_monotonic_time()) / 1e6; }
    double wallTime() const override { return static_cast<double>(g_get_real_time()) / 1e6; }

    void post(Task task) override {
        if (!task) return;
        std::lock_guard lock(mutex_);
        bool wasEmpty = queue_.empty();
        queue_.push_back(std::move(task));
        if (wasEmpty) g_source_set_ready_time(postSource_, 0);
    }

    TaskId postAfter(double delaySeconds, Task task) override {
        KIT_ASSERT_ON_THREAD(isOwnThread());
        double delay = delaySeconds > 0 ? delaySeconds : 0;
        return postAtReadyTime(g_get_monotonic_time() + toReadyTime(delay), std::move(task));
    }

    void cancel(TaskId id) override {
        KIT_ASSERT_ON_THREAD(isOwnThread());
        auto it = delayed_.find(id);
        if (it == delayed_.end()) return;
        GSource* source = it->second.source;
        dueOrder_.erase({it->second.readyTime, id});
        delayed_.erase(it);
        g_source_destroy(source);
    }

    void run() override {
        if (quitPending_) {
            quitPending_ = false;
            return;
        }
        if (ownContext_) g_main_context_push_thread_default(context_);
        GMainLoop* loop = g_main_loop_new(context_, FALSE);
        running_.push_back(loop);
        g_main_loop_run(loop);
        running_.pop_back();
        g_main_loop_unref(loop);
        if (ownContext_) {
            // What the tasks released may still have callbacks due on this context (a GIO
            // object's clean-up); they run before the thread lets the context go.
            if (running_.empty()) {
                while (g_main_context_iteration(context_, FALSE)) {
                }
            }
            g_main_context_pop_thread_default(context_);
        }
    }

    void quit() override {
        if (running_.empty())
            quitPending_ = true;
        else
            g_main_loop_quit(running_.back());
    }

    bool runNested(const std::function<bool()>& done) override {
        while (!done()) g_main_context_iteration(context_, TRUE);
        return true;
    }

protected:
    TaskId postAt(double monotonicTime, Task task) override {
        return postAtReadyTime(toReadyTime(monotonicTime), std::move(task));
    }

private:
    TaskId postAtReadyTime(gint64 readyTime, Task task) {
        if (!task) return 0;
        static GSourceFuncs funcs = {nullptr, nullptr, &GlibRunLoop::dispatchDelayed,
                                     &GlibRunLoop::finalizeDelayed, nullptr, nullptr};
        GSource* source = g_source_new(&funcs, sizeof(DelayedSource));
        auto* delayed = reinterpret_cast<DelayedSource*>(source);
        delayed->loop = this;
        delayed->id = nextId_++;
        delayed->task = new Task(std::move(task));
        g_source_set_ready_time(source, readyTime);
        g_source_attach(source, context_);
        delayed_.emplace(delayed->id, Delayed{source, readyTime});
        dueOrder_.emplace(readyTime, delayed->id);
        g_source_unref(source);  // the context holds it until it runs or is destroyed
        return delayed->id;
    }

    static gboolean dispatchPosted(GSource* source, GSourceFunc, gpointer) {
        reinterpret_cast<PostSource*>(source)->loop->drainPosted();
        return G_SOURCE_CONTINUE;
    }

    // Runs the tasks queued when this turn began; tasks they post wait for a later turn, so
    // other sources (input, drawing) are never starved.
    void drainPosted() {
        std::size_t budget;
        {
            std::lock_guard lock(mutex_);
            budget = queue_.size();
        }
        while (budget-- > 0) {
            Task task;
            {
                std::lock_guard lock(mutex_);
                if (queue_.empty()) break;
                task = std::move(queue_.front());
                queue_.pop_front();
                if (queue_.empty()) g_source_set_ready_time(postSource_, -1);
            }
            runGuarded(task);
        }
    }

    static gboolean dispatchDelayed(GSource* source, GSourceFunc, gpointer) {
        auto* delayed = reinterpret_cast<DelayedSource*>(source);
        delayed->loop->runDueTasks(g_source_get_ready_time(source));
        return G_SOURCE_REMOVE;
    }

    // Runs, in due order, every delayed task due by now (at least those due by `floor`, the ready
    // time of the source being dispatched). Tasks posted meanwhile wait for their own source.
    void runDueTasks(gint64 floor) {
        const gint64 threshold = std::max(floor, g_get_monotonic_time());
        const TaskId postedBefore = nextId_;
        while (true) {
            // Skips tasks posted by the tasks of this turn, however early they are due.
            auto first = std::find_if(dueOrder_.begin(), dueOrder_.end(), [&](const auto& entry) {
                return entry.first > threshold || entry.second < postedBefore;
            });
            if (first == dueOrder_.end() || first->first > threshold) break;
            const TaskId runId = first->second;
            dueOrder_.erase(first);
            auto it = delayed_.find(runId);
            if (it == delayed_.end()) continue;
            GSource* due = it->second.source;
            delayed_.erase(it);
            Task task = std::move(*reinterpret_cast<DelayedSource*>(due)->task);
            g_source_destroy(due);
            runGuarded(task);
        }
    }

    static void finalizeDelayed(GSource* source) {
        auto* delayed = reinterpret_cast<DelayedSource*>(source);
        delete std::exchange(delayed->task, nullptr);
    }

    GMainContext* context_;
    const bool ownContext_;
    GSource* postSource_;
    std::mutex mutex_;
    std::deque<Task> queue_;
    struct Delayed {
        GSource* source;
        gint64 readyTime;
    };
    std::unordered_map<TaskId, Delayed> delayed_;
    std::set<std::pair<gint64, TaskId>> dueOrder_;
    TaskId nextId_ = 1;
    std::vector<GMainLoop*> running_;
    bool quitPending_ = false;
};

}  // namespace

std::shared_ptr<RunLoop> makeGlibRunLoop() {
    return std::make_shared<GlibRunLoop>(g_main_context_ref(g_main_context_default()), false);
}

std::shared_ptr<RunLoop> makeGlibRunLoopWithOwnContext() {
    return std::make_shared<GlibRunLoop>(g_main_context_new(), true);
}

}  // namespace kit
