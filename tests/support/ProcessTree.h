#pragma once
// A private tree for a test that runs the application as a real process: a temporary root with
// the user's home and the system root, each with the Library/Logs folder the application logs
// into (it writes its log into an existing folder only), and a private session bus. The tree is
// kept for inspection when the test failed or QUARN_KEEP_PROCESS_TREES is set.

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
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
        bus = PrivateBus::start(whyNot);
        return bus.has_value();
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

    // What every process of the tree gets: its home, system root and bus, a UTF-8 locale, local
    // files and in-memory settings for GIO, and the caller's PATH and X display.
    std::vector<std::string> environment() const {
        std::vector<std::string> env{"HOME=" + home.string(), "QUARN_SYSTEM_ROOT=" + system.string(),
                                     "DBUS_SESSION_BUS_ADDRESS=" + bus->address(), "LANG=C.UTF-8",
                                     "GIO_USE_VFS=local", "GSETTINGS_BACKEND=memory"};
        for (const char* name : {"PATH", "DISPLAY"}) {
            if (const char* value = std::getenv(name)) env.push_back(std::string(name) + "=" + value);
        }
        return env;
    }

    std::filesystem::path root, home, system;
    std::optional<PrivateBus> bus;
};

}  // namespace kit::testing
