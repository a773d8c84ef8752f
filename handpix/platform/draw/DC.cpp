#include "handpix/platform/draw/DC.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "handpix/platform/core/RectList.h"
#include "handpix/platform/draw/FontEngine.h"

namespace {
using handpix::PixelOf;
using handpix::Surface;
using handpix::text::Glyph;

// Stands for "no clipping" when the first clip operation needs a region to cut.
constexpr int kHuge = 1 << 28;
const CRect kEverything(-kHuge, -kHuge, kHuge, kHuge);

int RegionKind(const std::vector<CRect>& rects) {
    return rects.empty() ? NULLREGION : rects.size() == 1 ? SIMPLEREGION : COMPLEXREGION;
}

std::uint32_t Blend(std::uint32_t dst, std::uint32_t src, unsigned a) {
    std::uint32_t out = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        unsigned d = (dst >> shift) & 0xFF, s = (src >> shift) & 0xFF;
        out |= ((s * a + d * (255 - a) + 127) / 255) << shift;
    }
    return out;
}

long MulDivRound(long v, long num, long den) {
    return static_cast<long>(std::llround(static_cast<double>(v) * num / den));
}
}  // namespace

BOOL CRgn::CreateRectRgn(int l, int t, int r, int b) {
    m_rects.clear();
    AddRect(CRect(l, t, r, b));
    return TRUE;
}

void CRgn::AddRect(const RECT& rc) {
    CRect r(rc);
    if (!r.IsRectEmpty()) m_rects.push_back(r);
}

CDC::CDC() = default;
CDC::~CDC() = default;

void CDC::Reset() {
    m_surface.reset();
    m_memory = m_screen = false;
    m_stockBitmap.DeleteObject();
    m_pBitmap = nullptr;
    m_pBrush = &m_stockBrush;
    m_pFont = &m_stockFont;
    m_windowOrg = m_viewportOrg = CPoint();
    m_hasClip = false;
    m_clip.clear();
    m_textColor = RGB(0, 0, 0);
    m_bkColor = RGB(255, 255, 255);
    m_bkMode = OPAQUE;
    m_hDC = nullptr;
}

BOOL CDC::CreateCompatibleDC(CDC*) {
    Reset();
    m_stockBrush.CreateSolidBrush(RGB(255, 255, 255));
    if (!m_stockBitmap.CreateCompatibleBitmap(this, 1, 1)) return FALSE;
    m_memory = true;
    m_pBitmap = &m_stockBitmap;
    m_surface = m_stockBitmap.GetSurface();
    m_hDC = this;
    return TRUE;
}

BOOL CDC::CreateDC(LPCTSTR driver, LPCTSTR, LPCTSTR, const void*) {
    if (!driver || std::strcmp(driver, "DISPLAY") != 0) return FALSE;
    Reset();
    m_stockBrush.CreateSolidBrush(RGB(255, 255, 255));
    m_screen = true;
    m_hDC = this;
    return TRUE;
}

BOOL CDC::DeleteDC() {
    if (!m_hDC) return FALSE;
    Reset();
    return TRUE;
}

BOOL CDC::AttachSurface(std::shared_ptr<Surface> surface) {
    if (!surface) return FALSE;
    Reset();
    m_stockBrush.CreateSolidBrush(RGB(255, 255, 255));
    m_surface = std::move(surface);
    m_hDC = this;
    return TRUE;
}

CBitmap* CDC::SelectObject(CBitmap* pBitmap) {
    if (!m_memory || !pBitmap || !pBitmap->IsCreated()) return nullptr;
    CBitmap* old = m_pBitmap;
    m_pBitmap = pBitmap;
    m_surface = pBitmap->GetSurface();
    return old;
}

CBrush* CDC::SelectObject(CBrush* pBrush) {
    if (!m_hDC || !pBrush) return nullptr;
    CBrush* old = m_pBrush;
    m_pBrush = pBrush;
    return old;
}

CFont* CDC::SelectObject(CFont* pFont) {
    if (!m_hDC || !pFont) return nullptr;
    CFont* old = m_pFont;
    m_pFont = pFont;
    return old;
}

CGdiObject* CDC::SelectObject(CGdiObject* pObject) {
    if (!pObject) return nullptr;
    switch (pObject->GetKind()) {
    case CGdiObject::Kind::bitmap: return SelectObject(static_cast<CBitmap*>(pObject));
    case CGdiObject::Kind::brush: return SelectObject(static_cast<CBrush*>(pObject));
    case CGdiObject::Kind::font: return SelectObject(static_cast<CFont*>(pObject));
    }
    return nullptr;
}

