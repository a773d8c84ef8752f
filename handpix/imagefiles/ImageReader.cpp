#include "handpix/imagefiles/ImageReader.h"

#include <climits>
#include <cstdint>

#include "handpix/imagefiles/DibRows.h"
#include "handpix/platform/core/Limits.h"

namespace handpix {

bool ReaderSizeAllowed(long long width, long long height) {
    if (!PictureSizeAllowed(width, height)) return false;
    const std::uint64_t stride = DibStride(static_cast<std::uint64_t>(width));
    return stride <= INT_MAX && stride <= SIZE_MAX / static_cast<std::uint64_t>(height);
}

CString OverLimitText(long long width, long long height) {
    CString text;
    text.Format("%lld x %lld is over the %llu-pixel limit", width, height,
                static_cast<unsigned long long>(GetMaxPicturePixels()));
    return text;
}

long long StreamBytesLeft(std::FILE* f) {
    const long here = std::ftell(f);
    if (here < 0 || std::fseek(f, 0, SEEK_END) != 0) return -1;
    const long end = std::ftell(f);
    if (std::fseek(f, here, SEEK_SET) != 0) return -1;
    return end < here ? 0 : static_cast<long long>(end - here);
}

}  // namespace handpix
