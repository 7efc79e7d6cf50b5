#pragma once
// Base of the objects that answer a global hot key. Subclasses name their hot-key id and act
// when the key combination saved for that id is pressed.

class KZShortcutReceiver {
public:
    virtual ~KZShortcutReceiver() = default;
    virtual int hotKeyId() const = 0;
    virtual void hotKeyAction() = 0;
};
