// The codec's arithmetic written the plain way, straight from the formulas,
// as the yardstick for the library's fast code.
#pragma once
#include <cstdint>
#include <vector>

#include "tests/support/JpegPeer.h"

namespace jpegref {

// Inverse transform; results truncated toward zero, not yet level-shifted.
void Idct(const std::int16_t in[64], int out[64]);
// One pixel: Y, Cb, Cr to B, G, R, and back.
void YccToBgr(int y, int cb, int cr, std::uint8_t bgr[3]);
void BgrToYcc(const std::uint8_t bgr[3], std::uint8_t ycc[3]);
// Forward transform by the quadruple sum (natural order, not truncated).
void Dct(const std::int16_t area[64], double F[64]);
// The same, then zig-zag order and truncating quantization.
void DctQuantize(const std::int16_t area[64], const std::uint8_t quantZigzag[64], std::int16_t outZigzag[64]);

// What LoadJPG must leave in m_pRGB for a file with these coefficients:
// bottom-up B, G, R rows of 4 * ((3w + 3) / 4) bytes.
std::vector<std::uint8_t> DecodedPicture(const jpegtest::Coefficients& c);

// The quantized coefficients (natural order, per block in raster order) of
// Y, Cb and Cr that SaveJPG must write for a top-down B, G, R picture.
std::vector<std::vector<std::int16_t>> EncodedCoefficients(const std::uint8_t* bgr, int width, int height);

}  // namespace jpegref
