// SAF frame renderer: frame start, the item loop and object placements.
// Every placement writer is one instantiation of Blit<Bpp, Features>, so the
// inner loops carry no per-pixel tests for features a placement lacks.
#include "handpix/handset/SafRender.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "handpix/handset/SafTables.h"

namespace handpix::saf {
namespace {

// Packed pixel access; the first pixel of a byte sits in its high bits.
template <int Bpp>
std::uint8_t Get(const std::uint8_t* base, std::size_t index) {
    if constexpr (Bpp == 8) {
        return base[index];
    } else {
        constexpr int perByte = 8 / Bpp;
        const int shift = 8 - Bpp * (1 + static_cast<int>(index % perByte));
        return static_cast<std::uint8_t>((base[index / perByte] >> shift) & ((1 << Bpp) - 1));
    }
}

template <int Bpp>
void Put(std::uint8_t* base, std::size_t index, std::uint8_t v) {
    if constexpr (Bpp == 8) {
        base[index] = v;
    } else {
        constexpr int perByte = 8 / Bpp;
        constexpr int mask = (1 << Bpp) - 1;
        const int shift = 8 - Bpp * (1 + static_cast<int>(index % perByte));
        std::uint8_t& b = base[index / perByte];
        b = static_cast<std::uint8_t>((b & ~(mask << shift)) | ((v & mask) << shift));
    }
}

enum Feature : unsigned { kKey = 1, kMirror = 2, kFlip = 4, kRotate = 8, kScale = 16 };

// One placement, resolved: source object, destination rectangle (inclusive,
// already clipped), origin and fixed-point steps.
struct BlitJob {
    const std::uint8_t* src = nullptr;
    std::size_t srcBytes = 0;
    int srcW = 0, srcH = 0;   // object size
    int extW = 0, extH = 0;   // scaled size, before rotation
    std::uint8_t key = 0;
    Surface dst;
    int x0 = 0, y0 = 0, x1 = -1, y1 = -1;
    int ox = 0, oy = 0;       // where object pixel (0, 0) lands before rotation
    int sx = 256, sy = 256;   // 8.8 source steps
    int cosine = 16384, sine = 0;
};

// Destination pixel to object pixel; false outside the object. The writers
// call it with constant features, so the tests they lack fold away.
inline bool MapCore(const BlitJob& j, unsigned f, int X, int Y, int& u, int& v) {
    int du = X - j.ox;
    int dv = Y - j.oy;
    if (f & kRotate) {
        const int ru = (du * j.cosine + dv * j.sine + 8192) >> 14;
        const int rv = (dv * j.cosine - du * j.sine + 8192) >> 14;
        du = ru;
        dv = rv;
    }
    if (du < 0 || dv < 0 || du >= j.extW || dv >= j.extH) return false;
    if (f & kScale) {
        du = (du * j.sx) >> 8;
        dv = (dv * j.sy) >> 8;
    }
    if (f & kMirror) du = j.srcW - 1 - du;
    if (f & kFlip) dv = j.srcH - 1 - dv;
    u = du;
    v = dv;
    return u >= 0 && v >= 0 && u < j.srcW && v < j.srcH;
}

template <unsigned F>
bool MapToObject(const BlitJob& j, int X, int Y, int& u, int& v) {
    return MapCore(j, F, X, Y, u, v);
}

template <int Bpp, unsigned F>
void Blit(const BlitJob& j) {
    const std::size_t srcPixels = j.srcBytes * 8 / Bpp;
    for (int Y = j.y0; Y <= j.y1; ++Y) {
        const std::size_t rowIndex = static_cast<std::size_t>(Y) * j.dst.width;
        if constexpr (Bpp == 8 && F == 0) {
            // Plain copy: one run per row.
            const std::size_t s = static_cast<std::size_t>(Y - j.oy) * j.srcW + (j.x0 - j.ox);
            std::memcpy(j.dst.data + rowIndex + j.x0, j.src + s, static_cast<std::size_t>(j.x1 - j.x0 + 1));
            continue;
        }
        bool drawn = false;
        for (int X = j.x0; X <= j.x1; ++X) {
            int u = 0;
            int v = 0;
            if (!MapToObject<F>(j, X, Y, u, v)) {
                // A turned object is convex along a row: once left, the row is done.
                if ((F & kRotate) != 0 && drawn) break;
                continue;
            }
            drawn = true;
            const std::size_t si = static_cast<std::size_t>(v) * j.srcW + u;
            if (si >= srcPixels) continue;
            const std::uint8_t p = Get<Bpp>(j.src, si);
            if constexpr ((F & kKey) != 0) {
                if (p == j.key) continue;
            }
            const std::size_t di = rowIndex + X;
            if constexpr (Bpp != 8) {
                if (di / (8 / Bpp) >= j.dst.bytes) continue;
            }
            Put<Bpp>(j.dst.data, di, p);
        }
    }
}

using BlitFn = void (*)(const BlitJob&);

template <int Bpp, std::size_t... I>
constexpr std::array<BlitFn, sizeof...(I)> MakeBlitters(std::index_sequence<I...>) {
    return {&Blit<Bpp, static_cast<unsigned>(I)>...};
}

template <int Bpp>
constexpr auto kBlitters = MakeBlitters<Bpp>(std::make_index_sequence<32>{});

BlitFn Blitter(int bpp, unsigned features) {
    switch (bpp) {
    case 1: return kBlitters<1>[features & 31u];
    case 2: return kBlitters<2>[features & 31u];
    case 4: return kBlitters<4>[features & 31u];
    default: return kBlitters<8>[features & 31u];
    }
}

// Scaled extent of an object side and the 8.8 source step for it.
void ScaleSide(int n, int mode, int factor, int& extent, int& step) {
    const int f = factor == 0 ? 256 : factor;
    if (mode == 1) {
        extent = (n - 1) * f / 256 + 1;
        step = 65536 / f;
    } else if (mode == 2) {
        extent = (n - 1) * 256 / f + 1;
        step = f;
    } else {
        extent = n;
        step = 256;
    }
}

// Alpha blend of one RGB 3-3-2 object pixel over a frame pixel.
std::uint8_t Blend(std::uint8_t frame, std::uint8_t object, int alpha) {
    auto mix = [alpha](int f, int o, int offset) {
        return std::min(255, (f * (256 - alpha) + o * alpha) / 256 + offset);
    };
    const int r = mix(kLevel3[frame >> 5], kLevel3[object >> 5], 16);
    const int g = mix(kLevel3[(frame >> 2) & 7], kLevel3[(object >> 2) & 7], 16);
    const int b = mix(kLevel2[frame & 3], kLevel2[object & 3], 32);
    return static_cast<std::uint8_t>((r & 0xE0) | ((g >> 3) & 0x1C) | (b >> 6));
}

// Edges of the set pixels of an object, for the inside test of mode 1.
struct ObjectExtents {
    std::array<std::int16_t, 256> rowFirst, rowLast, colFirst, colLast;
};

template <int Bpp>
void FindExtents(const BlitJob& j, ObjectExtents& e) {
    e.rowFirst.fill(256);
    e.rowLast.fill(-1);
    e.colFirst.fill(256);
    e.colLast.fill(-1);
    const std::size_t pixels = j.srcBytes * 8 / Bpp;
    // The 1-bit search to the right stops at a whole byte of the row.
    const int rightLimit = Bpp == 1 ? (j.srcW & ~7) : j.srcW;
    for (int v = 0; v < j.srcH; ++v) {
        for (int u = 0; u < j.srcW; ++u) {
            const std::size_t i = static_cast<std::size_t>(v) * j.srcW + u;
            if (i >= pixels || Get<Bpp>(j.src, i) == 0) continue;
            e.rowFirst[v] = static_cast<std::int16_t>(std::min<int>(e.rowFirst[v], u));
            if (u < rightLimit) e.rowLast[v] = static_cast<std::int16_t>(std::max<int>(e.rowLast[v], u));
            e.colFirst[u] = static_cast<std::int16_t>(std::min<int>(e.colFirst[u], v));
            e.colLast[u] = static_cast<std::int16_t>(std::max<int>(e.colLast[u], v));
        }
    }
}

// Mode 1 of the 1- and 2-bit streams: mark the frame pixels that fall inside
// the object's outline in the second scratch area, then let the object's
// pixels replace the frame's there.
template <int Bpp>
void MaskedMerge(const BlitJob& j, unsigned features, const Surface& scratch, const Surface& mask) {
    ObjectExtents e;
    FindExtents<Bpp>(j, e);
    constexpr std::uint8_t full = (1 << Bpp) - 1;
    for (int Y = j.y0; Y <= j.y1; ++Y) {
        for (int X = j.x0; X <= j.x1; ++X) {
            int u = 0;
            int v = 0;
            if (!MapCore(j, features, X, Y, u, v)) continue;
            if (u < e.rowFirst[v] || u > e.rowLast[v] || v < e.colFirst[u] || v > e.colLast[u]) continue;
            const std::size_t di = static_cast<std::size_t>(Y) * mask.width + X;
            if (di / (8 / Bpp) < mask.bytes) Put<Bpp>(mask.data, di, full);
        }
    }
    std::uint8_t* f = j.dst.data;
    for (std::size_t i = 0; i < mask.bytes; ++i) {
        if (mask.data[i]) f[i] = static_cast<std::uint8_t>((f[i] & ~mask.data[i]) | scratch.data[i]);
    }
}

// Alpha placement: draw the object keyed into a frame-sized layer in the
// block store, then blend every layer pixel that the object covers.
void PlaceBlended(BlitJob& j, unsigned features, int alpha, const Surface& frame, std::uint8_t* store) {
    const Surface layer{store, frame.bytes, frame.width, frame.height, 8};
    for (int Y = j.y0; Y <= j.y1; ++Y)
        std::memset(layer.data + static_cast<std::size_t>(Y) * layer.width + j.x0, j.key,
                    static_cast<std::size_t>(j.x1 - j.x0 + 1));
    j.dst = layer;
    Blitter(8, features | kKey)(j);
    for (int Y = j.y0; Y <= j.y1; ++Y) {
        const std::size_t row = static_cast<std::size_t>(Y) * frame.width;
        for (int X = j.x0; X <= j.x1; ++X) {
            const std::uint8_t o = layer.data[row + X];
            if (o != j.key) frame.data[row + X] = Blend(frame.data[row + X], o, alpha);
        }
    }
}

}  // namespace

int Renderer::StartFrame(const std::uint8_t* chunk, std::size_t chunkSize, std::uint8_t* slot,
                         std::size_t slotSize, const FrameSetup& setup) {
    m_items = 0;
    m_index = 0;
    if (!chunk || chunkSize < 5 || chunk[0] != 6 || !slot) return -1;
    if (setup.bpp != 1 && setup.bpp != 2 && setup.bpp != 4 && setup.bpp != 8) return -1;
    if (setup.width <= 0 || setup.height <= 0) return -1;
    const std::size_t area = static_cast<std::size_t>(setup.width) * setup.height;
    if (slotSize < area) return -1;
    m_setup = setup;
    m_frame = Surface{slot, area, setup.width, setup.height, setup.bpp};
    m_chunk = chunk;
    m_chunkSize = chunkSize;
    m_next = 5;
    m_items = chunk[4];

    const int b = chunk[3];
    std::uint8_t fill = 0;
    switch (setup.bpp) {
    case 8: fill = static_cast<std::uint8_t>(b); break;
    case 4: fill = static_cast<std::uint8_t>(0x11 * b); break;
    case 2: fill = static_cast<std::uint8_t>(0x55 * (b & 3)); break;
    default: fill = b ? 0xFF : 0x00; break;
    }
    std::memset(slot, fill, area);
    return static_cast<int>(chunkSize);
}

int Renderer::DrawNextItem() {
    if (m_index >= m_items) return 0;
    if (m_next + 2 > m_chunkSize) return kBadItem;
    const std::uint8_t* p = m_chunk + m_next;
    const int len = p[1];
    if (m_next + 2 + len > m_chunkSize) return kBadItem;
    m_next += static_cast<std::size_t>(len) + 2;
    ++m_index;
    const int r = DrawItem(p[0], p, len);
    if (r < 0) return r;
    return m_frame.width * m_frame.height;
}

int Renderer::DrawItem(int type, const std::uint8_t* p, int len) {
    const int end = len + 2;  // bytes of the item, type and length included
    const bool deep = m_frame.bpp == 8;
    switch (type) {
    case 0: {
        if (end < 7) return 0;
        if (p[2] > 127) return -2;
        Placement pl;
        pl.object = p[2];
        const int flags = p[3];
        pl.hMode = p[4] >> 6;
        pl.vMode = (p[4] >> 4) & 3;
        pl.drawMode = p[4] & 15;
        pl.x = (flags & 0x80) ? -p[5] : p[5];
        pl.y = (flags & 0x40) ? -p[6] : p[6];
        pl.mirror = (flags & 0x20) != 0;
        pl.flip = (flags & 0x10) != 0;
        int at = 7;
        auto next = [&](int& v) {
            if (at >= end) return false;
            v = p[at++];
            return true;
        };
        if (pl.hMode != 0 && !next(pl.hFactor)) return 0;
        if (pl.vMode != 0 && !next(pl.vFactor)) return 0;
        if ((flags & 0x01) && !next(pl.angle)) return 0;
        if (flags & 0x02) {
            pl.clip = true;
            if (!next(pl.clipLeft) || !next(pl.clipRight) || !next(pl.clipTop) || !next(pl.clipBottom)) return 0;
        }
        if (flags & 0x04) {
            pl.alpha = true;
            if (!next(pl.alphaValue)) return 0;
        }
        Place(pl);
        return 0;
    }
    case 1:
        if (deep && end >= 9) Line(p[2], p[3], p[4], p[5], p[6], p[7], p[8] == 1);
        return 0;
    case 2:
        if (deep && end >= 12) Ellipse(p[2], p[3], p[4], p[5], p[6], p[7], p[8], p[9], p[10], p[11] != 0);
        return 0;
    case 3:
        if (deep && end >= 10) Rectangle(p);
        return 0;
    case 4:
    case 5:
        if (deep) Polygon(p, end, type == 4);
        return 0;
    case 17:
        if (deep && end >= 7) HalfPlaneMask(p);
        return 0;
    case 18:
        if (deep && end >= 7) EllipseMask(p);
        return 0;
    case 19:
        if (end >= 7) RectangleMask(p);
        return 0;
    case 20:
        Invert();
        return 0;
    default:
        return 0;
    }
}

void Renderer::Place(const Placement& pl) {
    const SafObject& o = m_setup.objects[pl.object];
    if (o.width == 0 || o.height == 0 || o.storage != 1) return;
    const int bpp = m_frame.bpp;
    const std::size_t bytes = static_cast<std::size_t>(o.width) * o.height * bpp / 8;
    if (o.poolOffset > m_setup.poolSize || bytes > m_setup.poolSize - o.poolOffset) return;

    BlitJob j;
    j.src = m_setup.pool + o.poolOffset;
    j.srcBytes = bytes;
    j.srcW = static_cast<int>(o.width);
    j.srcH = static_cast<int>(o.height);
    j.key = static_cast<std::uint8_t>(o.transparent);
    ScaleSide(j.srcW, pl.hMode, pl.hFactor, j.extW, j.sx);
    ScaleSide(j.srcH, pl.vMode, pl.vFactor, j.extH, j.sy);

    // Destination box; a turned object's box is that of its turned corners,
    // moved so that its top-left corner lies at (x, y).
    int boxW = j.extW;
    int boxH = j.extH;
    j.ox = pl.x;
    j.oy = pl.y;
    const int a = pl.angle & 255;
    if (a != 0) {
        j.cosine = kCosine[a];
        j.sine = kSine[a];
        int minX = 0, maxX = 0, minY = 0, maxY = 0;
        const int us[2] = {0, j.extW - 1};
        const int vs[2] = {0, j.extH - 1};
        for (int u : us) {
            for (int v : vs) {
                const int dx = (u * j.cosine - v * j.sine + 8192) >> 14;
                const int dy = (u * j.sine + v * j.cosine + 8192) >> 14;
                minX = std::min(minX, dx);
                maxX = std::max(maxX, dx);
                minY = std::min(minY, dy);
                maxY = std::max(maxY, dy);
            }
        }
        j.ox = pl.x - minX;
        j.oy = pl.y - minY;
        boxW = maxX - minX + 1;
        boxH = maxY - minY + 1;
    }
    j.x0 = std::max(pl.x, 0);
    j.y0 = std::max(pl.y, 0);
    j.x1 = std::min(pl.x + boxW - 1, m_frame.width - 1);
    j.y1 = std::min(pl.y + boxH - 1, m_frame.height - 1);
    if (pl.clip) {
        j.x0 = std::max(j.x0, pl.clipLeft);
        j.x1 = std::min(j.x1, pl.clipRight);
        j.y0 = std::max(j.y0, pl.clipTop);
        j.y1 = std::min(j.y1, pl.clipBottom);
    }
    if (j.x0 > j.x1 || j.y0 > j.y1) return;

    unsigned features = 0;
    if (pl.mirror) features |= kMirror;
    if (pl.flip) features |= kFlip;
    if (a != 0) features |= kRotate;
    if (j.sx != 256 || j.sy != 256) features |= kScale;

    if (bpp == 8 || bpp == 4) {
        if (pl.drawMode == 2) features |= kKey;
        j.dst = m_frame;
        const std::size_t area = static_cast<std::size_t>(m_frame.width) * m_frame.height;
        if (bpp == 8 && pl.alpha && pl.drawMode == 2 && m_setup.blockStore && area <= m_setup.blockStoreSize) {
            PlaceBlended(j, features, pl.alphaValue + 1, m_frame, m_setup.blockStore);
            return;
        }
        Blitter(bpp, features)(j);
        return;
    }

    // 1 and 2 bits: straight into the frame, or composed in the scratch areas.
    if (pl.drawMode == 0 || !m_setup.scratch1 || !m_setup.scratch2) {
        if (pl.drawMode == 0) {
            j.dst = m_frame;
            Blitter(bpp, features)(j);
        }
        return;
    }
    const Surface scratch{m_setup.scratch1, m_setup.scratchBytes, m_frame.width, m_frame.height, bpp};
    const Surface mask{m_setup.scratch2, m_setup.scratchBytes, m_frame.width, m_frame.height, bpp};
    if (pl.drawMode == 1 || pl.drawMode == 3) {
        std::memset(scratch.data, 0, scratch.bytes);
        std::memset(mask.data, 0, mask.bytes);
    }
    BlitJob toScratch = j;
    toScratch.dst = scratch;
    Blitter(bpp, features)(toScratch);
    j.dst = Surface{m_frame.data, scratch.bytes, m_frame.width, m_frame.height, bpp};
    if (pl.drawMode == 3) {
        for (std::size_t i = 0; i < scratch.bytes; ++i) j.dst.data[i] |= scratch.data[i];
    } else if (pl.drawMode == 1) {
        if (bpp == 1)
            MaskedMerge<1>(j, features, scratch, mask);
        else
            MaskedMerge<2>(j, features, scratch, mask);
    }
}

void Renderer::RectangleMask(const std::uint8_t* p) {
    const int W = m_frame.width;
    const int H = m_frame.height;
    const int x0 = std::min<int>(p[2], W - 1);
    const int y0 = std::min<int>(p[3], H - 1);
    const int x1 = std::min<int>(p[4], W - 1);
    const int y1 = std::min<int>(p[5], H - 1);
    if (!(x0 < x1 && y0 < y1)) return;
    const std::uint8_t c = p[6];
    for (int y = 0; y < H; ++y) {
        const bool rowOutside = y < y0 || y > y1;
        for (int x = 0; x < W; ++x) {
            if (!rowOutside && x == x0) {
                x = x1;  // the rectangle's own pixels keep their colour
                continue;
            }
            const std::size_t i = static_cast<std::size_t>(y) * W + x;
            switch (m_frame.bpp) {
            case 8: m_frame.data[i] = c; break;
            case 4: Put<4>(m_frame.data, i, c); break;
            case 2: Put<2>(m_frame.data, i, c); break;
            default: Put<1>(m_frame.data, i, c); break;
            }
        }
    }
}

void Renderer::Invert() {
    for (std::size_t i = 0; i < m_frame.bytes; ++i) m_frame.data[i] = static_cast<std::uint8_t>(~m_frame.data[i]);
}

}  // namespace handpix::saf
