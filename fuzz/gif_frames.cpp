// Every frame of a GIF animation as `handpix pack` reads it, over arbitrary
// bytes: frames of the screen's size or a failure with its reason.
// fuzz-link: handpix_imagefiles handpix_core
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fuzz/FuzzFiles.h"
#include "handpix/imagefiles/GifFrames.h"
#include "handpix/platform/core/Limits.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = handpix::fuzz::ScratchPath("gif_frames", ".gif");
    handpix::SetMaxPicturePixels(1 << 16);
    if (!handpix::fuzz::WriteInput(path, data, size)) return 0;
    handpix::RgbaFrames frames;
    std::string why;
    if (!handpix::ReadGifFrames(path.c_str(), 50, frames, why)) {
        if (why.empty()) std::abort();
        return 0;
    }
    if (frames.frames.empty() || frames.frames.size() > 50 || frames.delays.size() != frames.frames.size()) std::abort();
    for (const auto& f : frames.frames)
        if (f.size() != static_cast<std::size_t>(frames.width) * static_cast<std::size_t>(frames.height)) std::abort();
    return 0;
}
