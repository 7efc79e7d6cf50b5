#pragma once
// Global hot keys on X11: a passive key grab on the root window for each combination, in every
// variant of the lock modifiers (Caps Lock, Num Lock) so that a lit lock key does not disable
// it. Virtual key codes become keysyms and then the display's key codes; Command is Super,
// Control is Control, Option is Alt, Shift is Shift (see KeyCodes.h). The grabs follow keyboard
// mapping changes.

#include <gtk/gtk.h>

#include <memory>
#include <set>
#include <vector>

#include "kit/base/GSignal.h"
#include "kit/sys/GlobalHotKeys.h"

namespace kit::desktop {

class X11GlobalHotKeys final : public GlobalHotKeys {
public:
    explicit X11GlobalHotKeys(GdkDisplay* display);
    ~X11GlobalHotKeys() override;
    X11GlobalHotKeys(const X11GlobalHotKeys&) = delete;
    X11GlobalHotKeys& operator=(const X11GlobalHotKeys&) = delete;

protected:
    Status grab(const HotKeyCombination& combination) override;
    void ungrab(const HotKeyCombination& combination) override;

private:
    struct Grab {
        HotKeyCombination combination;
        unsigned keycode = 0;
        unsigned modifiers = 0;
    };
    struct Masks {
        unsigned super = 0;
        unsigned alt = 0;
        unsigned numLock = 0;
    };

    static GdkFilterReturn filter(GdkXEvent* xevent, GdkEvent* event, gpointer data);
    void readModifierMasks();
    Result<Grab> resolve(const HotKeyCombination& combination) const;
    bool grabKey(const Grab& grab);
    void ungrabKey(const Grab& grab);
    void ungrabKey(const Grab& grab, const std::vector<unsigned>& variants);
    std::vector<unsigned> lockVariants() const;
    void keymapChanged();

    GdkDisplay* display_;
    SignalConnection keymapSignal_;
    Masks masks_;
    std::vector<Grab> grabs_;
    std::set<unsigned> down_;
};

}  // namespace kit::desktop
