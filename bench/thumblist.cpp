// bench-link: handpix_photolist
// bench-sources: tests/support/PhotoLike.cpp
// The thumbnail list at 100,000 pictures whose 100 x 75 thumbnails are all
// in the cache already (a second open), against the floor of reading, and of
// reading and decoding, those thumbnails with libjpeg-turbo, in the same run
// and interleaved with ours:
//  - second open: SetPath until the build has ended, on an 800 x 600 list
//    whose host pumps its messages meanwhile; first paint: SetPath until the
//    first screen of tiles shows its pictures;
//  - one scroll step (a line down, repainted) through parts of the list
//    never shown before, against decoding the one row of thumbnails it shows;
//  - resident memory per item after the open and after paging through 200
//    screens of the list, in a fresh process so nothing earlier is counted.
// The folder and its cache are made once (the first build makes the 100,000
// thumbnails) under $HANDPIX_BENCH_DIR or /tmp/handpix-bench-thumblist and
// reused by later runs.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "handpix/photolist/DecodedThumbnails.h"
#include "handpix/photolist/PhotoListCtrl.h"
#include "handpix/platform/core/MessageBox.h"
#include "handpix/platform/windows/Desktop.h"
#include "tests/support/PhotoLike.h"

namespace {
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kItems = 100000;

double Seconds(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

// CPU time of every thread of the process: on a machine shared with other
// work it moves far less than the wall clock does.
double CpuSeconds() {
    rusage ru{};
    ::getrusage(RUSAGE_SELF, &ru);
    auto sec = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6; };
    return sec(ru.ru_utime) + sec(ru.ru_stime);
}

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

fs::path Root() {
    const char* dir = std::getenv("HANDPIX_BENCH_DIR");
    return dir && *dir ? fs::path(dir) : fs::path("/tmp/handpix-bench-thumblist");
}
fs::path Source() { return Root() / "src"; }
fs::path CacheRoot() { return Root() / "cache"; }
fs::path ThumbFolder() { return CacheRoot() / "1"; }

long ResidentBytes() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * ::sysconf(_SC_PAGESIZE);
}

// An 800 x 600 client area inside the scroll bars, as the other list benches.
struct Scene {
    // Before the list, so they outlive the worker the list joins as it goes.
    std::mutex mutex;
    bool finished = false;  // written by the worker's reports
    CWnd host;
    CPhotoListCtrl list;
    Scene() {
        host.CreateEx(0, nullptr, "bench", WS_OVERLAPPED, CRect(0, 0, 900, 700), nullptr, 0);
        list.Create(nullptr, "", WS_CHILD | WS_VISIBLE | WS_HSCROLL | WS_VSCROLL, CRect(0, 0, 817, 617), &host, 1);
        list.SetCacheRoot(CString(CacheRoot().string()));
        list.SetBuildProgress([this](const handpix::PhotoListProgress& p) {
            std::lock_guard<std::mutex> lock(mutex);
            finished = p.finished;
        });
    }
    bool Finished() {
        std::lock_guard<std::mutex> lock(mutex);
        return finished;
    }
    // True once every cell of the first screen shows a picture: the centre of
    // each picture square is no longer the white of an empty tile.
    bool FirstScreenShown() {
        auto surface = list.GetSurface();
        if (!surface || list.GetItemCount() < 30) return false;
        for (int row = 0; row < 4; ++row)
            for (int col = 0; col < 6; ++col) {
                const int x = CPhotoListCtrl::kMargin + col * CPhotoListCtrl::kPitchX + 50;
                const int y = CPhotoListCtrl::kMargin + row * CPhotoListCtrl::kPitchY + 50;
                if ((surface->At(x, y) & 0xFFFFFF) == 0xFFFFFF) return false;
            }
        return true;
    }
    // SetPath as a host calls it, pumping as a host does; the times to the
    // first full screen and to the end of the build.
    void Open(double& firstPaint, double& open) {
        auto t0 = Clock::now();
        list.SetPath(CString(Source().string()));
        firstPaint = -1;
        while (!Finished()) {
            handpix::WaitForMessage(1);
            handpix::PumpMessages();
            if (firstPaint < 0 && FirstScreenShown()) firstPaint = Seconds(t0);
        }
        open = Seconds(t0);
        handpix::PumpMessages();
        if (firstPaint < 0 && FirstScreenShown()) firstPaint = open;
    }
};

