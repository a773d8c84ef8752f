// The process-wide 256-entry palette of RGB 5-6-5 colours with its in-force
// flag. An SNI read fills it, a true EBA header clears it, and 8-bit handset
// pixels consult it; each access takes its lock.
#pragma once
#include <cstdint>

#include "handpix/imagefiles/HandsetColour.h"

namespace handpix {

struct PaletteSnapshot {
    bool inForce = false;
    std::uint16_t colours[256] = {};
};

void SetSharedPalette(const std::uint16_t colours[256]);  // and set the flag
void ClearSharedPalette();                                // flag off, colours kept
PaletteSnapshot GetSharedPalette();
// The colour of an 8-bit handset pixel: through the palette when in force, else 3-3-2.
Rgb Expand8BitPixel(const PaletteSnapshot& palette, std::uint8_t v);

}  // namespace handpix
