// bench-link: handpix_picture handpix_handset
// DisplayEBA into a memory DC, caption included: one 178 x 160 16-bit EBA
// frame and one frame of an SNI file of each stream kind (the bundled
// samples). Also the reads alone, to show what the drawing adds.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "handpix/picture/Picture.h"
#include "handpix/platform/core/MessageBox.h"

namespace {

// The samples sit beside this file's folder in the source tree.
std::string SamplePath(const char* name) {
    return (std::filesystem::path(__FILE__).parent_path().parent_path() / "samples" / "handset" / name).string();
}

const std::string& LargeEba() {
    static const std::string path = [] {
        const auto dir = std::filesystem::temp_directory_path() / "handpix_bench_handset";
        std::filesystem::create_directories(dir);
        // "ANI", 178 x 160, 16 bits, key F81F with transparency on, one frame of
        // scattered colours (some of them the key).
        std::vector<std::uint8_t> file(150, 0);
        const std::uint8_t head[] = {'A', 'N', 'I', 0, 178, 0, 160, 0, 0, 0, 16, 0, 0x1F, 0xF8, 0, 0, 1};
        std::copy(std::begin(head), std::end(head), file.begin());
        file[48] = 1;
        for (std::uint32_t i = 0; i < 178 * 160; ++i) {
            const std::uint32_t v = (i * 2654435761u) >> 16;
            file.push_back(static_cast<std::uint8_t>(i % 97 ? v : 0x1F));
            file.push_back(static_cast<std::uint8_t>(i % 97 ? v >> 8 : 0xF8));
        }
        const std::string p = (dir / "large16.eba").string();
        std::FILE* f = std::fopen(p.c_str(), "wb");
        if (f) {
            std::fwrite(file.data(), 1, file.size(), f);
            std::fclose(f);
        }
        return p;
    }();
    return path;
}

struct Rig {
    Rig() {
        handpix::SetMessageBoxHandler([](const char*, const char*, UINT) { return IDOK; });
        dc.CreateCompatibleDC(nullptr);
        bmp.CreateCompatibleBitmap(&dc, 230, 190);
        old = dc.SelectObject(&bmp);
    }
    ~Rig() { dc.SelectObject(old); }
    std::unique_ptr<CPicture> pic = std::make_unique<CPicture>();
    CDC dc;
    CBitmap bmp;
    CBitmap* old = nullptr;
};

void Display(benchmark::State& state, const std::string& path, int frame) {
    Rig rig;
    const CString p(path.c_str());
    for (auto _ : state) {
        bool ok = rig.pic->DisplayEBA(p, &rig.dc, CRect(25, 0, 230, 190), frame);
        benchmark::DoNotOptimize(ok);
    }
}

void Read(benchmark::State& state, const std::string& path, int frame) {
    Rig rig;
    const CString p(path.c_str());
    for (auto _ : state) {
        bool ok = rig.pic->GetEBAHeader(p) && rig.pic->GetEBAData(p, frame);
        benchmark::DoNotOptimize(ok);
    }
}

void BM_DisplayEba16_178x160(benchmark::State& s) { Display(s, LargeEba(), 0); }
void BM_DisplaySniSisKind1(benchmark::State& s) { Display(s, SamplePath("ball_sis1.sni"), 5); }
void BM_DisplaySniSisKind2(benchmark::State& s) { Display(s, SamplePath("disc_sis2.sni"), 5); }
void BM_DisplaySniSaf(benchmark::State& s) { Display(s, SamplePath("rainbow_saf.sni"), 5); }
void BM_ReadEba16_178x160(benchmark::State& s) { Read(s, LargeEba(), 0); }
void BM_ReadSniSaf(benchmark::State& s) { Read(s, SamplePath("rainbow_saf.sni"), 5); }

}  // namespace

BENCHMARK(BM_DisplayEba16_178x160)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DisplaySniSisKind1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DisplaySniSisKind2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DisplaySniSaf)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadEba16_178x160)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadSniSaf)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
