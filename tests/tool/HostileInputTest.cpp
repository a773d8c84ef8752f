// Crafted files through the tool's verbs, each run in a child under an
// address-space and time limit: a refusal or a bounded success, never a
// crash, a hang or a runaway allocation; and no file lost to a failed write.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "handpix/imagefiles/ImgWriter.h"
#include "tests/support/BmpWriter.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/GifWriter.h"
#include "tests/support/JpegPeer.h"
#include "tests/support/JpegSegments.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using handpix::test::ChildLimits;
using handpix::test::ChildResult;

constexpr unsigned long long kAddressSpace = 512ull << 20;
constexpr long kExtraRssKb = 32 * 1024;
constexpr double kExtraCpuSeconds = 0.25;
constexpr std::uintmax_t kSmallInput = 4096;

enum class Verb { info, convert, draw, sheet, thumb, enhance, show, grid };

// One verb over one input and what it must end in.
struct VerbRun {
    Verb verb;
    int exitCode;
    std::vector<std::string> globalArgs = {};
    unsigned long long fileSizeBytes = 0;  // > 0: every write past it fails
};

struct Row {
    const char* name;
    const char* file;
    void (*make)(const std::string& path);
    std::vector<VerbRun> runs;
};

void Write(const std::string& path, const Bytes& b) { ASSERT_TRUE(handpix::test::WriteBytes(path, b)); }

Bytes SmallJpeg(bool progressive) {
    jpegtest::Picture p = jpegtest::PhotoLike(16, 16, 3);
    jpegtest::EncodeOptions o;
    o.quality = 75;
    o.progressive = progressive;
    return jpegtest::PeerEncode(p, o);
}

// 8 x 8 pixels; paletted depths get a two-colour palette.
Bytes TinyBmp(int bits = 24, std::uint32_t headerSize = 40, std::vector<std::uint32_t> masks = {}) {
    handpix::test::BmpSpec s;
    s.width = s.height = 8;
    s.bits = bits;
    s.headerSize = headerSize;
    s.masks = std::move(masks);
    if (bits <= 8) s.palette = {{0, 0, 0}, {200, 100, 50}};
    s.clrUsed = static_cast<std::uint32_t>(s.palette.size());
    s.pixels.assign(64, bits <= 8 ? 1 : 0x2080C0);
    return handpix::test::MakeBmp(s);
}

// 1 bit a pixel, 180,000,000 x 1: 22.5 MB of pixels, which only need to
// exist on paper for a reader that refuses the header; the rest is a hole.
void WideBmp(const std::string& path) {
    Bytes b = TinyBmp(1);
    b.resize(62);  // headers and palette
    const std::uint32_t w = 180'000'000, offBits = 62;
    for (int i = 0; i < 4; ++i) b[18 + i] = static_cast<std::uint8_t>(w >> (8 * i));
    b[22] = 1;
    Write(path, b);
    fs::resize_file(path, offBits + (w / 32) * 4);
}

void GiantGif(const std::string& path) {
    handpix::test::GifBuilder g;
    g.Header(16384, 16384, 0x80).Map({{0, 0, 0}, {255, 255, 255}}, 2).ImageDescriptor(16384, 16384, 0);
    g.Raw({2, 2, 0x4C, 0x01, 0x00, 0x3B});  // a clear code, one pixel, the end
    Write(path, g.bytes);
}

