// The OLE Automation picture: IPicture and OleLoadPicture. Pictures decode
// from a stream (JPEG, BMP, GIF), keep their pixels, report their size in
// HIMETRIC (hundredths of a millimetre) and render scaled into a DC.
#pragma once
#include "handpix/platform/core/Geometry.h"
#include "handpix/platform/draw/Gdi.h"
#include "handpix/platform/ole/Ole.h"

using OLE_XSIZE_HIMETRIC = long;
using OLE_YSIZE_HIMETRIC = long;
using OLE_XPOS_HIMETRIC = long;
using OLE_YPOS_HIMETRIC = long;
using LPCRECT = const RECT*;

struct IPicture : IUnknown {
    virtual HRESULT get_Width(OLE_XSIZE_HIMETRIC* width) = 0;
    virtual HRESULT get_Height(OLE_YSIZE_HIMETRIC* height) = 0;
    // Draws the source part (HIMETRIC, y upward from the bottom edge: a negative
    // height walks down from ySrc) into cx x cy pixels at (x, y) of the DC.
    virtual HRESULT Render(HDC hdc, long x, long y, long cx, long cy, OLE_XPOS_HIMETRIC xSrc,
                           OLE_YPOS_HIMETRIC ySrc, OLE_XSIZE_HIMETRIC cxSrc, OLE_YSIZE_HIMETRIC cySrc,
                           LPCRECT prcWBounds) = 0;
};

namespace handpix {
// Bytes a stream may hold for a picture; a longer stream is refused.
inline constexpr unsigned long long kMaxPictureStreamBytes = 1ULL << 29;
// HIMETRIC length of a run of screen pixels, rounded up so the pixels come back exact.
long PixelsToHimetric(int pixels);
}  // namespace handpix

// Reads the rest of the stream (or lSize bytes when positive) and decodes it.
// S_OK with *ppv holding one reference, or a failure code with *ppv null.
HRESULT OleLoadPicture(IStream* stream, LONG lSize, BOOL fRunmode, REFIID riid, void** ppv);
