#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "kit/base/MainThread.h"
#include "kit/base/RunLoop.h"

namespace kit {
namespace {

class VirtualRunLoopTest : public ::testing::Test {
protected:
    std::shared_ptr<VirtualRunLoop> loop = makeVirtualRunLoop();
};

TEST_F(VirtualRunLoopTest, DelaysFromAMillisecondToAWeekRunAtTheirDueTime) {
    const std::vector<double> delays = {0.001, 0.25, 1, 60, 3600, 86400, 604800};
    std::vector<double> ranAt(delays.size(), -1);
    for (std::size_t i = delays.size(); i-- > 0;)
        loop->postAfter(delays[i], [&, i] { ranAt[i] = loop->now(); });

    for (std::size_t i = 0; i < delays.size(); ++i) {
        loop->advance(delays[i] - loop->now() - 0.0005);
        EXPECT_EQ(ranAt[i], -1) << "ran early: " << delays[i];
        loop->advance(0.001);
        EXPECT_DOUBLE_EQ(ranAt[i], delays[i]);
    }
    EXPECT_EQ(loop->pendingTaskCount(), 0u);
}

TEST_F(VirtualRunLoopTest, EqualDueTimesRunInPostingOrderAfterEarlierOnes) {
    std::string order;
    loop->postAfter(5, [&] { order += 'A'; });
    loop->postAfter(5, [&] { order += 'B'; });
    loop->post([&] { order += 'C'; });
    loop->postAfter(2, [&] {
        order += 'D';
        loop->postAfter(3, [&] { order += 'E'; });  // due at 5, posted last
    });
    loop->postAfter(5, [&] { order += 'F'; });

    loop->runUntilIdle();
    EXPECT_EQ(order, "C");
    loop->advance(10);
    EXPECT_EQ(order, "CDABFE");
    EXPECT_DOUBLE_EQ(loop->now(), 10);
}

TEST_F(VirtualRunLoopTest, RunUntilIdleRunsChainedPostsWithoutMovingTheClock) {
    int depth = 0;
    std::function<void()> chain = [&] {
        if (++depth < 100) loop->post(chain);
    };
    loop->post(chain);
    bool delayedRan = false;
    loop->postAfter(0.001, [&] { delayedRan = true; });
    loop->runUntilIdle();
    EXPECT_EQ(depth, 100);
    EXPECT_FALSE(delayedRan);
    EXPECT_EQ(loop->now(), 0);
}

TEST_F(VirtualRunLoopTest, RunNextMovesTheClockToTheNextTask) {
    double seen = -1;
    loop->postAfter(42.5, [&] { seen = loop->now(); });
    EXPECT_TRUE(loop->runNext());
    EXPECT_DOUBLE_EQ(seen, 42.5);
    EXPECT_FALSE(loop->runNext());
}

TEST_F(VirtualRunLoopTest, CancelledTasksNeverRunAndStaleIdsAreIgnored) {
    int ran = 0;
    auto first = loop->postAfter(1, [&] { ran += 1; });
    auto second = loop->postAfter(1, [&] { ran += 10; });
    loop->cancel(first);
    loop->cancel(first);
    EXPECT_EQ(loop->pendingTaskCount(), 1u);
    loop->advance(1);
    EXPECT_EQ(ran, 10);
    // The slot of a finished task is reused; its old id must not cancel the new task.
    auto third = loop->postAfter(1, [&] { ran += 100; });
    loop->cancel(second);
    loop->cancel(0);
    loop->cancel(~TaskId{0});
    loop->advance(1);
    EXPECT_EQ(ran, 110);
    EXPECT_NE(third, second);
}

TEST_F(VirtualRunLoopTest, ManyCancelledTasksDoNotDisturbTheRest) {
    std::vector<TaskId> ids;
    int ran = 0;
    ids.reserve(1000);
    for (int i = 0; i < 1000; ++i) ids.push_back(loop->postAfter(1000 + i, [&] { ++ran; }));
    for (int i = 0; i < 1000; i += 2) loop->cancel(ids[i]);
    EXPECT_EQ(loop->pendingTaskCount(), 500u);
    loop->advance(5000);
    EXPECT_EQ(ran, 500);
}

TEST_F(VirtualRunLoopTest, WallTimeMovesWithTheClock) {
    loop->setWallTime(1'000'000);
    loop->advance(90);
    EXPECT_DOUBLE_EQ(loop->wallTime(), 1'000'090);
    EXPECT_DOUBLE_EQ(loop->now(), 90);
}

TEST_F(VirtualRunLoopTest, WallTimeStartsAtTheRealTime) {
    // 2020-01-01; a loose bound that still catches a wall time starting at zero.
    EXPECT_GT(loop->wallTime(), 1577836800.0);
    EXPECT_EQ(loop->now(), 0);
}

TEST_F(VirtualRunLoopTest, PostFromOtherThreadsIsSafe) {
    std::atomic<int> ran{0};
    std::vector<std::thread> threads;
    threads.reserve(4);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i) loop->post([&] { ++ran; });
        });
    for (auto& t : threads) t.join();
    loop->runUntilIdle();
    EXPECT_EQ(ran.load(), 2000);
}

