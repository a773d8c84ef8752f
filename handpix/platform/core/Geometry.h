// CPoint, CSize, CRect with the Win32 layouts and the MFC operations in use.
#pragma once
#include "handpix/platform/core/Types.h"

struct POINT { LONG x, y; };
struct SIZE { LONG cx, cy; };
struct RECT { LONG left, top, right, bottom; };

class CPoint : public POINT {
public:
    CPoint() : POINT{0, 0} {}
    CPoint(int x_, int y_) : POINT{x_, y_} {}
    CPoint(POINT p) : POINT(p) {}
    void Offset(int dx, int dy) { x += dx; y += dy; }
    friend bool operator==(const CPoint& a, const CPoint& b) { return a.x == b.x && a.y == b.y; }
    friend CPoint operator-(const CPoint& a, const CPoint& b) { return CPoint(a.x - b.x, a.y - b.y); }
    friend CPoint operator+(const CPoint& a, const CPoint& b) { return CPoint(a.x + b.x, a.y + b.y); }
};

class CSize : public SIZE {
public:
    CSize() : SIZE{0, 0} {}
    CSize(int cx_, int cy_) : SIZE{cx_, cy_} {}
    CSize(SIZE s) : SIZE(s) {}
    friend bool operator==(const CSize& a, const CSize& b) { return a.cx == b.cx && a.cy == b.cy; }
};

class CRect : public RECT {
public:
    CRect() : RECT{0, 0, 0, 0} {}
    CRect(int l, int t, int r, int b) : RECT{l, t, r, b} {}
    CRect(const RECT& r) : RECT(r) {}
    CRect(CPoint p, CSize s) : RECT{p.x, p.y, p.x + s.cx, p.y + s.cy} {}

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    CSize Size() const { return CSize(Width(), Height()); }
    CPoint TopLeft() const { return CPoint(left, top); }
    CPoint BottomRight() const { return CPoint(right, bottom); }
    CPoint CenterPoint() const { return CPoint((left + right) / 2, (top + bottom) / 2); }
    bool IsRectEmpty() const { return right <= left || bottom <= top; }
    bool IsRectNull() const { return left == 0 && top == 0 && right == 0 && bottom == 0; }
    bool PtInRect(POINT p) const { return p.x >= left && p.x < right && p.y >= top && p.y < bottom; }
    void SetRect(int l, int t, int r, int b) { left = l; top = t; right = r; bottom = b; }
    void SetRectEmpty() { SetRect(0, 0, 0, 0); }
    void OffsetRect(int dx, int dy) { left += dx; right += dx; top += dy; bottom += dy; }
    void InflateRect(int dx, int dy) { left -= dx; right += dx; top -= dy; bottom += dy; }
    void DeflateRect(int dx, int dy) { InflateRect(-dx, -dy); }
    void NormalizeRect();
    // Intersection of a and b; empty (all zero) when they do not meet. Returns non-empty.
    bool IntersectRect(const RECT& a, const RECT& b);
    bool UnionRect(const RECT& a, const RECT& b);
    friend bool operator==(const CRect& a, const CRect& b) {
        return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
    }
    operator RECT*() { return this; }
    operator const RECT*() const { return this; }
};

inline void CRect::NormalizeRect() {
    if (left > right) { LONG t = left; left = right; right = t; }
    if (top > bottom) { LONG t = top; top = bottom; bottom = t; }
}

inline bool CRect::IntersectRect(const RECT& a, const RECT& b) {
    LONG l = a.left > b.left ? a.left : b.left;
    LONG t = a.top > b.top ? a.top : b.top;
    LONG r = a.right < b.right ? a.right : b.right;
    LONG bt = a.bottom < b.bottom ? a.bottom : b.bottom;
    if (l >= r || t >= bt) {
        SetRectEmpty();
        return false;
    }
    SetRect(l, t, r, bt);
    return true;
}

inline bool CRect::UnionRect(const RECT& a, const RECT& b) {
    CRect ca(a), cb(b);
    if (ca.IsRectEmpty()) { *this = cb; return !IsRectEmpty(); }
    if (cb.IsRectEmpty()) { *this = ca; return !IsRectEmpty(); }
    SetRect(a.left < b.left ? a.left : b.left, a.top < b.top ? a.top : b.top,
            a.right > b.right ? a.right : b.right, a.bottom > b.bottom ? a.bottom : b.bottom);
    return true;
}
