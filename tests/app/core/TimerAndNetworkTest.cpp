#include <functional>

#include "CoreTestSupport.h"
#include "app/core/Reachability.h"
#include "kit/base/NotificationCenter.h"

namespace {

namespace Flag = kit::ReachabilityFlag;

struct TickCounter : KZGlobalTimerDelegate {
    int ticks = 0;
    std::function<void()> onTick;
    void onTimerTick(KZGlobalTimer&) override {
        ++ticks;
        if (onTick) onTick();
    }
};

struct NetworkRecorder : KZGlobalNetworkListenerDelegate {
    std::vector<bool> changes;
    std::function<void()> onChange;
    void onReceiveNetworkChanged(bool reachable) override {
        changes.push_back(reachable);
        if (onChange) onChange();
    }
};

using TimerTest = CoreTest;

TEST_F(TimerTest, TicksEverySecondToLiveListenersOnly) {
    auto a = std::make_shared<TickCounter>();
    auto b = std::make_shared<TickCounter>();
    auto& timer = KZGlobalTimer::shared();
    timer.registerListener(a);
    timer.registerListener(a);
    timer.registerListener(b);
    timer.registerListener(nullptr);
    EXPECT_EQ(timer.listenerCount(), 2u);
    env().advance(0.5);
    EXPECT_EQ(a->ticks, 0);
    env().advance(2.5);
    EXPECT_EQ(a->ticks, 3);
    EXPECT_EQ(b->ticks, 3);

    b.reset();  // gone without unregistering
    env().advance(1);
    EXPECT_EQ(a->ticks, 4);
    EXPECT_EQ(timer.listenerCount(), 1u);
    timer.unregisterListener(a.get());
    TickCounter absent;
    timer.unregisterListener(&absent);
    env().advance(1);
    EXPECT_EQ(a->ticks, 4);
}

TEST_F(TimerTest, ListenersMayChangeTheTableWhileTicking) {
    auto& timer = KZGlobalTimer::shared();
    auto late = std::make_shared<TickCounter>();
    auto other = std::make_shared<TickCounter>();
    auto self = std::make_shared<TickCounter>();
    self->onTick = [&] {
        timer.unregisterListener(self.get());
        timer.registerListener(late);
        timer.unregisterListener(other.get());
        other.reset();  // destroyed during the tick that holds it in its snapshot
    };
    timer.registerListener(self);
    timer.registerListener(other);
    env().advance(1);
    EXPECT_EQ(self->ticks, 1);
    EXPECT_EQ(late->ticks, 0);  // not in this tick's snapshot
    env().advance(1);
    EXPECT_EQ(self->ticks, 1);
    EXPECT_EQ(late->ticks, 1);
    EXPECT_EQ(timer.listenerCount(), 1u);
}

class NetworkListenerTest : public CoreTest {
protected:
    KZGlobalNetworkListener& listener() { return KZGlobalNetworkListener::shared(); }
};

TEST_F(NetworkListenerTest, FirstReportOnlySetsTheStateThenChangesFanOut) {
    network().setFlags(Flag::Reachable);
    auto recorder = std::make_shared<NetworkRecorder>();
    listener().registerListener(recorder);
    listener().start();
    ASSERT_EQ(network().createdTargets().size(), 1u);
    EXPECT_EQ(network().createdTargets()[0].hostName, "www.example.com");
    EXPECT_EQ(listener().currentState(), KZGlobalNetworkListener::Unknown);
    env().runUntilIdle();  // the initial report
    EXPECT_EQ(listener().currentState(), KZGlobalNetworkListener::Reachable);
    EXPECT_TRUE(recorder->changes.empty());

    network().report();  // same state again
    env().runUntilIdle();
    EXPECT_TRUE(recorder->changes.empty());

    network().setFlags(Flag::Reachable | Flag::ConnectionRequired | Flag::TransientConnection);
    env().runUntilIdle();
    EXPECT_EQ(recorder->changes, std::vector<bool>{false});
    EXPECT_EQ(listener().currentState(), KZGlobalNetworkListener::Unreachable);
    EXPECT_TRUE(env().log().contains("[GlobalNetworkListener] send network reachable changed : 0"));
    network().setFlags(Flag::Reachable);
    env().runUntilIdle();
    EXPECT_EQ(recorder->changes, (std::vector<bool>{false, true}));
}

TEST_F(NetworkListenerTest, FirstRealChangeAfterStartIsNotSwallowed) {
    // Offline at start: the initial report carries the state, so going online is a change.
    network().setFlags(0);
    auto recorder = std::make_shared<NetworkRecorder>();
    listener().registerListener(recorder);
    listener().start();
    env().runUntilIdle();
    EXPECT_EQ(listener().currentState(), KZGlobalNetworkListener::Unreachable);
    network().setFlags(Flag::Reachable);
    env().runUntilIdle();
    EXPECT_EQ(recorder->changes, std::vector<bool>{true});
}

TEST_F(NetworkListenerTest, ListenersMayRegisterAndUnregisterInTheCallback) {
    network().setFlags(Flag::Reachable);
    listener().start();
    env().runUntilIdle();
    auto first = std::make_shared<NetworkRecorder>();
    auto second = std::make_shared<NetworkRecorder>();
    auto added = std::make_shared<NetworkRecorder>();
    first->onChange = [&] {
        listener().unregisterListener(first.get());
        listener().unregisterListener(second.get());
        listener().registerListener(added);
        second.reset();
    };
    listener().registerListener(first);
    listener().registerListener(second);
    network().setFlags(0);
    env().runUntilIdle();
    EXPECT_EQ(first->changes.size(), 1u);
    EXPECT_TRUE(added->changes.empty());
    network().setFlags(Flag::Reachable);
    env().runUntilIdle();
    EXPECT_EQ(first->changes.size(), 1u);
    EXPECT_EQ(added->changes, std::vector<bool>{true});
}

TEST_F(NetworkListenerTest, NoWatchMeansNeverReachableAndNoCalls) {
    network().setCreationFails(true);
    auto recorder = std::make_shared<NetworkRecorder>();
    listener().registerListener(recorder);
    listener().start();
    network().setFlags(0);
    network().setFlags(Flag::Reachable);
    env().runUntilIdle();
    EXPECT_EQ(listener().reachAbility(), nullptr);
    EXPECT_FALSE(listener().isReachable());
    EXPECT_TRUE(recorder->changes.empty());
}

TEST_F(NetworkListenerTest, StopEmptiesTheTableAndEndsReports) {
    auto recorder = std::make_shared<NetworkRecorder>();
    listener().registerListener(recorder);
    listener().start();
    env().runUntilIdle();
    listener().stop();
    EXPECT_EQ(listener().listenerCount(), 0u);
    EXPECT_EQ(network().runningWatchCount(), 0u);
    listener().registerListener(recorder);
    network().setFlags(0);
    env().runUntilIdle();
    EXPECT_TRUE(recorder->changes.empty());
}

using ReachabilityTest = CoreTest;

TEST_F(ReachabilityTest, FlagTable) {
    auto r = Reachability::reachabilityWithHostName("probe.test");
    ASSERT_NE(r, nullptr);
    struct Row {
        std::uint32_t flags;
        bool reachable, wifi, required, onDemand, intervention;
        NetworkStatus status;
        const char* text;
    };
    const Row rows[] = {
        {0, false, false, false, false, false, NotReachable, "X- -------"},
        {Flag::Reachable, true, true, false, false, false, ReachableViaWiFi, "XR -------"},
        {Flag::Reachable | Flag::ConnectionRequired | Flag::TransientConnection, false, true, true, false, false,
         NotReachable, "XR ct-----"},
        {Flag::Reachable | Flag::ConnectionRequired, true, true, true, false, false, ReachableViaWiFi, "XR c------"},
        {Flag::ConnectionRequired | Flag::ConnectionOnTraffic, false, false, true, true, false, NotReachable,
         "X- c--C---"},
        {Flag::ConnectionRequired | Flag::ConnectionOnDemand | Flag::InterventionRequired, false, false, true, true,
         true, NotReachable, "X- c-i-D--"},
        {Flag::InterventionRequired | Flag::ConnectionOnDemand, false, false, false, false, false, NotReachable,
         "X- --i-D--"},
        {Flag::Reachable | Flag::IsLocalAddress | Flag::IsDirect, true, true, false, false, false, ReachableViaWiFi,
         "XR -----ld"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        network().setFlags(row.flags);
        EXPECT_EQ(Reachability::isReachableWithFlags(row.flags), row.reachable);
        EXPECT_EQ(r->isReachable(), row.reachable);
        EXPECT_EQ(r->isReachableViaWiFi(), row.wifi);
        EXPECT_FALSE(r->isReachableViaWWAN());
        EXPECT_EQ(r->connectionRequired(), row.required);
        EXPECT_EQ(r->isConnectionOnDemand(), row.onDemand);
        EXPECT_EQ(r->isInterventionRequired(), row.intervention);
        EXPECT_EQ(r->currentReachabilityStatus(), row.status);
        EXPECT_EQ(r->reachabilityFlags(), row.flags);
        EXPECT_EQ(r->currentReachabilityFlags(), row.text);
        EXPECT_EQ(r->currentReachabilityString(), row.status == ReachableViaWiFi ? "WiFi" : "No Connection");
    }
    EXPECT_NE(r->description().find("(XR -----ld)>"), std::string::npos);
    EXPECT_EQ(r->description().rfind("<Reachability: 0x", 0), 0u);

    network().setFlags(std::nullopt);  // unreadable
    EXPECT_FALSE(r->isReachable());
    EXPECT_FALSE(r->isReachableViaWiFi());
    EXPECT_FALSE(r->connectionRequired());
    EXPECT_FALSE(r->isInterventionRequired());
    EXPECT_EQ(r->reachabilityFlags(), 0u);
}

TEST_F(ReachabilityTest, BlocksThenNotificationOnTheMainLoop) {
    auto r = Reachability::reachabilityWithHostname("probe.test");
    ASSERT_NE(r, nullptr);
    std::vector<std::string> events;
    r->reachableBlock = [&](Reachability&) { events.push_back("reachable"); };
    r->unreachableBlock = [&](Reachability&) { events.push_back("unreachable"); };
    r->reachabilityBlock = [&](Reachability&, std::uint32_t flags) { events.push_back("flags " + std::to_string(flags)); };
    auto token = kit::NotificationCenter::defaultCenter().addObserverForName(
        kReachabilityChangedNotification, nullptr, [&](const kit::Notification& n) {
            EXPECT_EQ(n.object, r.get());
            events.push_back("notification");
        });
    network().setFlags(0);
    ASSERT_TRUE(r->startNotifier());
    EXPECT_TRUE(r->startNotifier());  // already running
    env().runUntilIdle();
    EXPECT_EQ(events, (std::vector<std::string>{"unreachable", "flags 0", "notification"}));
    events.clear();
    network().setFlags(Flag::Reachable);
    EXPECT_EQ(events, (std::vector<std::string>{"reachable", "flags 2"}));
    env().runUntilIdle();
    EXPECT_EQ(events.back(), "notification");

    // Kept alive by its own notifier until stopped.
    std::weak_ptr<Reachability> weak = r;
    r.reset();
    EXPECT_FALSE(weak.expired());
    weak.lock()->stopNotifier();
    EXPECT_TRUE(weak.expired());
    events.clear();
    network().setFlags(0);
    env().runUntilIdle();
    EXPECT_TRUE(events.empty());
}

TEST_F(ReachabilityTest, StartFailureAndFactoryTargets) {
    network().setStartFails(true);
    auto r = Reachability::reachabilityForInternetConnection();
    ASSERT_NE(r, nullptr);
    EXPECT_FALSE(r->startNotifier());
    std::weak_ptr<Reachability> weak = r;
    r.reset();
    EXPECT_TRUE(weak.expired());

    Reachability::reachabilityForLocalWiFi();
    auto targets = network().createdTargets();
    ASSERT_EQ(targets.size(), 2u);
    EXPECT_EQ(targets[0].kind, kit::ReachabilityTarget::Kind::Address);
    EXPECT_EQ(targets[0].ipv4, 0u);
    EXPECT_EQ(targets[1].ipv4, 0xA9FE0000u);
    EXPECT_EQ(Reachability::reachabilityWithHostname(""), nullptr);
}

TEST_F(ReachabilityTest, UrlTargets) {
    struct Case {
        const char* url;
        bool address;
        std::uint32_t ipv4;
        std::uint16_t port;
        const char* host;
    };
    const Case cases[] = {
        {"https://10.1.2.3/path", true, 0x0A010203, 443, ""},
        {"http://10.1.2.3", true, 0x0A010203, 80, ""},
        {"ftp://10.1.2.3/", true, 0x0A010203, 80, ""},
        {"HTTPS://127.0.0.1:8765/x?y", true, 0x7F000001, 8765, ""},
        {"https://user:pw@192.168.0.9?q", true, 0xC0A80009, 443, ""},
        {"https://www.example.com:444/", false, 0, 0, "www.example.com"},
        {"https://[::1]:8080/", false, 0, 0, "::1"},
        {"https://1.2.3/", false, 0, 0, "1.2.3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        std::size_t before = network().createdTargets().size();
        ASSERT_NE(Reachability::reachabilityWithURL(c.url), nullptr);
        auto target = network().createdTargets().at(before);
        EXPECT_EQ(target.kind == kit::ReachabilityTarget::Kind::Address, c.address);
        if (c.address) {
            EXPECT_EQ(target.ipv4, c.ipv4);
            EXPECT_EQ(target.port, c.port);
        } else {
            EXPECT_EQ(target.hostName, c.host);
        }
    }
    for (const char* bad : {"no scheme", "https://", "https://host:99999/", "https://host:8x/", "://x"})
        EXPECT_EQ(Reachability::reachabilityWithURL(bad), nullptr) << bad;
    EXPECT_TRUE(Reachability::isIpAddress("8.8.8.8"));
    EXPECT_FALSE(Reachability::isIpAddress("8.8.8"));
    EXPECT_FALSE(Reachability::isIpAddress("::1"));
}

}  // namespace
