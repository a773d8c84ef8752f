// Most-significant-bit-first bit writer for the test stream encoders.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace handpix::test {

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
    void PutBits(const std::vector<std::uint8_t>& bits) {
        for (std::uint8_t b : bits) PutBit(b);
    }
    void Align() { m_bits = (m_bits + 7) & ~std::size_t{7}; }
    std::size_t Bits() const { return m_bits; }
    const std::vector<std::uint8_t>& Bytes() const { return m_bytes; }

private:
    std::vector<std::uint8_t> m_bytes;
    std::size_t m_bits = 0;
};

}  // namespace handpix::test
