#pragma once
// The rectangle the user selects on the capture overlay, in display coordinates (GDK's logical
// pixels, y down), and how the mouse changes it: a press outside the selection starts a new one,
// a press on an edge or corner resizes it, a press inside moves it. The selection never leaves
// the bounds it was made for (the union of the monitors).

#include <optional>

#include "kit/desktop/CoordinateSpace.h"

namespace kit::desktop {

class CaptureOverlaySelection {
public:
    // What a press at a point would do.
    enum class Grip { New, Move, Left, Right, Top, Bottom, TopLeft, TopRight, BottomLeft, BottomRight };

    // Distance from an edge, in pixels, within which a press takes the edge.
    static constexpr int kGripTolerance = 6;

    explicit CaptureOverlaySelection(DisplayRect bounds) : bounds_(bounds) {}

    DisplayRect bounds() const { return bounds_; }
    // The selection; nullopt while there is none (or it has no area).
    std::optional<DisplayRect> rect() const;
    bool isTracking() const { return tracking_; }

    Grip gripAt(int x, int y) const;
    void press(int x, int y);
    void drag(int x, int y);
    void release(int x, int y);
    void clear();

private:
    int clampX(int x) const;
    int clampY(int y) const;

    DisplayRect bounds_;
    DisplayRect rect_;
    bool tracking_ = false;
    Grip grip_ = Grip::New;
    int anchorX_ = 0;
    int anchorY_ = 0;
    DisplayRect startRect_;
};

}  // namespace kit::desktop
