#include "app/core/KZShortcutScreenshotReceiver.h"
#include "app/core/KZShortcutSideWindowReceiver.h"
#include "frameworks/KZShortcutConfig.h"
#include "kit/base/Log.h"

int KZShortcutSideWindowReceiver::hotKeyId() const { return KZShortcutHotKeyIdSideWindow; }

void KZShortcutSideWindowReceiver::hotKeyAction() { kit::logLine("[Shortcut] side window hot key"); }

int KZShortcutScreenshotReceiver::hotKeyId() const { return KZShortcutHotKeyIdScreenshot; }

void KZShortcutScreenshotReceiver::hotKeyAction() { kit::logLine("[Shortcut] screenshot hot key"); }
