// Writers of the handset still formats IMG and PHT, and the pixel packing
// that IMG, EBA and the handset raw frames share: values continuous at 1, 2,
// 8, 16 or 24 bits, top row first, no row padding.
#pragma once
#include <cstdint>
#include <vector>

#include "handpix/platform/core/Bytes.h"

namespace handpix {

// Pixel values as a handset file holds them: 0/1 at 1 bit, 0 to 3 at 2 bits,
// indices at 8 bits, RGB 5-6-5 values at 16 bits and 0xRRGGBB at 24 bits.
using HandsetFrame = std::vector<std::uint32_t>;

// A picture or an animation at a handset depth, ready for a container.
struct HandsetPixels {
    int width = 0;
    int height = 0;
    int bits = 16;                          // 1, 2, 8, 16 or 24
    std::vector<HandsetFrame> frames;       // width x height values each
    std::vector<unsigned> delays;           // tenths of a second, per frame (missing: 1)
    bool loop = true;
    std::vector<std::uint16_t> palette;     // 8 bits: the file's own 256 colours (5-6-5); empty: 3-3-2
    int transparent = -1;                   // 8 bits: index; 16 bits: 5-6-5 value; -1: none

    unsigned Delay(std::size_t f) const { return f < delays.size() ? delays[f] : 1; }
};

// Below 8 bits the first pixel goes into the top bits; 16-bit values
// little-endian; 24-bit as red, green, blue.
Bytes PackHandsetPixels(const std::vector<std::uint32_t>& pixels, int bits);

// A 48-byte IMG header ("IMG ", width, height, bits, no palette, the given
// transparent colour) followed by the pixel bytes as given.
Bytes WriteImg(int width, int height, int bits, const Bytes& pixels, std::uint16_t transColor = 256,
               std::uint8_t transparent = 0);

inline constexpr char kPhtPrefix[] = "PHT IMG";  // detection looks for "IMG" before byte 19

// The first frame of p as an IMG file (or behind the 20-byte PHT prefix),
// refused when the readers would refuse it: a size beyond the handset
// screen, a depth they do not decode (the PHT reader has no 2 bits).
EncodeResult EncodeImg(const HandsetPixels& p);
EncodeResult EncodePht(const HandsetPixels& p);

}  // namespace handpix
