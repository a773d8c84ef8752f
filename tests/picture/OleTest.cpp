#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "handpix/platform/draw/DC.h"
#include "handpix/platform/ole/Archive.h"
#include "handpix/platform/ole/OlePicture.h"
#include "tests/picture/Canvas.h"
#include "tests/support/DrawSamples.h"

namespace {
using handpix::test::Bytes;
constexpr COLORREF kTop = RGB(250, 10, 10);
constexpr COLORREF kBottom = RGB(10, 10, 250);
constexpr COLORREF kSentinel = RGB(1, 2, 3);

// 8 x 8: red top half, blue bottom half, one green pixel at the top left.
Bytes TwoBands() {
    return handpix::test::MakeBmp(8, 8, [](int x, int y) {
        if (x == 0 && y == 0) return RGB(0, 255, 0);
        return y < 4 ? kTop : kBottom;
    });
}

IPicture* Decode(const Bytes& b, HRESULT* hr = nullptr, LONG size = 0) {
    IStream* s = SHCreateMemStream(b.data(), static_cast<UINT>(b.size()));
    void* out = nullptr;
    HRESULT r = OleLoadPicture(s, size, FALSE, IID_IPicture, &out);
    s->Release();
    if (hr) *hr = r;
    return static_cast<IPicture*>(out);
}

}  // namespace

