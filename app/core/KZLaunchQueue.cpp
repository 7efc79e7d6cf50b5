#include "app/core/KZLaunchQueue.h"

#include <utility>
#include <vector>

#include "kit/base/RunLoop.h"

namespace KZLaunchQueue {

namespace {

struct State {
    bool holding = false;
    kit::TaskId limit = 0;
    std::vector<std::function<void()>> tasks;
};

State& state() {
    static State s;
    return s;
}

}  // namespace

void hold(double limitSeconds) {
    auto& s = state();
    if (s.holding) return;
    s.holding = true;
    s.limit = kit::RunLoop::main().postAfter(limitSeconds, [] {
        state().limit = 0;
        release();
    });
}

void release() {
    auto& s = state();
    if (!s.holding) return;
    s.holding = false;
    if (s.limit) kit::RunLoop::main().cancel(std::exchange(s.limit, 0));
    if (s.tasks.empty()) return;
    kit::RunLoop::main().post([tasks = std::exchange(s.tasks, {})] {
        for (const auto& task : tasks) task();
    });
}

bool isHolding() { return state().holding; }

void afterFirstPage(std::function<void()> task) {
    if (!task) return;
    auto& s = state();
    if (s.holding) {
        s.tasks.push_back(std::move(task));
    } else {
        task();
    }
}

}  // namespace KZLaunchQueue
