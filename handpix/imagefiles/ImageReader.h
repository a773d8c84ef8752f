// The reader base of the picture-file readers: a reader turns a file into packed
// top-down rows of 3 bytes per pixel and reports the size.
#pragma once
#include <cstdio>

#include "handpix/platform/core/String.h"

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
// The check every reader makes right after its header: the size is within the
// process-wide picture limit and its 24-bit DIB (stride and whole buffer) fits
// CGraphicFileLoad's int members.
bool ReaderSizeAllowed(long long width, long long height);
// "W x H is over the N-pixel limit": the readers' text for a refused size.
CString OverLimitText(long long width, long long height);
// Bytes from the stream's position to its end, or -1 when it cannot seek.
long long StreamBytesLeft(std::FILE* f);
}  // namespace handpix
