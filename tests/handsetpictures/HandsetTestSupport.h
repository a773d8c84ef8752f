// Shared rig of the handset picture tests: files in a fresh folder, a
// recorder of message boxes, a picture, and small SIS and SAF streams.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "handpix/imagefiles/HandsetColour.h"
#include "handpix/imagefiles/SharedPalette.h"
#include "handpix/picture/Picture.h"
#include "handpix/platform/draw/DC.h"
#include "handpix/platform/draw/Surface.h"
#include "handpix/platform/core/File.h"
#include "handpix/platform/core/MessageBox.h"
#include "handpix/imagefiles/ImgWriter.h"
#include "handpix/handset/SafWriter.h"
#include "handpix/handset/SisKind1Writer.h"
#include "tests/support/SisReference.h"
#include "handpix/handset/SisKind2Writer.h"
#include "handpix/picture/HandsetWriter.h"

namespace handpix::test {

inline constexpr const char* kNotAnimation = "애니메이션 파일포맷이 아닙니다.";
inline constexpr const char* kBeyondFrameCount = "잘못된 정보(총 프레임수를 초과)입니다.";

class HandsetPictureTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_dir = std::filesystem::temp_directory_path() /
                ("handpix_hp_" + std::to_string(::getpid()) + "_" + info->test_suite_name() + "_" + info->name());
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
        m_previous = SetMessageBoxHandler([this](const char* text, const char*, UINT) {
            messages.emplace_back(text);
            return IDOK;
        });
        ClearSharedPalette();
    }
    void TearDown() override {
        SetMessageBoxHandler(m_previous);
        std::filesystem::remove_all(m_dir);
    }
    std::string Write(const std::string& name, const Bytes& bytes) {
        const std::string path = (m_dir / name).string();
        EXPECT_TRUE(WriteFileAtomically(path.c_str(), bytes.data(), bytes.size()));
        return path;
    }
    std::string Missing() const { return (m_dir / "missing.sni").string(); }
    Rgb Frame(std::size_t i) const { return {pic->m_FrameRGB[i][0], pic->m_FrameRGB[i][1], pic->m_FrameRGB[i][2]}; }
    Rgb Img(std::size_t i) const { return {pic->m_ImgRGB[i][0], pic->m_ImgRGB[i][1], pic->m_ImgRGB[i][2]}; }
    Rgb Key() const { return {pic->m_ColorKey[0], pic->m_ColorKey[1], pic->m_ColorKey[2]}; }
    // The messages so far, then forgets them.
    std::vector<std::string> TakeMessages() { return std::exchange(messages, {}); }

    std::unique_ptr<CPicture> pic = std::make_unique<CPicture>();
    std::vector<std::string> messages;

private:
    std::filesystem::path m_dir;
    MessageBoxHandler m_previous;
};

inline std::ostream& operator<<(std::ostream& os, const Rgb& c) {
    return os << "(" << int(c.r) << "," << int(c.g) << "," << int(c.b) << ")";
}

inline constexpr Rgb kWhite{255, 255, 255};
inline constexpr Rgb kBlack{0, 0, 0};
inline constexpr Rgb Grey(std::uint8_t v) { return {v, v, v}; }

// A white memory DC to draw into.
struct Target {
    Target(int w = 300, int h = 200) {
        dc.CreateCompatibleDC(nullptr);
        bmp.CreateCompatibleBitmap(&dc, w, h);
        old = dc.SelectObject(&bmp);
    }
    ~Target() {
        dc.SelectObject(old);
        dc.DeleteDC();
    }
    COLORREF Colour(int x, int y) const { return ColorOf(bmp.GetSurface()->At(x, y)); }
    Rgb At(int x, int y) const {
        const COLORREF c = Colour(x, y);
        return {static_cast<std::uint8_t>(GetRValue(c)), static_cast<std::uint8_t>(GetGValue(c)),
                static_cast<std::uint8_t>(GetBValue(c))};
    }
    CDC dc;
    CBitmap bmp;
    CBitmap* old = nullptr;
};

// A kind-1 stream of w x h units: one explicit block of a diagonal stripe
// pattern, placed at x = 8 x f in frame f.
inline SisKind1Stream Kind1Stripes(std::uint32_t widthUnits, std::uint32_t heightUnits, std::uint32_t frames) {
    SisKind1Stream s;
    s.widthUnits = widthUnits;
    s.heightUnits = heightUnits;
    s.blocks = {{}};
    for (int i = 0; i < 64; ++i) s.blocks[0].pixels.push_back(static_cast<std::uint8_t>(((i % 8) + (i / 8)) % 3 == 0));
    for (std::uint32_t f = 0; f < frames; ++f) s.frames.push_back({false, {{0, 0, static_cast<int>(8 * (f % widthUnits))}}});
    return s;
}

// A kind-2 stream of 8 x 8 pixels whose one frame holds every 2-bit value:
// pixel i has the value i % 4.
inline SisKind2Stream Kind2Ramp() {
    SisKind2Stream s;
    s.widthByte = s.heightByte = 8;
    s.blocks = {{}};
    for (int i = 0; i < 64; ++i) s.blocks[0].pixels.push_back(static_cast<std::uint8_t>(i % 4));
    s.frames.push_back({false, -1, {SisKind2Placement{}}});
    return s;
}

// An 8-bit SAF stream of w x h pixels with `frames` frames; frame f shows
// the object of pixel values (i + f) % 251 over the whole picture.
inline Bytes SafRamp(int w, int h, int frames) {
    SafWriter sw;
    sw.Header({SafImageHeader(w, h, 8), SafAnimation(frames), SafDelay(300)});
    for (int f = 0; f < frames; ++f) {
        std::vector<int> px(static_cast<std::size_t>(w) * h);
        for (std::size_t i = 0; i < px.size(); ++i) px[i] = static_cast<int>((i + f) % 251);
        sw.Object(f, w, h, 8, px);
    }
    for (int f = 0; f < frames; ++f) sw.Frame(0, {SafPlaceItem({.object = f})});
    return sw.End().Build();
}

}  // namespace handpix::test
