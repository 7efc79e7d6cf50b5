#pragma once
// A private session bus for tests and benchmarks: a dbus-daemon of its own, started with
// --fork, stopped (killed) by the owner. Header only, so the benchmarks can use it too. Its
// configuration is the tests' own (tests/support/session-bus.conf): it starts none of the desktop
// services installed on the machine.

#include <glib.h>
#include <signal.h>
#include <sys/types.h>

#include <optional>
#include <sstream>
#include <string>

// The test and benchmark targets name tests/support; a header checked on its own gets the path
// relative to the source tree.
#ifndef QUARN_TEST_SUPPORT_DIR
#define QUARN_TEST_SUPPORT_DIR "tests/support"
#endif

namespace kit::testing {

class PrivateBus {
public:
    // Starts a daemon (with the tests' session configuration, or the given file's); nullopt with
    // a reason when dbus-daemon is missing or fails.
    static std::optional<PrivateBus> start(std::string* whyNot, const std::string& configFile = {}) {
        gchar* program = g_find_program_in_path("dbus-daemon");
        if (!program) {
            if (whyNot) *whyNot = "dbus-daemon is not installed";
            return std::nullopt;
        }
        const std::string config =
            "--config-file=" +
            (configFile.empty() ? std::string(QUARN_TEST_SUPPORT_DIR "/session-bus.conf") : configFile);
        gchar* argv[] = {program,
                         const_cast<gchar*>(config.c_str()),
                         const_cast<gchar*>("--fork"),
                         const_cast<gchar*>("--print-address=1"),
                         const_cast<gchar*>("--print-pid=1"),
                         nullptr};
        gchar* out = nullptr;
        gchar* err = nullptr;
        gint status = 0;
        GError* error = nullptr;
        gboolean ran =
            g_spawn_sync(nullptr, argv, nullptr, G_SPAWN_DEFAULT, nullptr, nullptr, &out, &err, &status, &error);
        g_free(program);
        std::string output = out ? out : "";
        std::string errors = err ? err : "";
        g_free(out);
        g_free(err);
        if (!ran) {
            if (whyNot) *whyNot = std::string("cannot run dbus-daemon: ") + (error ? error->message : "");
            if (error) g_error_free(error);
            return std::nullopt;
        }
        PrivateBus bus;
        std::istringstream lines(output);
        long pid = 0;
        std::getline(lines, bus.address_);
        lines >> pid;
        bus.pid_ = static_cast<pid_t>(pid);
        if (bus.address_.empty() || pid <= 0) {
            if (whyNot) *whyNot = "dbus-daemon did not start: " + errors;
            return std::nullopt;
        }
        return bus;
    }

    PrivateBus(PrivateBus&& other) noexcept : address_(std::move(other.address_)), pid_(other.pid_) { other.pid_ = 0; }
    PrivateBus& operator=(PrivateBus&& other) noexcept {
        if (this != &other) {
            stop();
            address_ = std::move(other.address_);
            pid_ = other.pid_;
            other.pid_ = 0;
        }
        return *this;
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;
    ~PrivateBus() { stop(); }

    const std::string& address() const { return address_; }
    pid_t pid() const { return pid_; }

    // The daemon forked away from us, so it is not our child: it is killed, not waited for.
    void stop() {
        if (pid_ > 0) ::kill(pid_, SIGTERM);
        pid_ = 0;
    }

private:
    PrivateBus() = default;
    std::string address_;
    pid_t pid_ = 0;
};

}  // namespace kit::testing
