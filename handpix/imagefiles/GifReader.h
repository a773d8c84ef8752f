// The GIF reader with its own LZW decoder. The screen state (global colour map,
// LZW tables) is process-wide and lives behind one lock, so concurrent loads
// are safe and run one at a time.
// Addition: an image over the process-wide picture limit is refused with
// "W x H is over the N-pixel limit".
#pragma once
#include <cstdio>

#include "handpix/imagefiles/ImageReader.h"
#include "handpix/platform/core/String.h"

class CGifReader : public CImageReader {
public:
    CGifReader();
    unsigned char* Read(const char* path, int* width, int* height) override;
    // Packed top-down RGB rows of the first image (new[]), or null with m_strError set.
    unsigned char* ReadGif(CString path, int* width, int* height);
    // The same from an open stream (memory loads use fmemopen); the stream is not closed.
    unsigned char* ReadGifStream(FILE* f, const char* name, int* width, int* height);

    CString m_strError;
};
