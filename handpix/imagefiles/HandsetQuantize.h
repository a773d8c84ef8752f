// Colour reduction of ordinary pictures to the handset depths: 16-bit RGB
// 5-6-5, 8-bit RGB 3-3-2 or a palette of the file's own (median cut), and
// 2- and 1-bit grey, with Floyd-Steinberg error diffusion or without. The
// colours are those our readers show for each value, so what is written is
// what is seen.
#pragma once
#include <cstdint>
#include <vector>

#include "handpix/imagefiles/HandsetColour.h"
#include "handpix/imagefiles/ImgWriter.h"

namespace handpix {

struct Rgba {
    std::uint8_t r, g, b, a;
};

// A picture or animation as read from ordinary files: every frame the same size.
struct RgbaFrames {
    int width = 0;
    int height = 0;
    std::vector<std::vector<Rgba>> frames;
    std::vector<unsigned> delays;  // tenths of a second
    bool loop = true;
};

// The colours a handset file shows for its values.
struct ColourTarget {
    int bits = 16;            // 1, 2, 8, 16 or 24
    std::vector<Rgb> shown;   // bits <= 8: the colour of every value
    bool grey = false;        // match by luminance
    bool ownPalette = false;  // 8 bits: the palette is built from the pictures (median cut)
    bool keyed = false;       // pixels with alpha below 128 get a transparent value of their own
};

// The targets of our readers. A 1-bit value 1 is black in SNI and EBA files
// and white in IMG files; the 2-bit greys run white to black in SNI files and
// black to white in IMG files.
ColourTarget GreyTarget(int bits, bool setIsBlack);
ColourTarget Rgb332Target();
ColourTarget OwnPaletteTarget();
ColourTarget Rgb565Target();
ColourTarget Rgb888Target();

// Reduces every frame to the target. Alpha below 128 becomes the transparent
// value when the target is keyed and the pictures have any; other pixels are
// laid over white first. An own palette has 256 entries (the last is the
// key when there is one).
HandsetPixels ReduceColours(const RgbaFrames& in, ColourTarget target, bool dither);

// The largest size within maxW x maxH that keeps the aspect of w x h.
void FitSize(int w, int h, int maxW, int maxH, int& outW, int& outH);
// Every frame resampled to w x h by area averaging.
RgbaFrames ResizeFrames(const RgbaFrames& in, int w, int h);

}  // namespace handpix
