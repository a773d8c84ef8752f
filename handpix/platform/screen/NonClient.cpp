#include "handpix/platform/screen/NonClient.h"

#include <algorithm>
#include <cstdint>

namespace handpix::screen {
namespace {

constexpr std::uint32_t kTrack = 0xF0F0F0;
constexpr std::uint32_t kThumb = 0xA8A8A8;
constexpr std::uint32_t kFrame = 0x7A7A7A;
constexpr int kMinThumb = 20;
constexpr int kThumbInset = 3;  // across the bar, so the track shows on both sides

int Border(DWORD style) { return (style & WS_BORDER) ? 1 : 0; }

// The client rectangle in window coordinates, as the window system reckons it.
CRect ClientIn(DWORD style, CSize w) {
    int b = Border(style);
    int right = w.cx - b - ((style & WS_VSCROLL) ? kScrollBarSize : 0);
    int bottom = w.cy - b - ((style & WS_HSCROLL) ? kScrollBarSize : 0);
    return CRect(b, b, std::max(right, b), std::max(bottom, b));
}

// The highest position the window system allows, as it clamps.
int MaxPos(const SCROLLINFO& si) { return si.nMax - std::max(static_cast<int>(si.nPage) - 1, 0); }

void Fill(Surface& s, CRect rc, CPoint origin, std::uint32_t px) {
    rc.OffsetRect(origin.x, origin.y);
    if (!rc.IntersectRect(rc, CRect(0, 0, s.Width(), s.Height()))) return;
    for (int y = rc.top; y < rc.bottom; ++y) std::fill(s.Row(y) + rc.left, s.Row(y) + rc.right, px);
}

}  // namespace

bool BarOf(DWORD style, CSize w, int nBar, const SCROLLINFO& si, BarGeometry& out) {
    const bool vertical = nBar == SB_VERT;
    if (!(style & (vertical ? WS_VSCROLL : WS_HSCROLL))) return false;
    const CRect c = ClientIn(style, w);
    out.vertical = vertical;
    out.track = vertical ? CRect(c.right, c.top, c.right + kScrollBarSize, c.bottom)
                         : CRect(c.left, c.bottom, c.right, c.bottom + kScrollBarSize);
    out.thumb = CRect();
    const int length = vertical ? out.track.Height() : out.track.Width();
    const int hi = MaxPos(si);
    if (hi <= si.nMin || length <= 0) return true;
    const long long range = static_cast<long long>(si.nMax) - si.nMin + 1;
    int thumb = si.nPage ? static_cast<int>(length * static_cast<long long>(si.nPage) / range) : 0;
    thumb = std::min(std::max(thumb, kMinThumb), length);
    const int pos = std::clamp(si.nPos, si.nMin, hi);
    const int start = static_cast<int>(static_cast<long long>(length - thumb) * (pos - si.nMin) / (hi - si.nMin));
    if (vertical)
        out.thumb = CRect(out.track.left + kThumbInset, out.track.top + start, out.track.right - kThumbInset,
                          out.track.top + start + thumb);
    else
        out.thumb = CRect(out.track.left + start, out.track.top + kThumbInset, out.track.left + start + thumb,
                          out.track.bottom - kThumbInset);
    return true;
}

int HitBar(const BarGeometry& bar, CPoint p) {
    if (!bar.track.PtInRect(p) || bar.thumb.IsRectEmpty()) return -1;
    const int at = bar.vertical ? p.y : p.x;
    const int start = bar.vertical ? bar.thumb.top : bar.thumb.left;
    const int end = bar.vertical ? bar.thumb.bottom : bar.thumb.right;
    if (at < start) return static_cast<int>(SB_PAGEUP);
    if (at >= end) return static_cast<int>(SB_PAGEDOWN);
    return static_cast<int>(SB_THUMBTRACK);
}

int PositionForThumb(const BarGeometry& bar, const SCROLLINFO& si, int edge) {
    const int length = bar.vertical ? bar.track.Height() : bar.track.Width();
    const int thumb = bar.vertical ? bar.thumb.Height() : bar.thumb.Width();
    const int hi = MaxPos(si);
    const int travel = length - thumb;
    if (travel <= 0 || hi <= si.nMin) return si.nMin;
    edge = std::clamp(edge, 0, travel);
    // Rounded, so that every position the bar can show is reachable by dragging.
    return si.nMin + static_cast<int>((static_cast<long long>(edge) * (hi - si.nMin) + travel / 2) / travel);
}

int NonClientRects(DWORD style, CSize w, CRect out[kMaxNonClientRects]) {
    const int b = Border(style);
    const CRect c = ClientIn(style, w);
    int n = 0;
    if (b) {
        out[n++] = CRect(0, 0, w.cx, 1);
        out[n++] = CRect(0, w.cy - 1, w.cx, w.cy);
        out[n++] = CRect(0, 1, 1, w.cy - 1);
        out[n++] = CRect(w.cx - 1, 1, w.cx, w.cy - 1);
    }
    // The vertical bar's strip, then the horizontal one with the corner.
    if (c.right < w.cx - b) out[n++] = CRect(c.right, b, w.cx - b, c.bottom);
    if (c.bottom < w.cy - b) out[n++] = CRect(b, c.bottom, w.cx - b, w.cy - b);
    return n;
}

void DrawNonClient(Surface& frame, CPoint origin, DWORD style, CSize w, const SCROLLINFO bars[2]) {
    CRect rects[kMaxNonClientRects];
    const int frameRects = Border(style) ? 4 : 0;
    for (int i = 0, n = NonClientRects(style, w, rects); i < n; ++i)
        Fill(frame, rects[i], origin, i < frameRects ? kFrame : kTrack);
    for (int nBar : {SB_HORZ, SB_VERT}) {
        BarGeometry g;
        if (BarOf(style, w, nBar, bars[nBar], g) && !g.thumb.IsRectEmpty()) Fill(frame, g.thumb, origin, kThumb);
    }
}

}  // namespace handpix::screen
