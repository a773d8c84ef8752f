// CJpeg against libjpeg-turbo on one 12-megapixel photo-like picture:
// decode of a 4:2:0 quality-90 file, and encode at 4:4:4. Prints the ratios.
// bench-link: handpix_jpegcodec handpix_core
#include <benchmark/benchmark.h>
#include <turbojpeg.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "handpix/jpegcodec/Jpeg.h"

namespace {

constexpr int kWidth = 4000, kHeight = 3000;

// Smooth shading, a few hard edges, fine texture and sensor-like noise:
// what the entropy coder and transforms see in a photograph.
const std::vector<unsigned char>& Photo() {
    static const std::vector<unsigned char> px = [] {
        const std::size_t stride = 4 * ((3 * static_cast<std::size_t>(kWidth) + 3) / 4);
        std::vector<unsigned char> p(stride * kHeight);
        unsigned seed = 12345;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                const double u = static_cast<double>(x) / kWidth, v = static_cast<double>(y) / kHeight;
                const double texture = 12.0 * std::sin(x * 0.21) * std::sin(y * 0.17) * (u > 0.5 ? 1.0 : 0.3);
                const bool edge = ((x / 400 + y / 300) & 1) && v > 0.6;
                const double base[3] = {
                    90 + 70 * std::sin(5.0 * u + 1.0) * std::cos(2.0 * v) + texture,
                    110 + 60 * std::cos(4.0 * v + 2.0 * u) + (edge ? 50 : 0),
                    120 + 50 * std::sin(3.0 * (u + v)) + texture * 0.5,
                };
                for (int k = 0; k < 3; ++k) {
                    seed = seed * 1664525u + 1013904223u;
                    const double n = ((seed >> 24) & 7) - 3.5;
                    const double val = base[2 - k] + n;  // stored B, G, R
                    p[y * stride + 3 * static_cast<std::size_t>(x) + k] =
                        static_cast<unsigned char>(val < 0 ? 0 : val > 255 ? 255 : val);
                }
            }
        return p;
    }();
    return px;
}

int Pitch() { return 4 * ((3 * kWidth + 3) / 4); }

std::vector<unsigned char> TurboFile(int subsamp, int quality) {
    tjhandle h = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    tjCompress2(h, Photo().data(), kWidth, Pitch(), kHeight, TJPF_BGR, &out, &size, subsamp, quality, 0);
    std::vector<unsigned char> f(out, out + size);
    tjFree(out);
    tjDestroy(h);
    return f;
}

const std::vector<unsigned char>& File420() {
    static const std::vector<unsigned char> f = TurboFile(TJSAMP_420, 90);
    return f;
}

// Each load makes a fresh picture that the object owns, so the kernel's
// zeroing of its pages counts here; the peer writes into one buffer that
// every iteration reuses.
void BM_Decode420_CJpeg(benchmark::State& state) {
    const auto& f = File420();
    for (auto _ : state) {
        CJpeg j;
        if (j.LoadJPGFromMemory(f.data(), f.size()) != 1) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(j.m_pRGB);
    }
    state.counters["MP/s"] = benchmark::Counter(kWidth * double(kHeight) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_Decode420_Turbo(benchmark::State& state) {
    const auto& f = File420();
    std::vector<unsigned char> out(static_cast<std::size_t>(Pitch()) * kHeight);
    tjhandle h = tjInitDecompress();
    for (auto _ : state) {
        if (tjDecompress2(h, f.data(), f.size(), out.data(), kWidth, Pitch(), kHeight, TJPF_BGR, TJFLAG_BOTTOMUP) != 0)
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(out.data());
    }
    tjDestroy(h);
    state.counters["MP/s"] = benchmark::Counter(kWidth * double(kHeight) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_Encode444_CJpeg(benchmark::State& state) {
    char path[] = "/tmp/handpix_bench_jpegcodec.jpg";
    auto& px = const_cast<std::vector<unsigned char>&>(Photo());
    for (auto _ : state) {
        CJpeg j;
        if (j.SaveJPG(path, kWidth, kHeight, px.data()) != 1) state.SkipWithError("encode failed");
    }
    std::remove(path);
    state.counters["MP/s"] = benchmark::Counter(kWidth * double(kHeight) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

// Quality 50 scales the standard tables by 1, the nearest to CJpeg's fixed
// tables, so both coders see about the same number of coefficients.
void BM_Encode444_Turbo(benchmark::State& state) {
    tjhandle h = tjInitCompress();
    for (auto _ : state) {
        unsigned char* out = nullptr;
        unsigned long size = 0;
        if (tjCompress2(h, Photo().data(), kWidth, Pitch(), kHeight, TJPF_BGR, &out, &size, TJSAMP_444, 50, 0) != 0)
            state.SkipWithError("encode failed");
        tjFree(out);
    }
    tjDestroy(h);
    state.counters["MP/s"] = benchmark::Counter(kWidth * double(kHeight) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

// Short repetitions, run in random interleaved order (see main), so that
// both coders meet the same load on a shared machine; medians are compared.
BENCHMARK(BM_Decode420_CJpeg)->Unit(benchmark::kMillisecond)->MinTime(0.3)->Repetitions(9);
BENCHMARK(BM_Decode420_Turbo)->Unit(benchmark::kMillisecond)->MinTime(0.3)->Repetitions(9);
BENCHMARK(BM_Encode444_CJpeg)->Unit(benchmark::kMillisecond)->MinTime(0.3)->Repetitions(9);
BENCHMARK(BM_Encode444_Turbo)->Unit(benchmark::kMillisecond)->MinTime(0.3)->Repetitions(9);

// Keeps each benchmark's times per iteration so the ratios can be printed.
// CPU time is the fairer figure on a shared machine; wall time is shown too.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        // With repetitions, the median stands for the benchmark (the other
        // aggregates are not times per iteration).
        for (const Run& r : runs)
            if ((r.run_type != Run::RT_Aggregate && r.repetitions <= 1) || r.aggregate_name == "median")
                times[r.run_name.function_name] = {r.GetAdjustedCPUTime(), r.GetAdjustedRealTime()};
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, std::pair<double, double>> times;
};

}  // namespace

int main(int argc, char** argv) {
    // Interleaving is on unless the command line says otherwise (later
    // flags win).
    std::vector<char*> args(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, interleave);
    int n = static_cast<int>(args.size());
    benchmark::Initialize(&n, args.data());
    Photo();
    File420();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto ratio = [&](const char* ours, const char* peer) {
        const auto a = reporter.times.find(ours), b = reporter.times.find(peer);
        if (a != reporter.times.end() && b != reporter.times.end() && b->second.first > 0 && b->second.second > 0)
            std::printf("%s / %s: CPU time %.2f, wall time %.2f\n", ours, peer, a->second.first / b->second.first,
                        a->second.second / b->second.second);
    };
    ratio("BM_Decode420_CJpeg", "BM_Decode420_Turbo");
    ratio("BM_Encode444_CJpeg", "BM_Encode444_Turbo");
    return 0;
}
