// A memory DC over a bitmap of its own, filled with one colour.
#pragma once
#include "handpix/platform/draw/DC.h"

struct Canvas {
    CDC dc;
    CBitmap bmp;
    Canvas(int w, int h, COLORREF fill) {
        dc.CreateCompatibleDC(nullptr);
        bmp.CreateCompatibleBitmap(&dc, w, h);
        dc.SelectObject(&bmp);
        dc.FillSolidRect(0, 0, w, h, fill);
    }
    COLORREF At(int x, int y) const { return dc.GetPixel(x, y); }
    int Count(CRect area, COLORREF c) const {
        int n = 0;
        for (int y = area.top; y < area.bottom; ++y)
            for (int x = area.left; x < area.right; ++x) n += At(x, y) == c;
        return n;
    }
};