TEST_F(VirtualRunLoopTest, MainThreadOnlyOperationsStopTheProcessFromAnotherThread) {
#ifdef NDEBUG
    GTEST_SKIP() << "the check is compiled out of release builds";
#else
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    RunLoop::setMain(loop);
    int target = 0;
    const TaskId pending = loop->postAfter(1, [] {});
    const std::vector<std::pair<std::string, std::function<void()>>> operations = {
        {"postAfter", [&] { loop->postAfter(1, [] {}); }},
        {"cancel", [&] { loop->cancel(pending); }},
        {"performAfterDelay", [&] { loop->performAfterDelay(&target, "show", 1, [] {}); }},
        {"cancelPerformsMatching", [&] { loop->cancelPerforms(&target, "show"); }},
        {"operator\\(\\)", [] { KIT_ASSERT_MAIN_THREAD(); }},
    };
    for (const auto& [name, operation] : operations) {
        SCOPED_TRACE(name);
        EXPECT_DEATH(std::thread(operation).join(), name + ".*main thread only");
        // The same operations are fine on the loop's own thread.
        operation();
    }
    RunLoop::setMain(makeVirtualRunLoop());
#endif
}

// ---- Timers

TEST_F(VirtualRunLoopTest, RepeatingTimerFiresEverySecondForAWeek) {
    long count = 0;
    double last = 0;
    auto timer = loop->scheduleTimer(1, true, [&](Timer&) {
        ++count;
        last = loop->now();
    });
    loop->advance(604800);
    EXPECT_EQ(count, 604800);
    EXPECT_DOUBLE_EQ(last, 604800);
    EXPECT_TRUE(timer->isValid());
    EXPECT_EQ(loop->pendingTaskCount(), 1u);
}

TEST_F(VirtualRunLoopTest, OneShotTimerFiresOnceAndIsReleased) {
    int count = 0;
    std::weak_ptr<Timer> weak = loop->scheduleTimer(2, false, [&](Timer&) { ++count; });
    EXPECT_FALSE(weak.expired()) << "the loop holds a scheduled timer";
    loop->advance(1.999);
    EXPECT_EQ(count, 0);
    loop->advance(10);
    EXPECT_EQ(count, 1);
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(loop->pendingTaskCount(), 0u);
}

TEST_F(VirtualRunLoopTest, TimerInvalidatedInsideItsCallbackStops) {
    int count = 0;
    std::weak_ptr<Timer> weak = loop->scheduleTimer(1, true, [&](Timer& t) {
        if (++count == 3) {
            t.invalidate();
            t.invalidate();
        }
        EXPECT_EQ(t.isValid(), count < 3);
    });
    loop->advance(3);
    EXPECT_EQ(count, 3);
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(loop->pendingTaskCount(), 0u) << "nothing is left scheduled for it";
    loop->advance(100);
    EXPECT_EQ(count, 3);
}

TEST_F(VirtualRunLoopTest, FireOutOfScheduleKeepsTheSchedule) {
    std::vector<double> firedAt;
    auto timer = loop->scheduleTimer(10, true, [&](Timer&) { firedAt.push_back(loop->now()); });
    loop->advance(3);
    timer->fire();
    loop->advance(17);
    EXPECT_EQ(firedAt, (std::vector<double>{3, 10, 20}));
    EXPECT_TRUE(timer->isValid());

    int oneShot = 0;
    auto single = loop->scheduleTimer(5, false, [&](Timer&) { ++oneShot; });
    single->fire();
    EXPECT_FALSE(single->isValid());
    loop->advance(10);
    EXPECT_EQ(oneShot, 1);
    single->fire();
    EXPECT_EQ(oneShot, 1);
}

TEST_F(VirtualRunLoopTest, FireDatesMissedWhileBusyAreSkipped) {
    std::vector<double> firedAt;
    auto timer = loop->scheduleTimer(1, true, [&](Timer&) {
        firedAt.push_back(loop->now());
        if (firedAt.size() == 1) loop->advance(3.5);  // a callback that keeps the loop busy
    });
    loop->advance(7 - loop->now());
    EXPECT_EQ(firedAt, (std::vector<double>{1, 5, 6, 7}));
}

TEST_F(VirtualRunLoopTest, InvalidatedTimerIsReleasedByTheLoop) {
    std::weak_ptr<Timer> weak;
    {
        auto timer = loop->scheduleTimer(1, true, [](Timer&) {});
        weak = timer;
        timer->invalidate();
    }
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(loop->pendingTaskCount(), 0u);
}

TEST_F(VirtualRunLoopTest, ZeroIntervalRepeatingTimerCannotSpin) {
    int count = 0;
    auto timer = loop->scheduleTimer(0, true, [&](Timer&) { ++count; });
    EXPECT_GT(timer->interval(), 0);
    loop->runUntilIdle();
    EXPECT_EQ(count, 0);
    loop->advance(0.01);
    EXPECT_GE(count, 99);
    EXPECT_LE(count, 101);
}

