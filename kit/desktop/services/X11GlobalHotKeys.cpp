#include "kit/desktop/services/X11GlobalHotKeys.h"

#include <X11/keysym.h>

#include <algorithm>
#include <exception>
#include <string>

#include "kit/base/Log.h"
#include "kit/desktop/FrameTrace.h"
#include "kit/desktop/KeyCodes.h"
#include "kit/desktop/X11.h"

namespace kit::desktop {

namespace {
::Window rootOf(Display* display) { return DefaultRootWindow(display); }
}  // namespace

X11GlobalHotKeys::X11GlobalHotKeys(GdkDisplay* display) : display_(display) {
    readModifierMasks();
    gdk_window_add_filter(gdk_get_default_root_window(), &X11GlobalHotKeys::filter, this);
    keymapSignal_ = SignalConnection::connect(gdk_keymap_get_for_display(display_), "keys-changed",
                                              [this](GdkKeymap*) { keymapChanged(); });
}

X11GlobalHotKeys::~X11GlobalHotKeys() {
    keymapSignal_.disconnect();
    gdk_window_remove_filter(gdk_get_default_root_window(), &X11GlobalHotKeys::filter, this);
    for (const Grab& grab : grabs_) ungrabKey(grab);
    grabs_.clear();
    XFlush(GDK_DISPLAY_XDISPLAY(display_));
}

void X11GlobalHotKeys::readModifierMasks() {
    Display* display = GDK_DISPLAY_XDISPLAY(display_);
    masks_ = {Mod4Mask, Mod1Mask, Mod2Mask};
    XModifierKeymap* map = XGetModifierMapping(display);
    if (!map) return;
    const KeyCode superKey = XKeysymToKeycode(display, XK_Super_L);
    const KeyCode altKey = XKeysymToKeycode(display, XK_Alt_L);
    const KeyCode numLockKey = XKeysymToKeycode(display, XK_Num_Lock);
    // Modifiers 3 to 7 (Mod1..Mod5) may hold any key; find where these three are.
    for (int modifier = 3; modifier < 8; ++modifier) {
        for (int k = 0; k < map->max_keypermod; ++k) {
            const KeyCode code = map->modifiermap[modifier * map->max_keypermod + k];
            if (code == 0) continue;
            if (code == superKey) masks_.super = 1u << modifier;
            if (code == altKey) masks_.alt = 1u << modifier;
            if (code == numLockKey) masks_.numLock = 1u << modifier;
        }
    }
    XFreeModifiermap(map);
}

std::vector<unsigned> X11GlobalHotKeys::lockVariants() const {
    return {0u, static_cast<unsigned>(LockMask), masks_.numLock, masks_.numLock | LockMask};
}

Result<X11GlobalHotKeys::Grab> X11GlobalHotKeys::resolve(const HotKeyCombination& combination) const {
    auto keysym = keysymForVirtualKey(combination.keyCode);
    if (!keysym) return Error{"no key has the virtual key code " + std::to_string(combination.keyCode)};
    Display* display = GDK_DISPLAY_XDISPLAY(display_);
    const KeyCode keycode = XKeysymToKeycode(display, *keysym);
    if (keycode == 0) return Error{"the keyboard has no key for virtual key code " + std::to_string(combination.keyCode)};
    unsigned modifiers = 0;
    if (combination.modifierFlags & HotKeyModifier::Shift) modifiers |= ShiftMask;
    if (combination.modifierFlags & HotKeyModifier::Control) modifiers |= ControlMask;
    if (combination.modifierFlags & HotKeyModifier::Option) modifiers |= masks_.alt;
    if (combination.modifierFlags & HotKeyModifier::Command) modifiers |= masks_.super;
    return Grab{combination, keycode, modifiers};
}

bool X11GlobalHotKeys::grabKey(const Grab& grab) {
    Display* display = GDK_DISPLAY_XDISPLAY(display_);
    gdk_x11_display_error_trap_push(display_);
    for (unsigned variant : lockVariants()) {
        XGrabKey(display, static_cast<int>(grab.keycode), grab.modifiers | variant, rootOf(display), False, GrabModeAsync,
                 GrabModeAsync);
    }
    // Synchronous: another client's grab of the same key answers BadAccess.
    const int error = gdk_x11_display_error_trap_pop(display_);
    if (error != 0) {
        ungrabKey(grab);
        return false;
    }
    return true;
}

void X11GlobalHotKeys::ungrabKey(const Grab& grab) { ungrabKey(grab, lockVariants()); }

void X11GlobalHotKeys::ungrabKey(const Grab& grab, const std::vector<unsigned>& variants) {
    Display* display = GDK_DISPLAY_XDISPLAY(display_);
    gdk_x11_display_error_trap_push(display_);
    for (unsigned variant : variants) {
        XUngrabKey(display, static_cast<int>(grab.keycode), grab.modifiers | variant, rootOf(display));
    }
    gdk_x11_display_error_trap_pop_ignored(display_);
}

Status X11GlobalHotKeys::grab(const HotKeyCombination& combination) {
    auto resolved = resolve(combination);
    if (!resolved) return Error{resolved.error()};
    for (const Grab& existing : grabs_) {
        if (existing.keycode == resolved->keycode && existing.modifiers == resolved->modifiers) {
            return Error{"the key combination is already grabbed"};
        }
    }
    if (!grabKey(*resolved)) return Error{"the key combination is held by another application"};
    grabs_.push_back(*resolved);
    return Status::success();
}

void X11GlobalHotKeys::ungrab(const HotKeyCombination& combination) {
    auto it = std::find_if(grabs_.begin(), grabs_.end(), [&](const Grab& g) { return g.combination == combination; });
    if (it == grabs_.end()) return;
    ungrabKey(*it);
    down_.erase(it->keycode);
    grabs_.erase(it);
}

void X11GlobalHotKeys::keymapChanged() {
    // The server reports a keyboard change whenever another device (a second keyboard, a synthetic
    // one) sends keys, usually with nothing moved. A grab that still resolves the same is kept as
    // it is: released and taken again, it would leave a gap in which that very key press is missed.
    const std::vector<unsigned> oldLockVariants = lockVariants();
    readModifierMasks();
    const bool locksMoved = lockVariants() != oldLockVariants;
    std::vector<Grab> kept;
    for (const Grab& old : grabs_) {
        auto resolved = resolve(old.combination);
        if (resolved && !locksMoved && resolved->keycode == old.keycode && resolved->modifiers == old.modifiers) {
            kept.push_back(old);
            continue;
        }
        if (old.keycode != 0) {
            // Released with the lock masks it was taken with.
            ungrabKey(old, oldLockVariants);
            down_.erase(old.keycode);
        }
        if (resolved && grabKey(*resolved)) {
            kept.push_back(*resolved);
        } else {
            logf("Global hot key %u/%u lost after a keyboard change", old.combination.keyCode, old.combination.modifierFlags);
            kept.push_back(Grab{old.combination, 0, 0});
        }
    }
    grabs_ = std::move(kept);
}

GdkFilterReturn X11GlobalHotKeys::filter(GdkXEvent* xevent, GdkEvent*, gpointer data) {
    auto* event = static_cast<XEvent*>(xevent);
    if (event->type != KeyPress && event->type != KeyRelease) return GDK_FILTER_CONTINUE;
    auto* self = static_cast<X11GlobalHotKeys*>(data);
    const unsigned keycode = event->xkey.keycode;
    const unsigned significant = ShiftMask | ControlMask | self->masks_.alt | self->masks_.super;
    const unsigned modifiers = event->xkey.state & significant;
    auto it = std::find_if(self->grabs_.begin(), self->grabs_.end(),
                           [&](const Grab& g) { return g.keycode == keycode && g.keycode != 0 && g.modifiers == modifiers; });
    if (event->type == KeyRelease) {
        self->down_.erase(keycode);
        return it == self->grabs_.end() ? GDK_FILTER_CONTINUE : GDK_FILTER_REMOVE;
    }
    if (it == self->grabs_.end()) return GDK_FILTER_CONTINUE;
    // A held key repeats its presses; the hot key fires once per press.
    if (!self->down_.insert(keycode).second) return GDK_FILTER_REMOVE;
    const HotKeyCombination combination = it->combination;
    traceHotKeyPressed(combination.keyCode, combination.modifierFlags);
    try {
        self->combinationPressed(combination);
    } catch (const std::exception& e) {
        logf("Uncaught exception in a hot-key handler: %s", e.what());
    } catch (...) {
        logLine("Uncaught exception in a hot-key handler");
    }
    return GDK_FILTER_REMOVE;
}

}  // namespace kit::desktop
