#pragma once
// The screens, in the backend's order (the first holds the menu bar). A screen keeps its object
// while the backend reports the same identifier, so screens can be compared by pointer.

#include <memory>
#include <string>
#include <vector>

#include "kit/base/Geometry.h"
#include "kit/ui/BackendBadge.h"

namespace kit {

struct ScreenDescription {
    std::string identifier;
    std::string name;
    Rect frame;
    // The frame less the menu bar and the dock.
    Rect visibleFrame;
    double backingScaleFactor = 1;
};

class Screen {
public:
    explicit Screen(const ScreenDescription& description) : description_(description) {}

    static std::vector<std::shared_ptr<Screen>> screens();
    // The screen of the key window, else the first screen; nullptr when there is no screen.
    static std::shared_ptr<Screen> mainScreen();
    // The first screen whose frame contains the point (minimum edges in, maximum edges out).
    static std::shared_ptr<Screen> screenContaining(Point point);
    // The screen the mouse pointer at `mouse` (a mouse location) is on. A mouse location is the top
    // edge of the pixel under the pointer, so this takes the rule of every other pointer test
    // (Rect::contains: the top edge in, the bottom edge out): the first pixel row of a screen stacked
    // below another belongs to the lower one. nullptr when the pointer is on no screen.
    static std::shared_ptr<Screen> screenUnderMouse(Point mouse);
    // The screen containing the point by the rule above, else the one whose frame lies nearest to
    // it; nullptr when there is no screen.
    static std::shared_ptr<Screen> screenNearest(Point point);

    const std::string& identifier() const { return description_.identifier; }
    const std::string& localizedName() const { return description_.name; }
    Rect frame() const { return description_.frame; }
    Rect visibleFrame() const { return description_.visibleFrame; }
    double backingScaleFactor() const { return description_.backingScaleFactor; }

    // For backends: replaces the screen list. Screens with a known identifier keep their object
    // and take the new geometry. When anything changed, posts
    // kApplicationDidChangeScreenParametersNotification (object: the application).
    static void updateScreens(BackendBadge, const std::vector<ScreenDescription>& descriptions);

private:
    ScreenDescription description_;
};

}  // namespace kit
