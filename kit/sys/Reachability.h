#pragma once
// Whether a network host can be reached, as the platform's reachability flags. A watch over one
// target reports its flags through a callback: once soon after start() (always, so that the
// first real change is never taken for the initial state), then on every change the system sees.
// Reports may come on any thread. The implementation is chosen once at start-up: GIO's network
// monitor with name resolution of the host in the application, a scripted one in tests.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kit {

namespace ReachabilityFlag {
inline constexpr std::uint32_t TransientConnection = 1;
inline constexpr std::uint32_t Reachable = 2;
inline constexpr std::uint32_t ConnectionRequired = 4;
inline constexpr std::uint32_t ConnectionOnTraffic = 8;
inline constexpr std::uint32_t InterventionRequired = 16;
inline constexpr std::uint32_t ConnectionOnDemand = 32;
inline constexpr std::uint32_t IsLocalAddress = 65536;
inline constexpr std::uint32_t IsDirect = 131072;
}  // namespace ReachabilityFlag

// What to watch: a host name, or an IPv4 address and port (host byte order).
struct ReachabilityTarget {
    enum class Kind { HostName, Address };
    Kind kind = Kind::HostName;
    std::string hostName;
    std::uint32_t ipv4 = 0;
    std::uint16_t port = 0;

    static ReachabilityTarget host(std::string name) { return {Kind::HostName, std::move(name), 0, 0}; }
    static ReachabilityTarget address(std::uint32_t ipv4, std::uint16_t port) {
        return {Kind::Address, {}, ipv4, port};
    }
};

class Reachability {
public:
    using Callback = std::function<void(std::uint32_t flags)>;
    using Factory = std::function<std::unique_ptr<Reachability>(const ReachabilityTarget&)>;

    virtual ~Reachability() = default;

    // The flags known now; nullopt when they cannot be read (not determined yet, or failed).
    virtual std::optional<std::uint32_t> flags() = 0;
    // Starts reporting. False when reporting cannot start; a running watch answers true.
    virtual bool start(Callback callback) = 0;
    // Stops reporting; no callback runs after it returns. Safe to call more than once.
    virtual void stop() = 0;

    // A watch from the installed factory; nullptr when the target cannot be watched.
    static std::unique_ptr<Reachability> create(const ReachabilityTarget& target);
    static void setFactory(Factory factory);
};

// GIO's default network monitor plus resolution of the host name (or a route check for an
// address). Create and use it on the main thread: reports arrive on its GLib main context.
std::unique_ptr<Reachability> makeGioReachability(const ReachabilityTarget& target);

}  // namespace kit
