#include "handpix/imagefiles/GifLzw.h"

#include <algorithm>

namespace handpix::gif {

void ExpandColourMap(const ColourMap& map, Palette& out) {
    for (int i = 0; i < kMapEntries; ++i) out.entry[i] = Rgb{map.red[i], map.green[i], map.blue[i]};
    out.entry[kOutOfMap] = Rgb{0, 0, 0};
}

int GifInput::SubBlock(std::uint8_t* dst) {
    const int n = Byte();
    if (n < 0) return -1;
    m_zeroBlock = n == 0;
    if (n == 0) return 0;
    return Read(dst, static_cast<std::size_t>(n)) ? n : -1;
}

void GifInput::SkipSubBlocks() {
    std::uint8_t scratch[kMaxSubBlock];
    while (SubBlock(scratch) > 0) {
    }
}

bool LzwDecoder::Start(int minCodeBits) {
    if (minCodeBits < 0 || minCodeBits >= kMaxCodeBits) return false;
    m_minCodeBits = minCodeBits;
    m_clear = 1 << minCodeBits;
    m_end = m_clear + 1;
    ResetTable();
    m_first = m_old = 0;
    m_fresh = true;
    m_acc = 0;
    m_nbits = m_pos = m_len = 0;
    m_done = false;
    return true;
}

int NextRow(int y, int& pass, int height, bool interlaced) {
    if (!interlaced) return y + 1 < height ? y + 1 : -1;
    static constexpr int kStep[4] = {8, 8, 4, 2};
    static constexpr int kStart[4] = {0, 4, 2, 1};
    y += kStep[pass];
    while (y >= height) {
        if (++pass > 3) return -1;
        y = kStart[pass];
    }
    return y;
}

int LzwDecoder::ExhaustedIndex() const {
    return m_done && m_nbits == 0 && m_pos >= m_len && !m_fresh && m_sp == 0 ? m_suffix[0] : -1;
}

// Suffix entries at and above the clear code are left as they are: only codes
// the table has defined since the reset are meant to reach them.
void LzwDecoder::ResetTable() {
    m_codeBits = m_minCodeBits + 1;
    m_limit = 2 * m_clear;
    m_next = m_clear + 2;
    m_sp = 0;
    std::fill(m_prefix, m_prefix + kTableSize, std::uint16_t{0});
    for (int i = 0; i < m_clear; ++i) m_suffix[i] = static_cast<std::uint8_t>(i);
}

// Loads bytes until `need` bits are buffered, crossing into following
// sub-blocks. After the terminator has been seen, an empty buffer yields
// code 0 and a part-filled one is an error.
LzwDecoder::Refill LzwDecoder::RefillSlow(GifInput& in, int need) {
    while (m_nbits < need) {
        if (m_pos < m_len) {
            m_acc |= static_cast<std::uint64_t>(m_block[m_pos++]) << m_nbits;
            m_nbits += 8;
            continue;
        }
        if (m_done) return m_nbits == 0 ? Refill::noBits : Refill::error;
        const int n = in.SubBlock(m_block);
        if (n < 0) return Refill::error;
        m_done = n == 0;
        m_pos = 0;
        m_len = n;
    }
    return Refill::ok;
}

namespace {
inline std::uint32_t LoadLe32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline void Put(std::uint8_t*& out, const Rgb& c) {
    out[0] = c.r;
    out[1] = c.g;
    out[2] = c.b;
    out += 3;
}
}  // namespace

// Once the terminator has been read and no bits are left, every code reads
// as 0, a literal whose string is suffix[0]; a large picture over a short
// stream would otherwise be decoded one code per pixel. The run is written at
// once, entering the same table entries the codes would have entered.
void LzwDecoder::FillExhausted(const Rgb* colours, std::uint8_t*& out, int count, int& codeBits, int& next, int& limit,
                               int& first, int& old) {
    first = m_suffix[0];
    for (int i = 0; i < count && next < kTableSize; ++i) {
        m_prefix[next] = static_cast<std::uint16_t>(old);
        m_suffix[next] = static_cast<std::uint8_t>(first);
        old = 0;
        if (++next >= limit && limit < kTableSize) {
            limit *= 2;
            ++codeBits;
        }
    }
    if (count > 0) old = 0;
    const Rgb c = colours[first];
    for (int i = 0; i < count; ++i) Put(out, c);
}

// The stores into dst may alias any member (they are bytes), so the hot state
// is copied into locals on entry and written back on every exit.
int LzwDecoder::Decode(GifInput& in, const Palette& palette, std::uint8_t* dst, int count, LzwStop& stop) {
    stop = LzwStop::none;
    if (count <= 0) return 0;
    const Rgb* colours = palette.entry;
    std::uint8_t* const stack = m_stack;
    std::uint16_t* const prefix = m_prefix;
    std::uint8_t* const suffix = m_suffix;
    const int clear = m_clear;
    const int end = m_end;

    int sp = m_sp;
    std::uint64_t acc = m_acc;
    int nbits = m_nbits;
    int pos = m_pos;
    int len = m_len;
    int codeBits = m_codeBits;
    int next = m_next;
    int limit = m_limit;
    int first = m_first;
    int old = m_old;
    bool fresh = m_fresh;

    std::uint8_t* out = dst;
    std::uint8_t* const outEnd = dst + 3 * static_cast<std::size_t>(count);

    auto save = [&] {
        m_sp = sp;
        m_acc = acc;
        m_nbits = nbits;
        m_pos = pos;
        m_len = len;
        m_codeBits = codeBits;
        m_next = next;
        m_limit = limit;
        m_first = first;
        m_old = old;
        m_fresh = fresh;
    };
    // The next code, or -1 when the data cannot supply one.
    auto readCode = [&]() -> int {
        if (nbits < codeBits) {
            if (len - pos >= 4) {
                acc |= static_cast<std::uint64_t>(LoadLe32(m_block + pos)) << nbits;
                pos += 4;
                nbits += 32;
            } else {
                m_acc = acc;
                m_nbits = nbits;
                m_pos = pos;
                m_len = len;
                const Refill r = RefillSlow(in, codeBits);
                acc = m_acc;
                nbits = m_nbits;
                pos = m_pos;
                len = m_len;
                if (r == Refill::noBits) return 0;
                if (r == Refill::error) return -1;
            }
        }
        const int code = static_cast<int>(acc & ((1u << codeBits) - 1u));
        acc >>= codeBits;
        nbits -= codeBits;
        return code;
    };
    while (out < outEnd) {
        if (sp > 0) {
            const int n = std::min(sp, static_cast<int>((outEnd - out) / 3));
            for (int i = 0; i < n; ++i) Put(out, colours[stack[--sp]]);
            continue;
        }
        if (m_done && nbits == 0 && pos >= len && !fresh) {
            FillExhausted(colours, out, static_cast<int>((outEnd - out) / 3), codeBits, next, limit, first, old);
            break;
        }
        int code = readCode();
        if (code < 0) {
            stop = LzwStop::error;
            break;
        }
        if (fresh || code == clear) {
            // After a start, clear codes are passed over; after a clear, the
            // next code is taken once. Either way it is a pixel as it stands.
            if (fresh) {
                while (code == clear) code = readCode();
            } else {
                save();
                ResetTable();
                sp = m_sp;
                codeBits = m_codeBits;
                next = m_next;
                limit = m_limit;
                code = readCode();
            }
            if (code < 0) {
                stop = LzwStop::error;
                break;
            }
            fresh = false;
            first = old = code;
            Put(out, colours[code < kMapEntries ? code : kOutOfMap]);
            continue;
        }
        if (code == end) {
            if (!in.ZeroBlock()) in.SkipSubBlocks();
            stop = LzwStop::end;
            break;
        }
        const int incoming = code;
        if (code >= next) {
            // The code being defined right now: its string is the previous
            // one plus that string's own first value.
            stack[sp++] = static_cast<std::uint8_t>(first);
            code = old;
        }
        // A well-formed chain is shorter than the table; anything longer loops.
        while (code >= clear && sp < kStackSize - 1 && prefix[code] != code) {
            stack[sp++] = suffix[code];
            code = prefix[code];
        }
        if (code >= clear) {
            stop = LzwStop::error;
            break;
        }
        first = suffix[code];
        stack[sp++] = static_cast<std::uint8_t>(first);
        if (next < kTableSize) {
            prefix[next] = static_cast<std::uint16_t>(old);
            suffix[next] = static_cast<std::uint8_t>(first);
            if (++next >= limit && limit < kTableSize) {
                limit *= 2;
                ++codeBits;
            }
        }
        old = incoming;
    }
    save();
    return static_cast<int>((out - dst) / 3);
}

}  // namespace handpix::gif
