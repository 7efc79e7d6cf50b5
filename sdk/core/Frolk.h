#pragma once
// The public entry of the crash-report SDK. For now it only remembers that it was started; the
// capture, storage and upload modules start from here once they exist.

#include <string>
#include <string_view>

#include "kit/base/Value.h"

class Frolk {
public:
    // Starts the SDK with its default configuration. A second call while it runs does nothing;
    // an identifier that is null, not a string or shorter than 2 characters starts nothing.
    static void startWithAppId(const kit::Value& appId);

    static bool isStarted();
    // The identifier it was started with; empty while not started.
    static const std::string& appId();
    // How many times the SDK was actually started in this process.
    static int startCount();

    static void resetForTesting();
};
