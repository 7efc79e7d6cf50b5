// Distributed notification latency between two processes on a private session bus.
// The benchmark starts its own dbus-daemon and a copy of itself as the echo peer ("--peer"). Each
// ping carries the sender's monotonic time (shared by all processes of the machine); the peer
// adds its receive time and posts it back, so both one-way legs are measured. The reference is
// the round trip of a plain method call (org.freedesktop.DBus.Peer.Ping on the bus) over the
// same kind of connection, in the same run.

#include <benchmark/benchmark.h>
#include <gio/gio.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "kit/base/RunLoop.h"
#include "kit/sys/DBusDistributedNotificationCenter.h"
#include "tests/kit/sys/PrivateBus.h"

namespace {

std::int64_t nowNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double percentile(std::vector<double> samples, double fraction) {
    if (samples.empty()) return 0;
    std::sort(samples.begin(), samples.end());
    auto index = static_cast<std::size_t>(std::lround(fraction * static_cast<double>(samples.size() - 1)));
    return samples[std::min(index, samples.size() - 1)];
}

int runPeer() {
    auto loop = kit::makeGlibRunLoop();
    kit::RunLoop::setMain(loop);
    auto connected = kit::DBusDistributedNotificationCenter::connect();
    if (!connected) {
        std::fprintf(stderr, "bench peer: %s\n", connected.error().c_str());
        return 2;
    }
    auto center = *connected;
    auto ping = center->addObserver("bench.ping", std::nullopt, [&](const kit::DistributedNotification& n) {
        std::int64_t received = nowNanoseconds();
        center->post("bench.pong", n.object,
                     kit::Value(kit::Dictionary{{"sent", n.userInfo["sent"]}, {"received", kit::Value(received)}}));
    });
    auto quit = center->addObserver("bench.exit", std::nullopt, [&](const kit::DistributedNotification&) { loop->quit(); });
    auto watchdog = loop->scheduleTimer(0.5, true, [&](kit::Timer&) {
        if (!center->isConnected()) loop->quit();
    });
    center->flush();
    center->post("bench.ready");
    loop->run();
    watchdog->invalidate();
    return 0;
}

struct Session {
    std::optional<kit::testing::PrivateBus> bus;
    std::shared_ptr<kit::RunLoop> loop;
    std::shared_ptr<kit::DBusDistributedNotificationCenter> center;
    GDBusConnection* plain = nullptr;
    GPid peer = 0;
    bool peerReady = false;
    bool pongArrived = false;
    std::int64_t sent = 0, peerReceived = 0, backAt = 0;
    std::shared_ptr<void> readyToken, pongToken;
    std::vector<double> forwardMicros, backMicros, pingMicros;

    // Runs the loop until the flag is set; false after five seconds.
    bool waitFor(const bool& flag) {
        bool expired = false;
        kit::TaskId timeout = loop->postAfter(5, [&] { expired = true; });
        loop->runNested([&] { return flag || expired; });
        loop->cancel(timeout);
        return flag;
    }

    std::string start() {
        std::string whyNot;
        bus = kit::testing::PrivateBus::start(&whyNot);
        if (!bus) return whyNot;
        ::setenv("DBUS_SESSION_BUS_ADDRESS", bus->address().c_str(), 1);
        loop = kit::makeGlibRunLoop();
        kit::RunLoop::setMain(loop);
        auto connected = kit::DBusDistributedNotificationCenter::connect();
        if (!connected) return connected.error();
        center = *connected;
        readyToken = center->addObserver("bench.ready", std::nullopt,
                                         [this](const kit::DistributedNotification&) { peerReady = true; });
        pongToken = center->addObserver("bench.pong", std::nullopt, [this](const kit::DistributedNotification& n) {
            backAt = nowNanoseconds();
            sent = n.userInfo["sent"].integerValue();
            peerReceived = n.userInfo["received"].integerValue();
            pongArrived = true;
        });
        center->flush();
        GError* error = nullptr;
        plain = g_dbus_connection_new_for_address_sync(
            bus->address().c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, &error);
        if (!plain) return error->message;

        std::string program = std::filesystem::read_symlink("/proc/self/exe").string();
        gchar* argv[] = {program.data(), const_cast<gchar*>("--peer"), nullptr};
        if (!g_spawn_async(nullptr, argv, nullptr, G_SPAWN_DO_NOT_REAP_CHILD, nullptr, nullptr, &peer, &error))
            return error->message;
        if (!waitFor(peerReady)) return "the peer did not start";
        return {};
    }

