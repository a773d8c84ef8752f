// bench-link: handpix_photolist
// bench-sources: tests/support/PhotoLike.cpp
// The thumbnail cache build against its peers, same files, same run:
//  - first build of 40 photo-like 12-megapixel JPEGs vs one vipsthumbnail
//    process over the same files (when installed) and libjpeg-turbo's
//    reduced-scale decode of them (the decode floor);
//  - second build of 1,000 cached pictures vs libjpeg-turbo decoding the
//    1,000 thumbnail files;
//  - peak RSS at the end.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "handpix/photolist/PhotoListCtrl.h"
#include "handpix/platform/core/MessageBox.h"
#include "handpix/platform/windows/Desktop.h"
#include "tests/support/PhotoLike.h"

namespace {
namespace fs = std::filesystem;

struct Bench {
    fs::path root;
    fs::path big, many;  // 40 large pictures, 1,000 small ones
    std::map<std::string, double> seconds;  // mean per run, by name
};

Bench& State() {
    static Bench b;
    return b;
}

std::string Jpeg(const std::vector<std::uint8_t>& rgb, int w, int h, int quality) {
    tjhandle tj = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    tjCompress2(tj, rgb.data(), w, 0, h, TJPF_RGB, &out, &size, TJSAMP_420, quality, 0);
    std::string bytes(reinterpret_cast<char*>(out), size);
    tjFree(out);
    tjDestroy(tj);
    return bytes;
}

void Write(const fs::path& p, const std::string& bytes) { std::ofstream(p, std::ios::binary) << bytes; }

std::string Read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void MakeFiles() {
    Bench& b = State();
    char pattern[] = "/tmp/bench-photocache-XXXXXX";
    b.root = ::mkdtemp(pattern);
    b.big = b.root / "big";
    b.many = b.root / "many";
    fs::create_directories(b.big);
    fs::create_directories(b.many);
    // One 12-megapixel scene, varied per file so every file is its own.
    const int w = 4000, h = 3000;
    std::vector<std::uint8_t> scene = handpix::test::PhotoLike(w, h, 7);
    for (int i = 0; i < 40; ++i) {
        for (int k = 0; k < 64; ++k) scene[static_cast<std::size_t>((i * 7919 + k * 104729) % (w * h * 3))] ^= 0x55;
        Write(b.big / ("IMG_" + std::to_string(1000 + i) + ".jpg"), Jpeg(scene, w, h, 90));
    }
    std::vector<std::uint8_t> small = handpix::test::PhotoLike(320, 240, 3);
    for (int i = 0; i < 1000; ++i) {
        small[static_cast<std::size_t>(i * 97 % small.size())] ^= 0x33;
        Write(b.many / ("p" + std::to_string(i) + ".jpg"), Jpeg(small, 320, 240, 85));
    }
}

// One build on this thread, as the worker runs it after emptying the list.
handpix::PhotoListProgress Build(const fs::path& folder, const fs::path& cache) {
    CWnd host;
    host.CreateEx(0, nullptr, "bench", WS_OVERLAPPED, CRect(0, 0, 800, 600), nullptr, 0);
    CPhotoListCtrl list;
    list.Create(nullptr, "", WS_CHILD | WS_HSCROLL | WS_VSCROLL, CRect(0, 0, 800, 600), &host, 1);
    list.SetCacheRoot(CString(cache.string()));
    handpix::PhotoListProgress last;
    list.SetBuildProgress([&](const handpix::PhotoListProgress& p) { last = p; });
    list.m_strPath = CString(folder.string());
    list.InitPhotoList();
    handpix::PumpMessages();
    return last;
}

void Record(benchmark::State& state, const char* name, double total) {
    State().seconds[name] = total / static_cast<double>(state.iterations());
}

void BM_FirstBuild40Large(benchmark::State& state) {
    double total = 0;
    for (auto _ : state) {
        fs::path cache = State().root / "cache-first";
        fs::remove_all(cache);
        auto t0 = std::chrono::steady_clock::now();
        auto p = Build(State().big, cache);
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (p.made != 40) state.SkipWithError("not every thumbnail was made");
    }
    Record(state, "first", total);
}

void BM_Vipsthumbnail40Large(benchmark::State& state) {
    if (std::system("command -v vipsthumbnail >/dev/null 2>&1") != 0) {
        state.SkipWithError("vipsthumbnail not installed");
        return;
    }
    double total = 0;
    fs::path out = State().root / "vips";
    for (auto _ : state) {
        fs::remove_all(out);
        fs::create_directories(out);
        std::string cmd = "vipsthumbnail --size 100x100 -o '" + out.string() + "/%s.jpg' '" + State().big.string() + "'/*.jpg";
        auto t0 = std::chrono::steady_clock::now();
        if (std::system(cmd.c_str()) != 0) state.SkipWithError("vipsthumbnail failed");
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    Record(state, "vips", total);
}

// libjpeg-turbo decoding each file whole at the scale that still leaves
// 100 x 100 pixels (1/8 for these pictures): no build can read less.
void DecodeAll(benchmark::State& state, const fs::path& folder, int denom, const char* name) {
    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(folder))
        if (e.path().filename().string().find(".jpg") != std::string::npos) files.push_back(e.path().string());
    tjhandle tj = tjInitDecompress();
    std::vector<unsigned char> out;
    double total = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        for (const std::string& f : files) {
            std::string bytes = Read(f);
            int w = 0, h = 0, sub = 0, cs = 0;
            auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
            if (tjDecompressHeader3(tj, data, bytes.size(), &w, &h, &sub, &cs) != 0) continue;
            int sw = (w + denom - 1) / denom, sh = (h + denom - 1) / denom;
            out.resize(static_cast<std::size_t>(sw) * sh * 3);
            tjDecompress2(tj, data, bytes.size(), out.data(), sw, 0, sh, TJPF_BGR, TJFLAG_FASTDCT);
        }
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    tjDestroy(tj);
    Record(state, name, total);
}

void BM_DecodeFloor40Large(benchmark::State& state) { DecodeAll(state, State().big, 8, "floor"); }

// CPU time of every thread of the process, in seconds.
double ProcessCpuSeconds() {
    rusage ru{};
    ::getrusage(RUSAGE_SELF, &ru);
    auto sec = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6; };
    return sec(ru.ru_utime) + sec(ru.ru_stime);
}

