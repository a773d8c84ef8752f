#include "tests/support/SniWriter.h"

#include <cstdio>

namespace handpix::test {

namespace {
void Put16(FileBytes& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v & 0xFF);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
}  // namespace

FileBytes AnimHeaderBytes(const AnimHeader& h) {
    FileBytes b(150);
    for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<std::uint8_t>(h.reservedSeed + i);
    for (int i = 0; i < 3; ++i) b[i] = static_cast<std::uint8_t>(h.signature[i]);
    Put16(b, 4, static_cast<std::uint16_t>(h.width));
    Put16(b, 6, static_cast<std::uint16_t>(h.height));
    b[10] = h.bits;
    b[11] = static_cast<std::uint8_t>(h.palette);
    Put16(b, 12, h.transColor);
    b[16] = h.transparent;
    b[48] = h.frameCount;
    return b;
}

FileBytes WriteSni(const AnimHeader& h, const FileBytes& stream,
                   const std::optional<std::vector<std::uint16_t>>& palette) {
    FileBytes b = AnimHeaderBytes(h);
    b.push_back(0);
    b.push_back(0);
    b.insert(b.end(), stream.begin(), stream.end());
    if (palette) {
        for (std::size_t i = 0; i < 256; ++i) {
            const std::uint16_t c = i < palette->size() ? (*palette)[i] : 0;
            b.push_back(static_cast<std::uint8_t>(c & 0xFF));
            b.push_back(static_cast<std::uint8_t>(c >> 8));
        }
    }
    return b;
}

bool WriteBytesToFile(const std::string& path, const FileBytes& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace handpix::test
