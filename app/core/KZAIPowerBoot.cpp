#include "app/core/KZAIPowerBoot.h"

#include "kit/base/Log.h"

void KZAIPowerBoot::onWindowsProcessPowerBootStatusChanged() {
    kit::logLine("[PowerBoot] onWindowsProcessPowerBootStatusChanged");
}

void KZAIPowerBoot::onGetTextProcessPowerBootStatusChanged() {
    kit::logLine("[PowerBoot] onGetTextProcessPowerBootStatusChanged");
}
