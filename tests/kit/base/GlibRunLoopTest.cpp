#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <glib.h>

#include "kit/base/Log.h"
#include "kit/base/RunLoop.h"

namespace kit {
namespace {

// Every test runs the real loop under a watchdog: a generous deadline that quits the loop and
// fails the test instead of hanging. It bounds a wait; it never measures speed.
class GlibRunLoopTest : public ::testing::Test {
protected:
    void SetUp() override {
        watchdog = loop->postAfter(30, [this] {
            timedOut = true;
            loop->quit();
        });
    }
    void TearDown() override {
        loop->cancel(watchdog);
        EXPECT_FALSE(timedOut) << "the loop had to be stopped by the watchdog";
    }

    std::shared_ptr<RunLoop> loop = makeGlibRunLoop();
    TaskId watchdog = 0;
    bool timedOut = false;
};

TEST_F(GlibRunLoopTest, PostedTasksRunInOrder) {
    std::string order;
    for (char c = 'a'; c <= 'e'; ++c) loop->post([&order, c] { order += c; });
    loop->post([&] {
        order += '|';
        loop->post([&] { order += 'z'; });  // a later turn, after the ones already queued
        loop->post([&] { loop->quit(); });
    });
    loop->post([&] { order += 'f'; });
    loop->run();
    EXPECT_EQ(order, "abcde|fz");
}

TEST_F(GlibRunLoopTest, DelayedTasksRunAfterTheirDelayInDueOrder) {
    // Once with the loop waiting for each in turn, once with all of them already due when the
    // loop gets to run (as on a machine that held the thread up): due order both times.
    for (bool heldUp : {false, true}) {
        SCOPED_TRACE(heldUp ? "all due at once" : "each in turn");
        std::vector<int> order;
        double start = loop->now();
        double ranAt = 0;
        // Due times as the loop sees them: a thread held up between two posts makes the later
        // post rightly due later.
        std::vector<std::pair<double, int>> due;
        for (int tag : {30, 10, 0}) {
            const double delay = tag == 0 ? 0.0005 : tag / 1000.0;
            due.emplace_back(loop->now() + delay, tag);
            loop->postAfter(delay, [&, tag] {
                order.push_back(tag);
                if (tag == 30) ranAt = loop->now();
                if (order.size() == 3) loop->quit();
            });
        }
        if (heldUp) std::this_thread::sleep_for(std::chrono::milliseconds(40));
        loop->run();
        std::sort(due.begin(), due.end());
        std::vector<int> expected;
        expected.reserve(due.size());
        for (const auto& entry : due) expected.push_back(entry.second);
        EXPECT_EQ(order, expected);
        EXPECT_GE(ranAt - start, 0.03);
    }
}

TEST_F(GlibRunLoopTest, TasksPostedByADueTaskWaitForALaterTurnAndCancelsHold) {
    std::vector<std::string> order;
    kit::TaskId cancelled = 0;
    loop->postAfter(0.001, [&] {
        order.push_back("first");
        loop->cancel(cancelled);
        loop->postAfter(0, [&] { order.push_back("posted by first"); });
    });
    cancelled = loop->postAfter(0.002, [&] { order.push_back("cancelled"); });
    loop->postAfter(0.003, [&] { order.push_back("third"); });
    loop->postAfter(0.05, [&] { loop->quit(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    loop->run();
    EXPECT_EQ(order, (std::vector<std::string>{"first", "third", "posted by first"}));
}

TEST_F(GlibRunLoopTest, CancelledTasksDoNotRun) {
    bool cancelledRan = false;
    auto id = loop->postAfter(0.005, [&] { cancelledRan = true; });
    loop->postAfter(0.02, [&] { loop->quit(); });
    loop->cancel(id);
    loop->cancel(id);
    loop->cancel(12345678);
    loop->run();
    EXPECT_FALSE(cancelledRan);
}

TEST_F(GlibRunLoopTest, RepeatingTimerFiresUntilInvalidated) {
    int ticks = 0;
    auto timer = loop->scheduleTimer(0.002, true, [&](Timer& t) {
        if (++ticks == 3) {
            t.invalidate();
            loop->postAfter(0.01, [&] { loop->quit(); });
        }
    });
    loop->run();
    EXPECT_EQ(ticks, 3);
    EXPECT_FALSE(timer->isValid());
}

TEST_F(GlibRunLoopTest, PerformsAreKeyedAndCancellable) {
    int target = 0;
    std::string ran;
    loop->performAfterDelay(&target, "a", 0.001, [&] { ran += 'a'; });
    loop->performAfterDelay(&target, "b", 0.001, [&] { ran += 'b'; });
    loop->performAfterDelay(&target, "b", 0.002, [&] { ran += 'B'; });
    loop->cancelPerforms(&target, "b");
    loop->postAfter(0.02, [&] { loop->quit(); });
    loop->run();
    EXPECT_EQ(ran, "a");
    EXPECT_EQ(loop->pendingPerforms(&target, "a"), 0u);
}

TEST_F(GlibRunLoopTest, NestedLoopInsideATaskKeepsRunningTasksAndTimers) {
    std::string order;
    bool nestedDone = false;
    int ticks = 0;
    auto timer = loop->scheduleTimer(0.001, true, [&](Timer&) { ++ticks; });
    loop->post([&] {
        order += "outer ";
        bool result = loop->runNested([&] { return (nestedDone && ticks >= 2) || timedOut; });
        EXPECT_TRUE(result);
        order += "back ";
        loop->quit();
    });
    loop->post([&] { order += "queued "; });
    loop->post([&] {
        order += "posted ";
        loop->postAfter(0.005, [&] { nestedDone = true; });
    });
    loop->run();
    timer->invalidate();
    EXPECT_EQ(order, "outer queued posted back ");
    EXPECT_GE(ticks, 2);
}

TEST_F(GlibRunLoopTest, PostFromAnotherThreadWakesTheLoop) {
    std::atomic<bool> ran{false};
    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        loop->post([&] {
            ran = true;
            loop->quit();
        });
    });
    loop->run();
    poster.join();
    EXPECT_TRUE(ran);
}

TEST_F(GlibRunLoopTest, ManyThreadsPostingLoseNothing) {
    constexpr int kThreads = 4, kEach = 2000;
    std::atomic<int> done{0};
    int ran = 0;
    std::vector<std::thread> threads;
    threads.reserve(kThreads);
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < kEach; ++i) loop->post([&] { ++ran; });
            if (++done == kThreads) loop->post([&] { loop->quit(); });
        });
    loop->run();
    for (auto& t : threads) t.join();
    EXPECT_EQ(ran, kThreads * kEach);
}

