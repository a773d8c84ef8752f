// fuzz-link: handpix_enhance handpix_ijl handpix_imagefiles handpix_core
// Arbitrary bytes as a JPEG file through CLuxJpeg::LUX_LoadJPEG, then the
// contrast stretch over whatever loaded.
#include "fuzz/FuzzFiles.h"
#include "handpix/enhance/LuxJpeg.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    handpix::fuzz::LimitPictures();
    static std::string path = handpix::fuzz::ScratchPath("luxjpeg", ".jpg");
    if (!handpix::fuzz::WriteInput(path, data, size)) return 0;
    LUX_Image* im = CLuxJpeg::LUX_LoadJPEG(path.data());
    // The stretch is instrumented code run per byte: only over small pictures.
    if (im && static_cast<unsigned long long>(im->ulWidth) * im->ulHeight <= (1u << 16)) {
        CLuxJpeg::LUX_EqualiseImage(im->ppRows, im->ppRows, nullptr, im->ulWidth, im->ulHeight, im->ulChannels);
    }
    CLuxJpeg::LUX_FreeImage(im);
    return 0;
}
