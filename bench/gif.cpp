// GIF decode speed against giflib on the same 1600 × 1200, 256-colour,
// non-interlaced file (written by giflib's own encoder), read from a file.
// giflib is timed twice: producing colour indices only, and producing the
// same RGB rows our reader returns.
// bench-link: handpix_imagefiles handpix_core
#include <benchmark/benchmark.h>
#include <gif_lib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "handpix/imagefiles/GifReader.h"

namespace {

constexpr int kWidth = 1600;
constexpr int kHeight = 1200;

std::string g_path;

// A photo-like picture: smooth gradients with texture and a little noise, so
// that LZW strings are neither trivially long nor all single pixels.
bool WriteBenchFile(const std::string& path) {
    std::vector<GifColorType> colours(256);
    for (int i = 0; i < 256; ++i)
        colours[static_cast<std::size_t>(i)] = {static_cast<GifByteType>(i), static_cast<GifByteType>(255 - i),
                                                static_cast<GifByteType>((i * 37) & 0xFF)};
    int err = 0;
    GifFileType* gif = EGifOpenFileName(path.c_str(), false, &err);
    if (!gif) return false;
    ColorMapObject* map = GifMakeMapObject(256, colours.data());
    bool ok = EGifPutScreenDesc(gif, kWidth, kHeight, 8, 0, map) == GIF_OK &&
              EGifPutImageDesc(gif, 0, 0, kWidth, kHeight, false, nullptr) == GIF_OK;
    std::mt19937 rng(7);
    std::vector<GifPixelType> row(kWidth);
    for (int y = 0; ok && y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const int smooth = (x / 7 + y / 5) + ((x / 40 + y / 30) % 2) * 64;
            row[static_cast<std::size_t>(x)] = static_cast<GifPixelType>((smooth + static_cast<int>(rng() % 3)) & 0xFF);
        }
        ok = EGifPutLine(gif, row.data(), kWidth) == GIF_OK;
    }
    GifFreeMapObject(map);
    return EGifCloseFile(gif, &err) == GIF_OK && ok;
}

// Both decoders must agree on the picture before either is timed.
bool SameAsGiflib(const std::string& path) {
    CGifReader reader;
    int w = 0, h = 0;
    unsigned char* ours = reader.ReadGif(path.c_str(), &w, &h);
    int err = 0;
    GifFileType* gif = DGifOpenFileName(path.c_str(), &err);
    bool same = ours && gif && DGifSlurp(gif) == GIF_OK && w == kWidth && h == kHeight;
    if (same) {
        const ColorMapObject* map = gif->SColorMap;
        for (int i = 0; same && i < kWidth * kHeight; ++i) {
            const GifColorType& c = map->Colors[gif->SavedImages[0].RasterBits[i]];
            same = ours[3 * i] == c.Red && ours[3 * i + 1] == c.Green && ours[3 * i + 2] == c.Blue;
        }
    }
    if (gif) DGifCloseFile(gif, &err);
    delete[] ours;
    return same;
}

void BM_HandpixReadGif(benchmark::State& state) {
    for (auto _ : state) {
        CGifReader reader;
        int w = 0, h = 0;
        unsigned char* pic = reader.ReadGif(g_path.c_str(), &w, &h);
        if (!pic || w != kWidth || h != kHeight) {
            state.SkipWithError("handpix failed to read the file");
            delete[] pic;
            return;
        }
        benchmark::DoNotOptimize(pic[3 * (w * h - 1)]);
        delete[] pic;
    }
}

void BM_GiflibIndices(benchmark::State& state) {
    for (auto _ : state) {
        int err = 0;
        GifFileType* gif = DGifOpenFileName(g_path.c_str(), &err);
        if (!gif || DGifSlurp(gif) != GIF_OK) {
            state.SkipWithError("giflib failed to read the file");
            if (gif) DGifCloseFile(gif, &err);
            return;
        }
        benchmark::DoNotOptimize(gif->SavedImages[0].RasterBits[kWidth * kHeight - 1]);
        DGifCloseFile(gif, &err);
    }
}

void BM_GiflibRgb(benchmark::State& state) {
    for (auto _ : state) {
        int err = 0;
        GifFileType* gif = DGifOpenFileName(g_path.c_str(), &err);
        if (!gif || DGifSlurp(gif) != GIF_OK) {
            state.SkipWithError("giflib failed to read the file");
            if (gif) DGifCloseFile(gif, &err);
            return;
        }
        const SavedImage& image = gif->SavedImages[0];
        const ColorMapObject* map = image.ImageDesc.ColorMap ? image.ImageDesc.ColorMap : gif->SColorMap;
        auto* rgb = new unsigned char[3 * static_cast<std::size_t>(kWidth) * kHeight];
        unsigned char* out = rgb;
        for (int i = 0; i < kWidth * kHeight; ++i, out += 3) {
            const GifColorType& c = map->Colors[image.RasterBits[i]];
            out[0] = c.Red;
            out[1] = c.Green;
            out[2] = c.Blue;
        }
        benchmark::DoNotOptimize(rgb[3 * kWidth * kHeight - 1]);
        delete[] rgb;
        DGifCloseFile(gif, &err);
    }
}

BENCHMARK(BM_HandpixReadGif)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_GiflibIndices)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_GiflibRgb)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Keeps each benchmark's time per iteration so main can print the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration && !r.error_occurred)
                times[r.benchmark_name()] = {r.GetAdjustedRealTime(), r.GetAdjustedCPUTime()};
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, std::pair<double, double>> times;  // wall, CPU
};

}  // namespace

int main(int argc, char** argv) {
    char dir[] = "/tmp/handpix-bench-gif-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    g_path = std::string(dir) + "/photo.gif";
    if (!WriteBenchFile(g_path)) {
        std::fprintf(stderr, "cannot write %s\n", g_path.c_str());
        return 1;
    }
    if (!SameAsGiflib(g_path)) {
        std::fprintf(stderr, "handpix and giflib decode %s differently\n", g_path.c_str());
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto time = [&](const char* name) {
        for (const auto& [key, value] : reporter.times)
            if (key.rfind(name, 0) == 0) return value;
        return std::pair<double, double>{0.0, 0.0};
    };
    const auto ours = time("BM_HandpixReadGif"), indices = time("BM_GiflibIndices"), rgb = time("BM_GiflibRgb");
    // CPU time is the steadier measure on a shared machine; both are shown.
    if (ours.first > 0 && indices.first > 0 && rgb.first > 0) {
        std::printf("handpix / giflib (indices only):    wall %.2f  cpu %.2f  (limit 1.50)\n",
                    ours.first / indices.first, ours.second / indices.second);
        std::printf("handpix / giflib (same RGB output): wall %.2f  cpu %.2f\n", ours.first / rgb.first,
                    ours.second / rgb.second);
    }
    std::remove(g_path.c_str());
    rmdir(dir);
    benchmark::Shutdown();
    return 0;
}
