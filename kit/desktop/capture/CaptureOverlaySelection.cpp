#include "kit/desktop/capture/CaptureOverlaySelection.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace kit::desktop {

namespace {

bool near(int value, int edge) { return std::abs(value - edge) <= CaptureOverlaySelection::kGripTolerance; }

bool within(int value, int low, int high) {
    return value >= low - CaptureOverlaySelection::kGripTolerance && value <= high + CaptureOverlaySelection::kGripTolerance;
}

}  // namespace

std::optional<DisplayRect> CaptureOverlaySelection::rect() const {
    if (rect_.width <= 0 || rect_.height <= 0) return std::nullopt;
    return rect_;
}

int CaptureOverlaySelection::clampX(int x) const { return std::clamp(x, bounds_.x, bounds_.x + bounds_.width); }
int CaptureOverlaySelection::clampY(int y) const { return std::clamp(y, bounds_.y, bounds_.y + bounds_.height); }

CaptureOverlaySelection::Grip CaptureOverlaySelection::gripAt(int x, int y) const {
    const auto current = rect();
    if (!current) return Grip::New;
    const int left = current->x;
    const int top = current->y;
    const int right = left + current->width;
    const int bottom = top + current->height;
    if (!within(x, left, right) || !within(y, top, bottom)) return Grip::New;
    const bool onLeft = near(x, left);
    const bool onRight = !onLeft && near(x, right);
    const bool onTop = near(y, top);
    const bool onBottom = !onTop && near(y, bottom);
    if (onTop && onLeft) return Grip::TopLeft;
    if (onTop && onRight) return Grip::TopRight;
    if (onBottom && onLeft) return Grip::BottomLeft;
    if (onBottom && onRight) return Grip::BottomRight;
    if (onLeft) return Grip::Left;
    if (onRight) return Grip::Right;
    if (onTop) return Grip::Top;
    if (onBottom) return Grip::Bottom;
    return Grip::Move;
}

void CaptureOverlaySelection::press(int x, int y) {
    grip_ = gripAt(x, y);
    tracking_ = true;
    anchorX_ = clampX(x);
    anchorY_ = clampY(y);
    startRect_ = rect_;
    if (grip_ == Grip::New) rect_ = {anchorX_, anchorY_, 0, 0};
}

void CaptureOverlaySelection::drag(int x, int y) {
    if (!tracking_) return;
    const int px = clampX(x);
    const int py = clampY(y);
    if (grip_ == Grip::New) {
        rect_ = {std::min(anchorX_, px), std::min(anchorY_, py), std::abs(px - anchorX_), std::abs(py - anchorY_)};
        return;
    }
    if (grip_ == Grip::Move) {
        const int left = std::clamp(startRect_.x + px - anchorX_, bounds_.x, bounds_.x + bounds_.width - startRect_.width);
        const int top = std::clamp(startRect_.y + py - anchorY_, bounds_.y, bounds_.y + bounds_.height - startRect_.height);
        rect_ = {left, top, startRect_.width, startRect_.height};
        return;
    }
    int left = startRect_.x;
    int top = startRect_.y;
    int right = startRect_.x + startRect_.width;
    int bottom = startRect_.y + startRect_.height;
    // The grabbed edges follow the pointer by the distance it moved, so a press a few pixels off
    // the edge does not make the edge jump.
    const int dx = px - anchorX_;
    const int dy = py - anchorY_;
    if (grip_ == Grip::Left || grip_ == Grip::TopLeft || grip_ == Grip::BottomLeft) left = clampX(left + dx);
    if (grip_ == Grip::Right || grip_ == Grip::TopRight || grip_ == Grip::BottomRight) right = clampX(right + dx);
    if (grip_ == Grip::Top || grip_ == Grip::TopLeft || grip_ == Grip::TopRight) top = clampY(top + dy);
    if (grip_ == Grip::Bottom || grip_ == Grip::BottomLeft || grip_ == Grip::BottomRight) bottom = clampY(bottom + dy);
    // An edge dragged past the opposite one turns the rectangle over.
    if (left > right) std::swap(left, right);
    if (top > bottom) std::swap(top, bottom);
    rect_ = {left, top, right - left, bottom - top};
}

void CaptureOverlaySelection::release(int x, int y) {
    if (!tracking_) return;
    drag(x, y);
    tracking_ = false;
    // A click without a drag, or an edge pushed onto the other, leaves nothing selected.
    if (!rect()) rect_ = {};
}

void CaptureOverlaySelection::clear() {
    rect_ = {};
    tracking_ = false;
}

}  // namespace kit::desktop
