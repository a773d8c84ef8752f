#include "handpix/imagefiles/GraphicFileLoad.h"

#include <cstddef>
#include <cstring>
#include <new>

#include "handpix/imagefiles/BmpReader.h"
#include "handpix/imagefiles/DibRows.h"
#include "handpix/imagefiles/GifReader.h"
#include "handpix/imagefiles/JpegReader.h"
#include "handpix/platform/core/File.h"
#include "handpix/platform/core/FileFind.h"

namespace {
// The handset screen: a new object reports this size until its first load.
constexpr int kHandsetWidth = 178;
constexpr int kHandsetHeight = 160;
}  // namespace

CGraphicFileLoad::CGraphicFileLoad()
    : m_pDib(nullptr), m_nWidth(kHandsetWidth), m_nHeight(kHandsetHeight), m_nStride(0) {}

CGraphicFileLoad::~CGraphicFileLoad() { Release(); }

CGraphicFileLoad::CGraphicFileLoad(const CGraphicFileLoad& other)
    : m_pDib(nullptr), m_nWidth(kHandsetWidth), m_nHeight(kHandsetHeight), m_nStride(0) {
    *this = other;
}

CGraphicFileLoad& CGraphicFileLoad::operator=(const CGraphicFileLoad& other) {
    if (this == &other) return *this;
    Release();
    m_nWidth = other.m_nWidth;
    m_nHeight = other.m_nHeight;
    m_nStride = other.m_nStride;
    if (other.m_pDib && other.m_nStride > 0 && other.m_nHeight > 0) {
        std::size_t n = static_cast<std::size_t>(other.m_nStride) * static_cast<std::size_t>(other.m_nHeight);
        m_pDib = new (std::nothrow) unsigned char[n];
        if (m_pDib) std::memcpy(m_pDib, other.m_pDib, n);
    }
    return *this;
}

void CGraphicFileLoad::Release() {
    delete[] m_pDib;
    m_pDib = nullptr;
}

const char* CGraphicFileLoad::GetExtension(const char* path, char* ext) {
    _splitpath(path, nullptr, nullptr, nullptr, ext);
    return ext;
}

int CGraphicFileLoad::LoadGraphicFile(const char* path) {
    Release();
    char ext[_MAX_EXT];
    GetExtension(path ? path : "", ext);
    int ok;
    if (_stricmp(ext, ".bmp") == 0)
        ok = LoadBMP(CString(path));
    else if (_stricmp(ext, ".gif") == 0)
        ok = LoadGIF(CString(path));
    else if (handpix::HasJpegExtension(ext))
        ok = LoadJPG(CString(path));
    else if (_stricmp(ext, ".img") == 0 || _stricmp(ext, ".pht") == 0)
        ok = LoadIMG(path);  // the dispatch reads both as IMG; hosts call LoadPHT themselves
    else
        return 2;
    if (!ok) Release();
    return ok ? 0 : 1;
}

int CGraphicFileLoad::LoadBMP(CString path) {
    CBmpReader reader;
    unsigned char* packed = reader.ReadBmp(path, &m_nWidth, &m_nHeight);
    if (!packed || reader.m_strError.Compare("OK") != 0) {
        delete[] packed;
        m_pDib = nullptr;
        return 0;
    }
    // The reader already delivers bottom-up blue-green-red rows.
    m_pDib = PackDibRows(packed, static_cast<unsigned>(m_nWidth), m_nHeight, &m_nStride);
    delete[] packed;
    return m_pDib ? 1 : 0;
}

int CGraphicFileLoad::AdoptPackedRgb(unsigned char* packed) {
    SwapRedBlue(packed, static_cast<unsigned>(m_nWidth), m_nHeight);
    m_pDib = PackDibRows(packed, static_cast<unsigned>(m_nWidth), m_nHeight, &m_nStride);
    delete[] packed;
    if (!m_pDib) return 0;
    FlipRows(m_pDib, static_cast<unsigned>(m_nStride), m_nHeight);
    return 1;
}

int CGraphicFileLoad::LoadGIF(CString path) {
    CGifReader reader;
    int w = 0, h = 0;
    unsigned char* packed = reader.ReadGif(path, &w, &h);
    if (!packed) return 0;  // a failed GIF load leaves the size members as they were
    m_nWidth = w;
    m_nHeight = h;
    return AdoptPackedRgb(packed);
}

int CGraphicFileLoad::LoadJPG(CString path) {
    // Decoded straight into the DIB layout: the same pixels as converting the
    // packed rows, without three extra passes over a large picture.
    m_pDib = handpix::ReadJpegFileAsDib(path, &m_nWidth, &m_nHeight, &m_nStride);
    return m_pDib ? 1 : 0;
}

void CGraphicFileLoad::BGRA2BGR(unsigned char* dst, int width, int height, unsigned char* src, int pad) {
    if (!dst || !src || height < 1 || width < 1) return;
    const std::ptrdiff_t skip =
        pad ? static_cast<std::ptrdiff_t>(handpix::DibStride(static_cast<unsigned>(width))) - 3 * std::ptrdiff_t{width}
            : 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x, dst += 3, src += 4) {
            dst[0] = src[0];
            dst[1] = src[1];
            dst[2] = src[2];
        }
        dst += skip;
    }
}
