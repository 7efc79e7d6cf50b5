// The desktop backend under a private Xvfb and session bus: unless it already runs inside one
// (QUARN_DESKTOP_BENCH_INNER), the executable starts again inside xvfb-run and dbus-run-session.
//
// HotKeyToFirstFrame: xdotool presses a registered global hot key; the handler makes and shows a
// side-window-like panel. Reported time (manual): from the handler's start to the end of the
// window's first frame, the application's own work. end_to_end_ms adds the trip through xdotool
// and the X server. The reference is drawing the same window off screen in the same run.
// ResidentMemory: the process's resident set with four such windows shown.

#include <benchmark/benchmark.h>
#include <glib.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "kit/desktop/Desktop.h"
#include "kit/headless/OffscreenRenderer.h"
#include "kit/sys/GlobalHotKeys.h"
#include "kit/ui/Application.h"
#include "kit/ui/Button.h"
#include "kit/ui/Create.h"
#include "kit/ui/Label.h"
#include "kit/ui/View.h"
#include "kit/ui/Window.h"

namespace {

double nowSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool pumpUntil(const std::function<bool()>& done, double seconds) {
    const double deadline = nowSeconds() + seconds;
    while (!done()) {
        if (nowSeconds() > deadline) return false;
        if (!g_main_context_iteration(nullptr, FALSE)) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

// A panel shaped like the side chat window: rounded, translucent background, a title row,
// a list of message bubbles and an input row.
std::shared_ptr<kit::Window> makeSidePanel(kit::Rect frame) {
    auto window = kit::create<kit::Window>(frame, kit::WindowStyleBorderless | kit::WindowStyleResizable);
    window->setOpaque(false);
    window->setBackgroundColor(kit::Color::clear());
    window->setLevel(kit::WindowLevel::Floating);
    auto content = window->contentView();
    content->setWantsLayer(true);
    content->setBackgroundColor(kit::Color::fromHex(0xF7F7FA));
    content->setCornerRadius(12);
    content->setMasksToBounds(true);
    auto title = kit::create<kit::Label>(kit::Rect{16, frame.height() - 40, frame.width() - 32, 24});
    title->setStringValue("Quarn AI");
    content->addSubview(title);
    for (int i = 0; i < 8; ++i) {
        auto bubble = kit::create<kit::View>(kit::Rect{i % 2 ? 80.0 : 16.0, 80.0 + i * 80, frame.width() - 96, 64});
        bubble->setBackgroundColor(i % 2 ? kit::Color::fromHex(0xD8E6FF) : kit::Color::white());
        bubble->setCornerRadius(10);
        auto text = kit::create<kit::Label>(kit::Rect{10, 8, frame.width() - 116, 48});
        text->setStringValue("A message of the conversation, long enough to wrap onto a second line.");
        bubble->addSubview(text);
        content->addSubview(bubble);
    }
    auto send = kit::Button::withTitle("Send");
    send->setFrame({frame.width() - 96, 16, 80, 32});
    content->addSubview(send);
    return window;
}

long residentKilobytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("VmRSS:")) return std::atol(line.c_str() + 6);
    }
    return 0;
}

bool setUp() {
    static bool ready = [] {
        auto status = kit::desktop::install();
        if (!status.ok()) return false;
        kit::Application::shared().reset();
        return true;
    }();
    return ready;
}