void BM_SecondBuild1000Cached(benchmark::State& state) {
    fs::path cache = State().root / "cache-second";
    Build(State().many, cache);
    double total = 0, cpu = 0;
    for (auto _ : state) {
        const double c0 = ProcessCpuSeconds();
        auto t0 = std::chrono::steady_clock::now();
        auto p = Build(State().many, cache);
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        cpu += ProcessCpuSeconds() - c0;
        if (p.reused != 1000) state.SkipWithError("a cached thumbnail was not reused");
    }
    // The build spreads over the cores: what all threads spent, per build.
    state.counters["all_threads_cpu_ms"] = cpu * 1000.0 / static_cast<double>(state.iterations());
    Record(state, "second", total);
}

void BM_DecodeThumbnails1000(benchmark::State& state) { DecodeAll(state, State().root / "cache-second" / "1", 1, "thumbs"); }

BENCHMARK(BM_FirstBuild40Large)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_Vipsthumbnail40Large)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_DecodeFloor40Large)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_SecondBuild1000Cached)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_DecodeThumbnails1000)->Unit(benchmark::kMillisecond)->Iterations(5);

void Ratio(const char* what, const char* a, const char* b) {
    auto& s = State().seconds;
    if (s.count(a) && s.count(b) && s[b] > 0) std::printf("%-40s %.2f x\n", what, s[a] / s[b]);
}

// Peak RSS of a process that does nothing but the second build of a folder.
long PeakRssKb() {
    rusage ru{};
    ::getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
    handpix::SetMessageBoxHandler([](const char*, const char*, UINT) { return IDOK; });
    if (argc == 4 && std::string(argv[1]) == "--rss-build") {
        Build(argv[2], argv[3]);
        std::printf("%ld\n", PeakRssKb());
        return 0;
    }
    MakeFiles();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    Ratio("first build / vipsthumbnail", "first", "vips");
    Ratio("first build / decode floor", "first", "floor");
    Ratio("vipsthumbnail / decode floor", "vips", "floor");
    Ratio("second build / decode of 1,000 thumbnails", "second", "thumbs");
    if (State().seconds.count("second")) std::printf("%-40s %.3f s\n", "second build of 1,000", State().seconds["second"]);
    std::string cmd = "'" + fs::read_symlink("/proc/self/exe").string() + "' --rss-build '" + State().many.string() +
                      "' '" + (State().root / "cache-second").string() + "'";
    if (FILE* child = ::popen(cmd.c_str(), "r")) {
        long kb = 0;
        if (std::fscanf(child, "%ld", &kb) == 1)
            std::printf("%-40s %.1f MB\n", "peak RSS, second build of 1,000", static_cast<double>(kb) / 1024.0);
        ::pclose(child);
    }
    std::printf("%-40s %.1f MB\n", "peak RSS, this whole run", static_cast<double>(PeakRssKb()) / 1024.0);
    std::error_code ec;
    fs::remove_all(State().root, ec);
    return 0;
}
