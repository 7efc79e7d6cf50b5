#pragma once
// A private tree for a test that runs the application as a real process: a temporary root with
// the user's home and the system root, each with the Library/Logs folder the application logs
// into (it writes its log into an existing folder only), and a private session bus. The home is a
// desktop of its own (tests/support/test-desktop.sh): its XDG folders, opening goes to a recorder
// (opened()), GIO keeps to local files. The tree is kept for inspection when the test failed or
// QUARN_KEEP_PROCESS_TREES is set.

#include <glib.h>
#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "tests/kit/sys/PrivateBus.h"

namespace kit::testing {

class ProcessTree {
public:
    // Makes the folders under /tmp/<prefix>-XXXXXX and starts the bus; false with the reason.
    bool make(const std::string& prefix, std::string* whyNot) {
        std::string pattern = "/tmp/" + prefix + "-XXXXXX";
        if (!::mkdtemp(pattern.data())) {
            *whyNot = "cannot make a temporary folder";
            return false;
        }
        root = pattern;
        home = root / "home";
        system = root / "system";
        std::filesystem::create_directories(home / "Library/Logs");
        std::filesystem::create_directories(system / "Library/Logs");
        if (!makeDesktop(whyNot)) return false;
        bus = PrivateBus::start(whyNot);
        return bus.has_value();
    }

    // What the application opened (folders, files, addresses), in order.
    std::vector<std::string> opened() const {
        std::vector<std::string> lines;
        std::ifstream in(home / ".local/state/opened");
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    // Stops the bus; removes the tree unless the test failed or it is to be kept.
    void finish(bool failed) {
        bus.reset();
        if (root.empty()) return;
        std::error_code ec;
        if (failed) {
            std::fprintf(stderr, "kept %s for inspection\n", root.c_str());
        } else if (!std::getenv("QUARN_KEEP_PROCESS_TREES")) {
            std::filesystem::remove_all(root, ec);
        }
    }

    // What every process of the tree gets: its home and desktop, system root and bus, a UTF-8
    // locale, and the caller's PATH, X display and run mark (the wrapper's check for leftovers).
    std::vector<std::string> environment() const {
        std::vector<std::string> env{"QUARN_SYSTEM_ROOT=" + system.string(),
                                     "DBUS_SESSION_BUS_ADDRESS=" + bus->address(), "LANG=C.UTF-8"};
        env.insert(env.end(), desktop_.begin(), desktop_.end());
        for (const char* name : {"PATH", "DISPLAY", "QUARN_TEST_RUN"}) {
            if (const char* value = std::getenv(name)) env.push_back(std::string(name) + "=" + value);
        }
        return env;
    }

    std::filesystem::path root, home, system;
    std::optional<PrivateBus> bus;

private:
    // The variables test-desktop.sh sets (those it unsets are not passed on anyway).
    bool makeDesktop(std::string* whyNot) {
        const std::string script = QUARN_TEST_SUPPORT_DIR "/test-desktop.sh";
        gchar* argv[] = {const_cast<gchar*>("bash"), const_cast<gchar*>(script.c_str()),
                         const_cast<gchar*>(home.c_str()), nullptr};
        gchar* out = nullptr;
        gchar* err = nullptr;
        gint status = 0;
        const bool ran =
            g_spawn_sync(nullptr, argv, nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, &out, &err, &status, nullptr) &&
            g_spawn_check_wait_status(status, nullptr);
        std::istringstream lines(out ? out : "");
        const std::string errors = err ? err : "";
        g_free(out);
        g_free(err);
        if (!ran) {
            *whyNot = "test-desktop.sh failed: " + errors;
            return false;
        }
        for (std::string line; std::getline(lines, line);) {
            if (!line.empty() && line[0] != '-') desktop_.push_back(line);
        }
        return true;
    }

    std::vector<std::string> desktop_;
};

}  // namespace kit::testing
