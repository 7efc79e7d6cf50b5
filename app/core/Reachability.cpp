#include "app/core/Reachability.h"

#include <arpa/inet.h>

#include <cctype>
#include <cstdio>
#include <string>

#include "frameworks/LanguageHelper.h"
#include "kit/base/Ascii.h"
#include "kit/base/NotificationCenter.h"
#include "kit/base/RunLoop.h"

namespace {

namespace Flag = kit::ReachabilityFlag;

std::shared_ptr<Reachability> make(const kit::ReachabilityTarget& target) {
    auto ref = kit::Reachability::create(target);
    if (!ref) return nullptr;
    return std::make_shared<Reachability>(std::move(ref));
}

}  // namespace

std::shared_ptr<Reachability> Reachability::reachabilityWithHostName(std::string_view hostName) {
    return reachabilityWithHostname(hostName);
}

std::shared_ptr<Reachability> Reachability::reachabilityWithHostname(std::string_view hostName) {
    if (hostName.empty()) return nullptr;
    return make(kit::ReachabilityTarget::host(std::string(hostName)));
}

std::shared_ptr<Reachability> Reachability::reachabilityWithAddress(std::uint32_t ipv4, std::uint16_t port) {
    return make(kit::ReachabilityTarget::address(ipv4, port));
}

std::shared_ptr<Reachability> Reachability::reachabilityForInternetConnection() {
    return reachabilityWithAddress(0, 0);
}

std::shared_ptr<Reachability> Reachability::reachabilityForLocalWiFi() {
    return reachabilityWithAddress(0xA9FE0000u, 0);  // 169.254.0.0
}

bool Reachability::isIpAddress(std::string_view text) {
    std::string copy(text);
    in_addr address{};
    return inet_pton(AF_INET, copy.c_str(), &address) == 1;
}

std::shared_ptr<Reachability> Reachability::reachabilityWithURL(std::string_view url) {
    auto schemeEnd = url.find("://");
    if (schemeEnd == std::string_view::npos || schemeEnd == 0) return nullptr;
    std::string scheme = kit::asciiLowercase(url.substr(0, schemeEnd));
    std::string_view rest = url.substr(schemeEnd + 3);
    std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
    if (auto at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);

    std::string_view host = authority;
    std::string_view portText;
    if (!authority.empty() && authority.front() == '[') {
        auto close = authority.find(']');
        if (close == std::string_view::npos) return nullptr;
        host = authority.substr(1, close - 1);
        std::string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':') return nullptr;
            portText = after.substr(1);
        }
    } else if (auto colon = authority.rfind(':'); colon != std::string_view::npos) {
        host = authority.substr(0, colon);
        portText = authority.substr(colon + 1);
    }
    if (host.empty()) return nullptr;

    int port = -1;
    if (!portText.empty()) {
        if (portText.size() > 5) return nullptr;
        port = 0;
        for (char c : portText) {
            if (!std::isdigit(static_cast<unsigned char>(c))) return nullptr;
            port = port * 10 + (c - '0');
        }
        if (port > 65535) return nullptr;
    }

    if (isIpAddress(host)) {
        std::string copy(host);
        in_addr address{};
        inet_pton(AF_INET, copy.c_str(), &address);
        if (port < 0) port = scheme == "https" ? 443 : 80;
        return reachabilityWithAddress(ntohl(address.s_addr), static_cast<std::uint16_t>(port));
    }
    return reachabilityWithHostname(host);
}

Reachability::Reachability(std::unique_ptr<kit::Reachability> reachabilityRef)
    : reachabilityRef_(std::move(reachabilityRef)) {}

Reachability::~Reachability() {
    stopNotifier();
    reachableBlock = nullptr;
    unreachableBlock = nullptr;
    reachabilityBlock = nullptr;
}

bool Reachability::startNotifier() {
    if (reachabilityObject_.get() == this) return true;
    if (!reachabilityRef_) return false;
    std::weak_ptr<Reachability> weak = weak_from_this();
    bool started = reachabilityRef_->start([weak](std::uint32_t flags) {
        if (auto self = weak.lock()) self->reachabilityChanged(flags);
    });
    if (!started) {
        reachabilityObject_.reset();
        return false;
    }
    reachabilityObject_ = shared_from_this();
    return true;
}

