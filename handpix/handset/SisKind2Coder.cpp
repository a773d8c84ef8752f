#include "handpix/handset/SisKind2Coder.h"

#include <cstring>

namespace handpix {

namespace {

class PlaneDecoder {
public:
    explicit PlaneDecoder(MsbBitReader& r) : m_r(r) {}

    // One pixel in context c; false when the bits run out.
    bool Pixel(unsigned c, std::uint8_t& v) {
        const unsigned k = m_param[c];
        if (m_remaining[k]) return Correct(c, v);
        if (m_miss[k]) return Miss(c, v);
        return ReadRun(c, v);
    }

private:
    bool Correct(unsigned c, std::uint8_t& v) {
        const unsigned k = m_param[c];
        v = m_pred[c];
        if (--m_remaining[k] == 0 && !m_miss[k] && k < kSisKind2RunParameters - 1) m_param[c] = k + 1;
        return true;
    }
    bool Miss(unsigned c, std::uint8_t& v) {
        const unsigned k = m_param[c];
        v = m_pred[c] ^ 1;
        if (k > 0) m_param[c] = k - 1;
        else m_pred[c] ^= 1;
        m_miss[k] = false;
        return true;
    }
    bool ReadRun(unsigned c, std::uint8_t& v) {
        const unsigned k = m_param[c];
        // Every 32 codes the coder forgets the runs still open.
        if (m_codes == kSisKind2CodesPerClearing) {
            std::memset(m_remaining, 0, sizeof m_remaining);
            std::memset(m_miss, 0, sizeof m_miss);
            m_codes = 0;
        }
        std::uint32_t bit = 0, run = 0;
        if (!m_r.Bit(bit)) return false;
        if (bit == 0) {
            run = 1u << k;
        } else {
            if (!m_r.Read(k, run)) return false;
            m_miss[k] = true;
        }
        ++m_codes;
        if (run == 0) return Miss(c, v);
        m_remaining[k] = static_cast<std::uint16_t>(run);
        return Correct(c, v);
    }

    MsbBitReader& m_r;
    std::uint8_t m_pred[kSisKind2Contexts] = {};
    std::uint8_t m_param[kSisKind2Contexts] = {};
    std::uint16_t m_remaining[kSisKind2RunParameters] = {};
    bool m_miss[kSisKind2RunParameters] = {};
    unsigned m_codes = 0;
};

// Plane 0 fills bits 7, 5, 3, 1 (shift 1), plane 1 bits 6, 4, 2, 0.
Status DecodePlane(MsbBitReader& r, std::uint32_t w, std::uint32_t h, std::uint8_t* packed, unsigned shift) {
    PlaneDecoder d(r);
    // Index x + 1 so that the left neighbour of column 0 reads 0.
    std::uint8_t rows[2][kSisKind2MaxBlockSide + 1] = {};
    std::uint8_t* above = rows[0];
    std::uint8_t* cur = rows[1];
    const std::size_t stride = w / 4;
    for (std::uint32_t y = 0; y < h; ++y) {
        std::uint8_t* out = packed + y * stride;
        for (std::uint32_t x = 0; x < w; ++x) {
            const unsigned left = cur[x];
            const unsigned c = y == 0 ? left : 4u * above[x] + 2u * above[x + 1] + left;
            std::uint8_t v = 0;
            if (!d.Pixel(c, v)) return Status::truncated;
            cur[x + 1] = v;
            out[x >> 2] |= static_cast<std::uint8_t>(v << (6 - 2 * (x & 3) + shift));
        }
        std::uint8_t* t = above;
        above = cur;
        cur = t;
        cur[0] = 0;
    }
    return Status::ok;
}

}  // namespace

Status DecodeSisKind2Planes(MsbBitReader& r, std::uint32_t w, std::uint32_t h, std::uint8_t* packed) {
    if (w % 4 || w > kSisKind2MaxBlockSide || h > kSisKind2MaxBlockSide) return Status::invalid;
    const std::size_t bytes = std::size_t{w} * h / 4;
    std::memset(packed, 0, bytes);
    for (unsigned plane = 0; plane < 2; ++plane) {
        const Status s = DecodePlane(r, w, h, packed, plane == 0 ? 1 : 0);
        if (!Ok(s)) return s;
    }
    for (std::size_t i = 0; i < bytes; ++i) packed[i] ^= static_cast<std::uint8_t>((packed[i] >> 1) & 0x55);
    r.SetBitPosition((r.BitPosition() + 7) & ~std::size_t{7});
    return Status::ok;
}

}  // namespace handpix
