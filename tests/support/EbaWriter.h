// Builds EBA files (the shared 150-byte header and raw frames) and IMG files
// from pixel values: 0/1 at 1 bit, 0 to 3 at 2 bits, indices at 8 bits, RGB
// 5-6-5 values at 16 bits and 0xRRGGBB at 24 bits.
#pragma once
#include <cstdint>
#include <vector>

#include "tests/support/SniWriter.h"

namespace handpix::test {

// Packs pixels continuously at `bits` (rows are not padded): below 8 bits the
// first pixel goes into the top bits; 16-bit values little-endian; 24-bit as
// red, green, blue.
FileBytes PackHandsetPixels(const std::vector<std::uint32_t>& pixels, int bits);

// An "ANI" header (whatever h.signature says) followed by the frames as given.
FileBytes WriteEba(AnimHeader h, const std::vector<FileBytes>& frames);

// A 48-byte IMG header ("IMG ", width, height, bits) followed by the pixel bytes.
FileBytes WriteImg(int width, int height, int bits, const FileBytes& pixels);

}  // namespace handpix::test
