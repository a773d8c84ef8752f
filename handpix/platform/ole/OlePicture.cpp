#include "handpix/platform/ole/OlePicture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "handpix/imagefiles/BmpReader.h"
#include "handpix/imagefiles/GifReader.h"
#include "handpix/imagefiles/JpegReader.h"
#include "handpix/platform/core/Limits.h"
#include "handpix/platform/core/Resample.h"
#include "handpix/platform/draw/DC.h"

namespace handpix {

// Rounded up, not to nearest: then dpi x HIMETRIC / 2540 truncated gives the
// pixels back exactly (to nearest, 75 pixels would come back as 74).
long PixelsToHimetric(int pixels) {
    return static_cast<long>((static_cast<long long>(pixels) * 2540 + kScreenDpi - 1) / kScreenDpi);
}

namespace {

// Decoded pixels: blue, green, red, unused; top row first.
struct Decoded {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;
};

enum class RowOrder { topDown, bottomUp };
enum class ByteOrder { rgb, bgr };

// Takes a reader's packed 3-byte rows; frees them.
bool Adopt(unsigned char* packed, int w, int h, RowOrder rows, ByteOrder bytes, Decoded& out) {
    std::unique_ptr<unsigned char[]> owner(packed);
    if (!packed || !PictureSizeAllowed(w, h)) return false;
    try {
        out.pixels.resize(static_cast<std::size_t>(w) * h);
    } catch (const std::bad_alloc&) {
        return false;
    }
    out.width = w;
    out.height = h;
    for (int y = 0; y < h; ++y) {
        const unsigned char* src = packed + static_cast<std::size_t>(rows == RowOrder::topDown ? y : h - 1 - y) * w * 3;
        std::uint32_t* dst = out.pixels.data() + static_cast<std::size_t>(y) * w;
        for (int x = 0; x < w; ++x, src += 3) {
            unsigned r = bytes == ByteOrder::rgb ? src[0] : src[2];
            unsigned b = bytes == ByteOrder::rgb ? src[2] : src[0];
            dst[x] = (r << 16) | (static_cast<unsigned>(src[1]) << 8) | b;
        }
    }
    return true;
}

// Runs a FILE*-based reader over the bytes in memory.
template <class F>
unsigned char* ReadThroughFile(const std::vector<std::uint8_t>& data, F&& read) {
    FILE* f = fmemopen(const_cast<std::uint8_t*>(data.data()), data.size(), "rb");
    if (!f) return nullptr;
    unsigned char* out = read(f);
    std::fclose(f);
    return out;
}

// The format is told by the first bytes, as the platform's loader does.
bool Decode(const std::vector<std::uint8_t>& data, Decoded& out) {
    if (data.size() < 4) return false;
    int w = 0, h = 0;
    if (data[0] == 0xFF && data[1] == 0xD8) {
        unsigned char* p = ReadJpegMemory(data.data(), data.size(), &w, &h);
        return Adopt(p, w, h, RowOrder::topDown, ByteOrder::rgb, out);
    }
    if (data[0] == 'B' && data[1] == 'M') {
        CBmpReader reader;
        unsigned char* p = ReadThroughFile(data, [&](FILE* f) { return reader.ReadBmpStream(f, &w, &h); });
        return Adopt(p, w, h, RowOrder::bottomUp, ByteOrder::bgr, out);
    }
    if (data[0] == 'G' && data[1] == 'I' && data[2] == 'F' && data[3] == '8') {
        CGifReader reader;
        unsigned char* p = ReadThroughFile(data, [&](FILE* f) { return reader.ReadGifStream(f, "<stream>", &w, &h); });
        return Adopt(p, w, h, RowOrder::topDown, ByteOrder::rgb, out);
    }
    return false;
}

class StaticPicture final : public ComObject<IPicture, IID_IPicture> {
public:
    explicit StaticPicture(Decoded d)
        : m_pic(std::move(d)), m_hmWidth(PixelsToHimetric(m_pic.width)), m_hmHeight(PixelsToHimetric(m_pic.height)) {}

