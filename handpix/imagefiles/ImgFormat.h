// The IMG and PHT handset still formats: a 48-byte header and uncompressed
// pixels at 1, 2, 8, 16 or 24 bits, top row first, no row padding. A PHT file
// is the same behind a 20-byte prefix. Shared by the file loader and CPicture.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "handpix/imagefiles/HandsetColour.h"
#include "handpix/platform/core/Status.h"

namespace handpix {

inline constexpr std::size_t kImgHeaderSize = 48;
inline constexpr std::size_t kPhtPrefixSize = 20;
inline constexpr long kHandsetMaxPixels = 178 * 160;
inline constexpr std::size_t kHandsetMaxBytes = 178 * 160 * 3;

struct ImgFile {
    std::uint8_t header[kImgHeaderSize] = {};
    int width = 0;   // signed 16-bit in the file
    int height = 0;
    int bits = 0;
    std::vector<std::uint8_t> data;  // the pixel bytes, plus a trailing partial byte when present
};

// Bytes of pixel data the format requires (1 and 2 bits truncate; unknown depths read as 8).
std::size_t ImgDataSize(int width, int height, int bits);

// Reads the header and the pixel data from f (positioned at the header).
// truncated: short header or short data; unsupported: beyond the handset limits.
Status ReadImg(FILE* f, ImgFile& out);

// The two 2-bit grey ladders: the file loader's and the picture's.
enum class GreyLadder { FileLoader, Picture };

// Converts every pixel to RGB, top row first. Depths not in `depths` (a bit
// set of 1 << bits) give black; a last partial byte decodes from the bits present.
void DecodeImgPixels(const ImgFile& img, GreyLadder ladder, unsigned depths, Rgb* out);
inline constexpr unsigned kImgDepthsAll = (1u << 1) | (1u << 2) | (1u << 8) | (1u << 16) | (1u << 24);
inline constexpr unsigned kPhtDepths = (1u << 1) | (1u << 8) | (1u << 16) | (1u << 24);

}  // namespace handpix
