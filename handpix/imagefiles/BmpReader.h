// The BMP reader: uncompressed 1, 4, 8, 16, 24 and 32-bit files, bottom-up or
// top-down. Delivers packed rows bottom row first, blue-green-red.
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
