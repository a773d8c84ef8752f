// libjpeg's YCbCr to RGB conversion (BT.601 full range, 16-bit fixed point,
// each chroma term rounded the way libjpeg's lookup tables hold it). Used
// wherever our pixels must equal the ones libjpeg would give.
#pragma once
#include <cstdint>

namespace handpix {

inline std::uint8_t ClampSample(int v) { return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

// y, cb, cr are samples 0..255; rgb receives R, G, B.
inline void YccToRgbFixed(int y, int cb, int cr, std::uint8_t rgb[3]) {
    cb -= 128;
    cr -= 128;
    rgb[0] = ClampSample(y + ((91881 * cr + 32768) >> 16));
    rgb[1] = ClampSample(y + ((-22554 * cb - 46802 * cr + 32768) >> 16));
    rgb[2] = ClampSample(y + ((116130 * cb + 32768) >> 16));
}

}  // namespace handpix