int CDC::GetDeviceCaps(int index) const {
    switch (index) {
    case LOGPIXELSX:
    case LOGPIXELSY: return kScreenDpi;
    case BITSPIXEL: return 32;
    case HORZRES: return m_surface ? m_surface->Width() : kScreenWidth;
    case VERTRES: return m_surface ? m_surface->Height() : kScreenHeight;
    default: return 0;
    }
}

CPoint CDC::SetWindowOrg(int x, int y) {
    CPoint old = m_windowOrg;
    m_windowOrg = CPoint(x, y);
    return old;
}

CPoint CDC::SetViewportOrg(int x, int y) {
    CPoint old = m_viewportOrg;
    m_viewportOrg = CPoint(x, y);
    return old;
}

void CDC::LPtoDP(POINT* pts, int count) const {
    for (int i = 0; i < count; ++i) {
        pts[i].x += m_viewportOrg.x - m_windowOrg.x;
        pts[i].y += m_viewportOrg.y - m_windowOrg.y;
    }
}

void CDC::DPtoLP(POINT* pts, int count) const {
    for (int i = 0; i < count; ++i) {
        pts[i].x -= m_viewportOrg.x - m_windowOrg.x;
        pts[i].y -= m_viewportOrg.y - m_windowOrg.y;
    }
}

void CDC::LPtoDP(RECT* rc) const { *rc = ToDevice(rc->left, rc->top, rc->right, rc->bottom); }

void CDC::DPtoLP(RECT* rc) const {
    CRect r(*rc);
    r.OffsetRect(m_windowOrg.x - m_viewportOrg.x, m_windowOrg.y - m_viewportOrg.y);
    *rc = r;
}

// HIMETRIC is 2540 units to the inch; the screen has 96 pixels to the inch.
void CDC::HIMETRICtoDP(SIZE* size) const {
    size->cx = MulDivRound(size->cx, GetDeviceCaps(LOGPIXELSX), 2540);
    size->cy = MulDivRound(size->cy, GetDeviceCaps(LOGPIXELSY), 2540);
}

void CDC::DPtoHIMETRIC(SIZE* size) const {
    size->cx = MulDivRound(size->cx, 2540, GetDeviceCaps(LOGPIXELSX));
    size->cy = MulDivRound(size->cy, 2540, GetDeviceCaps(LOGPIXELSY));
}

CRect CDC::ToDevice(int l, int t, int r, int b) const {
    int dx = m_viewportOrg.x - m_windowOrg.x, dy = m_viewportOrg.y - m_windowOrg.y;
    return CRect(l + dx, t + dy, r + dx, b + dy);
}

int CDC::ExcludeClipRect(int l, int t, int r, int b) {
    if (!m_hDC) return RGN_ERROR;
    CRect cut = ToDevice(l, t, r, b);
    if (!m_hasClip) {
        m_clip.assign(1, kEverything);
        m_hasClip = true;
    }
    std::vector<CRect> next;
    for (const CRect& c : m_clip) handpix::SubtractRect(c, cut, next);
    m_clip.swap(next);
    return RegionKind(m_clip);
}

int CDC::IntersectClipRect(int l, int t, int r, int b) {
    if (!m_hDC) return RGN_ERROR;
    CRect keep = ToDevice(l, t, r, b);
    if (!m_hasClip) {
        m_clip.assign(1, kEverything);
        m_hasClip = true;
    }
    std::vector<CRect> next;
    for (const CRect& c : m_clip) {
        CRect i;
        if (i.IntersectRect(c, keep)) next.push_back(i);
    }
    m_clip.swap(next);
    return RegionKind(m_clip);
}

int CDC::SelectClipRgn(CRgn* pRgn) {
    if (!m_hDC) return RGN_ERROR;
    m_clip.clear();
    if (!pRgn) {
        m_hasClip = false;
        return SIMPLEREGION;
    }
    // Keep the rectangles disjoint so that nothing is drawn twice.
    for (const CRect& r : pRgn->Rects()) handpix::AddDisjoint(m_clip, r);
    m_hasClip = true;
    return RegionKind(m_clip);
}

int CDC::GetClipBox(RECT* rc) const {
    CRect box = m_surface ? CRect(0, 0, m_surface->Width(), m_surface->Height()) : CRect();
    if (m_hasClip) {
        CRect u;
        for (const CRect& c : m_clip) {
            CRect i;
            if (i.IntersectRect(c, box)) u.UnionRect(u, i);
        }
        box = u;
    }
    DPtoLP(&box);
    *rc = box;
    return box.IsRectEmpty() ? NULLREGION : m_hasClip ? RegionKind(m_clip) : SIMPLEREGION;
}

