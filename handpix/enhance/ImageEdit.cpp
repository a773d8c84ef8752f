#include "handpix/enhance/ImageEdit.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "handpix/enhance/BmpDepthConverter.h"
#include "handpix/imagefiles/DibRows.h"
#include "handpix/platform/core/File.h"
#include "handpix/platform/core/Limits.h"
#include "handpix/platform/core/MessageBox.h"

namespace {
// Bytes per row of a DIB of the given depth, padded to 4.
long long RowBytes(long long width, int bits) { return (width * bits + 31) / 32 * 4; }

long long FileSize(std::FILE* f) {
    if (std::fseek(f, 0, SEEK_END) != 0) return -1;
    long long n = std::ftell(f);
    std::fseek(f, 0, SEEK_SET);
    return n;
}

// Zero-filled, so that a short read leaves no stale bytes behind.
BYTE* Allocate(long long bytes) {
    if (bytes <= 0) return nullptr;
    return new (std::nothrow) BYTE[static_cast<std::size_t>(bytes)]();
}

// Reads up to n bytes at offset; false only when nothing could be read.
bool ReadAt(std::FILE* f, long long offset, void* out, std::size_t n) {
    if (offset < 0 || std::fseek(f, static_cast<long>(offset), SEEK_SET) != 0) return false;
    return std::fread(out, 1, n, f) > 0;
}

struct FileCloser {
    std::FILE* f;
    ~FileCloser() {
        if (f) std::fclose(f);
    }
};
}  // namespace

CImageEdit::CImageEdit() : m_pbDibData(nullptr), m_pBmih(nullptr) {
    m_pBmfh = new (std::nothrow) BITMAPFILEHEADER{};
    m_pBmi = new (std::nothrow) BITMAPINFO{};
}

CImageEdit::~CImageEdit() { ReleaseBuffers(); }

void CImageEdit::ReleaseDib() {
    delete[] m_pbDibData;
    m_pbDibData = nullptr;
    m_nDibBytes = 0;
}

void CImageEdit::ReleaseBuffers() {
    ReleaseDib();
    delete m_pBmfh;
    delete m_pBmi;
    m_pBmfh = nullptr;
    m_pBmi = nullptr;
    m_pBmih = nullptr;
}

void CImageEdit::SetDibData(BYTE* pixels, std::size_t bytes) {
    ReleaseDib();
    m_pbDibData = pixels;
    m_nDibBytes = pixels ? bytes : 0;
}

int CImageEdit::ShowError(const char* text) {
    // No framework main window exists here: the box has no owner. MB_ICONERROR is the stop icon.
    return MessageBox(nullptr, text, "ImageEdit", MB_ICONERROR);
}

int CImageEdit::ReleaseAndShowError(const char* text) {
    ReleaseBuffers();
    return ShowError(text);
}

void CImageEdit::SetImageSize(int width, int height) {
    if (!m_pBmi) return;
    m_pBmi->bmiHeader.biWidth = width;
    m_pBmi->bmiHeader.biHeight = height;
    m_pBmih = &m_pBmi->bmiHeader;
}

void CImageEdit::FlipVertical(void) {
    if (!m_pBmih || !m_pbDibData || m_pBmih->biWidth <= 0 || m_pBmih->biHeight <= 0) return;
    const unsigned stride = handpix::DibStride(static_cast<unsigned>(m_pBmih->biWidth));
    // Never past the buffer, whatever the header says.
    if (static_cast<unsigned long long>(stride) * static_cast<unsigned>(m_pBmih->biHeight) > m_nDibBytes) return;
    FlipRows(m_pbDibData, stride, m_pBmih->biHeight);
}

void CImageEdit::Expand8To32(BYTE* dst, const BYTE* src, const RGBQUAD* palette, int width, int height) {
    const std::size_t pad = static_cast<std::size_t>(RowBytes(width, 8) - width);
    for (int y = 0; y < height; ++y, src += pad)
        for (int x = 0; x < width; ++x, dst += 4) {
            const RGBQUAD& c = palette[*src++];
            dst[0] = c.rgbBlue;
            dst[1] = c.rgbGreen;
            dst[2] = c.rgbRed;
            dst[3] = 0;
        }
}

void CImageEdit::Expand24To32(BYTE* dst, const BYTE* src, int width, int height) {
    const std::size_t pad = static_cast<std::size_t>(RowBytes(width, 24) - 3LL * width);
    for (int y = 0; y < height; ++y, src += pad)
        for (int x = 0; x < width; ++x, dst += 4, src += 3) {
            dst[0] = src[0];
            dst[1] = src[1];
            dst[2] = src[2];
            dst[3] = 0;
        }
}

