// Thumbnails and enhancement against libjpeg-turbo in the same run: one
// 100 x 75 thumbnail of a 12-megapixel 4:2:0 JPEG through CPicture's resizing
// (reduced-scale decode, area averaging, encode, hidden file) against the
// floor, libjpeg decoding the same file at 1/8 scale; and the devignetting of
// a decoded picture against one pass of its bytes. The same thumbnail as one
// `handpix thumb` process against one `djpeg -scale 1/8` process, start-up
// included (wall time; the tool is looked for beside the bench's build folder).
// bench-link: handpix_modules
// bench-sources: bench/support/Spawn.cpp
#include <benchmark/benchmark.h>
#include <jpeglib.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/support/Spawn.h"
#include "handpix/enhance/LuxJpeg.h"
#include "handpix/picture/Picture.h"

namespace {
constexpr int kW = 4000, kH = 3000;

std::string Dir() { return "/tmp/handpix_bench_enhance_" + std::to_string(getpid()); }

// A photo-like 4:2:0 picture at quality 90, written once.
const std::string& Photo() {
    static const std::string path = [] {
        std::string dir = Dir();
        std::string cmd = "mkdir -p " + dir;
        if (std::system(cmd.c_str()) != 0) std::abort();
        std::string p = dir + "/photo.jpg";
        jpeg_compress_struct c{};
        jpeg_error_mgr err;
        c.err = jpeg_std_error(&err);
        jpeg_create_compress(&c);
        std::FILE* f = std::fopen(p.c_str(), "wb");
        jpeg_stdio_dest(&c, f);
        c.image_width = kW;
        c.image_height = kH;
        c.input_components = 3;
        c.in_color_space = JCS_RGB;
        jpeg_set_defaults(&c);
        jpeg_set_quality(&c, 90, TRUE);
        jpeg_start_compress(&c, TRUE);
        std::vector<unsigned char> row(kW * 3);
        unsigned seed = 1;
        while (c.next_scanline < c.image_height) {
            const int y = static_cast<int>(c.next_scanline);
            for (int x = 0; x < kW; ++x) {
                seed = seed * 1103515245u + 12345u;
                const int grain = static_cast<int>((seed >> 16) & 15) - 8;
                row[x * 3 + 0] = static_cast<unsigned char>(120 + 90 * std::sin(x * 0.004) + grain);
                row[x * 3 + 1] = static_cast<unsigned char>(120 + 90 * std::cos(y * 0.005) + grain);
                row[x * 3 + 2] = static_cast<unsigned char>(120 + 60 * std::sin((x + y) * 0.01) + grain);
            }
            JSAMPROW r = row.data();
            jpeg_write_scanlines(&c, &r, 1);
        }
        jpeg_finish_compress(&c);
        jpeg_destroy_compress(&c);
        std::fclose(f);
        return p;
    }();
    return path;
}

void BM_LibjpegEighthScale(benchmark::State& state) {
    const std::string& path = Photo();
    std::vector<unsigned char> row(kW * 3);
    for (auto _ : state) {
        jpeg_decompress_struct c{};
        jpeg_error_mgr err;
        c.err = jpeg_std_error(&err);
        jpeg_create_decompress(&c);
        std::FILE* f = std::fopen(path.c_str(), "rb");
        jpeg_stdio_src(&c, f);
        jpeg_read_header(&c, TRUE);
        c.scale_num = 1;
        c.scale_denom = 8;
        jpeg_start_decompress(&c);
        while (c.output_scanline < c.output_height) {
            JSAMPROW r = row.data();
            jpeg_read_scanlines(&c, &r, 1);
        }
        jpeg_finish_decompress(&c);
        jpeg_destroy_decompress(&c);
        std::fclose(f);
        benchmark::DoNotOptimize(row.data());
    }
}

void BM_ThumbnailAspect(benchmark::State& state) {
    CString source(Photo().c_str());
    CString target((Dir() + "/thumb.jpg").c_str());
    CPicture picture;
    for (auto _ : state) picture.ResizingImage(source, target);
}

void RunProcess(benchmark::State& state, std::vector<std::string> args) {
    if (!handpix::bench::RunQuiet(args)) {
        state.SkipWithError(("cannot run " + args[0]).c_str());
        return;
    }
    for (auto _ : state) handpix::bench::RunQuiet(args);
}

void BM_DjpegEighthScaleProcess(benchmark::State& state) {
    RunProcess(state, {"djpeg", "-scale", "1/8", "-outfile", "/dev/null", Photo()});
}

void BM_ThumbProcess(benchmark::State& state) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path tool = fs::read_symlink("/proc/self/exe", ec).parent_path().parent_path() / "tools" / "handpix";
    RunProcess(state, {tool.string(), "thumb", Photo(), Dir() + "/process.jpg"});
}

void BM_Devignette(benchmark::State& state) {
    const unsigned w = 1600, h = 1200;
    LUX_Image* src = CLuxJpeg::LUX_AllocImage(w, h, 3);
    LUX_Image* mask = CLuxJpeg::LUX_AllocImage(w, h, 3);
    LUX_Image* dst = CLuxJpeg::LUX_AllocImage(w, h, 3);
    for (unsigned y = 0; y < h; ++y)
        for (unsigned k = 0; k < w * 3; ++k) {
            src->ppRows[y][k] = static_cast<unsigned char>(k * 7 + y);
            mask->ppRows[y][k] = static_cast<unsigned char>(k + y * 3);
        }
    for (auto _ : state) {
        CLuxJpeg::LUX_DevignetteImage(dst->ppRows, src->ppRows, mask->ppRows, w, h, 3, 0.25f, 1.5151515f);
        benchmark::DoNotOptimize(dst->ppRows[0]);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * w * h * 3);
    CLuxJpeg::LUX_FreeImage(src);
    CLuxJpeg::LUX_FreeImage(mask);
    CLuxJpeg::LUX_FreeImage(dst);
}
}  // namespace

BENCHMARK(BM_LibjpegEighthScale)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ThumbnailAspect)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DjpegEighthScaleProcess)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ThumbProcess)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Devignette)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
