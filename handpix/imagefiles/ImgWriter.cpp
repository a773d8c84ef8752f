#include "handpix/imagefiles/ImgWriter.h"

#include <cstring>
#include <string>

#include "handpix/imagefiles/ImgFormat.h"

namespace handpix {

namespace {
void PutU16LE(std::uint8_t* p, unsigned v) {
    p[0] = static_cast<std::uint8_t>(v & 0xFF);
    p[1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
}
}  // namespace

Bytes PackHandsetPixels(const std::vector<std::uint32_t>& pixels, int bits) {
    Bytes out;
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
    const std::size_t each = bits == 16 ? 2 : bits == 24 ? 3 : 1;
    out.reserve(pixels.size() * each);
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

Bytes WriteImg(int width, int height, int bits, const Bytes& pixels, std::uint16_t transColor,
               std::uint8_t transparent) {
    Bytes b(kImgHeaderSize, 0);
    std::memcpy(b.data(), "IMG ", 4);
    PutU16LE(&b[4], static_cast<unsigned>(width));
    PutU16LE(&b[6], static_cast<unsigned>(height));
    PutU16LE(&b[8], static_cast<unsigned>(width));
    b[10] = static_cast<std::uint8_t>(bits);
    PutU16LE(&b[12], transColor);
    b[16] = transparent;
    std::memcpy(&b[17], "Reserved area", 14);
    b.insert(b.end(), pixels.begin(), pixels.end());
    return b;
}

namespace {

EncodeResult EncodeImgFile(const HandsetPixels& p, bool pht) {
    if (p.frames.empty()) return EncodeResult::Fail("no picture to write");
    if (p.width < 1 || p.height < 1 || static_cast<long>(p.width) * p.height > kHandsetMaxPixels)
        return EncodeResult::Fail("a handset picture holds at most " + std::to_string(kHandsetMaxPixels) +
                                  " pixels (178 x 160); this one is " + std::to_string(p.width) + " x " +
                                  std::to_string(p.height));
    const unsigned depths = pht ? kPhtDepths : kImgDepthsAll;
    if (p.bits < 1 || p.bits > 24 || !((depths >> p.bits) & 1u))
        return EncodeResult::Fail(std::string(pht ? "PHT" : "IMG") + " pictures have no " +
                                  std::to_string(p.bits) + "-bit depth");
    if (p.frames[0].size() != static_cast<std::size_t>(p.width) * p.height)
        return EncodeResult::Fail("frame size does not match the picture size");
    const bool keyed = (p.bits == 8 || p.bits == 16) && p.transparent >= 0;
    const std::uint16_t transColor = keyed ? static_cast<std::uint16_t>(p.transparent) : 256;
    Bytes img = WriteImg(p.width, p.height, p.bits, PackHandsetPixels(p.frames[0], p.bits), transColor,
                         keyed && p.bits == 16 ? 1 : 0);
    if (!pht) return {std::move(img), {}};
    Bytes out(kPhtPrefixSize, 0);
    std::memcpy(out.data(), kPhtPrefix, sizeof kPhtPrefix - 1);
    out.insert(out.end(), img.begin(), img.end());
    return {std::move(out), {}};
}

}  // namespace

EncodeResult EncodeImg(const HandsetPixels& p) { return EncodeImgFile(p, false); }
EncodeResult EncodePht(const HandsetPixels& p) { return EncodeImgFile(p, true); }

}  // namespace handpix
