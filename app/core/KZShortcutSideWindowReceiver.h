#pragma once
// Hot key 1: shows the side window. The action comes with the hot-key work; for now it logs.

#include "frameworks/KZShortcutReceiver.h"

class KZShortcutSideWindowReceiver : public KZShortcutReceiver {
public:
    int hotKeyId() const override;
    void hotKeyAction() override;
};