const Row kRows[] = {
    {"BaselineJpegClaims16000Square", "b.jpg",
     [](const std::string& p) { Write(p, jpegtest::WithFrameSize(SmallJpeg(false), 16000, 16000)); },
     {{Verb::info, 1}, {Verb::convert, 1}, {Verb::draw, 1}, {Verb::sheet, 1},
      {Verb::thumb, 1}, {Verb::enhance, 1}, {Verb::grid, 0}}},
    {"BaselineJpegClaims9000SquareWithinLimit", "d.jpg",
     [](const std::string& p) { Write(p, jpegtest::WithFrameSize(SmallJpeg(false), 9000, 9000)); },
     {{Verb::info, 1}, {Verb::convert, 1}, {Verb::draw, 1}, {Verb::thumb, 1}, {Verb::enhance, 1}}},
    {"ProgressiveJpegClaims40000Square", "p.jpg",
     [](const std::string& p) { Write(p, jpegtest::WithFrameSize(SmallJpeg(true), 40000, 40000)); },
     {{Verb::info, 1}, {Verb::convert, 1}, {Verb::draw, 1}, {Verb::sheet, 1},
      {Verb::thumb, 1}, {Verb::enhance, 1}}},
    {"ProgressiveJpegClaims8000SquareWithinLimit", "q.jpg",
     [](const std::string& p) { Write(p, jpegtest::WithFrameSize(SmallJpeg(true), 8000, 8000)); },
     {{Verb::info, 1}, {Verb::draw, 1}, {Verb::thumb, 1}, {Verb::enhance, 1}, {Verb::grid, 0}}},
    {"GifClaims16384Square", "g.gif", GiantGif, {{Verb::info, 1}, {Verb::convert, 1}, {Verb::draw, 1}, {Verb::sheet, 1}}},
    {"OneBitBmp180MillionWide", "w.bmp", WideBmp,
     {{Verb::info, 1}, {Verb::convert, 1}, {Verb::draw, 1}, {Verb::thumb, 1}}},
    {"V5PalettedBmp", "v.bmp", [](const std::string& p) { Write(p, TinyBmp(8, 124)); },
     {{Verb::info, 0}, {Verb::convert, 0}, {Verb::draw, 0}, {Verb::sheet, 0}}},
    {"BitfieldsBmp", "f.bmp", [](const std::string& p) { Write(p, TinyBmp(16, 40, {0xF800, 0x07E0, 0x001F})); },
     {{Verb::info, 0}, {Verb::convert, 0}, {Verb::draw, 0}, {Verb::sheet, 0}}},
    {"ImgClaims65535Square", "h.img",
     [](const std::string& p) { Write(p, handpix::WriteImg(0xFFFF, 0xFFFF, 16, Bytes(64, 0x55))); },
     {{Verb::info, 1}, {Verb::convert, 1}, {Verb::show, 1}}},
    {"FifoNamedAsJpeg", "n.jpg", [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); },
     {{Verb::info, 1}, {Verb::convert, 1}, {Verb::draw, 1}}},
    {"MaxPixelsOption", "t.bmp", [](const std::string& p) { Write(p, TinyBmp()); },
     {{Verb::info, 1, {"--max-pixels", "63"}}, {Verb::convert, 0, {"--max-pixels", "64"}}}},
    {"ExifPointingOutsideItselfInALongJpegName", "e.JPEG",
     [](const std::string& p) {
         jpegtest::ExifBlock exif;
         exif.orientation = 6;
         exif.ifdOffset = 0xFFFFFFF0;
         Write(p, jpegtest::WithExif(SmallJpeg(false), jpegtest::ExifPayload(exif)));
     },
     {{Verb::info, 0}, {Verb::thumb, 0}, {Verb::thumb, 0, {"--no-orient"}}, {Verb::grid, 0}}},
    {"WritesThatFail", "t.bmp", [](const std::string& p) { Write(p, TinyBmp()); },
     {{Verb::convert, 1, {}, 64}, {Verb::draw, 1, {}, 64}}},
};

// One test per verb and input, so that a failure names both.
struct Case {
    const Row* row;
    VerbRun run;
};

std::vector<Case> Cases() {
    std::vector<Case> all;
    for (const Row& row : kRows)
        for (const VerbRun& run : row.runs) all.push_back({&row, run});
    return all;
}

