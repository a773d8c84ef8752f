// The process-wide picture-size limit. Every reader and decoder checks a
// header's width and height against it before allocating anything of the
// picture's size, so a few hostile bytes cannot claim gigabytes.
// Addition: the original readers had no such limit.
#pragma once
#include <cstdint>

namespace handpix {

inline constexpr std::uint64_t kDefaultMaxPicturePixels = 100'000'000;

// Sets the limit for every thread; 0 restores the default.
void SetMaxPicturePixels(std::uint64_t pixels);
std::uint64_t GetMaxPicturePixels();
// True when both sides are positive and width × height is within the limit
// (computed in 64 bits: no overflow for any int inputs).
bool PictureSizeAllowed(long long width, long long height);

// Huffman-coded JPEG data spends at least one bit on every 8 x 8 block of
// every component (a block's first DC code), so a header whose blocks
// outnumber the bits after it describes a picture its file cannot hold.
inline bool JpegDataCanFill(std::uint64_t blocks, std::uint64_t bytesAfterHeaders) {
    return bytesAfterHeaders >= blocks / 8 + (blocks % 8 != 0);
}

}  // namespace handpix
