#include "handpix/handset/SisKind2Coder.h"

#include <cstring>

namespace handpix {

namespace {

// The coder's state for one plane. It lives in locals of DecodePlane so that
// the compiler can keep it in registers while pixels are stored.
struct CoderState {
    std::uint8_t pred[kSisKind2Contexts] = {};
    std::uint8_t param[kSisKind2Contexts] = {};
    std::uint16_t remaining[kSisKind2RunParameters] = {};
    bool miss[kSisKind2RunParameters] = {};
    unsigned codes = 0;
};

// Reads the run code for parameter k: "0" is a run of 2^k correct pixels,
// "1" and k bits a run of r correct pixels and then a miss. Every 32 codes
// the coder forgets the runs still open.
inline bool ReadRunCode(MsbBitReader& r, CoderState& st, unsigned k) {
    if (st.codes == kSisKind2CodesPerClearing) {
        std::memset(st.remaining, 0, sizeof st.remaining);
        std::memset(st.miss, 0, sizeof st.miss);
        st.codes = 0;
    }
    std::uint32_t bit = 0, run = 0;
    if (!r.Bit(bit)) return false;
    if (bit == 0) {
        run = 1u << k;
    } else {
        if (!r.Read(k, run)) return false;
        st.miss[k] = true;
    }
    ++st.codes;
    st.remaining[k] = static_cast<std::uint16_t>(run);
    return true;
}

// Plane 0 fills bits 7, 5, 3, 1 (shift 1), plane 1 bits 6, 4, 2, 0.
Status DecodePlane(MsbBitReader& r, std::uint32_t w, std::uint32_t h, std::uint8_t* packed, unsigned shift) {
    CoderState st;
    // Index x + 1 so that the left neighbour of column 0 reads 0.
    std::uint8_t rows[2][kSisKind2MaxBlockSide + 1] = {};
    std::uint8_t* above = rows[0];
    std::uint8_t* cur = rows[1];
    const std::size_t stride = w / 4;
    for (std::uint32_t y = 0; y < h; ++y) {
        std::uint8_t* out = packed + y * stride;
        const unsigned aboveWeight = y == 0 ? 0 : 1;  // row 0 sees only its left neighbour
        for (std::uint32_t x = 0; x < w; x += 4) {
            unsigned acc = 0;
            for (unsigned j = 0; j < 4; ++j) {
                const std::uint32_t i = x + j;
                const unsigned c = aboveWeight * (4u * above[i] + 2u * above[i + 1]) + cur[i];
                const unsigned k = st.param[c];
                if (!st.remaining[k] && !st.miss[k] && !ReadRunCode(r, st, k)) return Status::truncated;
                unsigned v;
                if (st.remaining[k]) {
                    v = st.pred[c];
                    if (--st.remaining[k] == 0 && !st.miss[k] && k < kSisKind2RunParameters - 1)
                        st.param[c] = static_cast<std::uint8_t>(k + 1);
                } else {
                    v = st.pred[c] ^ 1u;
                    if (k > 0) st.param[c] = static_cast<std::uint8_t>(k - 1);
                    else st.pred[c] ^= 1;
                    st.miss[k] = false;
                }
                cur[i + 1] = static_cast<std::uint8_t>(v);
                acc |= v << (6 - 2 * j + shift);
            }
            out[x >> 2] |= static_cast<std::uint8_t>(acc);
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