double offscreenRenderSeconds() {
    auto window = makeSidePanel({1000, 50, 420, 800});
    kit::renderWindow(*window);
    std::vector<double> times;
    for (int i = 0; i < 15; ++i) {
        window->contentView()->setNeedsDisplay();
        const double start = nowSeconds();
        auto image = kit::renderWindow(*window);
        benchmark::DoNotOptimize(image);
        times.push_back(nowSeconds() - start);
    }
    window->close();
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void BM_HotKeyToFirstFrame(benchmark::State& state) {
    if (!setUp()) {
        state.SkipWithError("no X display");
        return;
    }
    const double reference = offscreenRenderSeconds();
    auto& hotKeys = kit::GlobalHotKeys::shared();
    std::shared_ptr<kit::Window> window;
    double handlerStart = 0;
    double firstFrame = 0;
    hotKeys.setHandler([&](std::uint32_t) {
        handlerStart = nowSeconds();
        window = makeSidePanel({1000, 50, 420, 800});
        window->makeKeyAndOrderFront();
    });
    kit::desktop::setFrameObserver([&](kit::Window& drawn) {
        if (window && &drawn == window.get() && firstFrame == 0) firstFrame = nowSeconds();
    });
    if (!hotKeys.registerHotKey(1, kit::kVK_ANSI_K, kit::HotKeyModifier::Command | kit::HotKeyModifier::Shift).ok()) {
        state.SkipWithError("the hot key could not be registered");
        return;
    }
    double appTotal = 0;
    double endToEndTotal = 0;
    std::int64_t measured = 0;
    for (auto _ : state) {
        handlerStart = 0;
        firstFrame = 0;
        const double pressed = nowSeconds();
        gchar* argv[] = {const_cast<gchar*>("xdotool"), const_cast<gchar*>("key"), const_cast<gchar*>("super+shift+k"),
                         nullptr};
        g_spawn_async(nullptr, argv, nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, nullptr, nullptr);
        if (!pumpUntil([&] { return firstFrame != 0; }, 5)) {
            state.SkipWithError("no frame after the hot key");
            break;
        }
        const double app = firstFrame - handlerStart;
        state.SetIterationTime(app);
        appTotal += app;
        endToEndTotal += firstFrame - pressed;
        ++measured;
        window->close();
        window.reset();
        pumpUntil([] { return false; }, 0.05);
    }
    hotKeys.unregisterHotKey(1);
    hotKeys.setHandler({});
    kit::desktop::setFrameObserver({});
    if (measured > 0) {
        const double app = appTotal / static_cast<double>(measured);
        state.counters["app_ms"] = app * 1000;
        state.counters["end_to_end_ms"] = endToEndTotal / static_cast<double>(measured) * 1000;
        state.counters["offscreen_draw_ms"] = reference * 1000;
        state.counters["ratio_to_offscreen_draw"] = app / reference;
    }
}
BENCHMARK(BM_HotKeyToFirstFrame)->UseManualTime()->Iterations(40)->Unit(benchmark::kMillisecond);

void BM_ResidentMemory(benchmark::State& state) {
    if (!setUp()) {
        state.SkipWithError("no X display");
        return;
    }
    const long before = residentKilobytes();
    std::vector<std::shared_ptr<kit::Window>> windows;
    for (auto _ : state) {
        for (int i = 0; i < 4; ++i) {
            auto window = makeSidePanel({100.0 + i * 300, 50, 420, 800});
            window->orderFront();
            windows.push_back(window);
        }
        pumpUntil(
            [&] {
                return std::all_of(windows.begin(), windows.end(),
                                   [](auto& w) { return kit::desktop::framesDrawn(*w) > 0; });
            },
            5);
    }
    state.counters["rss_mb"] = static_cast<double>(residentKilobytes()) / 1024.0;
    state.counters["rss_before_windows_mb"] = static_cast<double>(before) / 1024.0;
    for (auto& window : windows) window->close();
    pumpUntil([] { return false; }, 0.1);
}
BENCHMARK(BM_ResidentMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (!g_getenv("QUARN_DESKTOP_BENCH_INNER")) {
        // Windows and key presses go to a private display, never to the user's desktop.
        g_setenv("QUARN_DESKTOP_BENCH_INNER", "1", TRUE);
        std::vector<char*> args = {const_cast<char*>("xvfb-run"),
                                   const_cast<char*>("-a"),
                                   const_cast<char*>("-s"),
                                   const_cast<char*>("-screen 0 1440x900x24 -nolisten tcp"),
                                   const_cast<char*>("dbus-run-session"),
                                   const_cast<char*>("--config-file=" QUARN_TEST_SUPPORT_DIR "/session-bus.conf"),
                                   const_cast<char*>("--")};
        for (int i = 0; i < argc; ++i) args.push_back(argv[i]);
        args.push_back(nullptr);
        execvp("xvfb-run", args.data());
        perror("xvfb-run");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
