// bench-link: handpix_ijl handpix_core
// bench-sources: tests/support/PhotoLike.cpp tests/support/JpegPeer.cpp
// Thumbnail-scale (1/8) decodes of a 14.7-megapixel progressive JPEG in
// 4:4:4, 4:2:2 and 4:2:0: the JPEG-library stand-in's read as the thumbnail
// road makes it, against libjpeg-turbo decoding the same file at 1/8 with
// the same options, in the same run. Also what the progressive reader costs a
// baseline file (index 3), which it turns away: the folder build's usual case. Prints the ratios of the medians; run
// with --benchmark_repetitions=N --benchmark_enable_random_interleaving=true
// so that ours and the peer's alternate on a shared machine.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "handpix/platform/core/File.h"
#include "handpix/platform/ijl/Ijl.h"
#include "handpix/platform/ijl/ProgressiveEighth.h"
#include "tests/support/JpegPeer.h"

namespace {
constexpr int kW = 4700, kH = 3130;
const char* const kLayouts[] = {"444", "422", "420", "baseline420"};

const std::string& File(int layout) {
    static std::string paths[4];
    std::string& path = paths[layout];
    if (!path.empty()) return path;
    const auto dir = std::filesystem::temp_directory_path() / "handpix_bench_progressive";
    std::filesystem::create_directories(dir);
    path = (dir / (std::string("photo15_") + kLayouts[layout] + ".jpg")).string();
    if (std::filesystem::exists(path)) return path;
    jpegtest::EncodeOptions o;
    o.quality = 92;
    o.h0 = layout == 0 ? 1 : 2;
    o.v0 = layout >= 2 ? 2 : 1;
    o.progressive = layout < 3;
    const std::vector<std::uint8_t> bytes = jpegtest::PeerEncode(jpegtest::PhotoLike(kW, kH, 15), o);
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    return path;
}

// As CImageEdit::LoadJPG asks for a thumbnail: parameters, then the image at 1/8 into B, G, R rows.
void BM_Ours(benchmark::State& st) {
    const std::string& path = File(static_cast<int>(st.range(0)));
    for (auto _ : st) {
        JPEG_CORE_PROPERTIES p{};
        ijlInit(&p);
        p.JPGFile = path.c_str();
        if (ijlRead(&p, IJL_JFILE_READPARAMS) != IJL_OK) st.SkipWithError("parameters");
        p.DIBScaleDenom = 8;
        p.DIBWidth = ijlScaledSize(p.JPGWidth, 8);
        p.DIBHeight = static_cast<int>(ijlScaledSize(p.JPGHeight, 8));
        p.DIBPadBytes = (4 - p.DIBWidth * 3 % 4) % 4;
        std::vector<BYTE> px((p.DIBWidth * 3 + p.DIBPadBytes) * static_cast<std::size_t>(p.DIBHeight));
        p.DIBBytes = px.data();
        if (ijlRead(&p, IJL_JFILE_READWHOLEIMAGE) != IJL_OK) st.SkipWithError("image");
        ijlFree(&p);
        benchmark::DoNotOptimize(px.data());
    }
}

// libjpeg-turbo asked for the same pixels: the file read, then decoded at 1/8
// into B, G, R rows with plain chroma replication (djpeg -scale 1/8 does the
// same work, its default smooth chroma aside, which at 1/8 touches only 4:2:2).
void BM_Turbo(benchmark::State& st) {
    const std::string& path = File(static_cast<int>(st.range(0)));
    std::vector<std::uint8_t> bytes;
    jpegtest::Picture out;
    for (auto _ : st) {
        if (!handpix::ReadWholeFile(path.c_str(), bytes, 1u << 30) || !jpegtest::PeerDecodeEighth(bytes, out))
            st.SkipWithError("peer decode");
        benchmark::DoNotOptimize(out.px.data());
    }
}

// The progressive reader's look at a baseline file before it declines.
void BM_Decline(benchmark::State& st) {
    const std::string& path = File(3);
    for (auto _ : st) {
        JPEG_CORE_PROPERTIES p{};
        ijlInit(&p);
        p.JPGFile = path.c_str();
        ijlRead(&p, IJL_JFILE_READPARAMS);
        BYTE px[3];
        p.DIBScaleDenom = 8;
        p.DIBBytes = px;
        const int fd = ::open(path.c_str(), O_RDONLY);
        if (handpix::ReadProgressiveEighth(fd, 1u << 30, p)) st.SkipWithError("a baseline file was read");
        ::close(fd);
        ijlFree(&p);
    }
}

BENCHMARK(BM_Decline)->Unit(benchmark::kMicrosecond)->MinTime(0.5);
BENCHMARK(BM_Ours)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Turbo)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// Keeps the median (or only) CPU and wall time per iteration of every run.
class Medians : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            if (r.run_type != Run::RT_Aggregate || r.aggregate_name == "median")
                times[r.run_name.function_name + "/" + r.run_name.args] = {r.GetAdjustedCPUTime(),
                                                                            r.GetAdjustedRealTime()};
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, std::pair<double, double>> times;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    for (int i = 0; i < 4; ++i) File(i);
    Medians m;
    benchmark::RunSpecifiedBenchmarks(&m);
    for (int i = 0; i < 4; ++i) {
        const auto a = m.times.find("BM_Ours/" + std::to_string(i)), b = m.times.find("BM_Turbo/" + std::to_string(i));
        if (a != m.times.end() && b != m.times.end() && b->second.first > 0)
            std::printf("%s: ours / libjpeg-turbo at 1/8: CPU time %.3f, wall time %.3f\n", kLayouts[i],
                        a->second.first / b->second.first, a->second.second / b->second.second);
    }
    return 0;
}
