#include "handpix/imagefiles/SharedPalette.h"

#include <cstring>
#include <mutex>

namespace handpix {
namespace {
std::mutex g_paletteMutex;
PaletteSnapshot g_palette;  // process-wide by design: it carries from an SNI read to a later frame
}  // namespace

void SetSharedPalette(const std::uint16_t colours[256]) {
    std::lock_guard<std::mutex> lock(g_paletteMutex);
    std::memcpy(g_palette.colours, colours, sizeof g_palette.colours);
    g_palette.inForce = true;
}

void ClearSharedPalette() {
    std::lock_guard<std::mutex> lock(g_paletteMutex);
    g_palette.inForce = false;
}

PaletteSnapshot GetSharedPalette() {
    std::lock_guard<std::mutex> lock(g_paletteMutex);
    return g_palette;
}

Rgb Expand8BitPixel(const PaletteSnapshot& palette, std::uint8_t v) {
    return palette.inForce ? ExpandRgb565(palette.colours[v]) : ExpandRgb332(v);
}

}  // namespace handpix
