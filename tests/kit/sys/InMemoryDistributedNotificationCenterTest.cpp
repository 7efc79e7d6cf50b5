#include "kit/headless/InMemoryDistributedNotificationCenter.h"

#include <gtest/gtest.h>

#include "kit/headless/TestEnvironment.h"

namespace kit {
namespace {

struct Received {
    std::string process;
    DistributedNotification notification;
};

class InMemoryDistributedTest : public ::testing::Test {
protected:
    TestEnvironment env;
    std::shared_ptr<InMemoryDistributedNotificationCenter> host = env.makeProcessCenter("host");
    std::vector<Received> received;

    std::shared_ptr<void> record(DistributedNotificationCenter& center, const std::string& process,
                                 std::string name, std::optional<std::string> object = std::nullopt) {
        return center.addObserver(std::move(name), std::move(object),
                                  [this, process](const DistributedNotification& n) { received.push_back({process, n}); });
    }
};

TEST_F(InMemoryDistributedTest, aPostReachesEveryProcessOnALaterTurnOfTheLoop) {
    auto self = record(env.distributedCenter(), "self", "kM2A_Test");
    auto other = record(*host, "host", "kM2A_Test");
    Value info(Dictionary{{"data", Value(true)}, {"when", Value(Date{5})}});

    host->post("kM2A_Test", "", info);
    EXPECT_TRUE(received.empty()) << "delivered inside post()";
    EXPECT_EQ(env.distributedBus().postCount("kM2A_Test"), 1u);
    EXPECT_EQ(env.distributedBus().posts().front().process, "host");

    env.runUntilIdle();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].process, "self");
    EXPECT_EQ(received[1].process, "host");
    EXPECT_EQ(received[0].notification.userInfo, info);
    EXPECT_EQ(received[0].notification.name, "kM2A_Test");
}

TEST_F(InMemoryDistributedTest, observersFilterByNameAndObjectAndPostsKeepTheirOrder) {
    auto any = record(*host, "any", "");
    auto named = record(*host, "named", "B");
    auto withObject = record(*host, "object", "B", std::string("x"));
    env.distributedCenter().post("A");
    env.distributedCenter().post("B", "y");
    env.distributedCenter().post("B", "x");
    env.runUntilIdle();

    std::vector<std::string> seen;
    for (const auto& r : received) seen.push_back(r.process + ":" + r.notification.name + r.notification.object);
    EXPECT_EQ(seen, (std::vector<std::string>{"any:A", "any:By", "named:By", "any:Bx", "named:Bx", "object:Bx"}));
}

TEST_F(InMemoryDistributedTest, releasingATokenStopsDeliveryEvenForAPostAlreadyOnItsWay) {
    auto token = record(*host, "host", "N");
    EXPECT_EQ(host->observerCount(), 1u);
    env.distributedCenter().post("N");
    token.reset();
    EXPECT_EQ(host->observerCount(), 0u);
    env.runUntilIdle();
    EXPECT_TRUE(received.empty());
}

TEST_F(InMemoryDistributedTest, handlersMayRemoveThemselvesAndAddObserversWhileDelivered) {
    std::shared_ptr<void> first;
    std::shared_ptr<void> added;
    int firstCalls = 0;
    int addedCalls = 0;
    first = host->addObserver("N", std::nullopt, [&](const DistributedNotification&) {
        ++firstCalls;
        first.reset();
        added = host->addObserver("N", std::nullopt, [&](const DistributedNotification&) { ++addedCalls; });
    });
    auto second = record(*host, "second", "N");
    env.distributedCenter().post("N");
    env.runUntilIdle();
    EXPECT_EQ(firstCalls, 1);
    EXPECT_EQ(addedCalls, 0) << "an observer added during delivery saw the same post";
    EXPECT_EQ(received.size(), 1u) << "the observer after the removed one was skipped";

    env.distributedCenter().post("N");
    env.runUntilIdle();
    EXPECT_EQ(firstCalls, 1);
    EXPECT_EQ(addedCalls, 1);
}

TEST_F(InMemoryDistributedTest, aCenterReleasedBeforeDeliveryIsSkippedAndEmptyNamesAreRefused) {
    auto token = record(*host, "host", "N");
    env.distributedCenter().post("N");
    host.reset();
    env.runUntilIdle();
    EXPECT_TRUE(received.empty());

    env.distributedCenter().post("");
    EXPECT_TRUE(env.distributedBus().postsNamed("").empty());
    EXPECT_TRUE(env.log().contains("the name is empty"));
}

TEST_F(InMemoryDistributedTest, userInfoArrivesAsAnotherProcessWouldSeeIt) {
    env.distributedCenter().post("N", "", Value("not a dictionary"));
    env.distributedCenter().post("M", "", Value(Dictionary{}));
    ASSERT_NE(env.distributedBus().lastPost("N"), nullptr);
    EXPECT_TRUE(env.distributedBus().lastPost("N")->userInfo.isNull());
    EXPECT_TRUE(env.distributedBus().lastPost("M")->userInfo.isNull());
    EXPECT_TRUE(env.log().contains("not a dictionary"));
}

}  // namespace
}  // namespace kit
