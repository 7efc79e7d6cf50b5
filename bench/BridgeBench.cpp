// 10,000 messages of about 1 KB each sent through the bridge engine (message building, JSON
// with "/" escaped, escaping for the script string, the script around it, handed to a page that
// only counts bytes), against a bare JSON dump of the same data as the reference. Messages per
// second and the ratio to the reference, both measured in this run, are printed at the end.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "app/web/WebViewJavascriptBridgeBase.h"
#include "kit/base/Json.h"

namespace {

constexpr int kMessages = 10000;

// Text with what a chat page sends: quotes, slashes, line breaks, non-ASCII, a line separator.
std::string sampleText(int seed) {
    static const char* const kPieces[] = {
        "The answer is \"42\". ", "See https://example.com/docs/a/b?x=1&y=2 for more.\n",
        "It's a 'quoted' word, a back\\slash. ", "\xE4\xB8\xAD\xE6\x96\x87\xE6\x96\x87\xE6\x9C\xAC ",
        "Tab\tand\r\nbreak. ", "Line\xE2\x80\xA8separator. ", "Plain words of an ordinary sentence. ",
    };
    std::string text;
    for (int i = 0; text.size() < 560; ++i) text += kPieces[(seed + i * 3) % 7];
    return text;
}

const std::vector<kit::Value>& payloads() {
    static const std::vector<kit::Value> data = [] {
        std::vector<kit::Value> out;
        out.reserve(kMessages);
        for (int i = 0; i < kMessages; ++i) {
            kit::Array items;
            for (int k = 0; k < 6; ++k) {
                items.push_back(kit::Dictionary{{"index", k}, {"name", "item/" + std::to_string(k)}, {"ok", k % 2 == 0}});
            }
            out.push_back(kit::Dictionary{{"type", "explain"},
                                          {"session_id", "s-" + std::to_string(i)},
                                          {"message", sampleText(i)},
                                          {"score", 0.5 + i},
                                          {"items", std::move(items)}});
        }
        return out;
    }();
    return data;
}

class CountingPage : public WebViewJavascriptBridgeBaseDelegate {
public:
    std::string _evaluateJavascript(const std::string& script) override {
        bytes += script.size();
        return {};
    }
    std::size_t bytes = 0;
};

void referenceJsonDump(benchmark::State& state) {
    const auto& data = payloads();
    std::size_t bytes = 0;
    for (auto _ : state) {
        for (const auto& payload : data) bytes += kit::toJson(payload).size();
    }
    benchmark::DoNotOptimize(bytes);
    state.SetItemsProcessed(state.iterations() * kMessages);
    state.counters["bytes_per_message"] = static_cast<double>(bytes) / static_cast<double>(state.iterations() * kMessages);
}

void bridgeSend(benchmark::State& state) {
    const auto& data = payloads();
    CountingPage page;
    WebViewJavascriptBridgeBase engine;
    engine.delegate = &page;
    engine.injectJavascriptFile();
    page.bytes = 0;
    for (auto _ : state) {
        for (const auto& payload : data) engine.sendData(payload, nullptr, "SwipeOverMessage");
    }
    benchmark::DoNotOptimize(page.bytes);
    state.SetItemsProcessed(state.iterations() * kMessages);
    state.counters["script_bytes_per_message"] =
        static_cast<double>(page.bytes) / static_cast<double>(state.iterations() * kMessages);
}

void bridgeEncodeOnly(benchmark::State& state) {
    std::vector<kit::Value> messages;
    for (const auto& payload : payloads()) {
        messages.push_back(kit::Dictionary{{"data", payload}, {"handlerName", "SwipeOverMessage"}});
    }
    std::size_t bytes = 0;
    for (auto _ : state) {
        for (const auto& message : messages) bytes += WebViewJavascriptBridgeBase::javascriptForMessage(message).size();
    }
    benchmark::DoNotOptimize(bytes);
    state.SetItemsProcessed(state.iterations() * kMessages);
}

BENCHMARK(referenceJsonDump)->Unit(benchmark::kMillisecond);
BENCHMARK(bridgeSend)->Unit(benchmark::kMillisecond);
BENCHMARK(bridgeEncodeOnly)->Unit(benchmark::kMillisecond);

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.iterations == 0) continue;
            secondsPerBatch[run.benchmark_name()] = run.real_accumulated_time / static_cast<double>(run.iterations);
        }
    }
    std::map<std::string, double> secondsPerBatch;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const auto& s = reporter.secondsPerBatch;
    auto reference = s.find("referenceJsonDump/real_time");
    if (reference == s.end()) reference = s.find("referenceJsonDump");
    std::printf("\n%d messages of about 1 KB, real time:\n", kMessages);
    for (const auto& [name, seconds] : s) {
        if (seconds <= 0) continue;
        std::printf("  %-22s %10.0f messages/s", name.c_str(), kMessages / seconds);
        if (reference != s.end() && reference->second > 0)
            std::printf("  (%.2fx the bare JSON dump's time)", seconds / reference->second);
        std::printf("\n");
    }
    return 0;
}
