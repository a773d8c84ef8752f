// GDI objects: bitmaps, solid brushes and fonts. A DC selects them; selecting
// returns the object that was selected before, so callers can put it back.
#pragma once
#include <memory>

#include "handpix/platform/core/Geometry.h"
#include "handpix/platform/core/String.h"
#include "handpix/platform/draw/Gdi.h"
#include "handpix/platform/draw/Surface.h"

class CDC;

class CGdiObject {
public:
    enum class Kind { bitmap, brush, font };
    virtual ~CGdiObject() = default;
    virtual Kind GetKind() const = 0;
    // Drops what the object holds. DCs that still select it keep its content alive.
    virtual BOOL DeleteObject() = 0;
    // True when the object holds something (MFC's m_hObject != NULL).
    virtual bool IsCreated() const = 0;
    operator bool() const = delete;
};

struct BITMAP {
    LONG bmType;
    LONG bmWidth;
    LONG bmHeight;
    LONG bmWidthBytes;
    WORD bmPlanes;
    WORD bmBitsPixel;
    void* bmBits;
};

class CBitmap : public CGdiObject {
public:
    CBitmap() = default;
    Kind GetKind() const override { return Kind::bitmap; }
    BOOL DeleteObject() override;
    bool IsCreated() const override { return m_surface != nullptr; }

    // A 32-bit bitmap of the given size, white until drawn on. Width or height 0
    // gives a 1 x 1 bitmap, as GDI does.
    BOOL CreateCompatibleBitmap(CDC* pDC, int width, int height);
    // One of the library's bitmap resources (see ResourceTable.h); FALSE when absent.
    // Every bitmap loaded from one resource shares its pixels until one of them
    // is selected into a DC or its pixels are handed out; that one then gets a
    // copy of its own.
    BOOL LoadBitmap(UINT nIDResource);
    int GetBitmap(BITMAP* out) const;
    CSize GetBitmapDimension() const;

    // Addition: the pixels, for the tool's PNG output and for tests.
    const std::shared_ptr<handpix::Surface>& GetSurface() const;

private:
    // Copies shared resource pixels, so writes reach this bitmap only.
    void Unshare() const;

    mutable std::shared_ptr<handpix::Surface> m_surface;
    mutable bool m_shared = false;  // m_surface is a resource's pixels, never written
};

class CBrush : public CGdiObject {
public:
    CBrush() = default;
    explicit CBrush(COLORREF c) { CreateSolidBrush(c); }
    Kind GetKind() const override { return Kind::brush; }
    BOOL DeleteObject() override { m_created = false; return TRUE; }
    bool IsCreated() const override { return m_created; }
    BOOL CreateSolidBrush(COLORREF c) { m_color = c; m_created = true; return TRUE; }
    COLORREF GetColor() const { return m_color; }

private:
    COLORREF m_color = RGB(255, 255, 255);
    bool m_created = false;
};

constexpr int LF_FACESIZE = 32;
struct LOGFONT {
    LONG lfHeight;
    LONG lfWidth;
    LONG lfEscapement;
    LONG lfOrientation;
    LONG lfWeight;
    BYTE lfItalic;
    BYTE lfUnderline;
    BYTE lfStrikeOut;
    BYTE lfCharSet;
    BYTE lfOutPrecision;
    BYTE lfClipPrecision;
    BYTE lfQuality;
    BYTE lfPitchAndFamily;
    char lfFaceName[LF_FACESIZE * 2];  // UTF-8: a Korean face name needs more than 32 bytes' worth
};

namespace handpix::text {
class FontInstance;
}

class CFont : public CGdiObject {
public:
    CFont() = default;
    Kind GetKind() const override { return Kind::font; }
    BOOL DeleteObject() override { m_font.reset(); return TRUE; }
    bool IsCreated() const override { return m_font != nullptr; }

    // Positive height: cell height in pixels; negative: character (em) height.
    BOOL CreateFont(int nHeight, int nWidth, int nEscapement, int nOrientation, int nWeight, BYTE bItalic,
                    BYTE bUnderline, BYTE cStrikeOut, BYTE nCharSet, BYTE nOutPrecision, BYTE nClipPrecision,
                    BYTE nQuality, BYTE nPitchAndFamily, LPCTSTR lpszFacename);
    BOOL CreateFontIndirect(const LOGFONT* lf);
    // nPointSize in tenths of a point, on the 96-dpi screen.
    BOOL CreatePointFont(int nPointSize, LPCTSTR lpszFaceName, CDC* pDC = nullptr);
    int GetLogFont(LOGFONT* out) const;

    const std::shared_ptr<handpix::text::FontInstance>& Instance() const { return m_font; }

private:
    std::shared_ptr<handpix::text::FontInstance> m_font;
    LOGFONT m_lf{};
};
