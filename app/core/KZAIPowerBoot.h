#pragma once
// Launch agents that start this application and the text-grabbing tool at login. Called by the
// settings setters after a change was written. The agent files themselves come with the launch-
// agent work; for now the entry points only log.

class KZAIPowerBoot {
public:
    static void onWindowsProcessPowerBootStatusChanged();
    static void onGetTextProcessPowerBootStatusChanged();
};
