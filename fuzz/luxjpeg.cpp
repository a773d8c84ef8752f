// fuzz-link: handpix_enhance handpix_ijl handpix_imagefiles handpix_core
// Arbitrary bytes as a JPEG file through CLuxJpeg::LUX_LoadJPEG, then the
// contrast stretch over whatever loaded.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "handpix/enhance/LuxJpeg.h"
#include "handpix/platform/ijl/Ijl.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A memory-backed folder where there is one: the file is rewritten for every input.
    static std::string path = std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
                                   "/handpix_fuzz_luxjpeg_" + std::to_string(getpid()) + ".jpg";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    // As for the other JPEG target: huge claimed sizes are slow, not interesting.
    JPEG_CORE_PROPERTIES probe{};
    ijlInit(&probe);
    probe.JPGFile = path.c_str();
    const bool small = ijlRead(&probe, IJL_JFILE_READPARAMS) == IJL_OK &&
                       static_cast<unsigned long long>(probe.JPGWidth) * probe.JPGHeight <= (1u << 22);
    ijlFree(&probe);
    if (!small) return 0;
    LUX_Image* im = CLuxJpeg::LUX_LoadJPEG(path.data());
    // The stretch is instrumented code run per byte: only over small pictures.
    if (im && static_cast<unsigned long long>(im->ulWidth) * im->ulHeight <= (1u << 16)) {
        CLuxJpeg::LUX_EqualiseImage(im->ppRows, im->ppRows, nullptr, im->ulWidth, im->ulHeight, im->ulChannels);
    }
    CLuxJpeg::LUX_FreeImage(im);
    return 0;
}
