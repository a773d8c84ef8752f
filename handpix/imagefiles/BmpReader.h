// The BMP reader: uncompressed 1, 4, 8, 16, 24 and 32-bit files, bottom-up or
// top-down. Delivers packed rows bottom row first, blue-green-red.
// Fix: a palette follows the info header's own size (biSize), so files with
// the 108- and 124-byte headers keep their colours.
// Addition: 16- and 32-bit BI_BITFIELDS files are decoded with their masks
// (after a 40-byte header, or inside a longer one); each contiguous mask is
// scaled to 8 bits.
// Addition: sizes over the process-wide picture limit are refused with
// "W x H is over the N-pixel limit", and so are files without their pixels.
#pragma once
#include <cstdio>

#include "handpix/imagefiles/ImageReader.h"
#include "handpix/platform/core/String.h"

class CBmpReader : public CImageReader {
public:
    CBmpReader();
    unsigned char* Read(const char* path, int* width, int* height) override;
    unsigned char* ReadBmp(CString path, int* width, int* height);
    // The same from an open stream; the stream is not closed.
    unsigned char* ReadBmpStream(FILE* f, int* width, int* height);

    CString m_strError;
    int m_nBytesRead;
};
