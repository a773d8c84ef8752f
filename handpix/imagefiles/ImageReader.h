// The reader base of the picture-file readers: a reader turns a file into packed
// top-down rows of 3 bytes per pixel and reports the size.
#pragma once

class CImageReader {
public:
    virtual ~CImageReader() = default;
    // Packed pixels allocated with new[] (caller releases), or null. The base reads nothing.
    virtual unsigned char* Read(const char* path, int* width, int* height) {
        (void)path;
        (void)width;
        (void)height;
        return nullptr;
    }
};

namespace handpix {
// Largest picture any reader accepts, in pixels: sizes above it are refused
// before anything is allocated.
inline constexpr long long kMaxPixels = 1LL << 28;
}  // namespace handpix