COLORREF CDC::SetTextColor(COLORREF c) {
    COLORREF old = m_textColor;
    m_textColor = c;
    return old;
}

COLORREF CDC::SetBkColor(COLORREF c) {
    COLORREF old = m_bkColor;
    m_bkColor = c;
    return old;
}

int CDC::SetBkMode(int mode) {
    if (mode != TRANSPARENT && mode != OPAQUE) return 0;
    int old = m_bkMode;
    m_bkMode = mode;
    return old;
}

template <class F>
void CDC::ForEachVisible(const CRect& device, F&& f) const {
    if (!m_surface) return;
    CRect r;
    if (!r.IntersectRect(device, CRect(0, 0, m_surface->Width(), m_surface->Height()))) return;
    if (!m_hasClip) {
        f(r);
        return;
    }
    for (const CRect& c : m_clip) {
        CRect i;
        if (i.IntersectRect(r, c)) f(i);
    }
}

void CDC::FillDevice(const CRect& device, std::uint32_t px) {
    ForEachVisible(device, [&](const CRect& v) {
        for (int y = v.top; y < v.bottom; ++y) std::fill_n(m_surface->Row(y) + v.left, v.Width(), px);
    });
}

void CDC::FillRect(const RECT* rc, CBrush* pBrush) {
    if (!rc || !pBrush || !pBrush->IsCreated()) return;
    FillDevice(ToDevice(rc->left, rc->top, rc->right, rc->bottom), PixelOf(pBrush->GetColor()));
}

void CDC::FillSolidRect(const RECT* rc, COLORREF c) {
    if (rc) FillDevice(ToDevice(rc->left, rc->top, rc->right, rc->bottom), PixelOf(c));
}

void CDC::FillSolidRect(int x, int y, int cx, int cy, COLORREF c) {
    FillDevice(ToDevice(x, y, x + cx, y + cy), PixelOf(c));
}

COLORREF CDC::SetPixel(int x, int y, COLORREF c) {
    CRect d = ToDevice(x, y, x + 1, y + 1);
    bool done = false;
    ForEachVisible(d, [&](const CRect&) {
        m_surface->Row(d.top)[d.left] = PixelOf(c);
        done = true;
    });
    return done ? c : CLR_INVALID;
}

COLORREF CDC::GetPixel(int x, int y) const {
    CRect d = ToDevice(x, y, x + 1, y + 1);
    if (!m_surface || !m_surface->Contains(d.left, d.top)) return CLR_INVALID;
    return handpix::ColorOf(m_surface->At(d.left, d.top));
}

BOOL CDC::BitBlt(int x, int y, int w, int h, CDC* pSrc, int xSrc, int ySrc, DWORD rop) {
    if (rop != SRCCOPY || !pSrc || !pSrc->m_surface || !m_surface) return FALSE;
    if (w <= 0 || h <= 0) return TRUE;
    CRect dst = ToDevice(x, y, x + w, y + h);
    CRect srcDev = pSrc->ToDevice(xSrc, ySrc, xSrc + w, ySrc + h);
    int ox = srcDev.left - dst.left, oy = srcDev.top - dst.top;
    const Surface& src = *pSrc->m_surface;
    CRect srcInDst(-ox, -oy, src.Width() - ox, src.Height() - oy);  // the source's pixels, seen from dst
    CRect area;
    if (!area.IntersectRect(dst, srcInDst)) return TRUE;
    bool sameSurface = &src == m_surface.get();
    ForEachVisible(area, [&](const CRect& v) {
        std::size_t bytes = static_cast<std::size_t>(v.Width()) * 4;
        // Copying down within one surface goes bottom-up so no source row is overwritten first.
        bool upward = sameSurface && oy < 0;
        for (int k = 0; k < v.Height(); ++k) {
            int yy = upward ? v.bottom - 1 - k : v.top + k;
            std::memmove(m_surface->Row(yy) + v.left, src.Row(yy + oy) + v.left + ox, bytes);
        }
    });
    return TRUE;
}

