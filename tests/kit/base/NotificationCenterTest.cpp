#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "kit/base/NotificationCenter.h"

namespace kit {
namespace {

struct Observer {
    std::string name;
};

std::shared_ptr<Observer> makeObserver(std::string name) {
    return std::make_shared<Observer>(Observer{std::move(name)});
}

class NotificationCenterTest : public ::testing::Test {
protected:
    NotificationCenter center;
    std::vector<std::string> calls;

    NotificationCenter::Handler record(const std::string& who) {
        return [this, who](const Notification& n) { calls.push_back(who + ":" + n.name); };
    }
};

TEST_F(NotificationCenterTest, DeliversInRegistrationOrderWithNameAndObjectFilters) {
    int windowA = 0, windowB = 0;
    auto first = makeObserver("first");
    auto second = makeObserver("second");
    auto third = makeObserver("third");
    auto fourth = makeObserver("fourth");
    center.addObserver(second, "resize", nullptr, record("second"));
    center.addObserver(first, "", nullptr, record("all"));
    center.addObserver(third, "resize", &windowA, record("onlyA"));
    center.addObserver(fourth, "close", nullptr, record("close"));

    center.post("resize", &windowA);
    center.post("resize", &windowB);
    center.post("close");
    EXPECT_EQ(calls, (std::vector<std::string>{"second:resize", "all:resize", "onlyA:resize", "second:resize",
                                               "all:resize", "all:close", "close:close"}));
}

TEST_F(NotificationCenterTest, PassesObjectAndUserInfo) {
    int sender = 0;
    auto observer = makeObserver("o");
    Notification seen;
    center.addObserver(observer, "changed", nullptr, [&](const Notification& n) { seen = n; });
    center.post("changed", &sender, Value(Dictionary{{"state", 0}}));
    EXPECT_EQ(seen.name, "changed");
    EXPECT_EQ(seen.object, &sender);
    EXPECT_EQ(seen.userInfo["state"].integerValue(), 0);
    EXPECT_TRUE(seen.userInfo.isDictionary());
}

TEST_F(NotificationCenterTest, ExpiredObserversAreNotCalledAndArePruned) {
    auto keep = makeObserver("keep");
    auto gone = makeObserver("gone");
    center.addObserver(gone, "x", nullptr, record("gone"));
    center.addObserver(keep, "x", nullptr, record("keep"));
    EXPECT_EQ(center.observerCount(), 2u);
    gone.reset();
    EXPECT_EQ(center.observerCount(), 1u);
    center.post("x");
    EXPECT_EQ(calls, (std::vector<std::string>{"keep:x"}));
}

TEST_F(NotificationCenterTest, TokensDeliverWhileHeldAndStopWhenReleasedOrRemoved) {
    auto held = center.addObserverForName("ping", nullptr, record("held"));
    auto released = center.addObserverForName("ping", nullptr, record("released"));
    auto removed = center.addObserverForName("ping", nullptr, record("removed"));
    released.reset();
    center.removeObserver(removed.get());
    center.post("ping");
    EXPECT_EQ(calls, (std::vector<std::string>{"held:ping"}));
    EXPECT_EQ(center.observerCount(), 1u);
}

TEST_F(NotificationCenterTest, RemovalByNameLeavesTheObserversOtherNames) {
    auto observer = makeObserver("o");
    center.addObserver(observer, "a", nullptr, record("o"));
    center.addObserver(observer, "b", nullptr, record("o"));
    center.addObserver(observer, "a", nullptr, record("o2"));
    center.removeObserver(observer.get(), "a");
    center.post("a");
    center.post("b");
    EXPECT_EQ(calls, (std::vector<std::string>{"o:b"}));
    center.removeObserver(observer.get());
    center.post("b");
    EXPECT_EQ(calls.size(), 1u);
    EXPECT_EQ(center.observerCount(), 0u);
}

TEST_F(NotificationCenterTest, ObserverRemovedDuringAPostIsNotCalledLaterInIt) {
    auto remover = makeObserver("remover");
    auto victim = makeObserver("victim");
    auto self = makeObserver("self");
    center.addObserver(remover, "x", nullptr, [&](const Notification&) {
        calls.push_back("remover");
        center.removeObserver(victim.get());
    });
    center.addObserver(self, "x", nullptr, [&](const Notification&) {
        calls.push_back("self");
        center.removeObserver(self.get());
    });
    center.addObserver(victim, "x", nullptr, record("victim"));
    center.post("x");
    center.post("x");
    EXPECT_EQ(calls, (std::vector<std::string>{"remover", "self", "remover"}));
}

TEST_F(NotificationCenterTest, ObserverReleasedDuringAPostIsNotCalledLaterInIt) {
    auto killer = makeObserver("killer");
    auto victim = makeObserver("victim");
    center.addObserver(killer, "x", nullptr, [&](const Notification&) { victim.reset(); });
    center.addObserver(victim, "x", nullptr, record("victim"));
    center.post("x");
    EXPECT_TRUE(calls.empty());
}

TEST_F(NotificationCenterTest, ObserverAddedDuringAPostWaitsForTheNextPost) {
    auto adder = makeObserver("adder");
    auto late = makeObserver("late");
    bool added = false;
    center.addObserver(adder, "x", nullptr, [&](const Notification&) {
        if (!added) center.addObserver(late, "x", nullptr, record("late"));
        added = true;
    });
    center.post("x");
    EXPECT_TRUE(calls.empty());
    center.post("x");
    EXPECT_EQ(calls, (std::vector<std::string>{"late:x"}));
}

// A handler's captures may call back into the centre while being destroyed; pruning and
// removal must not hold the centre's lock at that moment.
TEST_F(NotificationCenterTest, HandlerCapturesMayUseTheCentreWhenReleased) {
    struct Unregisters {
        Unregisters(NotificationCenter* c, const void* o) : center(c), other(o) {}
        Unregisters(const Unregisters&) = delete;
        ~Unregisters() { center->removeObserver(other); }
        NotificationCenter* center;
        const void* other;
    };
    auto other = makeObserver("other");
    center.addObserver(other, "x", nullptr, record("other"));
    auto guard = std::make_shared<Unregisters>(&center, other.get());
    auto token = center.addObserverForName("x", nullptr, [guard](const Notification&) {});
    guard.reset();
    token.reset();
    EXPECT_EQ(center.observerCount(), 1u) << "the expired token no longer counts";
    center.post("x");  // prunes the released token, whose capture removes `other`
    center.post("x");
    EXPECT_TRUE(calls.empty()) << "removed while the first post was being prepared";
    EXPECT_EQ(center.observerCount(), 0u);

    auto observer = makeObserver("o");
    auto guard2 = std::make_shared<Unregisters>(&center, nullptr);
    center.addObserver(observer, "y", nullptr, [guard2](const Notification&) {});
    guard2.reset();
    center.removeObserver(observer.get());
    EXPECT_EQ(center.observerCount(), 0u);
}

TEST(NotificationCenterDefault, IsProcessWide) {
    EXPECT_EQ(&NotificationCenter::defaultCenter(), &NotificationCenter::defaultCenter());
    auto token = NotificationCenter::defaultCenter().addObserverForName("kit.test.default", nullptr,
                                                                        [](const Notification&) {});
    EXPECT_GE(NotificationCenter::defaultCenter().observerCount(), 1u);
}

}  // namespace
}  // namespace kit
