#include "handpix/handset/SisKind2Writer.h"

#include <cstdlib>

namespace handpix {

namespace {

// Run codes are decided late: a code opens when the decoder would read it
// and closes once the pixels it covers are known, so the encoder replays the
// decoder's state exactly and never needs to look ahead.
class PlaneEncoder {
public:
    void Pixel(unsigned c, std::uint8_t v) {
        const unsigned k = m_param[c];
        const std::uint8_t p = m_pred[c];
        if (!m_open[k]) {
            if (m_codes == 32) {
                for (unsigned j = 0; j < 16; ++j)
                    if (m_open[j]) CloseWithMiss(j);
                m_codes = 0;
            }
            ++m_codes;
            m_open[k] = true;
            m_count[k] = 0;
            m_token[k] = m_tokens.size();
            m_tokens.push_back({k, 0, false});
        }
        if (v == p) {
            if (++m_count[k] == (1u << k)) {
                m_tokens[m_token[k]].full = true;
                m_open[k] = false;
                if (k < 15) m_param[c] = static_cast<std::uint8_t>(k + 1);
            }
            return;
        }
        CloseWithMiss(k);
        if (k > 0) m_param[c] = static_cast<std::uint8_t>(k - 1);
        else m_pred[c] ^= 1;
    }

    void Finish(SisBitWriter& w) {
        for (unsigned j = 0; j < 16; ++j)
            if (m_open[j]) CloseWithMiss(j);
        for (const Token& t : m_tokens) {
            if (t.full) {
                w.PutBit(0);
            } else {
                w.PutBit(1);
                w.Put(t.run, t.k);
            }
        }
    }

private:
    struct Token {
        unsigned k;
        std::uint32_t run;
        bool full;
    };
    void CloseWithMiss(unsigned k) {
        m_tokens[m_token[k]].run = m_count[k];
        m_open[k] = false;
    }

