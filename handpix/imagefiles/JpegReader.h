// JPEG through libjpeg-turbo into packed top-down RGB rows.
#pragma once
#include <cstddef>

namespace handpix {
// Reads a JPEG file. Shows the library's three messages on failure; fills
// width/height as soon as decompression starts. Returns new[] or null.
unsigned char* ReadJpegFile(const char* path, int* width, int* height);
// Same from memory, silent: for stream loads that report only a result.
unsigned char* ReadJpegMemory(const unsigned char* data, std::size_t size, int* width, int* height);
}  // namespace handpix