TEST_F(VirtualRunLoopTest, TimersOutlivingTheirLoopAreHarmless) {
    auto timer = loop->scheduleTimer(1, true, [](Timer&) {});
    loop.reset();
    EXPECT_TRUE(timer->isValid());
    timer->invalidate();
    EXPECT_FALSE(timer->isValid());
}

// ---- Delayed performs

TEST_F(VirtualRunLoopTest, CancellingOneKeyLeavesPerformsWithOtherKeys) {
    int a = 0, b = 0;
    std::string ran;
    loop->performAfterDelay(&a, "show", 1, [&] { ran += "a.show "; });
    loop->performAfterDelay(&a, "hide", 1, [&] { ran += "a.hide "; });
    loop->performAfterDelay(&b, "show", 1, [&] { ran += "b.show "; });
    loop->cancelPerforms(&a, "show");
    EXPECT_EQ(loop->pendingPerforms(&a, "show"), 0u);
    EXPECT_EQ(loop->pendingPerforms(&a, "hide"), 1u);
    EXPECT_EQ(loop->pendingPerforms(&b, "show"), 1u);
    loop->advance(1);
    EXPECT_EQ(ran, "a.hide b.show ");
}

TEST_F(VirtualRunLoopTest, CancellingAKeyRemovesEveryPerformWithIt) {
    int target = 0, other = 0;
    int ran = 0;
    for (int i = 0; i < 3; ++i) loop->performAfterDelay(&target, "tick", 1 + i, [&] { ++ran; });
    loop->performAfterDelay(&target, "tock", 1, [&] { ran += 100; });
    loop->performAfterDelay(&other, "tick", 1, [&] { ran += 1000; });
    EXPECT_EQ(loop->pendingPerforms(&target, "tick"), 3u);
    loop->cancelPerforms(&target, "tick");
    EXPECT_EQ(loop->pendingPerforms(&target, "tick"), 0u);
    loop->advance(10);
    EXPECT_EQ(ran, 1100);

    for (int i = 0; i < 3; ++i) loop->performAfterDelay(&target, std::to_string(i), 1, [&] { ++ran; });
    loop->performAfterDelay(&other, "0", 1, [&] { ran += 1000; });
    loop->cancelPerforms(&target);
    loop->advance(10);
    EXPECT_EQ(ran, 2100);
    EXPECT_EQ(loop->pendingTaskCount(), 0u);
}

TEST_F(VirtualRunLoopTest, PerformThatRanLeavesTheTableAndMayCancelItsSiblings) {
    int target = 0;
    int ran = 0;
    loop->performAfterDelay(&target, "refresh", 1, [&] {
        ++ran;
        EXPECT_EQ(loop->pendingPerforms(&target, "refresh"), 1u) << "only the sibling is pending";
        loop->cancelPerforms(&target, "refresh");
    });
    loop->performAfterDelay(&target, "refresh", 2, [&] { ran += 10; });
    loop->advance(5);
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(loop->pendingPerforms(&target, "refresh"), 0u);
}

// ---- Nested and outer loops

TEST_F(VirtualRunLoopTest, NestedLoopKeepsFiringTimers) {
    int ticks = 0;
    auto timer = loop->scheduleTimer(1, true, [&](Timer&) { ++ticks; });
    bool finished = false;
    bool nestedResult = false;
    loop->post([&] {
        nestedResult = loop->runNested([&] { return ticks >= 5; });
        finished = true;
    });
    loop->runUntilIdle();
    EXPECT_TRUE(finished);
    EXPECT_TRUE(nestedResult);
    EXPECT_EQ(ticks, 5);
    EXPECT_DOUBLE_EQ(loop->now(), 5);
}

TEST_F(VirtualRunLoopTest, NestedLoopReturnsFalseWhenNothingIsLeft) {
    int ran = 0;
    loop->postAfter(30, [&] { ++ran; });
    EXPECT_FALSE(loop->runNested([] { return false; }));
    EXPECT_EQ(ran, 1);
    EXPECT_DOUBLE_EQ(loop->now(), 30);
    EXPECT_TRUE(loop->runNested([] { return true; }));
}

TEST_F(VirtualRunLoopTest, RunStopsAtQuitOrWhenEmpty) {
    int ran = 0;
    loop->postAfter(1, [&] { ++ran; });
    loop->postAfter(2, [&] {
        ++ran;
        loop->quit();
    });
    loop->postAfter(3, [&] { ++ran; });
    loop->run();
    EXPECT_EQ(ran, 2);
    loop->run();
    EXPECT_EQ(ran, 3);
}

TEST(RunLoopMain, SetMainInstallsTheLoop) {
    auto loop = makeVirtualRunLoop();
    RunLoop::setMain(loop);
    EXPECT_EQ(&RunLoop::main(), loop.get());
    EXPECT_EQ(RunLoop::mainShared(), loop);
    RunLoop::setMain(nullptr);
    EXPECT_NE(&RunLoop::main(), loop.get()) << "main() installs a fresh virtual loop";
    EXPECT_EQ(RunLoop::main().now(), 0);
}

}  // namespace
}  // namespace kit
