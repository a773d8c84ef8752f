// Shrinking a decoded 12-megapixel picture to 800 x 600 against the memory
// floor: one memcpy of the same source pixels, measured in the same run.
// bench-link: handpix_core
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "handpix/platform/core/Resample.h"

namespace {
constexpr int kW = 4000, kH = 3000, kC = 3;

const std::vector<std::uint8_t>& Source() {
    static const std::vector<std::uint8_t> s = [] {
        std::vector<std::uint8_t> v(static_cast<size_t>(kW) * kH * kC);
        std::mt19937 gen(1);
        for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<std::uint8_t>((i / 7 + gen() % 16) & 0xFF);
        return v;
    }();
    return s;
}

void BM_Memcpy(benchmark::State& state) {
    const auto& src = Source();
    std::vector<std::uint8_t> dst(src.size());
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), src.size());
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * src.size()));
}

void Shrink(benchmark::State& state, int dw, int dh, bool bottomUp) {
    const auto& src = Source();
    std::vector<std::uint8_t> dst(static_cast<size_t>(dw) * dh * kC);
    const std::ptrdiff_t stride = kW * kC;
    handpix::ConstPixels in{src.data(), kW, kH, stride};
    if (bottomUp) in = {src.data() + stride * (kH - 1), kW, kH, -stride};
    for (auto _ : state) {
        handpix::Resample(in, {dst.data(), dw, dh, dw * kC}, kC);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * src.size()));
}

void BM_ShrinkTo800x600(benchmark::State& state) { Shrink(state, 800, 600, false); }
void BM_ShrinkTo800x600BottomUp(benchmark::State& state) { Shrink(state, 800, 600, true); }
void BM_ShrinkTo100x75(benchmark::State& state) { Shrink(state, 100, 75, false); }
}  // namespace

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ShrinkTo800x600)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ShrinkTo800x600BottomUp)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ShrinkTo100x75)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
