// Every frame of a GIF animation, composed as a viewer shows it: each image
// drawn over the frame before at its place, transparent pixels leaving what
// is below, and the disposal of each image applied before the next.
#pragma once
#include <string>

#include "handpix/imagefiles/HandsetQuantize.h"

namespace handpix {

// Reads at most maxFrames frames (delays in tenths of a second, at least 1;
// looping when the file asks to loop). False with the reason on a damaged
// file, a screen beyond the picture-size limit, or more frames than maxFrames.
bool ReadGifFrames(const char* path, int maxFrames, RgbaFrames& out, std::string& why);

}  // namespace handpix
