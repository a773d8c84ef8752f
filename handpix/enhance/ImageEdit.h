// CImageEdit: one picture as a DIB in three allocations (file header, info
// header, pixel rows), moved between BMP or JPEG files and memory for resizing.
// Every failure is shown in a message box captioned "ImageEdit".
#pragma once
#include <cstddef>
#include <cstdio>

#include "handpix/platform/core/BitmapHeaders.h"
#include "handpix/platform/ijl/Ijl.h"

class CImageEdit {
public:
    CImageEdit();
    ~CImageEdit();
    CImageEdit(const CImageEdit&) = delete;
    CImageEdit& operator=(const CImageEdit&) = delete;

    // Uncompressed 4, 8, 24 and 32-bit files, widened to 4 bytes per pixel
    // (blue, green, red, 0) in the file's row order. 1 or 0. A file that cannot
    // be opened, or is not a regular file, gives 0 without a message.
    // Fix: a file short by only its last row's padding loads (the missing
    // bytes hold no pixels). A size above the picture-size limit fails as an
    // allocation failure, before anything is allocated.
    int LoadBMP(const char* path);
    // 3 bytes per pixel blue, green, red (4 for four-channel files), rows padded
    // to 4 bytes, top row first. 1 or 0.
    int LoadJPG(const char* path);
    // Writes the pixels as 24-bit rows padded to 4 bytes. 1 or 0. The file is
    // replaced only once written whole; a failure leaves the old one.
    int SaveJPG(const char* path);
    void SetImageSize(int width, int height);
    void FlipVertical(void);
    int ShowError(const char* text);
    int ReleaseAndShowError(const char* text);

    // Additions for the resizing code.
    // Decodes at 1/denom of the size (libjpeg's DCT scaling), denom chosen by
    // choose(full width, full height, context) among 1, 2, 4, 8.
    using ScaleChooser = int (*)(unsigned width, unsigned height, void* context);
    int LoadJPG(const char* path, ScaleChooser choose, void* context);
    // Takes ownership of pixels (allocated with new[], `bytes` long), releasing the old ones.
    void SetDibData(BYTE* pixels, std::size_t bytes);
    std::size_t GetDibBytes() const { return m_nDibBytes; }
    int GetWidth() const { return m_pBmih ? m_pBmih->biWidth : 0; }
    int GetHeight() const { return m_pBmih ? m_pBmih->biHeight : 0; }
    // Size of the JPEG file before any reduced-scale decoding.
    unsigned m_nFullWidth = 0;
    unsigned m_nFullHeight = 0;

    BYTE* m_pbDibData;
    BITMAPFILEHEADER* m_pBmfh;
    BITMAPINFOHEADER* m_pBmih;
    BITMAPINFO* m_pBmi;

    static void PremultiplyAlpha(BYTE* pixels, int width, int height);
    static void Expand8To32(BYTE* dst, const BYTE* src, const RGBQUAD* palette, int width, int height);
    static void Expand24To32(BYTE* dst, const BYTE* src, int width, int height);

private:
    void ReleaseBuffers();
    bool EnsureHeaders();
    void ReleaseDib();
    int LoadBMPPixels(std::FILE* f, long long fileSize, const char* path);

    std::size_t m_nDibBytes = 0;
};