TEST(MemFile, FixedBufferNeverGrowsGrowableDoes) {
    BYTE buf[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    CMemFile fixed(buf, sizeof buf);
    EXPECT_EQ(fixed.GetLength(), 8u);
    BYTE got[16];
    EXPECT_EQ(fixed.Read(got, 16), 8u);
    EXPECT_EQ(fixed.Seek(-3, CFile::end), 5);
    EXPECT_EQ(fixed.Write("abcdef", 6), 3u);  // only what fits
    EXPECT_EQ(buf[7], 'c');
    EXPECT_EQ(fixed.Seek(-1, CFile::begin), -1);

    CMemFile grow;
    EXPECT_EQ(grow.Write("hello", 5), 5u);
    grow.Seek(10, CFile::begin);
    EXPECT_EQ(grow.Write("!", 1), 1u);
    EXPECT_EQ(grow.GetLength(), 11u);
    EXPECT_EQ(grow.Data()[7], 0);
}

TEST(Archive, LoadingReadsAcrossItsBufferAndFlushGivesBackReadAhead) {
    Bytes data(1000);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<BYTE>(i * 7);
    CMemFile file(data.data(), static_cast<UINT>(data.size()));
    {
        CArchive ar(&file, CArchive::load, 128);
        BYTE part[300];
        ASSERT_EQ(ar.Read(part, 5), 5u);
        ASSERT_EQ(ar.Read(part, 300), 300u);  // larger than the buffer
        EXPECT_EQ(part[0], static_cast<BYTE>(5 * 7));
        EXPECT_EQ(part[299], static_cast<BYTE>(304 * 7));
        ar.Flush();
        EXPECT_EQ(file.GetPosition(), 305u);

        CArchiveStream stream(&ar);
        ULARGE_INTEGER pos{};
        ASSERT_EQ(stream.Seek(LARGE_INTEGER{-5}, STREAM_SEEK_CUR, &pos), S_OK);
        EXPECT_EQ(pos.QuadPart, 300u);
        ULONG n = 0;
        BYTE b = 0;
        EXPECT_EQ(stream.Read(&b, 1, &n), S_OK);
        EXPECT_EQ(b, static_cast<BYTE>(300 * 7));
        BYTE rest[1000];
        EXPECT_EQ(stream.Read(rest, 1000, &n), S_FALSE);
        EXPECT_EQ(n, 699u);
    }
    CMemFile out;
    {
        CArchive ar(&out, CArchive::store, 128);
        for (int i = 0; i < 100; ++i) ar.Write("0123456789", 10);
    }  // storing archives write everything out when they go
    EXPECT_EQ(out.GetLength(), 1000u);
}

TEST(OleLoad, ArgumentsAndSizes) {
    Bytes bmp = TwoBands();
    IStream* s = SHCreateMemStream(bmp.data(), static_cast<UINT>(bmp.size()));
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(OleLoadPicture(s, 0, FALSE, IID_IStream, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(OleLoadPicture(nullptr, 0, FALSE, IID_IPicture, &out), E_POINTER);
    EXPECT_EQ(OleLoadPicture(s, 0, FALSE, IID_IPicture, nullptr), E_POINTER);
    s->Release();

    HRESULT hr;
    EXPECT_EQ(Decode(bmp, &hr, 40), nullptr);  // only part of it read
    EXPECT_EQ(hr, CTL_E_INVALIDPICTURE);

    IPicture* pic = Decode(bmp, &hr);
    ASSERT_NE(pic, nullptr);
    long w = 0, h = 0;
    pic->get_Width(&w);
    pic->get_Height(&h);
    EXPECT_EQ(std::pair(w, h), std::pair(handpix::PixelsToHimetric(8), handpix::PixelsToHimetric(8)));
    EXPECT_EQ(pic->get_Width(nullptr), E_POINTER);
    void* again = nullptr;
    ASSERT_EQ(pic->QueryInterface(IID_IUnknown, &again), S_OK);
    EXPECT_EQ(pic->Release(), 1u);
    EXPECT_EQ(static_cast<IPicture*>(again)->Release(), 0u);
}

// The file class opens only regular files for reading: a FIFO fails at once.
TEST(CFileOpen, RegularFilesOnly) {
    const auto fifo = std::filesystem::temp_directory_path() / "handpix_ole_fifo.jpg";
    std::filesystem::remove(fifo);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Held open for writing, so that an open that did not refuse would not block either.
    const int writer = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
    CFile f;
    EXPECT_FALSE(f.Open(fifo.c_str(), CFile::modeRead | CFile::shareDenyWrite));
    ::close(writer);
    std::filesystem::remove(fifo);
}

TEST(OleRender, SourceDirectionAndScaling) {
    IPicture* pic = Decode(TwoBands());
    ASSERT_NE(pic, nullptr);
    const long w = handpix::PixelsToHimetric(8), h = w;
    const struct {
        const char* what;
        long cx, cy, ySrc, cySrc;
        COLORREF top, bottom;
    } cases[] = {
        {"upright: from the top edge downward", 8, 8, h, -h, kTop, kBottom},
        {"upside down: from the bottom edge upward", 8, 8, 0, h, kBottom, kTop},
        {"enlarged", 16, 16, h, -h, kTop, kBottom},
        {"shrunk", 4, 4, h, -h, kTop, kBottom},
        {"negative height flips", 8, -8, h, -h, kBottom, kTop},
    };
    for (const auto& c : cases) {
        Canvas canvas(40, 40, kSentinel);
        long y = c.cy < 0 ? 2 - c.cy : 2;
        ASSERT_EQ(pic->Render(canvas.dc.m_hDC, 3, y, c.cx, c.cy, 0, c.ySrc, w, c.cySrc, nullptr), S_OK) << c.what;
        long n = c.cy < 0 ? -c.cy : c.cy;
        EXPECT_EQ(canvas.At(3 + c.cx - 1, 2), c.top) << c.what;
        EXPECT_EQ(canvas.At(3 + c.cx - 1, 2 + n - 1), c.bottom) << c.what;
        EXPECT_EQ(canvas.At(2, 2), kSentinel) << c.what;
        EXPECT_EQ(canvas.At(3, 2 + n), kSentinel) << c.what;
    }
    // Mirrored: the green pixel moves from the left edge to the right edge.
    Canvas mirror(10, 10, kSentinel);
    pic->Render(mirror.dc.m_hDC, 8, 0, -8, 8, 0, h, w, -h, nullptr);
    EXPECT_EQ(mirror.At(7, 0), RGB(0, 255, 0));
    EXPECT_EQ(mirror.At(0, 0), kTop);
    pic->Release();
}

TEST(OleRender, RepeatedRendersFollowClippingAndSize) {
    IPicture* pic = Decode(TwoBands());
    ASSERT_NE(pic, nullptr);
    const long w = handpix::PixelsToHimetric(8), h = w;
    Canvas canvas(20, 20, kSentinel);
    pic->Render(canvas.dc.m_hDC, 0, 0, 8, 8, 0, h, w, -h, nullptr);
    // Same size again, now partly clipped away: the kept rendering must honour the clip.
    canvas.dc.FillSolidRect(0, 0, 20, 20, kSentinel);
    canvas.dc.ExcludeClipRect(0, 0, 8, 2);
    pic->Render(canvas.dc.m_hDC, 0, 0, 8, 8, 0, h, w, -h, nullptr);
    EXPECT_EQ(canvas.At(5, 1), kSentinel);
    EXPECT_EQ(canvas.At(5, 2), kTop);
    canvas.dc.SelectClipRgn(nullptr);
    // Another size, then the first again: each comes out at its own size.
    pic->Render(canvas.dc.m_hDC, 0, 0, 20, 20, 0, h, w, -h, nullptr);
    EXPECT_EQ(canvas.At(19, 19), kBottom);
    canvas.dc.FillSolidRect(0, 0, 20, 20, kSentinel);
    pic->Render(canvas.dc.m_hDC, 0, 0, 8, 8, 0, h, w, -h, nullptr);
    EXPECT_EQ(canvas.At(7, 7), kBottom);
    EXPECT_EQ(canvas.At(8, 8), kSentinel);
    EXPECT_EQ(pic->Render(nullptr, 0, 0, 8, 8, 0, h, w, -h, nullptr), E_INVALIDARG);
    pic->Release();
}
