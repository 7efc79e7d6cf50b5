// Cost of posting N tasks and draining them, per task, for the virtual and the GLib loop, and
// the same work done with a std::deque of std::function as the reference. The ratios against
// that reference, measured in this run, are printed at the end.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <string>

#include "kit/base/RunLoop.h"

namespace {

constexpr int kTasks = 10000;

void referenceDeque(benchmark::State& state) {
    long sum = 0;
    for (auto _ : state) {
        std::deque<std::function<void()>> queue;
        for (int i = 0; i < kTasks; ++i) queue.push_back([&sum, i] { sum += i; });
        while (!queue.empty()) {
            auto task = std::move(queue.front());
            queue.pop_front();
            task();
        }
    }
    benchmark::DoNotOptimize(sum);
    state.SetItemsProcessed(state.iterations() * kTasks);
}

void virtualLoop(benchmark::State& state) {
    auto loop = kit::makeVirtualRunLoop();
    long sum = 0;
    for (auto _ : state) {
        for (int i = 0; i < kTasks; ++i) loop->post([&sum, i] { sum += i; });
        loop->runUntilIdle();
    }
    benchmark::DoNotOptimize(sum);
    state.SetItemsProcessed(state.iterations() * kTasks);
}

void glibLoop(benchmark::State& state) {
    auto loop = kit::makeGlibRunLoop();
    long sum = 0;
    for (auto _ : state) {
        for (int i = 0; i < kTasks; ++i) loop->post([&sum, i] { sum += i; });
        loop->post([&] { loop->quit(); });
        loop->run();
    }
    benchmark::DoNotOptimize(sum);
    state.SetItemsProcessed(state.iterations() * kTasks);
}

void virtualLoopRepeatingTimer(benchmark::State& state) {
    // One week of a one-second timer per iteration: 604800 firings.
    for (auto _ : state) {
        auto loop = kit::makeVirtualRunLoop();
        long ticks = 0;
        auto timer = loop->scheduleTimer(1, true, [&](kit::Timer&) { ++ticks; });
        loop->advance(604800);
        benchmark::DoNotOptimize(ticks);
        timer->invalidate();
    }
    state.SetItemsProcessed(state.iterations() * 604800);
}

BENCHMARK(referenceDeque);
BENCHMARK(virtualLoop);
BENCHMARK(glibLoop);
BENCHMARK(virtualLoopRepeatingTimer)->Unit(benchmark::kMillisecond);

// Keeps each run's real time per task so the ratios can be printed after the table.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.iterations == 0) continue;
            double tasks = run.benchmark_name().starts_with("virtualLoopRepeatingTimer") ? 604800.0 : kTasks;
            nsPerTask[run.benchmark_name()] =
                run.real_accumulated_time * 1e9 / static_cast<double>(run.iterations) / tasks;
        }
    }
    std::map<std::string, double> nsPerTask;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    auto& ns = reporter.nsPerTask;
    auto reference = ns.find("referenceDeque");
    std::printf("\nPost and drain, real time per task:\n");
    for (const auto& [name, value] : ns) {
        if (reference != ns.end() && reference->second > 0)
            std::printf("  %-28s %8.1f ns  (%.2fx the std::deque reference)\n", name.c_str(), value,
                        value / reference->second);
        else
            std::printf("  %-28s %8.1f ns\n", name.c_str(), value);
    }
    return 0;
}
