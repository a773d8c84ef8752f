// bench-link: handpix_imagefiles handpix_core
// bench-sources: tests/support/PhotoLike.cpp tests/support/BmpWriter.cpp tests/support/JpegPeer.cpp
// The picture-file loader against its floors, on the same 12-megapixel files in
// one run: JPEG through LoadGraphicFile against libjpeg-turbo's own decode, and
// a 24-bit BMP against reading the file into memory.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <vector>

#include <jpeglib.h>

#include "handpix/imagefiles/GraphicFileLoad.h"
#include "handpix/platform/core/File.h"
#include "tests/support/BmpWriter.h"
#include "tests/support/JpegPeer.h"
#include "tests/support/PhotoLike.h"

namespace {
constexpr int kW = 4000, kH = 3000;

struct Files {
    std::string jpg, bmp;
    Files() {
        auto dir = std::filesystem::temp_directory_path() / "handpix_bench_imagefiles";
        std::filesystem::create_directories(dir);
        jpg = (dir / "photo12.jpg").string();
        bmp = (dir / "photo12.bmp").string();
        if (std::filesystem::exists(jpg) && std::filesystem::exists(bmp)) return;
        std::vector<std::uint8_t> rgb = handpix::test::PhotoLike(kW, kH, 12);
        jpegtest::EncodeOptions o;
        o.quality = 90;
        o.h0 = o.v0 = 2;
        handpix::test::WriteBytes(jpg, jpegtest::PeerEncode(jpegtest::Picture{kW, kH, 3, rgb}, o));
        // The BMP straight from the same pixels: rows bottom-up, blue-green-red.
        std::vector<std::uint8_t> file(54 + static_cast<std::size_t>(kW) * 3 * kH);
        handpix::test::BmpSpec s;
        s.width = 1;
        s.height = 1;
        s.pixels = {0};
        std::vector<std::uint8_t> head = handpix::test::MakeBmp(s);
        std::copy(head.begin(), head.begin() + 54, file.begin());
        auto put = [&](int at, std::uint32_t v) {
            for (int i = 0; i < 4; ++i) file[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
        };
        put(2, static_cast<std::uint32_t>(file.size()));
        put(18, kW);
        put(22, kH);
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) {
                const std::uint8_t* p = &rgb[(static_cast<std::size_t>(kH - 1 - y) * kW + x) * 3];
                std::uint8_t* q = &file[54 + (static_cast<std::size_t>(y) * kW + x) * 3];
                q[0] = p[2];
                q[1] = p[1];
                q[2] = p[0];
            }
        handpix::test::WriteBytes(bmp, file);
    }
};

const Files& TheFiles() {
    static Files f;
    return f;
}

void BM_LoadGraphicFile_Jpeg(benchmark::State& st) {
    for (auto _ : st) {
        CGraphicFileLoad g;
        if (g.LoadGraphicFile(TheFiles().jpg.c_str()) != 0) st.SkipWithError("load failed");
        benchmark::DoNotOptimize(g.m_pDib);
    }
}

void BM_LibjpegTurbo_Decode(benchmark::State& st) {
    for (auto _ : st) {
        FILE* f = std::fopen(TheFiles().jpg.c_str(), "rb");
        jpeg_decompress_struct c;
        jpeg_error_mgr err;
        c.err = jpeg_std_error(&err);
        jpeg_create_decompress(&c);
        jpeg_stdio_src(&c, f);
        jpeg_read_header(&c, TRUE);
        jpeg_start_decompress(&c);
        std::vector<std::uint8_t> out(static_cast<std::size_t>(c.output_width) * c.output_height * 3);
        while (c.output_scanline < c.output_height) {
            JSAMPROW row = &out[static_cast<std::size_t>(c.output_scanline) * c.output_width * 3];
            jpeg_read_scanlines(&c, &row, 1);
        }
        jpeg_finish_decompress(&c);
        jpeg_destroy_decompress(&c);
        std::fclose(f);
        benchmark::DoNotOptimize(out.data());
    }
}

void BM_LoadGraphicFile_Bmp24(benchmark::State& st) {
    for (auto _ : st) {
        CGraphicFileLoad g;
        if (g.LoadGraphicFile(TheFiles().bmp.c_str()) != 0) st.SkipWithError("load failed");
        benchmark::DoNotOptimize(g.m_pDib);
    }
}

void BM_ReadFileIntoMemory(benchmark::State& st) {
    std::vector<std::uint8_t> bytes;
    for (auto _ : st) {
        handpix::ReadWholeFile(TheFiles().bmp.c_str(), bytes, 1u << 30);
        benchmark::DoNotOptimize(bytes.data());
        std::vector<std::uint8_t>().swap(bytes);  // a fresh buffer each time, as a loader would
    }
}

}  // namespace

BENCHMARK(BM_LoadGraphicFile_Jpeg)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_LibjpegTurbo_Decode)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_LoadGraphicFile_Bmp24)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ReadFileIntoMemory)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_MAIN();
