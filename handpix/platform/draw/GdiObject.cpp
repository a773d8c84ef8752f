#include "handpix/platform/draw/GdiObject.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>

#include "handpix/platform/draw/DC.h"
#include "handpix/platform/draw/FontEngine.h"
#include "handpix/platform/draw/ResourceTable.h"

namespace {
constexpr std::uint32_t kWhite = 0x00FFFFFFu;
}

BOOL CBitmap::DeleteObject() {
    m_surface.reset();
    m_shared = false;
    return TRUE;
}

BOOL CBitmap::CreateCompatibleBitmap(CDC*, int width, int height) {
    auto s = std::make_shared<handpix::Surface>();
    if (width == 0 || height == 0) width = height = 1;
    if (!s->Reset(width, height, kWhite)) return FALSE;
    m_surface = std::move(s);
    m_shared = false;
    return TRUE;
}

namespace {
// The pixels of a resource image, decoded once per image. The image is held
// so that its address keeps naming it; a host that registers a bitmap anew
// registers a new image.
std::shared_ptr<handpix::Surface> ResourceSurface(const std::shared_ptr<const handpix::ResourceImage>& image) {
    static std::mutex lock;
    static std::map<const handpix::ResourceImage*,
                    std::pair<std::shared_ptr<const handpix::ResourceImage>, std::shared_ptr<handpix::Surface>>>
        decoded;
    std::lock_guard<std::mutex> guard(lock);
    auto& entry = decoded[image.get()];
    if (entry.second) return entry.second;
    auto s = std::make_shared<handpix::Surface>();
    if (!s->Reset(image->width, image->height, kWhite) ||
        image->pixels.size() != static_cast<std::size_t>(image->width) * image->height)
        return nullptr;
    for (int y = 0; y < image->height; ++y)
        for (int x = 0; x < image->width; ++x)
            s->Row(y)[x] = image->pixels[static_cast<std::size_t>(y) * image->width + x] & 0x00FFFFFFu;
    entry = {image, s};
    return s;
}
}  // namespace

BOOL CBitmap::LoadBitmap(UINT nIDResource) {
    auto image = handpix::FindResourceImage(RT_BITMAP, nIDResource);
    if (!image) return FALSE;
    auto s = ResourceSurface(image);
    if (!s) return FALSE;
    m_surface = std::move(s);
    m_shared = true;
    return TRUE;
}

void CBitmap::Unshare() const {
    if (!m_shared) return;
    m_surface = std::make_shared<handpix::Surface>(*m_surface);
    m_shared = false;
}

const std::shared_ptr<handpix::Surface>& CBitmap::GetSurface() const {
    Unshare();
    return m_surface;
}

int CBitmap::GetBitmap(BITMAP* out) const {
    if (!m_surface || !out) return 0;
    Unshare();  // bmBits lets the caller write
    out->bmType = 0;
    out->bmWidth = m_surface->Width();
    out->bmHeight = m_surface->Height();
    out->bmWidthBytes = static_cast<LONG>(m_surface->Stride());
    out->bmPlanes = 1;
    out->bmBitsPixel = 32;
    out->bmBits = m_surface->Bytes();
    return static_cast<int>(sizeof(BITMAP));
}

CSize CBitmap::GetBitmapDimension() const {
    return m_surface ? CSize(m_surface->Width(), m_surface->Height()) : CSize();
}

BOOL CFont::CreateFont(int nHeight, int nWidth, int nEscapement, int nOrientation, int nWeight, BYTE bItalic,
                       BYTE bUnderline, BYTE cStrikeOut, BYTE nCharSet, BYTE nOutPrecision, BYTE nClipPrecision,
                       BYTE nQuality, BYTE nPitchAndFamily, LPCTSTR lpszFacename) {
    LOGFONT lf{};
    lf.lfHeight = nHeight;
    lf.lfWidth = nWidth;
    lf.lfEscapement = nEscapement;
    lf.lfOrientation = nOrientation;
    lf.lfWeight = nWeight;
    lf.lfItalic = bItalic;
    lf.lfUnderline = bUnderline;
    lf.lfStrikeOut = cStrikeOut;
    lf.lfCharSet = nCharSet;
    lf.lfOutPrecision = nOutPrecision;
    lf.lfClipPrecision = nClipPrecision;
    lf.lfQuality = nQuality;
    lf.lfPitchAndFamily = nPitchAndFamily;
    if (lpszFacename) std::strncpy(lf.lfFaceName, lpszFacename, sizeof lf.lfFaceName - 1);
    return CreateFontIndirect(&lf);
}

BOOL CFont::CreateFontIndirect(const LOGFONT* lf) {
    if (!lf) return FALSE;
    auto inst = handpix::text::CreateFontInstance(*lf);
    if (!inst) return FALSE;
    m_lf = *lf;
    m_lf.lfFaceName[sizeof m_lf.lfFaceName - 1] = '\0';
    m_font = std::move(inst);
    return TRUE;
}

BOOL CFont::CreatePointFont(int nPointSize, LPCTSTR lpszFaceName, CDC* pDC) {
    // Tenths of a point to pixels, truncated, as a character (em) height.
    int dpi = pDC ? pDC->GetDeviceCaps(LOGPIXELSY) : kScreenDpi;
    int px = nPointSize * dpi / 720;
    return CreateFont(-px, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                      DEFAULT_QUALITY, DEFAULT_PITCH, lpszFaceName);
}

int CFont::GetLogFont(LOGFONT* out) const {
    if (!m_font || !out) return 0;
    *out = m_lf;
    return static_cast<int>(sizeof(LOGFONT));
}