BOOL CDC::StretchBlt(int x, int y, int w, int h, CDC* pSrc, int xSrc, int ySrc, int wSrc, int hSrc, DWORD rop) {
    if (w == wSrc && h == hSrc && w > 0 && h > 0) return BitBlt(x, y, w, h, pSrc, xSrc, ySrc, rop);
    if (rop != SRCCOPY || !pSrc || !pSrc->m_surface || !m_surface) return FALSE;
    if (w == 0 || h == 0 || wSrc == 0 || hSrc == 0) return FALSE;
    CRect dst = ToDevice(x, y, x + w, y + h);  // may be inverted when mirroring
    CRect norm = dst;
    norm.NormalizeRect();
    CRect visible;
    if (!visible.IntersectRect(norm, CRect(0, 0, m_surface->Width(), m_surface->Height()))) return TRUE;
    CRect s = pSrc->ToDevice(xSrc, ySrc, xSrc, ySrc);
    const Surface& src = *pSrc->m_surface;
    // Each destination pixel takes the source pixel under its centre.
    auto mapAxis = [](int from, int to, int d0, int dLen, int s0, int sLen) {
        std::vector<int> m(static_cast<std::size_t>(to - from));
        for (int i = from; i < to; ++i)
            m[static_cast<std::size_t>(i - from)] =
                s0 + static_cast<int>(std::floor((i + 0.5 - d0) / dLen * sLen));
        return m;
    };
    std::vector<int> cols = mapAxis(visible.left, visible.right, dst.left, w, s.left, wSrc);
    std::vector<int> rows = mapAxis(visible.top, visible.bottom, dst.top, h, s.top, hSrc);
    std::vector<std::uint32_t> line;  // a source row may be the destination row itself
    ForEachVisible(visible, [&](const CRect& v) {
        line.resize(static_cast<std::size_t>(v.Width()));
        for (int yy = v.top; yy < v.bottom; ++yy) {
            int sy = rows[static_cast<std::size_t>(yy - visible.top)];
            if (sy < 0 || sy >= src.Height()) continue;
            const std::uint32_t* srow = src.Row(sy);
            std::uint32_t* drow = m_surface->Row(yy);
            for (int xx = v.left; xx < v.right; ++xx) {
                int sx = cols[static_cast<std::size_t>(xx - visible.left)];
                line[static_cast<std::size_t>(xx - v.left)] = (sx >= 0 && sx < src.Width()) ? srow[sx] : drow[xx];
            }
            std::copy(line.begin(), line.end(), drow + v.left);
        }
    });
    return TRUE;
}

void CDC::SetPixelsBGRX(int x, int y, int w, int h, const std::uint8_t* src, std::ptrdiff_t stride) {
    if (!src || w <= 0 || h <= 0) return;
    CRect d = ToDevice(x, y, x + w, y + h);
    ForEachVisible(d, [&](const CRect& v) {
        for (int yy = v.top; yy < v.bottom; ++yy)
            std::memcpy(m_surface->Row(yy) + v.left, src + (yy - d.top) * stride + (v.left - d.left) * 4,
                        static_cast<std::size_t>(v.Width()) * 4);
    });
}

std::uint8_t* CDC::DirectPixels(const RECT& rc, std::ptrdiff_t* stride) {
    if (!m_surface) return nullptr;
    CRect d = ToDevice(rc.left, rc.top, rc.right, rc.bottom);
    if (d.IsRectEmpty() || d.left < 0 || d.top < 0 || d.right > m_surface->Width() || d.bottom > m_surface->Height())
        return nullptr;
    if (m_hasClip) {
        bool inside = false;
        for (const CRect& c : m_clip)
            if (c.left <= d.left && c.top <= d.top && c.right >= d.right && c.bottom >= d.bottom) inside = true;
        if (!inside) return nullptr;
    }
    if (stride) *stride = m_surface->Stride();
    return reinterpret_cast<std::uint8_t*>(m_surface->Row(d.top) + d.left);
}

// ---- text ----

CFont* CDC::EffectiveFont() const {
    if (m_pFont && m_pFont->IsCreated()) return m_pFont;
    if (!m_stockFont.IsCreated())
        m_stockFont.CreateFont(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                               CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, "굴림");
    return m_stockFont.IsCreated() ? &m_stockFont : nullptr;
}

namespace {
struct Line {
    std::vector<const Glyph*> glyphs;
    int width = 0;
};

void Measure(handpix::text::FontInstance& font, const char32_t* cs, std::size_t n, Line& line) {
    for (std::size_t i = 0; i < n; ++i) {
        const Glyph* g = font.GlyphFor(cs[i]);
        line.glyphs.push_back(g);
        line.width += g->advance;
    }
}

// Cuts the line so that it and the ellipsis fit in maxWidth, then appends the
// ellipsis; the rectangle's clipping trims an ellipsis that alone is too wide.
void Ellipsize(handpix::text::FontInstance& font, Line& line, int maxWidth) {
    if (line.width <= maxWidth) return;
    Line dots;
    if (font.HasGlyph(U'\u2026')) {
        Measure(font, U"\u2026", 1, dots);
    } else {
        Measure(font, U"...", 3, dots);
    }
    while (!line.glyphs.empty() && line.width + dots.width > maxWidth) {
        line.width -= line.glyphs.back()->advance;
        line.glyphs.pop_back();
    }
    line.glyphs.insert(line.glyphs.end(), dots.glyphs.begin(), dots.glyphs.end());
    line.width += dots.width;
}
}  // namespace

