// EBA files through CPicture: header checks, frame offsets and depths, and
// the drawing of a frame (centring, checkerboard, caption) into a DC.
#include <functional>
#include <tuple>

#include "tests/handsetpictures/HandsetTestSupport.h"

namespace handpix::test {
namespace {

AnimHeader Eba(int w, int h, int bits, int frames = 1) {
    return {.width = static_cast<std::int16_t>(w), .height = static_cast<std::int16_t>(h),
            .bits = static_cast<std::uint8_t>(bits), .frameCount = static_cast<std::uint8_t>(frames)};
}

// A frame of w x h pixels whose values come from f(i).
Bytes Pixels(int w, int h, int bits, const std::function<std::uint32_t(std::size_t)>& f) {
    std::vector<std::uint32_t> v(static_cast<std::size_t>(w) * h);
    for (std::size_t i = 0; i < v.size(); ++i) v[i] = f(i);
    return PackHandsetPixels(v, bits);
}

using EbaTest = HandsetPictureTest;

TEST_F(EbaTest, HeaderChecks) {
    struct Case { const char* name; AnimHeader h; bool accepted, message; };
    const Case cases[] = {
        {"smallest", Eba(60, 60, 16), true, false},
        {"largest", Eba(178, 160, 24, 50), true, false},
        {"8 bits", Eba(100, 100, 8), true, false},
        {"width 59", Eba(59, 60, 16), false, true},
        {"width 179", Eba(179, 60, 16), false, true},
        {"height 59", Eba(60, 59, 16), false, true},
        {"height 161", Eba(60, 161, 16), false, true},
        {"4 bits", Eba(60, 60, 4), false, true},
        {"51 frames", Eba(60, 60, 16, 51), false, true},
        {"1 bit is refused quietly", Eba(60, 60, 1), false, false},
        {"2 bits is refused quietly", Eba(60, 60, 2), false, false},
    };
    for (const Case& c : cases) {
        const std::string path = Write("h.eba", WriteEba(c.h, {}));
        EXPECT_EQ(pic->GetEBAHeader(path), c.accepted) << c.name;
        EXPECT_EQ(TakeMessages(), c.message ? std::vector<std::string>{kNotAnimation} : std::vector<std::string>{})
            << c.name;
    }
    Bytes wrong = WriteEba(Eba(60, 60, 16), {});
    wrong[0] = 'X';
    EXPECT_FALSE(pic->GetEBAHeader(Write("x.eba", wrong)));
    EXPECT_EQ(TakeMessages(), std::vector<std::string>{kNotAnimation});
    EXPECT_FALSE(pic->GetEBAHeader("<eba>"));
    EXPECT_FALSE(pic->GetEBAHeader(Missing()));
    EXPECT_FALSE(pic->GetEBAData(Missing(), 0));
    EXPECT_FALSE(pic->GetEBAData(Write("short.eba", Bytes(47, 'A')), 0));
    EXPECT_TRUE(TakeMessages().empty());
}

TEST_F(EbaTest, FramesAtEveryDepth) {
    // Frame n lies at 150 + S x n; frame 1 of each file is checked, so a wrong
    // frame size shows. 61 x 61 leaves partial bytes at 1 and 2 bits.
    struct Case {
        int bits;
        std::function<std::uint32_t(std::size_t)> value;  // frame 1's pixel values
        std::function<Rgb(std::size_t)> expected;
    };
    const Case cases[] = {
        {1, [](std::size_t i) { return static_cast<std::uint32_t>(i % 3 == 0); },
         [](std::size_t i) { return i % 3 == 0 ? kBlack : kWhite; }},
        {2, [](std::size_t i) { return static_cast<std::uint32_t>(i % 4); },
         [](std::size_t i) { const std::uint8_t g[4] = {0, 128, 192, 255}; return Grey(g[i % 4]); }},
        {8, [](std::size_t i) { return static_cast<std::uint32_t>(i % 256); },
         [](std::size_t i) { return ExpandRgb332(static_cast<std::uint8_t>(i % 256)); }},
        {16, [](std::size_t i) { return static_cast<std::uint32_t>(i * 37 % 65536); },
         [](std::size_t i) { return ExpandRgb565(static_cast<std::uint16_t>(i * 37 % 65536)); }},
        {24, [](std::size_t i) { return static_cast<std::uint32_t>(i * 0x010203); },
         [](std::size_t i) {
             const std::uint32_t v = static_cast<std::uint32_t>(i * 0x010203);
             return Rgb{static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 8),
                        static_cast<std::uint8_t>(v)};
         }},
    };
    for (const Case& c : cases) {
        const Bytes f0 = Pixels(61, 61, c.bits, [](std::size_t) { return 0u; });
        const Bytes f1 = Pixels(61, 61, c.bits, c.value);
        Bytes first = f0, second = f1;
        // 3,721 pixels make 465 whole bytes: the partial one is not stored.
        if (c.bits == 1) { ASSERT_EQ(first.size(), 466u); }
        if (c.bits <= 2) {
            first.pop_back();
            second.pop_back();
        }
        const std::string path = Write("d.eba", WriteEba(Eba(61, 61, c.bits, 2), {first, second, Bytes(4, 0)}));
        ASSERT_TRUE(pic->GetEBAData(path, 1)) << c.bits;
        const std::size_t whole = c.bits == 1 ? 3720 : c.bits == 2 ? 3720 : 3721;
        for (std::size_t i = 0; i < whole; ++i) ASSERT_EQ(Frame(i), c.expected(i)) << c.bits << " " << i;
    }
}

TEST_F(EbaTest, FrameNumberChecks) {
    const Bytes frame = Pixels(60, 60, 16, [](std::size_t) { return 0xF800u; });
    const std::string path = Write("f.eba", WriteEba(Eba(60, 60, 16, 2), {frame, frame}));
    const std::string cut = Write("cut.eba", WriteEba(Eba(60, 60, 16, 2), {frame, Bytes(frame.begin(), frame.end() - 1)}));
    struct Case { std::string path; int frame; bool ok; std::vector<std::string> messages; };
    const Case cases[] = {
        {path, 0, true, {}},     {path, 1, true, {}},  {path, 2, false, {kBeyondFrameCount}},
        {path, 7, false, {kBeyondFrameCount}},         {path, -1, false, {}},
        {cut, 1, false, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(pic->GetEBAData(c.path, c.frame), c.ok) << c.path << " " << c.frame;
        EXPECT_EQ(TakeMessages(), c.messages) << c.frame;
    }
    // A frame that cannot be read whole: DisplayEBA succeeds and draws nothing.
    Target t;
    EXPECT_TRUE(pic->DisplayEBA(cut, &t.dc, CRect(25, 0, 230, 190), 1));
    for (int y = 0; y < 200; y += 7)
        for (int x = 0; x < 300; x += 7) ASSERT_EQ(t.At(x, y), kWhite) << x << "," << y;
    EXPECT_FALSE(pic->DisplayEBA(Write("bad.eba", WriteEba(Eba(20, 60, 16), {frame})), &t.dc, CRect(0, 0, 9, 9), 0));
}

TEST_F(EbaTest, PicturesAreCentredOnA128PixelArea) {
    const CRect rect(25, 0, 230, 190);
    for (int w : {128, 178, 60}) {
        // Red top-left pixel, green elsewhere.
        const Bytes frame = Pixels(w, 60, 16, [](std::size_t i) { return i == 0 ? 0xF800u : 0x07E0u; });
        Target t;
        ASSERT_TRUE(pic->DisplayEBA(Write("c.eba", WriteEba(Eba(w, 60, 16), {frame})), &t.dc, rect, 0));
        const int x0 = w == 128 ? 25 : w == 178 ? 0 : 59;
        EXPECT_EQ(t.At(x0, 0), (Rgb{255, 0, 0})) << w;
        EXPECT_EQ(t.At(x0 + w - 1, 59), (Rgb{0, 255, 0})) << w;
        EXPECT_EQ(t.At(x0 + w, 0), kWhite) << w;
        EXPECT_EQ(t.At(x0 + 5, 60), kWhite) << w;
        if (x0 > 0) { EXPECT_EQ(t.At(x0 - 1, 0), kWhite) << w; }
    }
}

TEST_F(EbaTest, TransparentPixelsShowTheCheckerboard) {
    // keyValue: the pixel value that matches the key; otherValue: pixel (5, 5).
    struct Case { const char* name; int bits; std::uint16_t trans; std::uint8_t transparent; std::uint32_t keyValue, otherValue; bool checker; };
    const Case cases[] = {
        {"16-bit on", 16, 0x001F, 1, 0x001F, 0xF800, true},
        {"16-bit off", 16, 0x001F, 0, 0x001F, 0xF800, false},
        {"8-bit index", 8, 0x03, 0, 0x03, 0xE0, true},
        {"8-bit none", 8, 256, 1, 0xFF, 0xE0, false},
    };
    for (const Case& c : cases) {
        AnimHeader h = Eba(128, 60, c.bits);
        std::tie(h.transColor, h.transparent) = std::tie(c.trans, c.transparent);
        const Bytes frame = Pixels(128, 60, c.bits, [&](std::size_t i) { return i == 5 * 128 + 5 ? c.otherValue : c.keyValue; });
        Target t;
        ASSERT_TRUE(pic->DisplayEBA(Write("t.eba", WriteEba(h, {frame})), &t.dc, CRect(0, 0, 230, 190), 0)) << c.name;
        auto colour = [&c](std::uint32_t v) {
            return c.bits == 16 ? ExpandRgb565(static_cast<std::uint16_t>(v)) : ExpandRgb332(static_cast<std::uint8_t>(v));
        };
        const Rgb keyColour = colour(c.keyValue), light = Grey(192);
        struct Probe { int x, y; Rgb checker; };
        const Probe probes[] = {{0, 0, kWhite},  {9, 9, kWhite},  {10, 0, light}, {0, 10, light},
                                {10, 10, kWhite}, {19, 9, light}, {20, 0, kWhite}, {127, 59, light}};
        for (const Probe& p : probes) {
            EXPECT_EQ(t.At(p.x, p.y), c.checker ? p.checker : keyColour) << c.name << " " << p.x << "," << p.y;
            const COLORREF onCanvas = ColorOf(pic->m_bmpCanvas.GetSurface()->At(p.x, p.y));
            EXPECT_EQ(onCanvas, RGB(t.At(p.x, p.y).r, t.At(p.x, p.y).g, t.At(p.x, p.y).b)) << c.name;
        }
        EXPECT_EQ(t.At(5, 5), colour(c.otherValue)) << c.name;
    }
}

// Draws the caption the way DisplayEBA must, for comparison.
void ReferenceCaption(CDC& dc, const CRect& rect, int x0, const char* text) {
    dc.SetTextColor(RGB(0x43, 0x74, 0xBA));
    dc.SetBkColor(RGB(0xF7, 0xF7, 0xF7));
    dc.SetBkMode(OPAQUE);
    CFont font;
    font.CreatePointFont(100, "굴림", &dc);
    CFont* old = dc.SelectObject(&font);
    CRect box(x0 - 3, rect.bottom - 14, x0 + 152, rect.bottom);
    dc.DrawText(CString(text), &box, DT_SINGLELINE);
    dc.SelectObject(old);
}

bool SameBox(const Target& a, const Target& b, const CRect& box) {
    for (int y = box.top; y < box.bottom; ++y)
        for (int x = std::max(0, static_cast<int>(box.left)); x < box.right; ++x)
            if (!(a.At(x, y) == b.At(x, y))) return false;
    return true;
}

TEST_F(EbaTest, CaptionNamesTheFrameCountedFromOne) {
    const Bytes frame = Pixels(60, 60, 8, [](std::size_t) { return 0x1Cu; });
    const std::string path = Write("cap.eba", WriteEba(Eba(60, 60, 8, 3), {frame, frame, frame}));
    const CRect rect(25, 0, 230, 190);
    const int x0 = 59;
    const CRect box(x0 - 3, 176, x0 + 152, 190);
    Target shown;
    shown.dc.SetTextColor(RGB(1, 2, 3));
    ASSERT_TRUE(pic->DisplayEBA(path, &shown.dc, rect, 0));
    EXPECT_EQ(shown.dc.GetTextColor(), RGB(1, 2, 3));  // restored
    EXPECT_EQ(shown.dc.GetBkColor(), RGB(0xF7, 0xF7, 0xF7));  // left as set
    EXPECT_EQ(shown.dc.GetBkMode(), OPAQUE);
    Target first, second;
    ReferenceCaption(first.dc, rect, x0, "총 프레임수:03 현재:01");
    ReferenceCaption(second.dc, rect, x0, "총 프레임수:03 현재:02");
    EXPECT_TRUE(SameBox(shown, first, box));
    EXPECT_FALSE(SameBox(shown, second, box));  // the comparison sees the digits
    EXPECT_EQ(shown.At(x0 - 3, 189), (Rgb{0xF7, 0xF7, 0xF7}));  // opaque background
}

TEST_F(EbaTest, SniFilesAreDrawnThroughTheSniReader) {
    const SisKind1Stream s = Kind1Stripes(2, 2, 2);
    const std::string path = Write("s.sni", WriteSni({.frameCount = 2}, WriteSisKind1(s)));
    Target t;
    const CRect rect(25, 0, 230, 190);
    ASSERT_TRUE(pic->DisplayEBA(path, &t.dc, rect, 1));
    EXPECT_TRUE(pic->IsSNIFile());
    const std::vector<std::uint8_t> px = RenderSisKind1(s, 1);
    const int x0 = 25 + (128 - 16) / 2;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) ASSERT_EQ(t.At(x0 + x, y), px[y * 16 + x] ? kBlack : kWhite) << x << "," << y;
    Target ref;
    ReferenceCaption(ref.dc, rect, x0, "총 프레임수:02 현재:02");
    EXPECT_TRUE(SameBox(t, ref, CRect(x0 - 3, 176, x0 + 152, 190)));
    EXPECT_TRUE(TakeMessages().empty());
}

}  // namespace
}  // namespace handpix::test