void CImageEdit::PremultiplyAlpha(BYTE* p, int width, int height) {
    if (!p || width <= 0 || height <= 0) return;
    const std::size_t n = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    for (std::size_t i = 0; i < n; ++i, p += 4) {
        const unsigned a = p[3], p0 = p[0], p1 = p[1], p2 = p[2];
        // The first and third bytes change places: red-first in, blue-first out.
        p[0] = static_cast<BYTE>((p2 * a + 1) >> 8);
        p[1] = static_cast<BYTE>((p1 * a + 1) >> 8);
        p[2] = static_cast<BYTE>((p0 * a + 1) >> 8);
    }
}

bool CImageEdit::EnsureHeaders() {
    // A failure released the headers; a later load starts afresh.
    if (!m_pBmfh) m_pBmfh = new (std::nothrow) BITMAPFILEHEADER{};
    if (!m_pBmi) m_pBmi = new (std::nothrow) BITMAPINFO{};
    return m_pBmfh && m_pBmi;
}

int CImageEdit::LoadBMP(const char* path) {
    if (!EnsureHeaders() || !path) return 0;
    FileCloser file{handpix::OpenRegularFileStream(path)};
    if (!file.f) return 0;
    const long long fileSize = FileSize(file.f);
    *m_pBmfh = BITMAPFILEHEADER{};
    if (std::fread(m_pBmfh, 1, sizeof(BITMAPFILEHEADER), file.f) == 0)
        return ReleaseAndShowError("LoadBMP: file.Read( m_pBmfh, sizeof(BITMAPFILEHEADER) ) failed!"), 0;
    if (m_pBmfh->bfType != 0x4D42) return ReleaseAndShowError("LoadBMP: This is not a BMP!"), 0;
    m_pBmi->bmiHeader = BITMAPINFOHEADER{};
    if (std::fread(&m_pBmi->bmiHeader, 1, sizeof(BITMAPINFOHEADER), file.f) == 0)
        return ReleaseAndShowError("LoadBMP: pFile.Read( &m_pBmi->bmiHeader, sizeof(BITMAPINFOHEADER) ) failed!"), 0;
    if (m_pBmi->bmiHeader.biCompression != BI_RGB) {
        AfxMessageBox("압축된 BMP파일은 지원하지 않습니다.", MB_OK);
        return 0;
    }
    m_pBmih = &m_pBmi->bmiHeader;
    if (!LoadBMPPixels(file.f, fileSize, path)) return 0;
    m_pBmih->biBitCount = 32;
    return 1;
}