const char* const kVerbNames[] = {"info", "convert", "draw", "sheet", "thumb", "enhance", "show", "grid"};

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class ToolHostileInput : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = info->name();
        for (char& c : name)
            if (c == '/') c = '_';
        m_dir = fs::temp_directory_path() / ("handpix_tool_" + name);
        fs::remove_all(m_dir);
        fs::create_directories(m_dir / "in");
    }
    void TearDown() override { fs::remove_all(m_dir); }

    std::vector<std::string> Argv(const VerbRun& r, const std::string& in, const fs::path& folder) const {
        const std::string out = (m_dir / "out").string();
        std::vector<std::string> a = {HANDPIX_TOOL};
        a.insert(a.end(), r.globalArgs.begin(), r.globalArgs.end());
        a.push_back(kVerbNames[static_cast<int>(r.verb)]);
        switch (r.verb) {
            case Verb::info: a.insert(a.end(), {in}); break;
            case Verb::convert: a.insert(a.end(), {in, out + ".png"}); break;
            case Verb::draw: a.insert(a.end(), {in, out + ".png", "--size", "64x48"}); break;
            case Verb::sheet: a.insert(a.end(), {out + ".png", in}); break;
            case Verb::thumb: a.insert(a.end(), {in, out + ".jpg"}); break;
            case Verb::enhance: a.insert(a.end(), {in, out + ".jpg"}); break;
            case Verb::show: a.insert(a.end(), {in, "-o", out + ".png"}); break;
            case Verb::grid: a.insert(a.end(), {folder.string(), "-o", out + ".png", "--cache", (m_dir / "cache").string()}); break;
        }
        return a;
    }

    // Every output starts as an old file that only a successful run may replace.
    void PlantOldOutputs() const {
        for (const char* ext : {".png", ".jpg"}) std::ofstream(m_dir / ("out" + std::string(ext))) << "old";
    }
    void ExpectOldOutputsKeptAndNoTemporaries() const {
        for (const char* ext : {".png", ".jpg"})
            EXPECT_TRUE(Slurp((m_dir / ("out" + std::string(ext))).string()) == "old") << ext;
        for (const auto& e : fs::recursive_directory_iterator(m_dir))
            EXPECT_EQ(e.path().filename().string().find(".tmp-"), std::string::npos) << e.path();
    }

    // What the verb costs on a tiny good file: the yardstick of the bounds.
    ChildResult Baseline(const VerbRun& run) const {
        const fs::path good = m_dir / "good";
        fs::create_directories(good);
        std::string in;
        if (run.verb == Verb::show) {
            in = (good / "g.img").string();
            Write(in, handpix::WriteImg(4, 4, 16, Bytes(32, 0x55)));
        } else if (run.verb == Verb::thumb || run.verb == Verb::enhance || run.verb == Verb::grid) {
            in = (good / "g.jpg").string();
            Write(in, SmallJpeg(false));
        } else {
            in = (good / "g.bmp").string();
            Write(in, TinyBmp());
        }
        VerbRun plain = run;
        plain.globalArgs.clear();
        ChildResult best;
        for (int i = 0; i < 2; ++i) {  // the better of two: a loaded machine adds noise
            ChildResult r = handpix::test::RunProgram(Argv(plain, in, good), {.seconds = 60});
            if (i == 0 || r.cpuSeconds < best.cpuSeconds) best = r;
        }
        return best;
    }

    fs::path m_dir;
};

}  // namespace

TEST_P(ToolHostileInput, RefusesOrSucceedsWithinBounds) {
    const Row& row = *GetParam().row;
    const VerbRun& run = GetParam().run;
    const std::string in = (m_dir / "in" / row.file).string();
    row.make(in);
    PlantOldOutputs();
    const bool sanitized = handpix::test::UnderSanitizer();
    const ChildLimits limits{.addressSpaceBytes = kAddressSpace, .fileSizeBytes = run.fileSizeBytes,
                             .seconds = sanitized ? 120.0 : 20.0};
    ChildResult r = handpix::test::RunProgram(Argv(run, in, m_dir / "in"), limits);
    ASSERT_FALSE(r.timedOut);
    ASSERT_TRUE(r.exited) << "signal " << r.signal << "\n" << r.output;
    EXPECT_EQ(r.exitCode, run.exitCode) << r.output;
    // A sheet is written even with unreadable tiles, which it marks as such.
    if (r.exitCode != 0 && run.verb != Verb::sheet) ExpectOldOutputsKeptAndNoTemporaries();
    if (sanitized || !fs::is_regular_file(in) || fs::file_size(in) >= kSmallInput) return;
    const ChildResult base = Baseline(run);
    // CPU time, not wall time, so a loaded machine does not count against the
    // file; a run over the bound still gets one more try.
    if (r.cpuSeconds > base.cpuSeconds + kExtraCpuSeconds)
        r = handpix::test::RunProgram(Argv(run, in, m_dir / "in"), limits);
    EXPECT_LE(r.maxRssKb, base.maxRssKb + kExtraRssKb);
    EXPECT_LE(r.cpuSeconds, base.cpuSeconds + kExtraCpuSeconds);
}

INSTANTIATE_TEST_SUITE_P(Crafted, ToolHostileInput, ::testing::ValuesIn(Cases()), [](const auto& info) {
    return std::string(info.param.row->name) + "_" + kVerbNames[static_cast<int>(info.param.run.verb)] + "_" +
           std::to_string(info.index);
});
