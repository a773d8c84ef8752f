// Decoding in restart bands against libjpeg's single decode with the settings
// of the JPEG-library stand-in: every byte equal whenever the bands take a
// file, and for every file they cannot split exactly a refusal, after which the
// stand-in's read still gives the single decode.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "handpix/platform/ijl/Ijl.h"
#include "handpix/platform/ijl/RestartBands.h"
#include "tests/support/JpegPeer.h"

namespace {
using Bytes = std::vector<std::uint8_t>;

struct Shape {
    int width, height, comps, h0, v0;  // comps 1: grey
};

// A photo-like file with a restart marker every `rows` MCU rows plus `mcus` MCUs.
Bytes Encode(const Shape& s, int rows, int mcus, bool progressive = false) {
    jpegtest::Picture p = jpegtest::PhotoLike(s.width, s.height, 7);
    if (s.comps == 1) {
        for (std::size_t i = 0; i < p.px.size() / 3; ++i) p.px[i] = p.px[3 * i + 1];
        p.px.resize(p.px.size() / 3);
        p.comps = 1;
    }
    jpegtest::EncodeOptions o;
    o.h0 = s.h0;
    o.v0 = s.v0;
    o.progressive = progressive;
    const int mcuWidth = 8 * (s.comps == 1 ? 1 : s.h0);
    o.restartInterval = rows * ((s.width + mcuWidth - 1) / mcuWidth) + mcus;
    return jpegtest::PeerEncode(p, o);
}

std::string WriteTemp(const Bytes& file) {
    const std::string path =
        (std::filesystem::temp_directory_path() / ("handpix_bands_" + std::to_string(getpid()) + ".jpg")).string();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    EXPECT_TRUE(f && std::fwrite(file.data(), 1, file.size(), f) == file.size());
    if (f) std::fclose(f);
    return path;
}

// The bands' rows into `dib`; false when they declined or failed. From
// memory and from the file, which must agree.
bool Bands(const Bytes& file, unsigned denom, unsigned threads, Bytes& dib) {
    jpegtest::StandInDecode d;
    if (!d.Open(file.data(), file.size(), denom)) return false;
    dib.assign(d.RowBytes() * d.Info().output_height, 0);
    Bytes read(dib);
    const bool took =
        handpix::DecodeRestartBands(d.Info(), file.data(), file.size(), {dib.data(), d.RowBytes(), false}, threads);
    const std::string path = WriteTemp(file);
    const int fd = ::open(path.c_str(), O_RDONLY);
    EXPECT_EQ(handpix::DecodeRestartBands(d.Info(), fd, {read.data(), d.RowBytes(), false}, threads), took);
    EXPECT_TRUE(!took || read == dib);
    ::close(fd);
    std::remove(path.c_str());
    return took;
}

// The single decode, or nothing when libjpeg gives up.
Bytes Single(const Bytes& file, unsigned denom) {
    jpegtest::StandInDecode d;
    Bytes dib;
    if (!d.Open(file.data(), file.size(), denom) || !d.Decode(dib)) dib.clear();
    return dib;
}

// The stand-in's read of a file or buffer at 1/denom into top-down rows
// (read bottom-up when `bottomUp`, and turned back).
IJLERR StandInRead(const Bytes& file, const char* path, unsigned denom, bool bottomUp, Bytes& dib) {
    JPEG_CORE_PROPERTIES p{};
    ijlInit(&p);
    Bytes copy = file;
    if (path) {
        p.JPGFile = path;
    } else {
        p.JPGBytes = copy.data();
        p.JPGSizeBytes = static_cast<DWORD>(copy.size());
    }
    IJLERR e = ijlRead(&p, path ? IJL_JFILE_READPARAMS : IJL_JBUFF_READPARAMS);
    if (e == IJL_OK) {
        p.DIBScaleDenom = denom;
        p.DIBWidth = ijlScaledSize(p.JPGWidth, denom);
        const DWORD rows = ijlScaledSize(p.JPGHeight, denom);
        const std::size_t stride = (p.DIBWidth * 3 + 3) & ~3u;
        p.DIBPadBytes = static_cast<DWORD>(stride - p.DIBWidth * 3);
        p.DIBHeight = bottomUp ? -static_cast<int>(rows) : static_cast<int>(rows);
        dib.assign(stride * rows, 0);
        p.DIBBytes = dib.data();
        e = ijlRead(&p, path ? IJL_JFILE_READWHOLEIMAGE : IJL_JBUFF_READWHOLEIMAGE);
        for (std::size_t y = 0; bottomUp && y < rows / 2; ++y)
            std::swap_ranges(dib.begin() + y * stride, dib.begin() + (y + 1) * stride,
                             dib.begin() + (rows - 1 - y) * stride);
    }
    ijlFree(&p);
    return e;
}

struct BandCase {
    const char* name;
    Shape shape;
    int rows, mcus;  // the restart interval: whole MCU rows plus MCUs
    unsigned denom;
    bool split;  // the bands take the file
    bool progressive;
};

const BandCase kBandCases[] = {
    {"s420_eighth", {320, 240, 3, 2, 2}, 1, 0, 8, true, false},
    {"s420_quarter", {320, 240, 3, 2, 2}, 1, 0, 4, true, false},
    {"s420_half", {320, 240, 3, 2, 2}, 1, 0, 2, true, false},
    // Full size upsamples chroma with its neighbouring rows.
    {"s420_full_size", {320, 240, 3, 2, 2}, 1, 0, 1, false, false},
    {"s440_half", {320, 240, 3, 1, 2}, 1, 0, 2, true, false},
    {"s444_full_size", {200, 160, 3, 1, 1}, 2, 0, 1, true, false},
    {"s422_eighth", {320, 240, 3, 2, 1}, 1, 0, 8, true, false},
    {"s422_full_size", {320, 240, 3, 2, 1}, 1, 0, 1, true, false},
    {"grey_eighth", {320, 240, 1, 1, 1}, 1, 0, 8, true, false},
    {"grey_full_size", {320, 240, 1, 1, 1}, 3, 0, 1, true, false},
    {"odd_size", {421, 333, 3, 2, 2}, 1, 0, 8, true, false},
    {"odd_size_quarter", {421, 333, 3, 2, 1}, 1, 0, 4, true, false},
    {"every_third_row", {320, 240, 3, 2, 2}, 1, 10, 8, true, false},
    {"every_mcu", {320, 240, 3, 2, 2}, 0, 1, 4, true, false},
    {"every_seventh_row", {320, 240, 3, 2, 2}, 0, 7, 8, true, false},
    // Intervals of 13 MCUs open a row only at row 13 of 15: too lopsided.
    {"no_row_near_the_middle", {320, 240, 3, 2, 2}, 0, 13, 8, false, false},
    {"no_markers", {320, 240, 3, 2, 2}, 0, 0, 8, false, false},
    {"progressive", {320, 240, 3, 2, 2}, 1, 0, 8, false, true},
};

void PrintTo(const BandCase& k, std::ostream* os) { *os << k.name; }

class RestartBands : public testing::TestWithParam<BandCase> {};

TEST_P(RestartBands, EveryByteAsTheSingleDecode) {
    const BandCase& k = GetParam();
    const Bytes file = Encode(k.shape, k.rows, k.mcus, k.progressive);
    const Bytes single = Single(file, k.denom);
    ASSERT_FALSE(single.empty());
    for (unsigned threads : {2u, 3u, 5u}) {
        Bytes dib;
        const bool took = Bands(file, k.denom, threads, dib);
        EXPECT_EQ(took, k.split) << threads << " threads";
        EXPECT_TRUE(!took || dib == single) << threads << " threads";
    }
}

INSTANTIATE_TEST_SUITE_P(Files, RestartBands, testing::ValuesIn(kBandCases),
                         [](const testing::TestParamInfo<BandCase>& i) { return std::string(i.param.name); });

// The stand-in's own read, from a file and from memory, top-down and bottom-up.
TEST(RestartBandsInTheStandIn, ReadGivesTheSingleDecode) {
    const Bytes file = Encode({421, 333, 3, 2, 2}, 1, 0);
    const Bytes single = Single(file, 8);
    const std::string path = WriteTemp(file);
    for (const char* from : {path.c_str(), static_cast<const char*>(nullptr)})
        for (bool bottomUp : {false, true}) {
            Bytes dib;
            ASSERT_EQ(StandInRead(file, from, 8, bottomUp, dib), IJL_OK);
            EXPECT_TRUE(dib == single) << (from ? "file" : "memory") << (bottomUp ? ", bottom-up" : "");
        }
    std::remove(path.c_str());
}

// Damaged scans: the bands decline before trusting them, and the stand-in's
// read gives what the single decode makes of the damage.
std::size_t ScanStart(const Bytes& f) {
    for (std::size_t i = 0; i + 1 < f.size(); ++i)
        if (f[i] == 0xFF && f[i + 1] == 0xDA) return i;
    return f.size();
}

// Where the k-th restart marker of the scan sits.
std::size_t Marker(const Bytes& f, int k) {
    for (std::size_t i = ScanStart(f); i + 1 < f.size(); ++i)
        if (f[i] == 0xFF && f[i + 1] >= 0xD0 && f[i + 1] <= 0xD7 && k-- == 0) return i;
    return f.size();
}

void Insert(Bytes& f, std::size_t at, Bytes bytes) { f.insert(f.begin() + at, bytes.begin(), bytes.end()); }

struct Damage {
    const char* name;
    void (*apply)(Bytes&);
    bool mayDecode;  // the bands may still take it (when they do, they must equal the single decode)
};

const Damage kDamage[] = {
    {"marker_out_of_sequence", [](Bytes& f) { f[Marker(f, 4) + 1] ^= 1; }, false},
    {"marker_missing", [](Bytes& f) { f.erase(f.begin() + Marker(f, 4), f.begin() + Marker(f, 4) + 2); }, false},
    {"marker_after_the_last_interval", [](Bytes& f) { Insert(f, f.size() - 2, {0xFF, 0xD6}); }, false},
    {"garbage_before_a_marker", [](Bytes& f) { Insert(f, Marker(f, 4), {0x5A}); }, false},
    {"fill_byte_before_a_marker", [](Bytes& f) { Insert(f, Marker(f, 4), {0xFF}); }, false},
    {"segment_cut_short", [](Bytes& f) { f.erase(f.begin() + Marker(f, 4) - 40, f.begin() + Marker(f, 4)); }, false},
    {"truncated", [](Bytes& f) { f.resize(f.size() * 4 / 5); }, false},
    {"no_eoi", [](Bytes& f) { f.resize(f.size() - 2); }, false},
    {"segment_data_overwritten",
     [](Bytes& f) { std::fill(f.begin() + Marker(f, 4) - 60, f.begin() + Marker(f, 4) - 30, 0x11); }, true},
};

void PrintTo(const Damage& d, std::ostream* os) { *os << d.name; }

class DamagedRestartFile : public testing::TestWithParam<Damage> {};

TEST_P(DamagedRestartFile, DeclinedAndReadAsTheSingleDecode) {
    Bytes file = Encode({320, 240, 3, 2, 2}, 1, 0);
    ASSERT_EQ(Marker(file, 13) < file.size(), true);
    GetParam().apply(file);
    Bytes dib;
    const bool took = Bands(file, 8, 2, dib);
    EXPECT_TRUE(GetParam().mayDecode || !took);
    const Bytes single = Single(file, 8);
    EXPECT_TRUE(!took || dib == single);
    Bytes read;
    const IJLERR e = StandInRead(file, nullptr, 8, false, read);
    EXPECT_EQ(e == IJL_OK, !single.empty());
    EXPECT_TRUE(e != IJL_OK || read == single);
}

INSTANTIATE_TEST_SUITE_P(Scans, DamagedRestartFile, testing::ValuesIn(kDamage),
                         [](const testing::TestParamInfo<Damage>& i) { return std::string(i.param.name); });

}  // namespace
