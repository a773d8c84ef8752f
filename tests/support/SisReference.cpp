#include "tests/support/SisReference.h"

#include <algorithm>

#include "tests/support/SisSilhouette.h"

namespace handpix::test {

namespace {

std::vector<std::uint8_t> BlockPixels(const SisKind1Stream& s, std::uint32_t b, std::uint32_t& w,
                                      std::uint32_t& h) {
    std::uint32_t base = b;
    while (s.blocks[base].derived) --base;
    const SisKind1Block& root = s.blocks[base];
    w = 8 * root.across;
    h = 8 * root.down;
    std::vector<std::uint8_t> px = root.pixels;
    for (std::uint32_t j = base + 1; j <= b; ++j) {
        for (const SisKind1Change& c : s.blocks[j].changes) {
            const std::uint32_t x0 = 8 * (c.cell % root.across), y0 = 8 * (c.cell / root.across);
            for (unsigned i = 0; i < 64; ++i) px[(y0 + i / 8) * w + x0 + i % 8] = c.pixels[i];
        }
    }
    return px;
}

}  // namespace

std::vector<std::uint8_t> RenderSisKind1(const SisKind1Stream& s, std::uint32_t f) {
    const int fw = static_cast<int>(8 * s.widthUnits), fh = static_cast<int>(8 * s.heightUnits);
    std::vector<std::uint8_t> frame(static_cast<std::size_t>(fw * fh), 0);
    const SisKind1Frame& fr = s.frames[f];
    for (std::uint32_t layer = 0; layer < s.layerCount; ++layer) {
        for (std::uint32_t b = 0; b < s.blocks.size(); ++b) {
            for (const SisKind1Placement& p : fr.placements) {
                const std::uint32_t pl = s.layerCount == 1 ? 0 : p.layer;
                if (p.block != b || pl != layer) continue;
                std::uint32_t bw = 0, bh = 0;
                const std::vector<std::uint8_t> src = BlockPixels(s, b, bw, bh);
                const int tw = p.transpose ? std::min<int>(bh, fw) : bw;
                const int th = p.transpose ? std::min<int>(bw, fh) : bh;
                auto at = [&](int tx, int ty) -> int {
                    const int ux = p.mirror ? tw - 1 - tx : tx, uy = p.flip ? th - 1 - ty : ty;
                    return p.transpose ? src[ux * bw + uy] : src[uy * bw + ux];
                };
                auto inMask = [&](int tx, int ty) { return InSilhouette(at, tw, th, tx, ty); };
                for (int ty = 0; ty < th; ++ty) {
                    for (int tx = 0; tx < tw; ++tx) {
                        const int fx = p.x + tx, fy = p.y + ty;
                        if (fx < 0 || fy < 0 || fx >= fw || fy >= fh) continue;
                        std::uint8_t& dst = frame[static_cast<std::size_t>(fy * fw + fx)];
                        if (layer > 0 && inMask(tx, ty)) dst = static_cast<std::uint8_t>(at(tx, ty));
                        else dst |= static_cast<std::uint8_t>(at(tx, ty));
                    }
                }
            }
        }
    }
    if (fr.invert != s.invertAll)
        for (auto& v : frame) v ^= 1;
    return frame;
}

std::vector<std::uint8_t> PackBits1(const std::vector<std::uint8_t>& px) {
    std::vector<std::uint8_t> out((px.size() + 7) / 8, 0);
    for (std::size_t i = 0; i < px.size(); ++i)
        if (px[i]) out[i / 8] |= static_cast<std::uint8_t>(0x80u >> (i % 8));
    return out;
}

namespace {

struct Picture {
    std::uint32_t w = 0, h = 0, keyMode = 0;
    std::vector<std::uint8_t> px;
};

Picture BlockPicture(const SisKind2Stream& s, std::uint32_t number) {
    std::vector<const SisKind2Block*> chain;
    const SisKind2Block* b = &s.blocks[number - 1];
    while (b->derived) {
        chain.push_back(b);
        b = &s.blocks[b->base - 1];
    }
    Picture p{8 * b->across, 8 * b->down, b->keyMode, b->pixels};
    if (s.method != 1) std::fill(p.px.begin(), p.px.end(), 0);
    for (auto it = chain.rbegin(); it != chain.rend() && s.method == 1; ++it) {
        for (const SisKind2Region& r : (*it)->regions) {
            const std::uint32_t m = b->across;
            const std::uint32_t rw = 8 * (r.last % m - r.first % m + 1), rh = 8 * (r.last / m - r.first / m + 1);
            const std::uint32_t x0 = 8 * (r.first % m), y0 = 8 * (r.first / m);
            for (std::uint32_t y = 0; y < rh; ++y)
                for (std::uint32_t x = 0; x < rw; ++x) p.px[(y0 + y) * p.w + x0 + x] = r.pixels[y * rw + x];
        }
    }
    return p;
}

}  // namespace

std::vector<std::uint8_t> RenderSisKind2(const SisKind2Stream& s, std::uint32_t f,
                                         const std::vector<std::uint8_t>& previous) {
    const int fw = s.widthByte == 0 ? 256 : 8 * (s.widthByte >> 3);
    const int fh = s.heightByte == 0 ? 256 : 8 * (s.heightByte >> 3);
    const SisKind2Frame& fr = s.frames[f];
    std::vector<std::uint8_t> frame = previous;
    if (fr.background < 4) frame.assign(static_cast<std::size_t>(fw * fh), fr.background < 0 ? 0 : fr.background);
    for (std::uint32_t layer = 0; layer < s.layerCount; ++layer) {
        for (const SisKind2Placement& pl : fr.placements) {
            if (pl.layer != layer) continue;
            const Picture b = BlockPicture(s, pl.block);
            const int tw = pl.transpose ? b.h : b.w, th = pl.transpose ? b.w : b.h;
            auto at = [&](int tx, int ty) -> int {
                const int ux = pl.mirror ? tw - 1 - tx : tx, uy = pl.flip ? th - 1 - ty : ty;
                return pl.transpose ? b.px[ux * b.w + uy] : b.px[uy * b.w + ux];
            };
            auto inMask = [&](int tx, int ty) {
                return layer == 0 || b.keyMode != 0 || InSilhouette(at, tw, th, tx, ty);
            };
            for (int ty = 0; ty < th; ++ty) {
                for (int tx = 0; tx < tw; ++tx) {
                    const int fx = pl.x + tx, fy = pl.y + ty;
                    if (fx < 0 || fy < 0 || fx >= fw || fy >= fh || !inMask(tx, ty)) continue;
                    frame[static_cast<std::size_t>(fy * fw + fx)] = static_cast<std::uint8_t>(at(tx, ty));
                }
            }
        }
    }
    if (fr.invert != (s.invertAll != 0))
        for (auto& v : frame) v ^= 3;
    return frame;
}

std::vector<std::uint8_t> PackBits2(const std::vector<std::uint8_t>& px) {
    std::vector<std::uint8_t> out((px.size() + 3) / 4, 0);
    for (std::size_t i = 0; i < px.size(); ++i)
        out[i / 4] |= static_cast<std::uint8_t>((px[i] & 3) << (6 - 2 * (i % 4)));
    return out;
}

}  // namespace handpix::test
