// The GIO watch behind the reachability monitor, on this machine's own loopback: it always
// sends one report after start, resolves host names, and stays quiet once stopped.

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <chrono>
#include <optional>

#include "kit/sys/Reachability.h"

namespace {

using Clock = std::chrono::steady_clock;

// Runs the default GLib context until `done` or a generous deadline.
bool iterateUntil(const std::function<bool()>& done, std::chrono::seconds deadline = std::chrono::seconds(20)) {
    auto end = Clock::now() + deadline;
    while (!done() && Clock::now() < end) g_main_context_iteration(nullptr, FALSE);
    return done();
}

TEST(GioReachabilityTest, ReportsOnceAfterStartForAnAddressAndAName) {
    for (const auto& target :
         {kit::ReachabilityTarget::address(0x7F000001, 80), kit::ReachabilityTarget::host("localhost")}) {
        auto watch = kit::makeGioReachability(target);
        ASSERT_NE(watch, nullptr);
        EXPECT_FALSE(watch->flags().has_value());  // nothing known before the first check
        std::vector<std::uint32_t> reports;
        ASSERT_TRUE(watch->start([&](std::uint32_t flags) { reports.push_back(flags); }));
        EXPECT_TRUE(watch->start([](std::uint32_t) {}));  // already running
        ASSERT_TRUE(iterateUntil([&] { return !reports.empty(); }));
        EXPECT_EQ(reports.size(), 1u);
        EXPECT_TRUE(reports[0] & kit::ReachabilityFlag::Reachable);
        EXPECT_EQ(watch->flags(), reports[0]);
        watch->stop();
        watch->stop();
    }
}

TEST(GioReachabilityTest, StoppedOrDestroyedBeforeTheAnswerStaysQuiet) {
    std::vector<std::uint32_t> reports;
    {
        auto watch = kit::makeGioReachability(kit::ReachabilityTarget::host("localhost"));
        ASSERT_NE(watch, nullptr);
        ASSERT_TRUE(watch->start([&](std::uint32_t flags) { reports.push_back(flags); }));
    }
    auto stopped = kit::makeGioReachability(kit::ReachabilityTarget::address(0x7F000001, 443));
    ASSERT_TRUE(stopped->start([&](std::uint32_t flags) { reports.push_back(flags); }));
    stopped->stop();
    iterateUntil([] { return false; }, std::chrono::seconds(1));
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(kit::makeGioReachability(kit::ReachabilityTarget::host("")), nullptr);
}

}  // namespace
