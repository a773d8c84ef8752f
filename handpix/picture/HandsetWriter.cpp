#include "handpix/picture/HandsetWriter.h"

#include <string>

#include "handpix/picture/PictureHandset.h"

namespace handpix {

namespace {
void Put16(Bytes& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v & 0xFF);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
}  // namespace

Bytes AnimHeaderBytes(const AnimHeader& h) {
    Bytes b(handset_picture::kAnimHeaderSize, 0);
    if (h.reservedSeed >= 0)
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

Bytes WriteSni(const AnimHeader& h, const Bytes& stream, const std::optional<std::vector<std::uint16_t>>& palette) {
    Bytes b = AnimHeaderBytes(h);
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

Bytes WriteEba(AnimHeader h, const std::vector<Bytes>& frames) {
    h.signature[0] = 'A';
    h.signature[1] = 'N';
    h.signature[2] = 'I';
    Bytes b = AnimHeaderBytes(h);
    for (const Bytes& f : frames) b.insert(b.end(), f.begin(), f.end());
    return b;
}

}  // namespace handpix
