// bench-link: handpix_core
// bench-sources: bench/support/Spawn.cpp tests/support/PhotoLike.cpp tests/support/BmpWriter.cpp tests/support/JpegPeer.cpp
// One thumbnail as a user makes it: a whole `handpix thumb IN OUT` process
// against a whole `djpeg -scale 1/8` process on the same file, in one run,
// start-up included. The files: progressive 14.7-megapixel photographs in
// the three chroma layouts, and a 12-megapixel 4:2:0 photograph with a
// restart marker at every MCU row and without markers. Wall time per
// process; the counter "cpu_ms" is the child's user and system time.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "bench/support/Spawn.h"
#include "tests/support/BmpWriter.h"
#include "tests/support/JpegPeer.h"

namespace {

struct Kind {
    const char* name;
    int width, height, h0, v0;
    bool progressive;
    bool marked;  // a restart marker at every MCU row
};
constexpr Kind kKinds[] = {
    {"progressive_444", 4432, 3324, 1, 1, true, false},
    {"progressive_422", 4432, 3324, 2, 1, true, false},
    {"progressive_420", 4432, 3324, 2, 2, true, false},
    {"restart_420", 4000, 3000, 2, 2, false, true},
    {"baseline_420", 4000, 3000, 2, 2, false, false},
};

std::filesystem::path Dir() {
    auto dir = std::filesystem::temp_directory_path() / "handpix_bench_processes";
    std::filesystem::create_directories(dir);
    return dir;
}

// Made once and kept between runs: writing them takes longer than the bench.
std::string File(const Kind& k) {
    const std::string path = (Dir() / (std::string(k.name) + ".jpg")).string();
    if (std::filesystem::exists(path)) return path;
    const jpegtest::Picture photo = jpegtest::PhotoLike(k.width, k.height, 7);
    jpegtest::EncodeOptions o;
    o.quality = 90;
    o.h0 = k.h0;
    o.v0 = k.v0;
    o.progressive = k.progressive;
    if (k.marked) o.restartInterval = (k.width + 8 * k.h0 - 1) / (8 * k.h0);
    handpix::test::WriteBytes(path, jpegtest::PeerEncode(photo, o));
    return path;
}

void Measure(benchmark::State& st, const std::vector<std::string>& args) {
    double cpuMs = 0;
    for (auto _ : st)
        if (!handpix::bench::RunQuiet(args, &cpuMs)) {
            st.SkipWithError("the process failed");
            return;
        }
    st.counters["cpu_ms"] = benchmark::Counter(cpuMs / static_cast<double>(st.iterations()));
}

void BM_HandpixThumb(benchmark::State& st) {
    const Kind& k = kKinds[st.range(0)];
    st.SetLabel(k.name);
    Measure(st, {HANDPIX_TOOL, "thumb", File(k), (Dir() / "thumb.jpg").string()});
}

void BM_DjpegEighth(benchmark::State& st) {
    const Kind& k = kKinds[st.range(0)];
    st.SetLabel(k.name);
    Measure(st, {"djpeg", "-scale", "1/8", "-outfile", "/dev/null", File(k)});
}

void Kinds(benchmark::internal::Benchmark* b) {
    b->DenseRange(0, static_cast<int>(std::size(kKinds)) - 1)->UseRealTime()->Unit(benchmark::kMillisecond);
}
BENCHMARK(BM_HandpixThumb)->Apply(Kinds);
BENCHMARK(BM_DjpegEighth)->Apply(Kinds);

}  // namespace

BENCHMARK_MAIN();
