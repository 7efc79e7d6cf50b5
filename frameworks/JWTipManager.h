#pragma once
// The tip queue. Tasks run one at a time on the main loop: the highest priority first, tasks of
// equal priority in the order they were added. A task runs its waiting time after its turn
// comes, and the next task's turn comes only when the running one is completed.

#include <cstdint>
#include <memory>
#include <vector>

#include "frameworks/JWTipModel.h"
#include "kit/base/RunLoop.h"

class JWTipManager : public std::enable_shared_from_this<JWTipManager> {
public:
    static JWTipManager& manager();
    static void resetManager();

    // Queues a task; null, running, completed or already queued tasks are ignored.
    void addTaskModel(const std::shared_ptr<JWTipModel>& model);

    std::shared_ptr<JWTipModel> currentTask() const { return current_; }
    std::size_t pendingCount() const { return pending_.size(); }

    JWTipManager() = default;
    ~JWTipManager();

private:
    struct Pending {
        std::shared_ptr<JWTipModel> model;
        std::uint64_t serial;
    };
    void schedulePump();
    void pump();
    void completed(JWTipModel& model);

    std::vector<Pending> pending_;
    std::shared_ptr<JWTipModel> current_;
    std::uint64_t nextSerial_ = 0;
    kit::TaskId waitTask_ = 0;
    bool pumpScheduled_ = false;
};