// The pixel rows by depth. Sizes come from the header, so each is checked
// against the picture-size limit and the file before anything is allocated:
// rows the file cannot hold count as a failed read.
int CImageEdit::LoadBMPPixels(std::FILE* f, long long fileSize, const char* path) {
    const long long w = m_pBmih->biWidth;
    const long long h = m_pBmih->biHeight < 0 ? -static_cast<long long>(m_pBmih->biHeight) : m_pBmih->biHeight;
    const bool sane = handpix::PictureSizeAllowed(w, h);
    const long long outBytes = sane ? w * h * 4 : 0;
    const long long offset = m_pBmfh->bfOffBits;
    // File rows at a depth; only computed for sane sizes, so never overflowing.
    const auto rowsOf = [&](int bits) { return sane ? RowBytes(w, bits) * h : 0; };
    // Some writers leave out the last row's padding, which holds no pixels:
    // such a file counts as whole, the missing bytes read as zero.
    const auto fits = [&](int bits) {
        const long long lastPad = RowBytes(w, bits) - (w * bits + 7) / 8;
        return sane && fileSize >= 0 && offset + rowsOf(bits) - lastPad <= fileSize;
    };
    switch (m_pBmih->biBitCount) {
    case 4: {
        // Refused alike whether the size is absurd or the rows are missing from the file.
        BYTE* out = fits(4) ? Allocate(outBytes) : nullptr;
        if (!out) return ReleaseAndShowError("LoadBMP: 4bits m_pbDibData memory allocation failed!"), 0;
        SetDibData(out, static_cast<std::size_t>(outBytes));
        // The converter reads the file on its own; what it cannot convert stays zero.
        handpix::ConvertBmpDepth(path, 32, m_pbDibData, m_nDibBytes);
        return 1;
    }
    case 8: {
        RGBQUAD palette[256];
        std::memset(palette, 0, sizeof palette);
        if (std::fread(palette, 1, sizeof palette, f) == 0)
            return ReleaseAndShowError("LoadBMP: 8bits file.Read( pBmrgb, sizeof(RGBQUAD) * 256 ) failed!"), 0;
        const long long size = rowsOf(8);
        if (sane && !fits(8)) return ReleaseAndShowError("LoadBMP: 8bits file.Read( bpTemp, lDIBSize ) failed!"), 0;
        BYTE* temp = sane ? Allocate(size) : nullptr;
        if (!temp) return ReleaseAndShowError("LoadBMP: 8bits bpTemp memory allocation failed!"), 0;
        if (!ReadAt(f, offset, temp, static_cast<std::size_t>(size))) {
            delete[] temp;
            return ReleaseAndShowError("LoadBMP: 8bits file.Read( bpTemp, lDIBSize ) failed!"), 0;
        }
        ReleaseDib();
        m_pbDibData = Allocate(outBytes);
        if (m_pbDibData) {
            m_nDibBytes = static_cast<std::size_t>(outBytes);
            Expand8To32(m_pbDibData, temp, palette, static_cast<int>(w), static_cast<int>(h));
        }
        delete[] temp;
        if (!m_pbDibData) return ReleaseAndShowError("LoadBMP: 8bits bpTemp memory allocation failed!"), 0;
        return 1;
    }
    case 24: {
        const long long size = rowsOf(24);
        if (sane && !fits(24)) return ReleaseAndShowError("LoadBMP: 24bits pFile.Read( bpTemp, lDIBSize ) failed!"), 0;
        BYTE* temp = sane ? Allocate(size) : nullptr;
        if (!temp) return ReleaseAndShowError("LoadBMP: 24bits bpTemp memory allocation failed!"), 0;
        if (!ReadAt(f, offset, temp, static_cast<std::size_t>(size))) {
            delete[] temp;
            return ReleaseAndShowError("LoadBMP: 24bits pFile.Read( bpTemp, lDIBSize ) failed!"), 0;
        }
        ReleaseDib();
        m_pbDibData = Allocate(outBytes);
        if (m_pbDibData) {
            m_nDibBytes = static_cast<std::size_t>(outBytes);
            Expand24To32(m_pbDibData, temp, static_cast<int>(w), static_cast<int>(h));
        }
        delete[] temp;
        if (!m_pbDibData) return ReleaseAndShowError("LoadBMP: 24bits bpTemp memory allocation failed!"), 0;
        return 1;
    }
    default: {
        ReleaseDib();
        m_pbDibData = fits(32) ? Allocate(outBytes) : nullptr;
        if (!m_pbDibData || !ReadAt(f, offset, m_pbDibData, static_cast<std::size_t>(outBytes)))
            return ReleaseAndShowError("LoadBMP: 32bits pFile.Read( bpTemp, lDIBSize ) failed!"), 0;
        m_nDibBytes = static_cast<std::size_t>(outBytes);
        return 1;
    }
    }
}

int CImageEdit::LoadJPG(const char* path) { return LoadJPG(path, nullptr, nullptr); }

