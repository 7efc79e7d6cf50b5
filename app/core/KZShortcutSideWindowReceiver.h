#pragma once
// Hot key 1: reports the press and shows the side window.

#include "frameworks/KZShortcutReceiver.h"

class KZShortcutSideWindowReceiver : public KZShortcutReceiver {
public:
    int hotKeyId() const override;
    void hotKeyAction() override;
};
