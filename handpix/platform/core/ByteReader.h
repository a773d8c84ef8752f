// Bounded little/big-endian reader over caller memory. Every read reports
// failure instead of reading past the end; once failed, the reader stays
// failed so a chain of reads can be checked once.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace handpix {

class ByteReader {
public:
    ByteReader() = default;
    ByteReader(const void* data, std::size_t size)
        : m_data(static_cast<const std::uint8_t*>(data)), m_size(data ? size : 0) {}

    std::size_t Size() const { return m_size; }
    std::size_t Position() const { return m_pos; }
    std::size_t Remaining() const { return m_size - m_pos; }
    bool Failed() const { return m_failed; }
    bool AtEnd() const { return m_pos >= m_size; }
    const std::uint8_t* Data() const { return m_data; }
    const std::uint8_t* Current() const { return m_data + m_pos; }

    bool Has(std::size_t n) const { return !m_failed && n <= m_size - m_pos; }

    bool Seek(std::size_t pos) {
        if (m_failed || pos > m_size) return Fail();
        m_pos = pos;
        return true;
    }
    bool Skip(std::size_t n) {
        if (!Has(n)) return Fail();
        m_pos += n;
        return true;
    }
    bool Read(void* out, std::size_t n) {
        if (!Has(n)) return Fail();
        if (n) std::memcpy(out, m_data + m_pos, n);
        m_pos += n;
        return true;
    }
    // A view of the next n bytes, consumed; null when they are not all there.
    const std::uint8_t* Take(std::size_t n) {
        if (!Has(n)) { Fail(); return nullptr; }
        const std::uint8_t* p = m_data + m_pos;
        m_pos += n;
        return p;
    }
    bool U8(std::uint8_t& v) {
        if (!Has(1)) return Fail();
        v = m_data[m_pos++];
        return true;
    }
    bool U16LE(std::uint16_t& v) {
        if (!Has(2)) return Fail();
        v = static_cast<std::uint16_t>(m_data[m_pos] | (m_data[m_pos + 1] << 8));
        m_pos += 2;
        return true;
    }
    bool U16BE(std::uint16_t& v) {
        if (!Has(2)) return Fail();
        v = static_cast<std::uint16_t>((m_data[m_pos] << 8) | m_data[m_pos + 1]);
        m_pos += 2;
        return true;
    }
    bool U32LE(std::uint32_t& v) {
        if (!Has(4)) return Fail();
        v = static_cast<std::uint32_t>(m_data[m_pos]) | (static_cast<std::uint32_t>(m_data[m_pos + 1]) << 8) |
            (static_cast<std::uint32_t>(m_data[m_pos + 2]) << 16) |
            (static_cast<std::uint32_t>(m_data[m_pos + 3]) << 24);
        m_pos += 4;
        return true;
    }
    bool U32BE(std::uint32_t& v) {
        if (!Has(4)) return Fail();
        v = (static_cast<std::uint32_t>(m_data[m_pos]) << 24) |
            (static_cast<std::uint32_t>(m_data[m_pos + 1]) << 16) |
            (static_cast<std::uint32_t>(m_data[m_pos + 2]) << 8) | m_data[m_pos + 3];
        m_pos += 4;
        return true;
    }
    bool S16LE(std::int16_t& v) {
        std::uint16_t u;
        if (!U16LE(u)) return false;
        v = static_cast<std::int16_t>(u);
        return true;
    }
    bool S32LE(std::int32_t& v) {
        std::uint32_t u;
        if (!U32LE(u)) return false;
        v = static_cast<std::int32_t>(u);
        return true;
    }

private:
    bool Fail() {
        m_failed = true;
        return false;
    }
    const std::uint8_t* m_data = nullptr;
    std::size_t m_size = 0;
    std::size_t m_pos = 0;
    bool m_failed = false;
};

}  // namespace handpix
