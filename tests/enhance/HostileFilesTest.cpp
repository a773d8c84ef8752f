// The JPEG readers and writers of the codec, the resizing wrapper and the
// enhancement class on hostile files: the picture-size limit, headers their
// data cannot fill, files that are not regular, read-only files met by an
// unprivileged user, and writes that fail half-way. Each call runs in a
// child, so a hang, a limit or a dropped privilege touches nothing else.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "handpix/enhance/ImageEdit.h"
#include "handpix/enhance/LuxJpeg.h"
#include "handpix/jpegcodec/Jpeg.h"
#include "handpix/picture/Picture.h"
#include "handpix/platform/core/Limits.h"
#include "tests/enhance/Recorder.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/EnhanceFiles.h"
#include "tests/support/JpegSegments.h"

namespace {
using Bytes = std::vector<std::uint8_t>;
using handpix::test::RunInChild;
char* Mutable(const char* p) { return const_cast<char*>(p); }

// A three-component file of one flat colour whose header claims width x
// height: one-bit DC and AC codes, so every block costs two bits, and
// `entropyBytes` zero bytes of data (a zero DC difference and an EOB each
// block) before the end marker.
Bytes FlatJpeg(int width, int height, std::size_t entropyBytes) {
    using jpegtest::DhtTable;
    Bytes dqt(65, 1);
    dqt[0] = 0;
    const Bytes sof = {8, static_cast<std::uint8_t>(height >> 8), static_cast<std::uint8_t>(height),
                       static_cast<std::uint8_t>(width >> 8), static_cast<std::uint8_t>(width), 3,
                       1, 0x11, 0, 2, 0x11, 0, 3, 0x11, 0};
    const Bytes sos = {3, 1, 0x00, 2, 0x00, 3, 0x00, 0, 63, 0};
    Bytes data(entropyBytes, 0);
    data.insert(data.end(), {0xFF, 0xD9});
    return jpegtest::Join({{0xDB, dqt}, {0xC0, sof}, {0xC4, DhtTable(0, {1}, {0})}, {0xC4, DhtTable(0x10, {1}, {0})},
                           {0xDA, sos}},
                          data);
}
constexpr int kW = 64, kH = 48;
// Three components of 8 x 6 blocks at two bits each.
const std::size_t kFlatBytes = 3 * (kW / 8) * (kH / 8) * 2 / 8;

// Each reader gives the decoded width, 0 on failure.
struct Reader {
    const char* name;
    int (*load)(const char* path);
};
const Reader kReaders[] = {
    {"CJpeg", [](const char* p) {
         CJpeg j;
         return j.LoadJPG(Mutable(p)) ? j.GetWidth() : 0;
     }},
    {"ImageEdit", [](const char* p) {
         MessageRecorder quiet;
         CImageEdit e;
         return e.LoadJPG(p) ? e.GetWidth() : 0;
     }},
    {"LuxJpeg", [](const char* p) {
         LUX_Image* im = CLuxJpeg::LUX_LoadJPEG(Mutable(p));
         const int w = im ? static_cast<int>(im->ulWidth) : 0;
         CLuxJpeg::LUX_FreeImage(im);
         return w;
     }},
};

enum class Kind { kFile, kReadOnlyForOthers, kFifo };
struct FileCase {
    const char* name;
    Bytes bytes;
    std::uint64_t limit;  // pixels; 0 the default
    Kind kind;            // read-only (0444) files are read by an unprivileged child
    int width;            // what every reader gives
};
const FileCase kFiles[] = {
    {"FlatAtTheLimit", FlatJpeg(kW, kH, kFlatBytes), kW * kH, Kind::kFile, kW},
    {"OnePixelOverTheLimit", FlatJpeg(kW, kH, kFlatBytes), kW * kH - 1, Kind::kFile, 0},
    // 187,500 blocks from 36 bytes: well within the size limit, not within the data.
    {"HeaderDataCannotFill", FlatJpeg(4000, 4000, kFlatBytes), 0, Kind::kFile, 0},
    {"ReadOnlyOwnedByRoot", FlatJpeg(kW, kH, kFlatBytes), 0, Kind::kReadOnlyForOthers, kW},
    // Refused at once, where opening it for reading would wait for a writer.
    {"PlantedFifo", {}, 0, Kind::kFifo, 0},
};

void PrintTo(const Reader& r, std::ostream* os) { *os << r.name; }
void PrintTo(const FileCase& f, std::ostream* os) { *os << f.name; }

class HostileRead : public ::testing::TestWithParam<std::tuple<Reader, FileCase>> {};

TEST_P(HostileRead, GivesTheExpectedWidthInAChild) {
    const auto& [reader, file] = GetParam();
    enhance_test::TempDir dir("hostile_read");
    const std::string path = dir.File("a.jpg");
    if (file.kind == Kind::kFifo) {
        ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
    } else {
        enhance_test::WriteFile(path, file.bytes);
    }
    if (file.kind == Kind::kReadOnlyForOthers) {
        ASSERT_EQ(::chmod(dir.path.c_str(), 0755), 0);
        ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    }
    const auto r = RunInChild(
        [&] {
            handpix::SetMaxPicturePixels(file.limit);
            return reader.load(path.c_str()) == file.width ? 0 : 1;
        },
        {.seconds = 10, .unprivileged = file.kind == Kind::kReadOnlyForOthers});
    EXPECT_TRUE(r.exited && r.exitCode == 0) << "exit " << r.exitCode << " signal " << r.signal;
}

INSTANTIATE_TEST_SUITE_P(Files, HostileRead, ::testing::Combine(::testing::ValuesIn(kReaders), ::testing::ValuesIn(kFiles)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
                         });

// Each writer saves a 64 x 48 picture over `target`; `source` is a JPEG file
// of that size for the thumbnail writer. 1 written, 0 failed, 2 no result.
struct Writer {
    const char* name;
    int (*save)(const char* source, const char* target);
};
Bytes Bgr(int w, int h) { return Bytes(static_cast<std::size_t>((w * 3 + 3) / 4 * 4 * h), 0x5A); }
const Writer kWriters[] = {
    {"CJpeg", [](const char*, const char* t) {
         Bytes px = Bgr(kW, kH);
         return CJpeg().SaveJPG(Mutable(t), kW, kH, px.data());
     }},
    {"ImageEdit", [](const char*, const char* t) {
         MessageRecorder quiet;
         CImageEdit e;
         e.SetImageSize(kW, kH);
         const Bytes px = Bgr(kW, kH);
         e.SetDibData(new BYTE[px.size()](), px.size());
         return e.SaveJPG(t);
     }},
    {"LuxJpeg", [](const char*, const char* t) {
         LUX_Image* im = CLuxJpeg::LUX_AllocImage(kW, kH, 3);
         for (int y = 0; y < kH; ++y) std::fill_n(im->ppRows[y], kW * 3, 0x5A);
         const int r = static_cast<int>(CLuxJpeg::LUX_SaveJPEG(im, Mutable(t)));
         CLuxJpeg::LUX_FreeImage(im);
         return r;
     }},
    {"Thumbnail", [](const char* s, const char* t) {
         MessageRecorder quiet;
         CString source(s), target(t);
         CPicture().ResizingImage(source, target);
         return 2;
     }},
};

void PrintTo(const Writer& w, std::ostream* os) { *os << w.name; }

class AtomicWrite : public ::testing::TestWithParam<Writer> {};

TEST_P(AtomicWrite, AFailedWriteLeavesTheOldFileAndNoTemporary) {
    enhance_test::TempDir dir("atomic_write");
    const std::string source = dir.File("source.jpg"), target = dir.File("target.jpg");
    enhance_test::WriteFile(source, enhance_test::JpegBytes(kW, kH, 3, Bytes(kW * kH * 3, 90)));
    const Bytes old = {'o', 'l', 'd'};
    enhance_test::WriteFile(target, old);
    // Anyone may add files to the folder, but the target is read-only.
    ASSERT_EQ(::chmod(dir.path.c_str(), 0777), 0);
    ASSERT_EQ(::chmod(target.c_str(), 0444), 0);
    const auto save = GetParam().save;
    // Past 300 bytes every write fails, as on a full disk; an unprivileged
    // writer may not replace the read-only target.
    for (const handpix::test::ChildLimits& limits : {handpix::test::ChildLimits{.fileSizeBytes = 300, .seconds = 30},
                                                     handpix::test::ChildLimits{.seconds = 30, .unprivileged = true}}) {
        const auto r = RunInChild([&] { return save(source.c_str(), target.c_str()); }, limits);
        ASSERT_TRUE(r.exited);
        EXPECT_NE(r.exitCode, 1);
        EXPECT_EQ(enhance_test::ReadFile(target), old);
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir.path)) names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"source.jpg", "target.jpg"}));
    }
    const auto r = RunInChild([&] { return save(source.c_str(), target.c_str()); }, {.seconds = 30});
    EXPECT_TRUE(r.exited && r.exitCode != 0);
    enhance_test::DecodedJpeg d;
    ASSERT_TRUE(enhance_test::DecodeJpeg(enhance_test::ReadFile(target), d));
    EXPECT_EQ(d.height * 4, d.width * 3);
}

INSTANTIATE_TEST_SUITE_P(Writers, AtomicWrite, ::testing::ValuesIn(kWriters),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
