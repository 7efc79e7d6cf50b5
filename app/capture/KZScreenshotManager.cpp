#include "app/capture/KZScreenshotManager.h"

#include "kit/base/Log.h"

KZScreenshotManager& KZScreenshotManager::shared() {
    static KZScreenshotManager manager;
    return manager;
}

void KZScreenshotManager::startScreenshotWithCompleteHandler(const CompleteHandler& handler) {
    kit::logLine("[SD] screenshot tool not available yet; capture cancelled");
    if (handler) handler(nullptr, KZScreenshotResultCodeFinished);
}
