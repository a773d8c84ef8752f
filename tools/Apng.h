// Animated PNG output. libpng as packaged has no APNG support, so the frame
// data comes from libpng (CompressPngRows) and the animation chunks (acTL,
// fcTL, fdAT) are written here.
#pragma once
#include <string>
#include <vector>

#include "tools/Png.h"

namespace handpix::tool {

struct ApngFrame {
    PngImage image;          // every frame the size and pixel order of the first
    unsigned delayNum = 1;   // display time delayNum / delayDen seconds
    unsigned delayDen = 10;
};

// plays: how often the animation runs, 0 for ever. The first frame is also
// the picture that viewers without APNG support show.
bool WriteApng(const std::string& path, const std::vector<ApngFrame>& frames, unsigned plays, std::string* error);

}  // namespace handpix::tool
