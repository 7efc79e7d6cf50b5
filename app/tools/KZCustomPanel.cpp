#include "app/tools/KZCustomPanel.h"

#include "app/tools/KZBasePanelController.h"

bool KZCustomPanel::isMovable() const {
    auto owner = controller();
    return owner && owner->isMovable();
}

void KZCustomPanel::orderOut() {
    // The controller may let go of the panel while it hears of it.
    auto self = shared_from_this();
    kit::Window::orderOut();
    if (auto owner = controller()) owner->onWindowDidOrderOut(*this);
}