TEST_F(GlibRunLoopTest, ThrowingTaskIsLoggedAndTheLoopGoesOn) {
    LogCapture capture;
    bool after = false;
    loop->post([] { throw std::runtime_error("boom"); });
    loop->post([&] {
        after = true;
        loop->quit();
    });
    loop->run();
    EXPECT_TRUE(after);
    EXPECT_EQ(capture.count("boom"), 1u);
}

// A worker thread's loop on a context of its own: tasks posted from here run there, GLib sources
// its tasks attach to the thread's default context belong to it, and what is due there when it
// quits still runs before run() returns. The main loop's context is not touched meanwhile.
TEST_F(GlibRunLoopTest, AWorkerLoopRunsOnItsOwnContextAndFinishesWhatIsDueThere) {
    std::promise<std::shared_ptr<RunLoop>> made;
    std::vector<std::string> seen;  // worker thread only until joined
    std::thread worker([&] {
        auto own = makeGlibRunLoopWithOwnContext();
        EXPECT_TRUE(own->isOwnThread());
        made.set_value(own);
        own->run();
        seen.push_back(g_main_context_get_thread_default() == nullptr ? "default back" : "context still pushed");
    });
    std::shared_ptr<RunLoop> workerLoop = made.get_future().get();
    EXPECT_FALSE(workerLoop->isOwnThread());
    const std::thread::id mainThread = std::this_thread::get_id();
    workerLoop->post([&] {
        GMainContext* context = g_main_context_get_thread_default();
        seen.push_back(std::this_thread::get_id() != mainThread ? "on worker" : "on main");
        seen.push_back(context && context != g_main_context_default() ? "own context" : "shared context");
        workerLoop->postAfter(0, [&] { seen.push_back("delayed"); });
    });
    workerLoop->post([&] {
        // An idle callback attached as a GIO object would attach its clean-up, then quit at once.
        GSource* idle = g_idle_source_new();
        g_source_set_callback(
            idle,
            [](gpointer data) -> gboolean {
                static_cast<std::vector<std::string>*>(data)->push_back("clean-up");
                return G_SOURCE_REMOVE;
            },
            &seen, nullptr);
        g_source_attach(idle, g_main_context_get_thread_default());
        g_source_unref(idle);
        workerLoop->quit();
    });
    worker.join();
    EXPECT_EQ(seen, (std::vector<std::string>{"on worker", "own context", "delayed", "clean-up", "default back"}));
    // Released here, on another thread than its own, after its thread ended; a post then is kept
    // and released with it.
    workerLoop->post([] {});
    workerLoop.reset();
}

}  // namespace
}  // namespace kit
