// Most-significant-bit-first bit writer of the SIS stream writers: the
// mirror of the decoders' MsbBitReader.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "handpix/platform/core/Bytes.h"

namespace handpix {

class SisBitWriter {
public:
    void Put(std::uint32_t value, unsigned bits) {
        for (unsigned i = bits; i-- > 0;) PutBit((value >> i) & 1u);
    }
    void PutBit(unsigned bit) {
        if (m_bits % 8 == 0) m_bytes.push_back(0);
        if (bit) m_bytes.back() |= static_cast<std::uint8_t>(0x80u >> (m_bits % 8));
        ++m_bits;
    }
    void Align() { m_bits = (m_bits + 7) & ~std::size_t{7}; }
    std::size_t Bits() const { return m_bits; }
    const Bytes& Data() const { return m_bytes; }

private:
    Bytes m_bytes;
    std::size_t m_bits = 0;
};

}  // namespace handpix