int CDC::DrawText(const char* text, int count, RECT* rc, UINT format) {
    if (!m_hDC || !text || !rc) return 0;
    if (count < 0) count = static_cast<int>(std::strlen(text));
    CFont* font = EffectiveFont();
    if (!font) return 0;
    handpix::text::FontInstance& inst = *font->Instance();
    std::vector<char32_t> cs;
    handpix::text::DecodeUtf8(text, count, cs);

    if (format & DT_SINGLELINE)
        cs.erase(std::remove_if(cs.begin(), cs.end(), [](char32_t c) { return c == U'\n' || c == U'\r'; }),
                 cs.end());

    auto lock = handpix::text::LockEngine();
    std::vector<Line> lines(1);
    std::size_t start = 0;
    for (std::size_t i = 0; i <= cs.size(); ++i) {
        bool end = i == cs.size();
        if (!end && cs[i] != U'\n') continue;
        std::size_t stop = i;
        if (stop > start && cs[stop - 1] == U'\r') --stop;
        Measure(inst, cs.data() + start, stop - start, lines.back());
        if (!end) lines.emplace_back();
        start = i + 1;
    }

    CRect box(*rc);
    int lineHeight = inst.Height();
    int total = lineHeight * static_cast<int>(lines.size());
    if (format & DT_END_ELLIPSIS)
        for (Line& l : lines) Ellipsize(inst, l, box.Width());
    if (format & DT_CALCRECT) {
        int widest = 0;
        for (const Line& l : lines) widest = std::max(widest, l.width);
        rc->right = rc->left + widest;
        rc->bottom = rc->top + total;
        return total;
    }

    int y = box.top;
    if (format & DT_SINGLELINE) {
        if (format & DT_VCENTER) y = box.top + (box.Height() - lineHeight) / 2;
        else if (format & DT_BOTTOM) y = box.bottom - lineHeight;
    }
    CRect limit = (format & DT_NOCLIP) ? kEverything : ToDevice(box.left, box.top, box.right, box.bottom);
    std::uint32_t ink = PixelOf(m_textColor);
    for (const Line& l : lines) {
        int x = box.left;
        if (format & DT_CENTER) x = box.left + (box.Width() - l.width) / 2;
        else if (format & DT_RIGHT) x = box.right - l.width;
        CRect cell = ToDevice(x, y, x + l.width, y + lineHeight);
        CRect area;
        if (m_bkMode == OPAQUE && area.IntersectRect(cell, limit)) FillDevice(area, PixelOf(m_bkColor));
        int penX = cell.left, baseline = cell.top + inst.Ascent();
        for (const Glyph* g : l.glyphs) {
            CRect gbox(penX + g->left, baseline - g->top, penX + g->left + g->width, baseline - g->top + g->height);
            penX += g->advance;
            if (g->width == 0 || !area.IntersectRect(gbox, limit)) continue;
            ForEachVisible(area, [&](const CRect& v) {
                for (int yy = v.top; yy < v.bottom; ++yy) {
                    const std::uint8_t* cov = g->coverage.data() + static_cast<std::size_t>(yy - gbox.top) * g->width;
                    std::uint32_t* row = m_surface->Row(yy);
                    for (int xx = v.left; xx < v.right; ++xx) {
                        unsigned a = cov[xx - gbox.left];
                        if (a == 255) row[xx] = ink;
                        else if (a) row[xx] = Blend(row[xx], ink, a);
                    }
                }
            });
        }
        y += lineHeight;
    }
    return total;
}

CSize CDC::GetTextExtent(const char* text, int count) const {
    CFont* font = EffectiveFont();
    if (!font || !text) return CSize();
    if (count < 0) count = static_cast<int>(std::strlen(text));
    std::vector<char32_t> cs;
    handpix::text::DecodeUtf8(text, count, cs);
    auto lock = handpix::text::LockEngine();
    Line l;
    Measure(*font->Instance(), cs.data(), cs.size(), l);
    return CSize(l.width, font->Instance()->Height());
}
