#include "kit/ui/Screen.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "kit/base/NotificationCenter.h"
#include "kit/ui/Application.h"

namespace kit {

namespace {
std::vector<std::shared_ptr<Screen>>& list() {
    static std::vector<std::shared_ptr<Screen>> screens;
    return screens;
}

bool sameGeometry(const ScreenDescription& a, const ScreenDescription& b) {
    return a.frame == b.frame && a.visibleFrame == b.visibleFrame && a.backingScaleFactor == b.backingScaleFactor &&
           a.name == b.name;
}
}  // namespace

std::vector<std::shared_ptr<Screen>> Screen::screens() { return list(); }

std::shared_ptr<Screen> Screen::mainScreen() {
    if (list().empty()) return nullptr;
    if (auto key = Application::shared().keyWindow()) {
        if (auto screen = key->screen()) return screen;
    }
    return list().front();
}

std::shared_ptr<Screen> Screen::screenContaining(Point point) {
    for (const auto& screen : list()) {
        if (screen->frame().containsPointWithMinimumEdges(point)) return screen;
    }
    return nullptr;
}

std::shared_ptr<Screen> Screen::screenUnderMouse(Point mouse) {
    for (const auto& screen : list()) {
        if (screen->frame().contains(mouse)) return screen;
    }
    return nullptr;
}

std::shared_ptr<Screen> Screen::screenNearest(Point point) {
    if (auto containing = screenContaining(point)) return containing;
    std::shared_ptr<Screen> nearest;
    double nearestDistance = std::numeric_limits<double>::infinity();
    for (const auto& screen : list()) {
        const Rect f = screen->frame();
        const double dx = std::max({f.minX() - point.x, 0.0, point.x - f.maxX()});
        const double dy = std::max({f.minY() - point.y, 0.0, point.y - f.maxY()});
        const double distance = std::hypot(dx, dy);
        if (distance < nearestDistance) {
            nearestDistance = distance;
            nearest = screen;
        }
    }
    return nearest;
}

void Screen::updateScreens(BackendBadge, const std::vector<ScreenDescription>& descriptions) {
    auto& screens = list();
    std::vector<std::shared_ptr<Screen>> next;
    bool changed = descriptions.size() != screens.size();
    for (std::size_t i = 0; i < descriptions.size(); ++i) {
        const auto& description = descriptions[i];
        std::shared_ptr<Screen> existing;
        for (const auto& screen : screens) {
            if (screen->identifier() == description.identifier) existing = screen;
        }
        if (existing) {
            if (!sameGeometry(existing->description_, description)) changed = true;
            if (i >= screens.size() || screens[i] != existing) changed = true;
            existing->description_ = description;
            next.push_back(existing);
        } else {
            changed = true;
            next.push_back(std::make_shared<Screen>(description));
        }
    }
    screens = std::move(next);
    if (changed)
        NotificationCenter::defaultCenter().post(kApplicationDidChangeScreenParametersNotification,
                                                 &Application::shared());
}

}  // namespace kit