    void stop() {
        if (center) {
            center->post("bench.exit");
            center->flush();
        }
        if (peer) {
            ::waitpid(peer, nullptr, 0);
            peer = 0;
        }
        if (plain) {
            g_dbus_connection_close_sync(plain, nullptr, nullptr);
            g_object_unref(plain);
        }
        readyToken.reset();
        pongToken.reset();
        center.reset();
        bus.reset();
    }
};

Session* session = nullptr;

void BM_NotificationPingPong(benchmark::State& state) {
    for (auto _ : state) {
        session->pongArrived = false;
        std::int64_t sent = nowNanoseconds();
        session->center->post("bench.ping", "", kit::Value(kit::Dictionary{{"sent", kit::Value(sent)}}));
        if (!session->waitFor(session->pongArrived) || session->sent != sent) {
            state.SkipWithError("no answer from the peer");
            break;
        }
        session->forwardMicros.push_back(static_cast<double>(session->peerReceived - sent) / 1000.0);
        session->backMicros.push_back(static_cast<double>(session->backAt - session->peerReceived) / 1000.0);
    }
    std::vector<double> oneWay = session->forwardMicros;
    oneWay.insert(oneWay.end(), session->backMicros.begin(), session->backMicros.end());
    state.counters["oneway_median_us"] = percentile(oneWay, 0.5);
    state.counters["oneway_p99_us"] = percentile(oneWay, 0.99);
}

void BM_BusPingRoundTrip(benchmark::State& state) {
    for (auto _ : state) {
        std::int64_t start = nowNanoseconds();
        GVariant* reply = g_dbus_connection_call_sync(session->plain, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                      "org.freedesktop.DBus.Peer", "Ping", nullptr, nullptr,
                                                      G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
        session->pingMicros.push_back(static_cast<double>(nowNanoseconds() - start) / 1000.0);
        if (!reply) {
            state.SkipWithError("Ping failed");
            break;
        }
        g_variant_unref(reply);
    }
    state.counters["roundtrip_median_us"] = percentile(session->pingMicros, 0.5);
}

BENCHMARK(BM_NotificationPingPong)->Iterations(3000)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BusPingRoundTrip)->Iterations(3000)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--peer") return runPeer();

    Session running;
    std::string problem = running.start();
    if (!problem.empty()) {
        std::fprintf(stderr, "bench_sys: %s\n", problem.c_str());
        running.stop();
        return 1;
    }
    session = &running;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::vector<double> oneWay = running.forwardMicros;
    oneWay.insert(oneWay.end(), running.backMicros.begin(), running.backMicros.end());
    if (!oneWay.empty() && !running.pingMicros.empty()) {
        double median = percentile(oneWay, 0.5);
        double p99 = percentile(oneWay, 0.99);
        double reference = percentile(running.pingMicros, 0.5);
        std::printf("notification one-way: median %.1f us, p99 %.1f us (there %.1f us, back %.1f us medians)\n", median,
                    p99, percentile(running.forwardMicros, 0.5), percentile(running.backMicros, 0.5));
        std::printf("reference Ping round trip: median %.1f us; ratio one-way median / Ping round trip = %.2f\n",
                    reference, median / reference);
        std::printf("aim: median under 1000 us: %s\n", median < 1000 ? "met" : "NOT met");
    }
    session = nullptr;
    running.stop();
    return 0;
}
