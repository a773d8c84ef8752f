// fuzz-link: handpix_imagefiles handpix_core
// Arbitrary bytes as the start of a JPEG file whose EXIF orientation is read.
// The answer is always 1 to 8, and bytes that stop short of the scan never
// pass for a complete answer unless they ended before the Exif segment did.
#include <cstdint>
#include <cstdlib>

#include "handpix/imagefiles/Orientation.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    int orientation = 0;
    const handpix::Status s = handpix::ReadJpegOrientation(data, size, orientation);
    if (s == handpix::Status::internal || orientation < 1 || orientation > 8) std::abort();
    // A shorter start can only be less sure, never give another answer.
    if (s == handpix::Status::ok && size > 0) {
        int shorter = 0;
        if (handpix::ReadJpegOrientation(data, size - 1, shorter) == handpix::Status::ok && shorter != orientation)
            std::abort();
    }
    return 0;
}
