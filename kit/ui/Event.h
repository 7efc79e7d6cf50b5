#pragma once
// Input events, with the platform's event types, masks and modifier flags. Locations of mouse
// events are in the window's base coordinates (origin at the bottom left of the window frame);
// for events without a window (global monitors) they are screen coordinates.

#include <cstdint>
#include <memory>
#include <string>

#include "kit/base/Geometry.h"

namespace kit {

class Window;
class TrackingArea;

enum class EventType : int {
    LeftMouseDown = 1,
    LeftMouseUp = 2,
    RightMouseDown = 3,
    RightMouseUp = 4,
    MouseMoved = 5,
    LeftMouseDragged = 6,
    RightMouseDragged = 7,
    MouseEntered = 8,
    MouseExited = 9,
    KeyDown = 10,
    KeyUp = 11,
    FlagsChanged = 12,
    ScrollWheel = 22,
    OtherMouseDown = 25,
    OtherMouseUp = 26,
    OtherMouseDragged = 27,
};

using EventMask = std::uint64_t;

constexpr EventMask eventMaskFor(EventType type) { return EventMask{1} << static_cast<int>(type); }

namespace EventMasks {
inline constexpr EventMask LeftMouseDown = eventMaskFor(EventType::LeftMouseDown);
inline constexpr EventMask LeftMouseUp = eventMaskFor(EventType::LeftMouseUp);
inline constexpr EventMask RightMouseDown = eventMaskFor(EventType::RightMouseDown);
inline constexpr EventMask RightMouseUp = eventMaskFor(EventType::RightMouseUp);
inline constexpr EventMask MouseMoved = eventMaskFor(EventType::MouseMoved);
inline constexpr EventMask LeftMouseDragged = eventMaskFor(EventType::LeftMouseDragged);
inline constexpr EventMask RightMouseDragged = eventMaskFor(EventType::RightMouseDragged);
inline constexpr EventMask MouseEntered = eventMaskFor(EventType::MouseEntered);
inline constexpr EventMask MouseExited = eventMaskFor(EventType::MouseExited);
inline constexpr EventMask KeyDown = eventMaskFor(EventType::KeyDown);
inline constexpr EventMask KeyUp = eventMaskFor(EventType::KeyUp);
inline constexpr EventMask FlagsChanged = eventMaskFor(EventType::FlagsChanged);
inline constexpr EventMask ScrollWheel = eventMaskFor(EventType::ScrollWheel);
inline constexpr EventMask OtherMouseDown = eventMaskFor(EventType::OtherMouseDown);
inline constexpr EventMask OtherMouseUp = eventMaskFor(EventType::OtherMouseUp);
inline constexpr EventMask OtherMouseDragged = eventMaskFor(EventType::OtherMouseDragged);
inline constexpr EventMask Any = ~EventMask{0};
}  // namespace EventMasks

// The platform's modifier flag values.
enum ModifierFlags : unsigned {
    ModifierCapsLock = 1u << 16,
    ModifierShift = 1u << 17,
    ModifierControl = 1u << 18,
    ModifierOption = 1u << 19,
    ModifierCommand = 1u << 20,
    ModifierNumericPad = 1u << 21,
    ModifierHelp = 1u << 22,
    ModifierFunction = 1u << 23,
    ModifierDeviceIndependentMask = 0xFFFF0000u,
};

// The delta of one wheel notch in a scroll event without precise deltas.
inline constexpr double kWheelNotchDelta = 16;

struct Event {
    EventType type = EventType::MouseMoved;
    // Window base coordinates; screen coordinates when the event has no window.
    Point locationInWindow;
    std::weak_ptr<Window> window;
    // Run-loop clock seconds.
    double timestamp = 0;
    unsigned modifierFlags = 0;
    int clickCount = 0;
    int buttonNumber = 0;
    // Key events.
    unsigned short keyCode = 0;
    std::string characters;
    std::string charactersIgnoringModifiers;
    bool isARepeat = false;
    // Scroll events; positive y scrolls the content down (towards its top). Without precise
    // deltas (a mouse wheel) one notch is kWheelNotchDelta; a scroll view turns notches into a
    // step that suits its size.
    double scrollingDeltaX = 0;
    double scrollingDeltaY = 0;
    bool hasPreciseScrollingDeltas = false;
    // Entered and exited events: the area crossed.
    std::shared_ptr<TrackingArea> trackingArea;

    std::shared_ptr<Window> windowShared() const { return window.lock(); }
    bool isMouseEvent() const;
    bool matches(EventMask mask) const { return (mask & eventMaskFor(type)) != 0; }
    // The location in screen coordinates.
    Point locationInScreen() const;

    // The current mouse location in screen coordinates, the buttons held (bit 0 left, bit 1
    // right) and the modifier keys held, as the backend reports them.
    static Point mouseLocation();
    static unsigned pressedMouseButtons();
    static unsigned currentModifierFlags();
};

}  // namespace kit
