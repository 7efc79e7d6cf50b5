#pragma once
// Hot key 2: takes a screenshot for the chat. The action comes with the hot-key work; for now it
// logs.

#include "frameworks/KZShortcutReceiver.h"

class KZShortcutScreenshotReceiver : public KZShortcutReceiver {
public:
    int hotKeyId() const override;
    void hotKeyAction() override;
};
