// bench-link: handpix_screen
// bench-sources: tools/FolderList.cpp tests/support/PhotoCacheFiles.cpp tests/support/JpegPeer.cpp tests/support/PhotoLike.cpp
// The thumbnail list in a real window (needs a display, e.g. under Xvfb with
// SDL_VIDEODRIVER=x11): from starting the screen to the first complete paint
// (every tile of the first screen drawn and presented) of a cached
// 1,000-picture folder; one wheel step at 1280 x 800 (scroll,
// repaint of the strip, present); and the CPU the pump uses while nothing
// happens.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "handpix/platform/screen/Screen.h"
#include "handpix/platform/windows/Desktop.h"
#include "tests/support/PhotoCacheFiles.h"
#include "tools/FolderList.h"

namespace {
using handpix::screen::Screen;
using handpix::tool::BuildState;

// 1,000 small photographs and their thumbnails, made once.
struct Folder {
    handpix::test::TempTree tree;
    std::string dir = tree / "pictures";
    std::string cache = tree / "cache";
    Folder() {
        std::filesystem::create_directories(dir);
        for (int i = 0; i < 1000; ++i)
            handpix::test::WriteJpeg(dir + "/p" + std::to_string(1000 + i) + ".jpg", 160, 120, static_cast<unsigned>(i));
    }
};
Folder& TheFolder() {
    static Folder folder;
    return folder;
}

// A browse window: the list filling its host, shown on the screen.
struct Window {
    CWnd host;
    std::unique_ptr<CPhotoListCtrl> list = std::make_unique<CPhotoListCtrl>(IMG_JPEG);
    std::shared_ptr<BuildState> state = std::make_shared<BuildState>();
    Window(Screen& screen, int width, int height) {
        handpix::tool::OpenFolderList(host, *list, "bench", width, height, TheFolder().dir, TheFolder().cache, state);
        screen.Show(&host);
    }
    // Built, painted and presented.
    bool Complete() { return state->finished && !list->GetUpdateRect(nullptr); }
    // Every tile of the first screen painted and presented.
    bool FirstScreen() {
        CRect client;
        list->GetClientRect(&client);
        const int rows = (client.Height() - CPhotoListCtrl::kMargin + CPhotoListCtrl::kPitchY - 1) / CPhotoListCtrl::kPitchY;
        return (state->finished || state->done >= list->m_nColumns * rows) && !list->GetUpdateRect(nullptr);
    }
    ~Window() { list.reset(); }
};

// One screen for the program, as in the tool; how long it took to start is
// part of a launch and is reported with the first paint.
double g_startMs = 0;
Screen* TheScreen(benchmark::State& state) {
    static Screen screen;
    static std::string why = [] {
        const auto start = std::chrono::steady_clock::now();
        std::string reason;
        if (screen.Start(&reason)) reason.clear();
        else if (reason.empty()) reason = "unknown";
        g_startMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        return reason;
    }();
    if (why.empty()) return &screen;
    state.SkipWithError(("no screen: " + why).c_str());
    return nullptr;
}

void BM_FirstCompletePaint(benchmark::State& state) {
    Screen* screen = TheScreen(state);
    if (!screen) return;
    {
        // The first build makes the thumbnails; the measured ones reuse them.
        Window warm(*screen, 800, 600);
        while (!warm.Complete()) screen->Step(20);
    }
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        Window w(*screen, 800, 600);
        while (!w.FirstScreen()) screen->Step(20);
        // Closing the window (stopping the rest of the build) is not counted.
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    state.counters["screen_start_ms"] = g_startMs;
}
BENCHMARK(BM_FirstCompletePaint)->Unit(benchmark::kMillisecond)->UseManualTime();

void BM_WheelStep(benchmark::State& state) {
    Screen* screen = TheScreen(state);
    if (!screen) return;
    Window w(*screen, 1280, 800);
    while (!w.Complete()) screen->Step(20);
    int delta = -WHEEL_DELTA;
    for (auto _ : state) {
        handpix::PostWheel(w.list.get(), delta, CPoint(400, 300));
        screen->Step(0);  // the wheel message, the scroll, the strip's paint, the present
        delta = -delta;  // down and up again, so every step moves
    }
}
BENCHMARK(BM_WheelStep)->Unit(benchmark::kMicrosecond)->UseRealTime();

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void BM_Idle(benchmark::State& state) {
    Screen* screen = TheScreen(state);
    if (!screen) return;
    Window w(*screen, 800, 600);
    while (!w.Complete()) screen->Step(20);
    double cpu = 0;
    for (auto _ : state) {
        const double before = CpuSeconds();
        screen->Step(1000);  // nothing happens: the pump sleeps the second out
        cpu += CpuSeconds() - before;
    }
    state.counters["cpu_percent"] = 100.0 * cpu / static_cast<double>(state.iterations());
}
BENCHMARK(BM_Idle)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