void Reachability::stopNotifier() {
    if (reachabilityRef_) reachabilityRef_->stop();
    // Released last: it may be the final owner of this monitor.
    auto self = std::move(reachabilityObject_);
}

void Reachability::reachabilityChanged(std::uint32_t flags) {
    if (isReachableWithFlags(flags)) {
        if (reachableBlock) reachableBlock(*this);
    } else {
        if (unreachableBlock) unreachableBlock(*this);
    }
    if (reachabilityBlock) reachabilityBlock(*this, flags);
    std::weak_ptr<Reachability> weak = weak_from_this();
    kit::RunLoop::main().post([weak] {
        if (auto self = weak.lock())
            kit::NotificationCenter::defaultCenter().post(kReachabilityChangedNotification, self.get());
    });
}

bool Reachability::isReachableWithFlags(std::uint32_t flags) {
    if (!(flags & Flag::Reachable)) return false;
    return !((flags & Flag::ConnectionRequired) && (flags & Flag::TransientConnection));
}

bool Reachability::isReachable() {
    auto flags = reachabilityRef_ ? reachabilityRef_->flags() : std::nullopt;
    return flags && isReachableWithFlags(*flags);
}

bool Reachability::isReachableViaWWAN() { return false; }

bool Reachability::isReachableViaWiFi() {
    auto flags = reachabilityRef_ ? reachabilityRef_->flags() : std::nullopt;
    return flags && (*flags & Flag::Reachable);
}

bool Reachability::isConnectionRequired() { return connectionRequired(); }

bool Reachability::connectionRequired() {
    auto flags = reachabilityRef_ ? reachabilityRef_->flags() : std::nullopt;
    return flags && (*flags & Flag::ConnectionRequired);
}

bool Reachability::isConnectionOnDemand() {
    auto flags = reachabilityRef_ ? reachabilityRef_->flags() : std::nullopt;
    return flags && (*flags & Flag::ConnectionRequired) &&
           (*flags & (Flag::ConnectionOnTraffic | Flag::ConnectionOnDemand));
}

bool Reachability::isInterventionRequired() {
    auto flags = reachabilityRef_ ? reachabilityRef_->flags() : std::nullopt;
    return flags && (*flags & Flag::ConnectionRequired) && (*flags & Flag::InterventionRequired);
}

NetworkStatus Reachability::currentReachabilityStatus() {
    return (isReachable() && isReachableViaWiFi()) ? ReachableViaWiFi : NotReachable;
}

std::uint32_t Reachability::reachabilityFlags() {
    auto flags = reachabilityRef_ ? reachabilityRef_->flags() : std::nullopt;
    return flags.value_or(0);
}

std::string Reachability::currentReachabilityString() {
    switch (currentReachabilityStatus()) {
        case ReachableViaWiFi: return KZLocalizedString("WiFi");
        case ReachableViaWWAN: return KZLocalizedString("Cellular");
        case NotReachable: break;
    }
    return KZLocalizedString("No Connection");
}

std::string Reachability::flagsString(std::uint32_t flags) {
    auto bit = [&](std::uint32_t mask, char letter) { return (flags & mask) ? letter : '-'; };
    char text[16];
    std::snprintf(text, sizeof text, "%c%c %c%c%c%c%c%c%c", 'X', bit(Flag::Reachable, 'R'),
                  bit(Flag::ConnectionRequired, 'c'), bit(Flag::TransientConnection, 't'),
                  bit(Flag::InterventionRequired, 'i'), bit(Flag::ConnectionOnTraffic, 'C'),
                  bit(Flag::ConnectionOnDemand, 'D'), bit(Flag::IsLocalAddress, 'l'), bit(Flag::IsDirect, 'd'));
    return text;
}

std::string Reachability::currentReachabilityFlags() { return flagsString(reachabilityFlags()); }

std::string Reachability::description() {
    char address[32];
    std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
    return "<Reachability: " + std::string(address) + " (" + currentReachabilityFlags() + ")>";
}
