// What the real-window backend draws outside a window's client area: the
// 1-pixel WS_BORDER frame and the scroll bars of WS_HSCROLL and WS_VSCROLL.
// The headless desktop keeps no pixels there, so these belong to the screen
// alone. A bar is a track with a thumb (no arrow buttons): pressing the track
// pages, dragging the thumb tracks. Pure geometry and pixels, no SDL.
#pragma once
#include "handpix/platform/core/Geometry.h"
#include "handpix/platform/draw/Surface.h"
#include "handpix/platform/windows/WinDefs.h"

namespace handpix::screen {

struct BarGeometry {
    CRect track;  // the whole bar, in window coordinates ((0, 0) is the window's top-left corner)
    CRect thumb;  // empty when the bar cannot scroll
    bool vertical = true;
};

// The bar nBar (SB_HORZ, SB_VERT) of a window of the given size and style; false without one.
bool BarOf(DWORD style, CSize window, int nBar, const SCROLLINFO& si, BarGeometry& out);

// SB_PAGEUP or SB_PAGEDOWN for the track before or after the thumb,
// SB_THUMBTRACK on the thumb, -1 off the bar or when it cannot scroll.
int HitBar(const BarGeometry& bar, CPoint p);

// The scroll position that puts the thumb's leading edge `edge` pixels from
// the start of the track (clamped to the track).
int PositionForThumb(const BarGeometry& bar, const SCROLLINFO& si, int edge);

// Draws the frame, the bars and the corner between them into `frame` (the
// window's pixels, window coordinates offset by `origin`).
void DrawNonClient(Surface& frame, CPoint origin, DWORD style, CSize window, const SCROLLINFO bars[2]);

// The rectangles DrawNonClient paints, in window coordinates: the four frame
// lines (with WS_BORDER), then the vertical bar's strip and the horizontal
// bar's strip with the corner. Returns how many.
constexpr int kMaxNonClientRects = 6;
int NonClientRects(DWORD style, CSize window, CRect out[kMaxNonClientRects]);

}  // namespace handpix::screen
