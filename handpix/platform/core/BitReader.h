// Bit readers over bounded memory, one per bit order. A read past the end
// fails (returns false) rather than inventing bits.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace handpix {

// Entropy-coded JPEG data holds FF only as FF 00 (a data byte) or in a
// marker, so eight bytes without an FF can be taken whole. Loads the eight
// bytes at p as a big-endian word into w; false, w unset, when one is FF.
inline bool LoadEightWithoutFF(const std::uint8_t* p, std::uint64_t& w) {
    std::uint64_t raw;
    std::memcpy(&raw, p, sizeof raw);
    const std::uint64_t t = ~raw;  // an FF byte is a zero byte of t
    if (((t - 0x0101010101010101ull) & ~t & 0x8080808080808080ull) != 0) return false;
    w = __builtin_bswap64(raw);
    return true;
}

// Most significant bit first (the handset bit strings).
class MsbBitReader {
public:
    MsbBitReader() = default;
    MsbBitReader(const void* data, std::size_t size, std::size_t startBit = 0)
        : m_data(static_cast<const std::uint8_t*>(data)), m_bits(data ? size * 8 : 0), m_pos(startBit) {}

    std::size_t BitPosition() const { return m_pos; }
    std::size_t BitsLeft() const { return m_pos < m_bits ? m_bits - m_pos : 0; }
    void SetBitPosition(std::size_t pos) { m_pos = pos; }

    // Reads n (0..32) bits into v, first bit most significant.
    bool Read(unsigned n, std::uint32_t& v) {
        if (n > 32 || n > BitsLeft()) return false;
        std::uint32_t r = 0;
        for (unsigned i = 0; i < n; ++i, ++m_pos)
            r = (r << 1) | ((m_data[m_pos >> 3] >> (7 - (m_pos & 7))) & 1u);
        v = r;
        return true;
    }
    bool Bit(std::uint32_t& v) { return Read(1, v); }

    // The next n (1..25) bits without consuming them, for table lookups of
    // variable-length codes. Bits past the end read as 0 here only: the
    // caller checks a code's length against BitsLeft() before Skip.
    std::uint32_t PeekPadded(unsigned n) const {
        if (n == 0 || n > 25) return 0;
        const std::size_t byte = m_pos >> 3;
        const std::size_t bytes = m_bits >> 3;
        std::uint32_t v = 0;
        for (std::size_t i = 0; i < 4; ++i) v = (v << 8) | (byte + i < bytes ? m_data[byte + i] : 0u);
        return (v << (m_pos & 7)) >> (32 - n);
    }
    bool Skip(std::size_t n) {
        if (n > BitsLeft()) return false;
        m_pos += n;
        return true;
    }

private:
    const std::uint8_t* m_data = nullptr;
    std::size_t m_bits = 0;
    std::size_t m_pos = 0;
};

// Least significant bit first (GIF LZW codes).
class LsbBitReader {
public:
    LsbBitReader() = default;
    LsbBitReader(const void* data, std::size_t size)
        : m_data(static_cast<const std::uint8_t*>(data)), m_bits(data ? size * 8 : 0) {}

    std::size_t BitsLeft() const { return m_pos < m_bits ? m_bits - m_pos : 0; }

    bool Read(unsigned n, std::uint32_t& v) {
        if (n > 32 || n > BitsLeft()) return false;
        std::uint32_t r = 0;
        for (unsigned i = 0; i < n; ++i, ++m_pos)
            r |= ((m_data[m_pos >> 3] >> (m_pos & 7)) & 1u) << i;
        v = r;
        return true;
    }

private:
    const std::uint8_t* m_data = nullptr;
    std::size_t m_bits = 0;
    std::size_t m_pos = 0;
};

}  // namespace handpix
