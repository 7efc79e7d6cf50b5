#include "kit/ui/Control.h"

namespace kit {

Control::Control(Rect frame) : View(frame) {}

void Control::setEnabled(bool enabled) {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    setNeedsDisplay();
}

void Control::setHighlighted(bool highlighted) {
    if (highlighted == highlighted_) return;
    highlighted_ = highlighted;
    setNeedsDisplay();
}

bool Control::sendAction() {
    if (!enabled_ || !action_) return false;
    // The action may release the control (closing its window): keep both alive for the call.
    auto self = shared_from_this();
    auto action = action_;
    action(*this);
    return true;
}

bool Control::accessibilityPerformPress() { return sendAction(); }

}  // namespace kit