std::vector<std::string> ThumbnailFiles() {
    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(ThumbFolder()))
        if (e.path().extension() == ".jpg") files.push_back(e.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

// The folder of 100,000 pictures and its cache, made once.
bool Prepare() {
    if (fs::exists(Root() / "ready")) return true;
    std::error_code ec;
    fs::remove_all(Root(), ec);
    fs::create_directories(Source());
    std::fprintf(stderr, "making %d pictures and their thumbnails under %s (once)\n", kItems, Root().c_str());
    const int w = 100, h = 75;
    std::vector<std::uint8_t> rgb = handpix::test::PhotoLike(w, h, 11);
    tjhandle tj = tjInitCompress();
    for (int i = 0; i < kItems; ++i) {
        for (int k = 0; k < 8; ++k) rgb[static_cast<std::size_t>((i * 7919 + k * 1543) % (w * h * 3))] ^= 0x3C;
        unsigned char* out = nullptr;
        unsigned long size = 0;
        tjCompress2(tj, rgb.data(), w, 0, h, TJPF_RGB, &out, &size, TJSAMP_420, 85, 0);
        char name[32];
        std::snprintf(name, sizeof name, "IMG_%06d.jpg", i);
        std::ofstream(Source() / name, std::ios::binary).write(reinterpret_cast<const char*>(out), static_cast<std::streamsize>(size));
        tjFree(out);
    }
    tjDestroy(tj);
    Scene scene;
    double first = 0, open = 0;
    scene.Open(first, open);
    if (scene.list.GetItemCount() != kItems || ThumbnailFiles().size() != static_cast<std::size_t>(kItems)) return false;
    std::ofstream(Root() / "ready") << "made\n";
    return true;
}

// The floors: every thumbnail read (and decoded) on one thread, as little as a
// list that shows them all from memory must do.
double ReadAll(const std::vector<std::string>& files, bool decode) {
    tjhandle tj = tjInitDecompress();
    std::vector<unsigned char> bytes(1 << 16), pixels;
    auto t0 = Clock::now();
    for (const std::string& f : files) {
        int fd = ::open(f.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        ssize_t n = ::read(fd, bytes.data(), bytes.size());
        ::close(fd);
        int w = 0, h = 0, sub = 0, cs = 0;
        if (!decode || n <= 0 || tjDecompressHeader3(tj, bytes.data(), static_cast<unsigned long>(n), &w, &h, &sub, &cs) != 0)
            continue;
        pixels.resize(static_cast<std::size_t>(w) * h * 4);
        tjDecompress2(tj, bytes.data(), static_cast<unsigned long>(n), pixels.data(), w, 0, h, TJPF_BGRX, 0);
    }
    double s = Seconds(t0);
    tjDestroy(tj);
    return s;
}

std::map<std::string, double>& Results() {
    static std::map<std::string, double> r;
    return r;
}

void BM_SecondOpen100k(benchmark::State& state) {
    if (!Prepare()) {
        state.SkipWithError("the folder or its cache could not be made");
        return;
    }
    const std::vector<std::string> files = ThumbnailFiles();
    std::vector<double> open, paint, read, decoded, openCpu, readCpu, decodedCpu;
    auto floor = [&](bool decode, std::vector<double>& wall, std::vector<double>& cpu) {
        const double c0 = CpuSeconds();
        wall.push_back(ReadAll(files, decode));
        cpu.push_back(CpuSeconds() - c0);
    };
    for (auto _ : state) {
        // Ours and the floors in turn, so a load that comes and goes meets each alike.
        handpix::ClearDecodedThumbnails();
        {
            auto scene = std::make_unique<Scene>();
            double first = 0, all = 0;
            const double c0 = CpuSeconds();
            scene->Open(first, all);
            openCpu.push_back(CpuSeconds() - c0);
            if (scene->list.GetItemCount() != kItems) state.SkipWithError("not every picture was listed");
            open.push_back(all);
            paint.push_back(first);
            state.PauseTiming();
            scene.reset();
            state.ResumeTiming();
        }
        floor(false, read, readCpu);
        floor(true, decoded, decodedCpu);
    }
    auto& r = Results();
    r["open"] = Median(open), r["paint"] = Median(paint), r["read"] = Median(read), r["decode"] = Median(decoded);
    r["open_cpu"] = Median(openCpu), r["read_cpu"] = Median(readCpu), r["decode_cpu"] = Median(decodedCpu);
    state.counters["open_s"] = r["open"];
    state.counters["first_paint_ms"] = r["paint"] * 1000;
    state.counters["floor_read_s"] = r["read"];
    state.counters["floor_read_decode_s"] = r["decode"];
    state.counters["open_cpu_s"] = r["open_cpu"];
    state.counters["floor_read_cpu_s"] = r["read_cpu"];
    state.counters["floor_read_decode_cpu_s"] = r["decode_cpu"];
}
BENCHMARK(BM_SecondOpen100k)->Unit(benchmark::kMillisecond)->Iterations(5);

// One line down at a time from the top, each step showing a row never shown
// before; the peer decodes the six thumbnails of such a row.
void BM_ScrollStep100k(benchmark::State& state) {
    if (!Prepare()) {
        state.SkipWithError("the folder or its cache could not be made");
        return;
    }
    const std::vector<std::string> files = ThumbnailFiles();
    Scene scene;
    double first = 0, all = 0;
    scene.Open(first, all);
    handpix::ClearDecodedThumbnails();
    scene.list.Invalidate(FALSE);
    scene.list.UpdateWindow();
    std::vector<double> ours, peer;
    std::size_t next = 0;
    std::vector<std::string> row(6);
    for (auto _ : state) {
        auto t0 = Clock::now();
        scene.list.SendMessage(WM_VSCROLL, SB_LINEDOWN, 0);
        scene.list.UpdateWindow();
        ours.push_back(Seconds(t0));
        state.PauseTiming();
        for (std::string& f : row) f = files[next++ % files.size()];
        peer.push_back(ReadAll(row, true));
        state.ResumeTiming();
    }
    auto& r = Results();
    r["scroll"] = Median(ours), r["row"] = Median(peer);
    state.counters["step_ms"] = r["scroll"] * 1000;
    state.counters["row_decode_ms"] = r["row"] * 1000;
    state.counters["decoded_cache_MB"] = static_cast<double>(handpix::GetDecodedThumbnailUsage().bytes) / (1 << 20);
}
BENCHMARK(BM_ScrollStep100k)->Unit(benchmark::kMicrosecond)->Iterations(2000);

// In a fresh process: resident bytes per item once the list is open and its
// first screen painted, and again after paging through the whole list.
int MeasureMemory() {
    Scene* scene = new Scene;  // made before the first reading: the window is not an item
    handpix::PumpMessages();
    const long before = ResidentBytes();
    double first = 0, all = 0;
    scene->Open(first, all);
    const long opened = ResidentBytes();
    // A hundred screens down from the top, then the end and a hundred up from there.
    auto key = [&](WPARAM vk) {
        MSG msg{};
        msg.message = WM_KEYDOWN;
        msg.wParam = vk;
        scene->list.PreTranslateMessage(&msg);
        scene->list.UpdateWindow();
    };
    for (int i = 0; i < 100; ++i) key(VK_NEXT);
    key(VK_END);
    for (int i = 0; i < 100; ++i) key(VK_PRIOR);
    const long scrolled = ResidentBytes();
    std::printf("%ld %ld %ld %ld\n", before, opened, scrolled, scene->list.GetItemCount());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    handpix::SetMessageBoxHandler([](const char*, const char*, UINT) { return IDOK; });
    if (argc == 2 && std::string(argv[1]) == "--memory") return MeasureMemory();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    auto& r = Results();
    auto ratio = [&](const char* what, const char* a, const char* b) {
        if (r.count(a) && r.count(b) && r[b] > 0) std::printf("%-44s %.2f x\n", what, r[a] / r[b]);
    };
    ratio("second open / read all thumbnails", "open", "read");
    ratio("second open / read and decode all thumbnails", "open", "decode");
    ratio("second open / read all, CPU time", "open_cpu", "read_cpu");
    ratio("second open / read and decode all, CPU time", "open_cpu", "decode_cpu");
    ratio("scroll step / decode one row of thumbnails", "scroll", "row");
    if (!Prepare()) return 1;
    const std::string cmd = "'" + fs::read_symlink("/proc/self/exe").string() + "' --memory";
    if (FILE* child = ::popen(cmd.c_str(), "r")) {
        long before = 0, opened = 0, scrolled = 0, items = 0;
        if (std::fscanf(child, "%ld %ld %ld %ld", &before, &opened, &scrolled, &items) == 4 && items > 0) {
            std::printf("%-44s %.0f bytes\n", "resident per item after the open", static_cast<double>(opened - before) / items);
            std::printf("%-44s %.0f bytes\n", "resident per item after 200 screens",
                        static_cast<double>(scrolled - before) / items);
        }
        ::pclose(child);
    }
    return 0;
}
