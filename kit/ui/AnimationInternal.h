#pragma once
// Internal to kit/ui: the running animations, keyed by object and property, so that direct
// changes supersede them.

namespace kit::animation {

enum class Property { WindowFrame, WindowAlpha, ViewFrame, ViewAlpha, ViewBoundsOrigin };

// Stops a running animation of the property; its group's completion reports not finished.
void cancel(const void* object, Property property);
// Stops every animation of the object (it is going away).
void cancelAll(const void* object);
bool isRunning(const void* object, Property property);
// Forgets every animation without completing it (a new test, a new run loop).
void resetAll();

}  // namespace kit::animation
