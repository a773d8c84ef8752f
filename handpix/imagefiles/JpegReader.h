// JPEG through libjpeg-turbo.
// Addition: a picture over the process-wide limit is refused (the file
// reader shows "W x H is over the N-pixel limit"), and so is a header that
// claims more 8 x 8 blocks than the data after it could code.
#pragma once
#include <cstddef>

namespace handpix {
// Reads a JPEG file into packed top-down RGB rows (new[]), or null. Shows the
// reader's three messages on failure; fills width/height once decompression starts.
unsigned char* ReadJpegFile(const char* path, int* width, int* height);
// The same result laid out as a 24-bit DIB (bottom-up, BGR, rows padded to 4 bytes).
unsigned char* ReadJpegFileAsDib(const char* path, int* width, int* height, int* stride);
// From memory into packed top-down RGB, silent: for stream loads that report only a result.
unsigned char* ReadJpegMemory(const unsigned char* data, std::size_t size, int* width, int* height);
}  // namespace handpix
