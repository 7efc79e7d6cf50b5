#include "app/windows/KZCustomWindow.h"

#include "app/windows/KZCanNotBeKeyWnd.h"

std::optional<int> customWndTypeOf(const kit::Window* window) {
    if (auto* custom = dynamic_cast<const KZCustomWindow*>(window)) return custom->customWndType();
    if (auto* base = dynamic_cast<const KZCanNotBeKeyWnd*>(window)) return base->customWndType();
    return std::nullopt;
}
