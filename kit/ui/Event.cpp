#include "kit/ui/Event.h"

#include "kit/ui/Backend.h"
#include "kit/ui/Window.h"

namespace kit {

bool Event::isMouseEvent() const {
    switch (type) {
        case EventType::KeyDown:
        case EventType::KeyUp:
        case EventType::FlagsChanged:
            return false;
        default:
            return true;
    }
}

Point Event::locationInScreen() const {
    if (auto w = window.lock()) return w->convertPointToScreen(locationInWindow);
    return locationInWindow;
}

Point Event::mouseLocation() { return UiBackend::current().mouseLocation(); }
unsigned Event::pressedMouseButtons() { return UiBackend::current().pressedMouseButtons(); }
unsigned Event::currentModifierFlags() { return UiBackend::current().modifierFlags(); }

}  // namespace kit
