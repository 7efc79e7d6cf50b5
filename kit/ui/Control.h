#pragma once
// A control: a view with an enabled state that sends an action to a target. The target is held
// weakly; once it is gone the action does nothing.

#include <functional>
#include <memory>
#include <string>

#include "kit/ui/View.h"

namespace kit {

class Control : public View {
public:
    using Action = std::function<void(Control& sender)>;

    explicit Control(Rect frame = {});
    std::string className() const override { return "Control"; }

    bool isEnabled() const { return enabled_; }
    virtual void setEnabled(bool enabled);
    bool isHighlighted() const { return highlighted_; }
    void setHighlighted(bool highlighted);

    // The action as a function of the sender.
    void setAction(Action action) { action_ = std::move(action); }
    // The action as a member of a target held weakly: control->setTarget(self, &Me::onClick).
    template <class T>
    void setTarget(const std::shared_ptr<T>& target, void (T::*method)(Control&)) {
        std::weak_ptr<T> weak = target;
        action_ = [weak, method](Control& sender) {
            if (auto strong = weak.lock()) ((*strong).*method)(sender);
        };
    }
    bool hasAction() const { return static_cast<bool>(action_); }
    // Sends the action (when enabled and set); answers whether it was sent.
    bool sendAction();

    bool mouseDownCanMoveWindow() const override { return false; }
    bool accessibilityPerformPress() override;

private:
    Action action_;
    bool enabled_ = true;
    bool highlighted_ = false;
};

}  // namespace kit
