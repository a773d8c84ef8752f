// Animated PNG input for `handpix pack`. libpng as packaged reads only the
// first picture, so each frame's data (IDAT or fdAT) is put behind the
// file's own header chunks as a PNG of its own, decoded by libpng, and
// composed onto the canvas by the frame's disposal and blending.
#pragma once
#include <string>

#include "handpix/imagefiles/HandsetQuantize.h"

namespace handpix::tool {

// False with `why` set when the file is not an animated PNG (notAnimated
// then true: read it as a still), is damaged, or has more than maxFrames frames.
bool ReadApngFrames(const std::string& path, int maxFrames, RgbaFrames& out, std::string& why, bool& notAnimated);

}  // namespace handpix::tool