int CImageEdit::LoadJPG(const char* path, ScaleChooser choose, void* context) {
    if (!EnsureHeaders()) return 0;
    JPEG_CORE_PROPERTIES image{};
    if (ijlInit(&image) != IJL_OK) return ReleaseAndShowError("LoadJPG: ijlInit( &image ) failed!"), 0;
    image.JPGFile = path;
    if (ijlRead(&image, IJL_JFILE_READPARAMS) != IJL_OK) {
        ijlFree(&image);
        return ReleaseAndShowError("LoadJPG: ijlRead( &image, IJL_JFILE_READPARAMS ) failed!"), 0;
    }
    switch (image.JPGChannels) {
    case 1:
        image.JPGColor = IJL_G;
        image.DIBChannels = 3;
        image.DIBColor = IJL_BGR;
        break;
    case 3:
        image.JPGColor = IJL_YCBCR;
        image.DIBChannels = 3;
        image.DIBColor = IJL_BGR;
        break;
    case 4:
        image.JPGColor = IJL_YCBCRA_FPX;
        image.DIBChannels = 4;
        image.DIBColor = IJL_RGBA_FPX;
        break;
    default:
        image.JPGColor = IJL_OTHER;
        image.DIBChannels = image.JPGChannels;
        image.DIBColor = IJL_OTHER;
        break;
    }
    m_nFullWidth = image.JPGWidth;
    m_nFullHeight = image.JPGHeight;
    DWORD denom = choose ? static_cast<DWORD>(choose(image.JPGWidth, image.JPGHeight, context)) : 1;
    if (denom != 2 && denom != 4 && denom != 8) denom = 1;
    image.DIBScaleDenom = denom;
    const DWORD width = ijlScaledSize(image.JPGWidth, denom);
    const DWORD height = ijlScaledSize(image.JPGHeight, denom);
    const unsigned long long row = (static_cast<unsigned long long>(width) * image.DIBChannels + 3) & ~3ULL;
    image.DIBWidth = width;
    image.DIBHeight = static_cast<int>(height);
    image.DIBPadBytes = static_cast<DWORD>(row - static_cast<unsigned long long>(width) * image.DIBChannels);

    ReleaseDib();
    m_pbDibData = Allocate(static_cast<long long>(row * height));
    if (!m_pbDibData) {
        ijlFree(&image);
        return ReleaseAndShowError("LoadJPG: m_pbDibData memory allocation failed!"), 0;
    }
    m_nDibBytes = static_cast<std::size_t>(row * height);
    image.DIBBytes = m_pbDibData;
    // A picture that does not decode keeps the zeroed pixels.
    ijlRead(&image, IJL_JFILE_READWHOLEIMAGE);
    if (ijlFree(&image) != IJL_OK) {
        ReleaseDib();
        return ReleaseAndShowError("LoadJPG: ijlFree( &image ) failed!"), 0;
    }
    if (image.DIBColor == IJL_RGBA_FPX)
        PremultiplyAlpha(m_pbDibData, static_cast<int>(image.DIBWidth), image.DIBHeight);

    BITMAPINFOHEADER& h = m_pBmi->bmiHeader;
    h = BITMAPINFOHEADER{};
    h.biSize = 40;
    h.biWidth = static_cast<LONG>(image.DIBWidth);
    h.biHeight = image.DIBHeight < 0 ? -image.DIBHeight : image.DIBHeight;
    h.biPlanes = 1;
    // A four-channel picture keeps 4 bytes per pixel, and the header says so.
    h.biBitCount = image.DIBChannels == 4 ? 32 : 24;
    h.biCompression = BI_RGB;
    m_pBmih = &h;
    return 1;
}

int CImageEdit::SaveJPG(const char* path) {
    JPEG_CORE_PROPERTIES image{};
    if (ijlInit(&image) != IJL_OK) return ShowError("SaveJPG: ijlInit( &image ) failed!"), 0;
    const char* const writeFailed = "SaveJPG: ijlWrite( &image, IJL_JFILE_WRITEWHOLEIMAGE ) failed! - 읽기전용?";
    if (!m_pBmi) {
        ijlFree(&image);
        return ShowError(writeFailed), 0;
    }
    BITMAPINFOHEADER& h = m_pBmi->bmiHeader;
    image.DIBBytes = m_pbDibData;
    image.DIBWidth = image.JPGWidth = static_cast<DWORD>(h.biWidth);
    image.DIBHeight = h.biHeight;
    image.JPGHeight = static_cast<DWORD>(h.biHeight);
    image.JPGFile = path;
    h.biBitCount = 24;
    image.DIBChannels = 3;
    image.DIBColor = IJL_BGR;
    const long long row = (3LL * h.biWidth + 3) & ~3LL;
    image.DIBPadBytes = static_cast<DWORD>(row - 3LL * h.biWidth);
    image.JPGChannels = 3;
    image.JPGColor = IJL_YCBCR;
    image.JPGSubsampling = IJL_411;
    // The encoder reads |height| rows of `row` bytes: never more than the buffer holds.
    const long long rows = h.biHeight < 0 ? -static_cast<long long>(h.biHeight) : h.biHeight;
    const bool fits = h.biWidth > 0 && row * rows <= static_cast<long long>(m_nDibBytes);
    if (!fits || ijlWrite(&image, IJL_JFILE_WRITEWHOLEIMAGE) != IJL_OK) {
        ijlFree(&image);
        return ShowError(writeFailed), 0;
    }
    if (ijlFree(&image) != IJL_OK) return ShowError("SaveJPG: ijlFree( &image ) failed!"), 0;
    return 1;
}
