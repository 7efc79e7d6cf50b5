#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frameworks/JWTipManager.h"
#include "kit/headless/TestEnvironment.h"

namespace {

class TipQueueTest : public ::testing::Test {
protected:
    void SetUp() override { JWTipManager::resetManager(); }
    void TearDown() override { JWTipManager::resetManager(); }

    // A task that records when it runs and keeps its model for the test to complete.
    std::shared_ptr<JWTipModel> task(const std::string& name, int priority, double waiting) {
        auto model = JWTipModel::tipModelWithPriority(priority, waiting, [this, name](const auto& m) {
            runs.push_back(name + "@" + std::to_string(env.loop().now()));
            running = m;
        });
        model->setName(name);
        return model;
    }
    void completeRunning() {
        ASSERT_TRUE(running);
        std::exchange(running, nullptr)->notifyTaskCompleted();
    }

    kit::TestEnvironment env;
    std::vector<std::string> runs;
    std::shared_ptr<JWTipModel> running;
};

TEST_F(TipQueueTest, OneAtATimeByPriorityThenArrival) {
    auto& queue = JWTipManager::manager();
    queue.addTaskModel(task("default1", JWTipTaskPriorityDefault, 0));
    queue.addTaskModel(task("low", JWTipTaskPriorityLow, 0));
    queue.addTaskModel(task("default2", JWTipTaskPriorityDefault, 0));
    queue.addTaskModel(task("high", JWTipTaskPriorityHigh, 0));
    EXPECT_TRUE(runs.empty());  // never inside addTaskModel
    env.runUntilIdle();
    EXPECT_EQ(runs, std::vector<std::string>{"high@0.000000"});
    env.advance(100);
    EXPECT_EQ(runs.size(), 1u);  // the gate holds until the task completes
    EXPECT_EQ(queue.pendingCount(), 3u);

    std::vector<std::string> order;
    for (int i = 0; i < 3; ++i) {
        completeRunning();
        env.runUntilIdle();
    }
    ASSERT_EQ(runs.size(), 4u);
    for (const auto& r : runs) order.push_back(r.substr(0, r.find('@')));
    EXPECT_EQ(order, (std::vector<std::string>{"high", "default1", "default2", "low"}));
}

TEST_F(TipQueueTest, WaitingTimeStartsWhenTheTurnComes) {
    auto& queue = JWTipManager::manager();
    queue.addTaskModel(task("first", JWTipTaskPriorityHigh, 2));
    queue.addTaskModel(task("second", JWTipTaskPriorityDefault, 0.5));
    env.advance(1.9);
    EXPECT_TRUE(runs.empty());
    env.advance(0.1);
    ASSERT_EQ(runs.size(), 1u);
    env.advance(3);
    completeRunning();
    env.advance(0.4);
    EXPECT_EQ(runs.size(), 1u);
    env.advance(0.1);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[1], "second@5.500000");
}

TEST_F(TipQueueTest, CompletionRulesAndDuplicates) {
    auto& queue = JWTipManager::manager();
    auto a = task("a", JWTipTaskPriorityHigh, 1);
    auto b = task("b", JWTipTaskPriorityDefault, 0);
    auto c = task("c", JWTipTaskPriorityDefault, 0);
    queue.addTaskModel(a);
    queue.addTaskModel(a);  // already queued
    queue.addTaskModel(nullptr);
    queue.addTaskModel(b);
    queue.addTaskModel(c);
    EXPECT_EQ(queue.pendingCount(), 3u);

    // Completing a queued task takes it out; completing the waiting one skips its run.
    b->notifyTaskCompleted();
    env.runUntilIdle();
    EXPECT_EQ(queue.currentTask(), a);
    a->notifyTaskCompleted();
    a->notifyTaskCompleted();  // later calls do nothing
    env.advance(5);
    EXPECT_EQ(runs, std::vector<std::string>{"c@0.000000"});
    completeRunning();
    queue.addTaskModel(c);  // completed tasks do not come back
    env.advance(5);
    EXPECT_EQ(runs.size(), 1u);
    EXPECT_EQ(queue.currentTask(), nullptr);

    // A task without a block completes by itself and the queue goes on.
    queue.addTaskModel(JWTipModel::tipModelWithPriority(JWTipTaskPriorityHigh, 0, nullptr));
    queue.addTaskModel(task("d", JWTipTaskPriorityLow, 0));
    env.runUntilIdle();
    EXPECT_EQ(runs.back(), "d@10.000000");
}

}  // namespace
