// Photos of today: the EXIF Orientation tag of a JPEG file, the switch that
// lets thumbnails honour it, and the eight transforms that turn a picture
// upright.
//
// Additions: the original knew nothing of the tag, so a camera held on its
// side gave a sideways thumbnail. Only thumbnails are turned; a file without
// the tag, or with the value 1, gives the same bytes as before.
#pragma once
#include <cstddef>
#include <cstdint>

#include "handpix/platform/core/Status.h"

namespace handpix {

// Addition: the Orientation (tag 0x0112 of IFD0) of the Exif APP1 segment of
// a JPEG file that begins with data. ok with orientation 1 to 8 (1 when there
// is no such segment or tag, or the value is outside 1 to 8); truncated when
// the data ends before the first scan or inside the segment; invalid when
// the data is not a JPEG file or the Exif block points outside itself.
Status ReadJpegOrientation(const std::uint8_t* data, std::size_t size, int& orientation);
// Addition: the same for a file; 1 when it cannot be read or says nothing.
int JpegFileOrientation(const char* path);

// Addition: process-wide; on by default. Off, thumbnails keep the stored
// pixel order, as the original made them.
void SetAutoOrient(bool on);
bool GetAutoOrient();

// Orientations 5 to 8 exchange width and height.
constexpr bool OrientationSwapsSides(int orientation) { return orientation >= 5 && orientation <= 8; }
// Addition: the upright copy (allocated with new[]) of width x height 24-bit
// pixels in rows padded to 4 bytes, top row first, stored as orientation
// says; its sides are exchanged for 5 to 8. Null when it cannot be made.
unsigned char* OrientDibRows(const unsigned char* rows, int width, int height, int orientation);

}  // namespace handpix
