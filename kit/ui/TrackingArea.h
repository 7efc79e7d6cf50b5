#pragma once
// A rectangle of a view in which the mouse is tracked: the owner gets entered and exited events
// when the mouse crosses its edge, and moved events inside it when asked for.

#include <memory>

#include "kit/base/Geometry.h"
#include "kit/base/Value.h"

namespace kit {

class View;

// The platform's option values.
enum TrackingAreaOptions : unsigned {
    TrackingMouseEnteredAndExited = 0x01,
    TrackingMouseMoved = 0x02,
    TrackingCursorUpdate = 0x04,
    TrackingActiveWhenFirstResponder = 0x10,
    TrackingActiveInKeyWindow = 0x20,
    TrackingActiveInActiveApp = 0x40,
    TrackingActiveAlways = 0x80,
    TrackingAssumeInside = 0x100,
    TrackingInVisibleRect = 0x200,
    TrackingEnabledDuringMouseDrag = 0x400,
};

class TrackingArea {
public:
    // `rect` is in the owner's coordinates; ignored with TrackingInVisibleRect, which follows
    // the owner's visible rectangle.
    TrackingArea(Rect rect, unsigned options, std::weak_ptr<View> owner = {}, Value userInfo = {})
        : rect_(rect), options_(options), owner_(std::move(owner)), userInfo_(std::move(userInfo)) {}

    static std::shared_ptr<TrackingArea> make(Rect rect, unsigned options, std::weak_ptr<View> owner = {},
                                              Value userInfo = {}) {
        return std::make_shared<TrackingArea>(rect, options, std::move(owner), std::move(userInfo));
    }

    Rect rect() const { return rect_; }
    unsigned options() const { return options_; }
    // The view told of crossings; the view the area was added to when none was given.
    std::shared_ptr<View> owner() const { return owner_.lock(); }
    const Value& userInfo() const { return userInfo_; }

private:
    friend class View;
    friend class Window;
    Rect rect_;
    unsigned options_;
    std::weak_ptr<View> owner_;
    Value userInfo_;
    // Tracking state kept by the window.
    bool inside_ = false;
};

}  // namespace kit
