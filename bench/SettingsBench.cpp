// db_ getters of the shared settings file against a bare read of the same bytes; prints the
// getter's median time and the ratio.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "app/core/KZSharedPlistManager.h"
#include "bench/MedianRatios.h"
#include "kit/base/Log.h"

namespace {

namespace fs = std::filesystem;

// A settings file as the application leaves it after some use: the new-file keys plus the
// drag state and three cookies.
struct SettingsFolder {
    SettingsFolder() {
        char pattern[] = "/tmp/quarn-settings-bench-XXXXXX";
        folder = ::mkdtemp(pattern);
        KZSharedPlistManager manager(folder);
        auto dict = KZSharedPlistManager::newFileDictionary();
        dict.set("kQuarn_AI_FILE_DRAG_STATE", true);
        kit::Array cookies;
        for (const char* name : {"session", "lang", "theme"})
            cookies.emplace_back(kit::Dictionary{{"Name", name}, {"Value", "a1b2c3d4e5"},
                                                 {"Domain", ".example.com"}, {"Path", "/"}});
        dict.set("kQuarn_AI_UD_Cookies", std::move(cookies));
        manager.writeData(dict);
    }
    ~SettingsFolder() {
        std::error_code ec;
        fs::remove_all(folder, ec);
    }
    fs::path folder;
};

SettingsFolder& settingsFolder() {
    static SettingsFolder folder;
    return folder;
}

void SettingsGetter(benchmark::State& state) {
    KZSharedPlistManager manager(settingsFolder().folder);
    for (auto _ : state) {
        bool value = manager.db_showAIStatusBarItem();
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(SettingsGetter)->Repetitions(9)->DisplayAggregatesOnly(true);

void SettingsLoginGetter(benchmark::State& state) {
    KZSharedPlistManager manager(settingsFolder().folder);
    for (auto _ : state) {
        auto info = manager.db_authUserInfo();
        benchmark::DoNotOptimize(info);
    }
}
BENCHMARK(SettingsLoginGetter)->Repetitions(9)->DisplayAggregatesOnly(true);

void BareFileRead(benchmark::State& state) {
    const std::string path = (settingsFolder().folder / "QuarnAIConfig.plist").string();
    std::string bytes;
    for (auto _ : state) {
        bytes.clear();
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        char buffer[4096];
        for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) bytes.append(buffer, static_cast<std::size_t>(n));
        ::close(fd);
        benchmark::DoNotOptimize(bytes);
    }
}
BENCHMARK(BareFileRead)->Repetitions(9)->DisplayAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
    return bench::runAndPrintRatios(argc, argv, {{"db_showAIStatusBarItem/bare read", "SettingsGetter", "BareFileRead"},
                                    {"db_authUserInfo/bare read", "SettingsLoginGetter", "BareFileRead"}});
}
