#pragma once
// One task of the tip queue: a priority, a waiting time before it runs, and a block. The queue
// runs one task at a time; the block's owner ends the task with notifyTaskCompleted.

#include <functional>
#include <memory>
#include <string>

enum JWTipTaskPriority : int {
    JWTipTaskPriorityLow = 250,
    JWTipTaskPriorityDefault = 500,
    JWTipTaskPriorityHigh = 750,
};

class JWTipModel : public std::enable_shared_from_this<JWTipModel> {
public:
    using Task = std::function<void(const std::shared_ptr<JWTipModel>&)>;
    enum class State { Created, Queued, Waiting, Running, Completed };

    static std::shared_ptr<JWTipModel> tipModelWithPriority(int priority, double waiting, Task task);

    int priority() const { return priority_; }
    double waiting() const { return waiting_; }
    const std::string& name() const { return name_; }
    void setName(std::string name) { name_ = std::move(name); }
    State state() const { return state_; }

    // Ends the task: the queue moves on to the next one. A task completed before its turn is
    // taken out of the queue; later calls do nothing.
    void notifyTaskCompleted();

    JWTipModel(int priority, double waiting, Task task);

private:
    friend class JWTipManager;
    int priority_;
    double waiting_;
    Task task_;
    std::string name_;
    State state_ = State::Created;
    std::function<void(JWTipModel&)> onCompleted_;
};
