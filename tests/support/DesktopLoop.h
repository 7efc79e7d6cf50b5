#pragma once
// Helpers for tests on a real X server: pumping the GLib main loop until a condition holds,
// running outside tools (xdotool, xwininfo, xprop, import), and a fixture base that installs
// the desktop backend once per process and skips its tests where there is no display. The
// deadlines only bound a wait; nothing here measures time.

#include <glib.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "kit/desktop/Desktop.h"

namespace kit::testing {

// Runs the main loop until `done` answers true or `seconds` of real time have passed.
inline bool pumpUntil(const std::function<bool()>& done, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        if (!g_main_context_iteration(nullptr, FALSE)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Runs the main loop for a while.
inline void pumpFor(double seconds) {
    pumpUntil([] { return false; }, seconds);
}

// Runs a command line; its standard output, or nullopt when it failed.
inline std::optional<std::string> runTool(const std::string& commandLine) {
    gchar* out = nullptr;
    gchar* err = nullptr;
    gint status = 0;
    GError* error = nullptr;
    const gboolean ran = g_spawn_command_line_sync(commandLine.c_str(), &out, &err, &status, &error);
    std::optional<std::string> result;
    if (ran && g_spawn_check_wait_status(status, nullptr)) result = std::string(out ? out : "");
    if (error) g_error_free(error);
    g_free(out);
    g_free(err);
    return result;
}

// Installs the desktop backend once per process; a test without a display is skipped.
class DesktopBackendTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!g_getenv("DISPLAY")) return;
        auto status = desktop::install();
        ASSERT_TRUE(status.ok()) << status.error();
    }

    void SetUp() override {
        if (!desktop::isInstalled()) GTEST_SKIP() << "no X display (run through run-under-xvfb.sh)";
    }

    static bool waitFor(const std::function<bool()>& done, double seconds = 5) { return pumpUntil(done, seconds); }
    static void pump(double seconds) { pumpFor(seconds); }
};

}  // namespace kit::testing
