#include "frameworks/JWTipModel.h"

#include <utility>

JWTipModel::JWTipModel(int priority, double waiting, Task task)
    : priority_(priority), waiting_(waiting > 0 ? waiting : 0), task_(std::move(task)) {}

std::shared_ptr<JWTipModel> JWTipModel::tipModelWithPriority(int priority, double waiting, Task task) {
    return std::make_shared<JWTipModel>(priority, waiting, std::move(task));
}

void JWTipModel::notifyTaskCompleted() {
    if (state_ == State::Completed) return;
    state_ = State::Completed;
    if (auto done = std::exchange(onCompleted_, nullptr)) done(*this);
}
