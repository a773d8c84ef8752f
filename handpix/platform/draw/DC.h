// CDC: a software device context. It draws into a surface: the bitmap selected
// into a memory DC, or a surface a window system attaches (a window's backing
// store). Coordinates are logical: device = logical - window origin + viewport
// origin. The clipping region is a list of device rectangles.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "handpix/platform/core/Geometry.h"
#include "handpix/platform/core/String.h"
#include "handpix/platform/draw/Gdi.h"
#include "handpix/platform/draw/GdiObject.h"
#include "handpix/platform/draw/Surface.h"

// A region of rectangles in device coordinates, for SelectClipRgn.
class CRgn {
public:
    BOOL CreateRectRgn(int l, int t, int r, int b);
    BOOL CreateRectRgnIndirect(const RECT* rc) { return CreateRectRgn(rc->left, rc->top, rc->right, rc->bottom); }
    // Addition: adds a rectangle (the union may overlap; clipping handles it).
    void AddRect(const RECT& rc);
    BOOL DeleteObject() { m_rects.clear(); return TRUE; }
    const std::vector<CRect>& Rects() const { return m_rects; }

private:
    std::vector<CRect> m_rects;
};

constexpr int NULLREGION = 1;
constexpr int SIMPLEREGION = 2;
constexpr int COMPLEXREGION = 3;
constexpr int RGN_ERROR = 0;
constexpr COLORREF CLR_INVALID = 0xFFFFFFFFu;

class CDC {
public:
    CDC();
    virtual ~CDC();
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;

    HDC m_hDC = nullptr;  // this DC while it exists, else null
    HDC GetSafeHdc() const { return m_hDC; }

    // A memory DC: selects a 1 x 1 bitmap until the caller selects its own.
    BOOL CreateCompatibleDC(CDC* pDC);
    // "DISPLAY" gives a DC on the screen: it measures (96 dpi) but owns no pixels.
    BOOL CreateDC(LPCTSTR driver, LPCTSTR device, LPCTSTR output, const void* initData);
    BOOL DeleteDC();

    // Addition for window systems: targets a surface that the caller owns (a
    // window's backing store). Bitmaps cannot be selected into such a DC.
    BOOL AttachSurface(std::shared_ptr<handpix::Surface> surface);
    const std::shared_ptr<handpix::Surface>& GetSurface() const { return m_surface; }

    CBitmap* SelectObject(CBitmap* pBitmap);
    CBrush* SelectObject(CBrush* pBrush);
    CFont* SelectObject(CFont* pFont);
    CGdiObject* SelectObject(CGdiObject* pObject);
    CBitmap* GetCurrentBitmap() const { return m_pBitmap; }
    CFont* GetCurrentFont() const { return m_pFont; }
    CBrush* GetCurrentBrush() const { return m_pBrush; }

    int GetDeviceCaps(int index) const;

    CPoint SetWindowOrg(int x, int y);
    CPoint SetWindowOrg(POINT p) { return SetWindowOrg(p.x, p.y); }
    CPoint GetWindowOrg() const { return m_windowOrg; }
    CPoint SetViewportOrg(int x, int y);
    CPoint SetViewportOrg(POINT p) { return SetViewportOrg(p.x, p.y); }
    CPoint GetViewportOrg() const { return m_viewportOrg; }
    void LPtoDP(POINT* pts, int count = 1) const;
    void DPtoLP(POINT* pts, int count = 1) const;
    void LPtoDP(RECT* rc) const;
    void DPtoLP(RECT* rc) const;
    void HIMETRICtoDP(SIZE* size) const;
    void DPtoHIMETRIC(SIZE* size) const;

    // Clipping, in logical coordinates; a region passed in is in device coordinates.
    int ExcludeClipRect(int l, int t, int r, int b);
    int ExcludeClipRect(const RECT* rc) { return ExcludeClipRect(rc->left, rc->top, rc->right, rc->bottom); }
    int IntersectClipRect(int l, int t, int r, int b);
    int IntersectClipRect(const RECT* rc) { return IntersectClipRect(rc->left, rc->top, rc->right, rc->bottom); }
    int SelectClipRgn(CRgn* pRgn);  // null: no clipping
    int GetClipBox(RECT* rc) const;

    COLORREF SetTextColor(COLORREF c);
    COLORREF GetTextColor() const { return m_textColor; }
    COLORREF SetBkColor(COLORREF c);
    COLORREF GetBkColor() const { return m_bkColor; }
    int SetBkMode(int mode);
    int GetBkMode() const { return m_bkMode; }

    void FillRect(const RECT* rc, CBrush* pBrush);
    void FillSolidRect(const RECT* rc, COLORREF c);
    void FillSolidRect(int x, int y, int cx, int cy, COLORREF c);
    COLORREF SetPixel(int x, int y, COLORREF c);
    COLORREF SetPixel(POINT p, COLORREF c) { return SetPixel(p.x, p.y, c); }
    COLORREF GetPixel(int x, int y) const;

    BOOL BitBlt(int x, int y, int w, int h, CDC* pSrc, int xSrc, int ySrc, DWORD rop);
    // Nearest-pixel scaling; negative sizes mirror.
    BOOL StretchBlt(int x, int y, int w, int h, CDC* pSrc, int xSrc, int ySrc, int wSrc, int hSrc, DWORD rop);

    // Returns the height of the text drawn (or measured, with DT_CALCRECT).
    int DrawText(const char* text, int count, RECT* rc, UINT format);
    int DrawText(const CString& text, RECT* rc, UINT format) { return DrawText(text.c_str(), text.GetLength(), rc, format); }
    CSize GetTextExtent(const char* text, int count) const;
    CSize GetTextExtent(const CString& text) const { return GetTextExtent(text.c_str(), text.GetLength()); }

    // Addition: copies w x h 32-bit pixels (blue, green, red, unused; rows `stride`
    // bytes apart) to logical (x, y), honouring clipping.
    void SetPixelsBGRX(int x, int y, int w, int h, const std::uint8_t* src, std::ptrdiff_t stride);
    // Addition: when the logical rectangle lies wholly inside the surface and one
    // clip rectangle, the address of its top-left pixel (and the row stride);
    // otherwise null. Lets a renderer write straight into the target.
    std::uint8_t* DirectPixels(const RECT& rc, std::ptrdiff_t* stride);

protected:
    void Reset();

private:
    CRect ToDevice(int l, int t, int r, int b) const;
    CFont* EffectiveFont() const;
    template <class F>
    void ForEachVisible(const CRect& device, F&& f) const;
    void FillDevice(const CRect& device, std::uint32_t px);

    std::shared_ptr<handpix::Surface> m_surface;
    bool m_memory = false;
    bool m_screen = false;
    CBitmap m_stockBitmap;
    CBrush m_stockBrush;
    mutable CFont m_stockFont;  // made on first use: most DCs never draw text
    CBitmap* m_pBitmap = nullptr;
    CBrush* m_pBrush = nullptr;
    CFont* m_pFont = nullptr;
    CPoint m_windowOrg;
    CPoint m_viewportOrg;
    bool m_hasClip = false;
    std::vector<CRect> m_clip;  // device coordinates
    COLORREF m_textColor = RGB(0, 0, 0);
    COLORREF m_bkColor = RGB(255, 255, 255);
    int m_bkMode = OPAQUE;
};
