#include "frameworks/JWTipManager.h"

#include <algorithm>
#include <utility>

namespace {

std::shared_ptr<JWTipManager>& slot() {
    // Never destroyed: services outlive the static objects they use at exit.
    static auto* manager = new std::shared_ptr<JWTipManager>;
    return *manager;
}

}  // namespace

JWTipManager& JWTipManager::manager() {
    auto& s = slot();
    if (!s) s = std::make_shared<JWTipManager>();
    return *s;
}

void JWTipManager::resetManager() { slot().reset(); }

JWTipManager::~JWTipManager() {
    for (auto& p : pending_) p.model->onCompleted_ = nullptr;
    if (current_) current_->onCompleted_ = nullptr;
}

void JWTipManager::addTaskModel(const std::shared_ptr<JWTipModel>& model) {
    if (!model || model->state_ != JWTipModel::State::Created) return;
    model->state_ = JWTipModel::State::Queued;
    std::weak_ptr<JWTipManager> weak = weak_from_this();
    model->onCompleted_ = [weak](JWTipModel& m) {
        if (auto self = weak.lock()) self->completed(m);
    };
    pending_.push_back({model, nextSerial_++});
    schedulePump();
}

void JWTipManager::schedulePump() {
    if (pumpScheduled_ || current_) return;
    pumpScheduled_ = true;
    std::weak_ptr<JWTipManager> weak = weak_from_this();
    kit::RunLoop::main().post([weak] {
        if (auto self = weak.lock()) {
            self->pumpScheduled_ = false;
            self->pump();
        }
    });
}

void JWTipManager::pump() {
    if (current_ || pending_.empty()) return;
    auto best = std::min_element(pending_.begin(), pending_.end(), [](const Pending& a, const Pending& b) {
        if (a.model->priority() != b.model->priority()) return a.model->priority() > b.model->priority();
        return a.serial < b.serial;
    });
    current_ = best->model;
    pending_.erase(best);
    current_->state_ = JWTipModel::State::Waiting;
    std::weak_ptr<JWTipManager> weak = weak_from_this();
    std::weak_ptr<JWTipModel> weakModel = current_;
    waitTask_ = kit::RunLoop::main().postAfter(current_->waiting(), [weak, weakModel] {
        auto self = weak.lock();
        auto model = weakModel.lock();
        if (!self || !model || self->current_ != model) return;
        self->waitTask_ = 0;
        model->state_ = JWTipModel::State::Running;
        if (model->task_) {
            model->task_(model);
        } else {
            model->notifyTaskCompleted();
        }
    });
}

void JWTipManager::completed(JWTipModel& model) {
    if (current_.get() == &model) {
        if (waitTask_) kit::RunLoop::main().cancel(std::exchange(waitTask_, 0));
        current_.reset();
    } else {
        std::erase_if(pending_, [&](const Pending& p) { return p.model.get() == &model; });
    }
    schedulePump();
}
