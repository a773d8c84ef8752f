// bench-link: handpix_enhance handpix_ijl handpix_imagefiles handpix_core
// bench-sources: tests/support/PhotoLike.cpp tests/support/BmpWriter.cpp tests/support/JpegPeer.cpp
// The thumbnail path's 1/8 read of one 12-megapixel 4:2:0 photograph
// (CImageEdit::LoadJPG as the resizing functions call it) against
// libjpeg-turbo's own in-process 1/8 decode of the same file (the work of
// `djpeg -scale 1/8`), in one run: a file with a restart marker at every MCU
// row, which the read may spread over the cores, and the same picture
// without markers. Wall time, since the read may use several threads; the CPU
// column is the whole process's, so it shows what the bands cost in work.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "handpix/enhance/ImageEdit.h"
#include "tests/support/BmpWriter.h"
#include "tests/support/JpegPeer.h"
#include "tests/support/PhotoLike.h"

namespace {
constexpr int kW = 4000, kH = 3000;

struct Files {
    std::string marked, plain;
    Files() {
        auto dir = std::filesystem::temp_directory_path() / "handpix_bench_restart";
        std::filesystem::create_directories(dir);
        marked = (dir / "rows.jpg").string();
        plain = (dir / "plain.jpg").string();
        if (std::filesystem::exists(marked) && std::filesystem::exists(plain)) return;
        const jpegtest::Picture photo{kW, kH, 3, handpix::test::PhotoLike(kW, kH, 12)};
        jpegtest::EncodeOptions o;
        o.quality = 90;
        o.h0 = o.v0 = 2;
        handpix::test::WriteBytes(plain, jpegtest::PeerEncode(photo, o));
        o.restartInterval = (kW + 15) / 16;  // one MCU row
        handpix::test::WriteBytes(marked, jpegtest::PeerEncode(photo, o));
    }
};

const std::string& File(bool marked) {
    static const Files f;
    return marked ? f.marked : f.plain;
}

// One 1/8 read as the resizing functions ask for it.
void ReadEighth(benchmark::State& st, const std::string& path) {
    CImageEdit image;
    if (!image.LoadJPG(path.c_str(), [](unsigned, unsigned, void*) { return 8; }, nullptr)) st.SkipWithError("load failed");
    benchmark::DoNotOptimize(image.m_pbDibData);
}

void BM_ThumbRead(benchmark::State& st) {
    const std::string& path = File(st.range(0) != 0);
    for (auto _ : st) ReadEighth(st, path);
}

// As a one-shot process reads: the allocator hands freed memory back after
// every read, so each read's buffers are fresh pages that fault again (in a
// long-running process they are reused and the faults do not show).
void BM_ThumbReadFreshPages(benchmark::State& st) {
    const std::string& path = File(st.range(0) != 0);
    for (auto _ : st) {
        ReadEighth(st, path);
        st.PauseTiming();
        malloc_trim(0);
        st.ResumeTiming();
    }
}

void BM_LibjpegTurboEighth(benchmark::State& st) {
    const std::string& path = File(st.range(0) != 0);
    std::vector<unsigned char> out;
    for (auto _ : st) {
        std::FILE* f = std::fopen(path.c_str(), "rb");
        jpeg_decompress_struct c;
        jpeg_error_mgr err;
        c.err = jpeg_std_error(&err);
        jpeg_create_decompress(&c);
        jpeg_stdio_src(&c, f);
        jpeg_read_header(&c, TRUE);
        c.scale_num = 1;
        c.scale_denom = 8;
        jpeg_start_decompress(&c);
        out.resize(static_cast<std::size_t>(c.output_width) * c.output_height * 3);
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

}  // namespace

// Argument 1: the file with a marker at every MCU row; 0: the one without.
static void Setup(benchmark::internal::Benchmark* b) {
    b->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime()->MinTime(1.0);
}
BENCHMARK(BM_ThumbRead)->Apply(Setup);
BENCHMARK(BM_LibjpegTurboEighth)->Apply(Setup);
BENCHMARK(BM_ThumbReadFreshPages)->Apply(Setup);
// The calling thread's CPU alone: the bands' critical path, which is what the
// wall time comes to on an idle machine (a busy one shares its cores by session).
BENCHMARK(BM_ThumbRead)->Name("BM_ThumbRead_CallerCPU")->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK_MAIN();
