#pragma once
// Runs the registered benchmarks, keeps each one's median time per iteration over its
// repetitions (the machine is shared and noisy), and prints the asked ratios of those medians.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace bench {

struct Ratio {
    const char* label;
    const char* ours;
    const char* reference;
};

class MedianReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median" && !run.error_occurred)
                medians[run.run_name.function_name] = run.GetAdjustedRealTime();
        }
    }
    std::map<std::string, double> medians;
};

inline int runAndPrintRatios(int argc, char** argv, const std::vector<Ratio>& ratios) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    for (const Ratio& r : ratios) {
        const auto a = reporter.medians.find(r.ours);
        const auto b = reporter.medians.find(r.reference);
        if (a == reporter.medians.end() || b == reporter.medians.end() || b->second <= 0) continue;
        std::printf("ratio %s = %.2f\n", r.label, a->second / b->second);
    }
    return 0;
}

}  // namespace bench
