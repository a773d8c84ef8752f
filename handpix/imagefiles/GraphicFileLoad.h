// CGraphicFileLoad: a picture file (BMP, GIF, JPEG, IMG, PHT) as one 24-bit DIB
// (blue, green, red; bottom row first; rows padded to 4 bytes).
#pragma once
#include "handpix/platform/core/String.h"

class CGraphicFileLoad {
public:
    CGraphicFileLoad();
    ~CGraphicFileLoad();
    // Copies the pixels: each object owns its own buffer.
    CGraphicFileLoad(const CGraphicFileLoad& other);
    CGraphicFileLoad& operator=(const CGraphicFileLoad& other);

    int GetWidth() { return m_nWidth; }
    int GetHeight() { return m_nHeight; }

    // 0 loaded, 1 the reader for the extension failed, 2 unsupported extension.
    // Addition: ".jpeg" and ".jpe" are read as JPEG files, as ".jpg" is.
    int LoadGraphicFile(const char* path);

    int SaveIMG(const char* path);
    int LoadIMG(const char* path);
    int LoadPHT(const char* path);

    void BGRA2BGR(unsigned char* dst, int width, int height, unsigned char* src, int pad);

    unsigned char* m_pDib;
    int m_nWidth;
    int m_nHeight;
    int m_nStride;

protected:
    const char* GetExtension(const char* path, char* ext);
    int LoadBMP(CString path);
    int LoadGIF(CString path);
    int LoadJPG(CString path);

private:
    void Release();
    // Adopts a packed top-down RGB picture: swap, pad, flip. Releases packed.
    int AdoptPackedRgb(unsigned char* packed);
    int ReadHandsetFile(const char* path, bool pht);
};
