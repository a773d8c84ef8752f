#include "tests/support/EbaWriter.h"

namespace handpix::test {

FileBytes PackHandsetPixels(const std::vector<std::uint32_t>& pixels, int bits) {
    FileBytes out;
    if (bits == 1 || bits == 2) {
        const std::size_t perByte = 8 / static_cast<std::size_t>(bits);
        out.assign((pixels.size() + perByte - 1) / perByte, 0);
        const std::uint32_t mask = (1u << bits) - 1;
        for (std::size_t i = 0; i < pixels.size(); ++i) {
            const int shift = 8 - bits * static_cast<int>(i % perByte + 1);
            out[i / perByte] |= static_cast<std::uint8_t>((pixels[i] & mask) << shift);
        }
        return out;
    }
    for (std::uint32_t v : pixels) {
        if (bits == 16) {
            out.push_back(static_cast<std::uint8_t>(v & 0xFF));
            out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
        } else if (bits == 24) {
            out.push_back(static_cast<std::uint8_t>((v >> 16) & 0xFF));
            out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
            out.push_back(static_cast<std::uint8_t>(v & 0xFF));
        } else {
            out.push_back(static_cast<std::uint8_t>(v & 0xFF));
        }
    }
    return out;
}

FileBytes WriteEba(AnimHeader h, const std::vector<FileBytes>& frames) {
    h.signature[0] = 'A';
    h.signature[1] = 'N';
    h.signature[2] = 'I';
    FileBytes b = AnimHeaderBytes(h);
    for (const FileBytes& f : frames) b.insert(b.end(), f.begin(), f.end());
    return b;
}

FileBytes WriteImg(int width, int height, int bits, const FileBytes& pixels) {
    FileBytes b(48, 0);
    b[0] = 'I';
    b[1] = 'M';
    b[2] = 'G';
    b[3] = ' ';
    b[4] = static_cast<std::uint8_t>(width & 0xFF);
    b[5] = static_cast<std::uint8_t>((width >> 8) & 0xFF);
    b[6] = static_cast<std::uint8_t>(height & 0xFF);
    b[7] = static_cast<std::uint8_t>((height >> 8) & 0xFF);
    b[8] = b[4];
    b[9] = b[5];
    b[10] = static_cast<std::uint8_t>(bits);
    b[12] = 0x00;
    b[13] = 0x01;  // no transparent colour
    b.insert(b.end(), pixels.begin(), pixels.end());
    return b;
}

}  // namespace handpix::test
