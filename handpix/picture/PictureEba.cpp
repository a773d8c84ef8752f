// EBA animations: raw frames behind the shared 150-byte header, and the
// drawing of one frame of an EBA or SNI file with its caption.
#include <algorithm>

#include "handpix/imagefiles/ImgFormat.h"
#include "handpix/imagefiles/SharedPalette.h"
#include "handpix/picture/Picture.h"
#include "handpix/picture/PictureHandset.h"
#include "handpix/platform/core/MessageBox.h"

namespace handpix::handset_picture {

CSize PlotIntoCanvas(CDC& mem, const BYTE (*rgb)[3], int w, int h, bool transparent, const BYTE key[3]) {
    const int cw = std::clamp(w, 0, kCanvasWidth);
    const int ch = std::clamp(h, 0, kCanvasHeight);
    if (cw == 0 || ch == 0) return CSize(0, 0);
    constexpr std::uint32_t kWhite = PixelOf(RGB(255, 255, 255));
    constexpr std::uint32_t kGrey = PixelOf(RGB(192, 192, 192));
    std::ptrdiff_t stride = 0;
    std::uint8_t* direct = mem.DirectPixels(CRect(0, 0, cw, ch), &stride);
    for (int y = 0; y < ch; ++y) {
        auto* row = direct ? reinterpret_cast<std::uint32_t*>(direct + y * stride) : nullptr;
        const BYTE (*src)[3] = rgb + static_cast<std::size_t>(y) * static_cast<std::size_t>(w);
        for (int x = 0; x < cw; ++x) {
            const BYTE* p = src[x];
            std::uint32_t px;
            if (transparent && p[0] == key[0] && p[1] == key[1] && p[2] == key[2])
                px = ((x / 10 + y / 10) & 1) ? kGrey : kWhite;
            else
                px = PixelOf(RGB(p[0], p[1], p[2]));
            // The direct write gives the pixels SetPixel would, without a
            // clip test per pixel.
            if (row)
                row[x] = px;
            else
                mem.SetPixel(x, y, ColorOf(px));
        }
    }
    return CSize(cw, ch);
}

}  // namespace handpix::handset_picture

namespace {
using namespace handpix::handset_picture;

constexpr long kFramesOffset = 150;
constexpr int kCentringWidth = 128;

bool WithinEbaLimits(const tagANIMATION_INFO_T& h) {
    return HasSignature(h, "ANI") && h.nWidth >= kEbaMinSide && h.nWidth <= kMaxWidth && h.nHeight >= kEbaMinSide &&
           h.nHeight <= kMaxHeight && KnownBitCount(h.byBitCount) && h.byFrameCount <= kMaxFrames;
}

void DrawCaption(CDC* dc, const CRect& rect, int x0, int frameCount, int frame) {
    const COLORREF oldText = dc->SetTextColor(RGB(0x43, 0x74, 0xBA));
    dc->SetBkColor(RGB(0xF7, 0xF7, 0xF7));
    dc->SetBkMode(OPAQUE);
    CFont font;
    font.CreatePointFont(100, "굴림", dc);
    CFont* oldFont = dc->SelectObject(&font);
    CString caption;
    caption.Format("총 프레임수:%02d 현재:%02d", frameCount, frame + 1);
    CRect box(x0 - 3, rect.bottom - 14, x0 + 152, rect.bottom);
    dc->DrawText(caption, &box, DT_SINGLELINE);
    dc->SetTextColor(oldText);
    dc->SelectObject(oldFont);
    font.DeleteObject();
}

}  // namespace

bool CPicture::GetEBAHeader(CString path) {
    if (path.GetLength() > 0 && path[0] == '<') return false;
    InputFile f(path);
    if (!f) return false;
    ReadAnimHeader(f, m_AnimInfo);
    if (HasSignature(m_AnimInfo, "SNI")) {
        f.Close();
        return GetSNIHeader(path);
    }
    f.Close();
    if (!WithinEbaLimits(m_AnimInfo)) {
        AfxMessageBox(kNotAnimation, MB_OK);
        return false;
    }
    if (m_AnimInfo.byBitCount < 8) return false;
    handpix::ClearSharedPalette();
    // EBA pixels never go through a palette, so neither does the key.
    SetColourKey(*this, [](std::uint8_t index) { return handpix::ExpandRgb332(index); });
    return true;
}

bool CPicture::GetEBAData(CString path, int frame) {
    InputFile f(path);
    if (!f) return false;
    const HeaderReadCounts n = ReadAnimHeader(f, m_AnimInfo);
    if (n.first < kAnimHeaderFirstPart) return false;
    if (HasSignature(m_AnimInfo, "SNI")) {
        f.Close();
        return GetSNIData(path, frame);
    }
    if (n.second < kAnimHeaderSize - kAnimHeaderFirstPart) return false;
    // Frames are counted from 0: the frame count itself is past the last one.
    if (frame >= static_cast<int>(m_AnimInfo.byFrameCount)) {
        f.Close();
        AfxMessageBox(kBeyondFrameCount, MB_OK);
        return false;
    }
    if (frame < 0) return false;
    // Without the header test in front of us, the sizes still bound the buffers.
    const int w = m_AnimInfo.nWidth, h = m_AnimInfo.nHeight;
    if (w < 1 || w > kMaxWidth || h < 1 || h > kMaxHeight) return false;
    // Frames are packed as IMG pixel data is.
    const std::size_t size = handpix::ImgDataSize(w, h, m_AnimInfo.byBitCount);
    static_assert(kRawFrameBytes <= 178 * 160 * 3);
    std::uint8_t raw[kRawFrameBytes];
    const long offset = kFramesOffset + static_cast<long>(size) * frame;
    if (f.ReadAt(offset, raw, size) != size) return false;
    f.Close();
    ConvertRawFrame(raw, size, w, h, m_AnimInfo.byBitCount, TwoBitOrder::Eba, m_FrameRGB);
    return true;
}

bool CPicture::DisplayEBA(const CString& path, CDC* dc, CRect rect, int frame) {
    if (!dc) return false;
    if (!GetEBAHeader(path)) return false;
    if (!GetEBAData(path, frame)) return true;
    const int w = m_AnimInfo.nWidth, h = m_AnimInfo.nHeight;
    int x0 = rect.left;
    if (w != kCentringWidth) x0 += (kCentringWidth - w) / 2;

    CDC mem;
    mem.CreateCompatibleDC(dc);
    CBitmap* old = mem.SelectObject(&m_bmpCanvas);
    const CSize drawn = PlotIntoCanvas(mem, m_FrameRGB, w, h, m_bTransparent != 0, m_ColorKey);
    if (drawn.cx > 0 && drawn.cy > 0) dc->BitBlt(x0, rect.top, drawn.cx, drawn.cy, &mem, 0, 0, SRCCOPY);
    mem.SelectObject(old);

    DrawCaption(dc, rect, x0, m_AnimInfo.byFrameCount, frame);
    mem.DeleteDC();
    return true;
}
