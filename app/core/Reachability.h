#pragma once
// A reachability monitor of one target over the platform's reachability watch (kit/sys). Each
// change calls the blocks on the reporting thread, then posts "kReachabilityChangedNotification"
// (object: the monitor) on the local default centre on the main loop.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "kit/sys/Reachability.h"

inline constexpr const char* kReachabilityChangedNotification = "kReachabilityChangedNotification";

enum NetworkStatus : int {
    NotReachable = 0,
    ReachableViaWWAN = 1,
    ReachableViaWiFi = 2,
};

class Reachability : public std::enable_shared_from_this<Reachability> {
public:
    using Block = std::function<void(Reachability&)>;
    using FlagsBlock = std::function<void(Reachability&, std::uint32_t)>;

    // nullptr when the watch cannot be made.
    static std::shared_ptr<Reachability> reachabilityWithHostName(std::string_view hostName);
    static std::shared_ptr<Reachability> reachabilityWithHostname(std::string_view hostName);
    // An IPv4 address and port in host byte order.
    static std::shared_ptr<Reachability> reachabilityWithAddress(std::uint32_t ipv4, std::uint16_t port);
    static std::shared_ptr<Reachability> reachabilityForInternetConnection();
    static std::shared_ptr<Reachability> reachabilityForLocalWiFi();
    // A dotted IPv4 host is watched as an address (port: the URL's, else 443 for "https", else
    // 80); any other host by name. nullptr for text that is not an absolute address with a host.
    static std::shared_ptr<Reachability> reachabilityWithURL(std::string_view url);
    static bool isIpAddress(std::string_view text);

    explicit Reachability(std::unique_ptr<kit::Reachability> reachabilityRef);
    ~Reachability();

    bool startNotifier();
    void stopNotifier();

    static bool isReachableWithFlags(std::uint32_t flags);
    bool isReachable();
    bool isReachableViaWWAN();
    bool isReachableViaWiFi();
    bool isConnectionRequired();
    bool connectionRequired();
    bool isConnectionOnDemand();
    bool isInterventionRequired();
    NetworkStatus currentReachabilityStatus();
    std::uint32_t reachabilityFlags();
    std::string currentReachabilityString();
    std::string currentReachabilityFlags();
    std::string description();
    // The flags text for any flags value.
    static std::string flagsString(std::uint32_t flags);

    Block reachableBlock;
    Block unreachableBlock;
    FlagsBlock reachabilityBlock;
    bool reachableOnWWAN = true;

private:
    void reachabilityChanged(std::uint32_t flags);

    std::unique_ptr<kit::Reachability> reachabilityRef_;
    // Itself while notifications run, which keeps it alive until stopNotifier.
    std::shared_ptr<Reachability> reachabilityObject_;
};