    HRESULT get_Width(OLE_XSIZE_HIMETRIC* width) override {
        if (!width) return E_POINTER;
        *width = m_hmWidth;
        return S_OK;
    }
    HRESULT get_Height(OLE_YSIZE_HIMETRIC* height) override {
        if (!height) return E_POINTER;
        *height = m_hmHeight;
        return S_OK;
    }
    HRESULT Render(HDC hdc, long x, long y, long cx, long cy, OLE_XPOS_HIMETRIC xSrc, OLE_YPOS_HIMETRIC ySrc,
                   OLE_XSIZE_HIMETRIC cxSrc, OLE_YSIZE_HIMETRIC cySrc, LPCRECT) override;

private:
    // Thumbnails are drawn again on every paint at the same size: the last
    // small rendering is kept and copied instead of resampled again.
    struct Scaled {
        int lo[2] = {-1, -1}, hi[2] = {-1, -1};
        bool flip = false;
        int width = 0, height = 0;
        std::vector<std::uint32_t> pixels;
        bool Matches(const Scaled& o) const {
            return lo[0] == o.lo[0] && lo[1] == o.lo[1] && hi[0] == o.hi[0] && hi[1] == o.hi[1] &&
                   flip == o.flip && width == o.width && height == o.height;
        }
    };
    static constexpr long long kMaxCachedPixels = 256 * 256;