    std::uint8_t m_pred[8] = {};
    std::uint8_t m_param[8] = {};
    bool m_open[16] = {};
    std::uint32_t m_count[16] = {};
    std::size_t m_token[16] = {};
    unsigned m_codes = 0;
    std::vector<Token> m_tokens;
};

void EncodePlane(SisBitWriter& w, const std::vector<std::uint8_t>& bits, std::uint32_t width, std::uint32_t h) {
    PlaneEncoder e;
    const int iw = static_cast<int>(width);
    auto at = [&](int x, int y) -> unsigned { return (x < 0 || y < 0) ? 0u : bits[y * iw + x]; };
    for (int y = 0; y < static_cast<int>(h); ++y) {
        for (int x = 0; x < iw; ++x) {
            const unsigned c = y == 0 ? at(x - 1, y) : 4 * at(x - 1, y - 1) + 2 * at(x, y - 1) + at(x - 1, y);
            e.Pixel(c, static_cast<std::uint8_t>(bits[y * iw + x]));
        }
    }
    e.Finish(w);
}

void PutPlanes(SisBitWriter& w, const std::vector<std::uint8_t>& px, std::uint32_t width, std::uint32_t h) {
    std::vector<std::uint8_t> high(px.size()), gray(px.size());
    for (std::size_t i = 0; i < px.size(); ++i) {
        high[i] = (px[i] >> 1) & 1;
        gray[i] = (px[i] & 1) ^ high[i];
    }
    EncodePlane(w, high, width, h);
    EncodePlane(w, gray, width, h);
    w.Align();
}

void PutU16(std::vector<std::uint8_t>& out, std::size_t v) {
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}

void PutBlock(std::vector<std::uint8_t>& out, const SisKind2Stream& s, const SisKind2Block& b) {
    out.push_back(b.cache ? 0x80 : 0x00);
    if (!b.derived) {
        out.push_back(static_cast<std::uint8_t>((b.keyMode & 7) << 4));
        if (b.keyMode == 2) out.push_back(b.keyByte);
        out.push_back(static_cast<std::uint8_t>(b.across));
        out.push_back(static_cast<std::uint8_t>(b.down));
        const std::vector<std::uint8_t> coded = EncodeSisKind2Planes(b.pixels, 8 * b.across, 8 * b.down);
        PutU16(out, coded.size());
        out.insert(out.end(), coded.begin(), coded.end());
        return;
    }
    out.push_back(static_cast<std::uint8_t>(0x80 | b.base));
    out.push_back(b.change ? 0x80 : 0x00);
    if (!b.change) return;
    // The region size needs the root's width in cells.
    const SisKind2Block* root = &b;
    while (root->derived) root = &s.blocks[root->base - 1];
    const std::uint32_t m = root->across;
    SisBitWriter w;
    for (const SisKind2Region& r : b.regions) {
        w.Put(r.first, 8);
        w.Put(r.last, 8);
        PutPlanes(w, r.pixels, 8 * (r.last % m - r.first % m + 1), 8 * (r.last / m - r.first / m + 1));
    }
    PutU16(out, b.regions.size());
    PutU16(out, w.Data().size());
    out.insert(out.end(), w.Data().begin(), w.Data().end());
}

void PutFrame(std::vector<std::uint8_t>& out, const SisKind2Frame& f) {
    out.push_back(static_cast<std::uint8_t>((f.invert ? 0x80 : 0) | (f.background >= 0 ? 0x20 : 0)));
    if (f.background >= 0) out.push_back(static_cast<std::uint8_t>(f.background));
    out.push_back(static_cast<std::uint8_t>(f.placements.size()));
    for (const SisKind2Placement& p : f.placements) {
        out.push_back(static_cast<std::uint8_t>(p.block));
        out.push_back(static_cast<std::uint8_t>(p.layer));
        out.push_back(static_cast<std::uint8_t>((p.x < 0 ? 0x80 : 0) | (p.y < 0 ? 0x40 : 0) | (p.mirror ? 0x20 : 0) |
                                                (p.flip ? 0x10 : 0) | (p.transpose ? 0x08 : 0) |
                                                (p.extra1 >= 0 ? 0x04 : 0) | (p.extra2 >= 0 ? 0x02 : 0)));
        out.push_back(static_cast<std::uint8_t>(std::abs(p.x)));
        out.push_back(static_cast<std::uint8_t>(std::abs(p.y)));
        if (p.extra1 >= 0) out.push_back(static_cast<std::uint8_t>(p.extra1));
        if (p.extra2 >= 0) out.push_back(static_cast<std::uint8_t>(p.extra2));
    }
}

}  // namespace

std::vector<std::uint8_t> EncodeSisKind2PlaneBits(const std::vector<std::uint8_t>& bits, std::uint32_t w,
                                                  std::uint32_t h) {
    SisBitWriter bw;
    EncodePlane(bw, bits, w, h);
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < bw.Bits(); ++i) out.push_back((bw.Data()[i / 8] >> (7 - i % 8)) & 1);
    return out;
}

std::vector<std::uint8_t> EncodeSisKind2Planes(const std::vector<std::uint8_t>& px, std::uint32_t w,
                                               std::uint32_t h) {
    SisBitWriter bw;
    PutPlanes(bw, px, w, h);
    return bw.Data();
}

std::vector<std::uint8_t> WriteSisKind2(const SisKind2Stream& s) {
    std::vector<std::uint8_t> out = {'S', 'I', 'S', s.byte3, 0, 0, s.widthByte, s.heightByte, s.invertAll,
                                     static_cast<std::uint8_t>(s.frames.size()), s.attribute, 0};
    if (s.frameDelays.empty()) {
        out.push_back(s.delay);
    } else {
        out.push_back(static_cast<std::uint8_t>(0x80 | s.delay));
        out.insert(out.end(), s.frameDelays.begin(), s.frameDelays.end());
    }
    out.push_back(s.layerCount);
    out.push_back(s.flags);
    out.push_back(s.kindByte);
    out.push_back(s.method);
    out.push_back(static_cast<std::uint8_t>(s.blocks.size()));
    for (const SisKind2Block& b : s.blocks) PutBlock(out, s, b);
    for (const SisKind2Frame& f : s.frames) PutFrame(out, f);
    return out;
}

}  // namespace handpix