    Decoded m_pic;
    long m_hmWidth;
    long m_hmHeight;
    std::mutex m_cacheLock;
    Scaled m_cache;
};

// The pixel span [lo, hi) of a HIMETRIC span, rounded to the nearest edges and
// kept inside the picture; `reversed` when the span runs backwards.
struct Span {
    int lo, hi;
    bool reversed;
};
Span ToPixels(double a, double b, int pixels) {
    Span s{static_cast<int>(std::lround(std::min(a, b))), static_cast<int>(std::lround(std::max(a, b))), b < a};
    s.lo = std::clamp(s.lo, 0, pixels);
    s.hi = std::clamp(s.hi, 0, pixels);
    return s;
}

HRESULT StaticPicture::Render(HDC hdc, long x, long y, long cx, long cy, OLE_XPOS_HIMETRIC xSrc,
                              OLE_YPOS_HIMETRIC ySrc, OLE_XSIZE_HIMETRIC cxSrc, OLE_YSIZE_HIMETRIC cySrc, LPCRECT) {
    if (!hdc) return E_INVALIDARG;
    if (cx == 0 || cy == 0 || cxSrc == 0 || cySrc == 0) return S_OK;
    const double sx = static_cast<double>(m_pic.width) / m_hmWidth, sy = static_cast<double>(m_pic.height) / m_hmHeight;
    // HIMETRIC y grows upward from the bottom edge; pixel rows grow downward.
    Span cols = ToPixels(xSrc * sx, (static_cast<double>(xSrc) + cxSrc) * sx, m_pic.width);
    Span rows = ToPixels((m_hmHeight - static_cast<double>(ySrc)) * sy,
                         (m_hmHeight - static_cast<double>(ySrc) - cySrc) * sy, m_pic.height);
    if (cols.lo >= cols.hi || rows.lo >= rows.hi) return S_OK;
    bool mirror = cols.reversed, flip = rows.reversed;
    if (cx < 0) { x += cx; cx = -cx; mirror = !mirror; }
    if (cy < 0) { y += cy; cy = -cy; flip = !flip; }
    if (cx > kMaxSurfaceSide || cy > kMaxSurfaceSide || static_cast<long long>(cx) * cy > kMaxSurfacePixels)
        return E_INVALIDARG;

    const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(m_pic.width) * 4;
    const auto* base = reinterpret_cast<const std::uint8_t*>(m_pic.pixels.data());
    ConstPixels src{base + (flip ? rows.hi - 1 : rows.lo) * stride + cols.lo * 4, cols.hi - cols.lo, rows.hi - rows.lo,
                    flip ? -stride : stride};
    const int w = static_cast<int>(cx), h = static_cast<int>(cy);
    std::ptrdiff_t dstStride = 0;
    std::uint8_t* direct = mirror ? nullptr : hdc->DirectPixels(CRect(x, y, x + w, y + h), &dstStride);
    if (!mirror && static_cast<long long>(w) * h <= kMaxCachedPixels) {
        std::lock_guard<std::mutex> lock(m_cacheLock);
        Scaled want;
        want.lo[0] = cols.lo, want.lo[1] = rows.lo, want.hi[0] = cols.hi, want.hi[1] = rows.hi;
        want.flip = flip, want.width = w, want.height = h;
        if (!m_cache.Matches(want)) {
            try {
                want.pixels.resize(static_cast<std::size_t>(w) * h);
            } catch (const std::bad_alloc&) {
                return E_OUTOFMEMORY;
            }
            if (!Resample(src, Pixels{reinterpret_cast<std::uint8_t*>(want.pixels.data()), w, h,
                                      static_cast<std::ptrdiff_t>(w) * 4}, 4))
                return E_FAIL;
            m_cache = std::move(want);
        }
        const auto* cached = reinterpret_cast<const std::uint8_t*>(m_cache.pixels.data());
        if (direct) {
            for (int r = 0; r < h; ++r)
                std::memcpy(direct + r * dstStride, cached + static_cast<std::ptrdiff_t>(r) * w * 4,
                            static_cast<std::size_t>(w) * 4);
        } else {
            hdc->SetPixelsBGRX(static_cast<int>(x), static_cast<int>(y), w, h, cached, static_cast<std::ptrdiff_t>(w) * 4);
        }
        return S_OK;
    }
    if (direct) return Resample(src, Pixels{direct, w, h, dstStride}, 4) ? S_OK : E_FAIL;

    std::vector<std::uint32_t> tmp;
    try {
        tmp.resize(static_cast<std::size_t>(w) * h);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    if (!Resample(src, Pixels{reinterpret_cast<std::uint8_t*>(tmp.data()), w, h, static_cast<std::ptrdiff_t>(w) * 4}, 4))
        return E_FAIL;
    if (mirror)
        for (int r = 0; r < h; ++r) std::reverse(tmp.begin() + static_cast<std::ptrdiff_t>(r) * w,
                                                  tmp.begin() + static_cast<std::ptrdiff_t>(r + 1) * w);
    hdc->SetPixelsBGRX(static_cast<int>(x), static_cast<int>(y), w, h, reinterpret_cast<const std::uint8_t*>(tmp.data()),
                       static_cast<std::ptrdiff_t>(w) * 4);
    return S_OK;
}

// Reads the stream to its end (or `limit` bytes), growing only as data arrives.
HRESULT ReadAll(IStream* stream, unsigned long long limit, std::vector<std::uint8_t>& out) {
    constexpr ULONG kChunk = 64 * 1024;
    try {
        for (;;) {
            unsigned long long want = std::min<unsigned long long>(kChunk, limit - out.size());
            if (want == 0) break;
            std::size_t have = out.size();
            out.resize(have + want);
            ULONG got = 0;
            HRESULT hr = stream->Read(out.data() + have, static_cast<ULONG>(want), &got);
            if (FAILED(hr)) return hr;
            out.resize(have + std::min<ULONG>(got, static_cast<ULONG>(want)));
            if (got < want) break;
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

}  // namespace
}  // namespace handpix

HRESULT OleLoadPicture(IStream* stream, LONG lSize, BOOL, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!stream) return E_POINTER;
    if (!(riid == IID_IPicture) && !(riid == IID_IUnknown)) return E_NOINTERFACE;
    // One byte past the cap tells a stream that is too long from one that fits.
    unsigned long long limit = lSize > 0 ? static_cast<unsigned long long>(lSize) : handpix::kMaxPictureStreamBytes + 1;
    std::vector<std::uint8_t> data;
    HRESULT hr = handpix::ReadAll(stream, limit, data);
    if (FAILED(hr)) return hr;
    if (data.size() > handpix::kMaxPictureStreamBytes) return E_OUTOFMEMORY;
    handpix::Decoded decoded;
    if (!handpix::Decode(data, decoded)) return CTL_E_INVALIDPICTURE;
    IPicture* pic = new (std::nothrow) handpix::StaticPicture(std::move(decoded));
    if (!pic) return E_OUTOFMEMORY;
    *ppv = pic;
    return S_OK;
}
