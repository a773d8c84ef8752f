// fuzz-link: handpix_enhance handpix_ijl handpix_imagefiles handpix_core
// Arbitrary bytes as a JPEG file through CImageEdit::LoadJPG, whole and at a
// reduced scale.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "handpix/enhance/ImageEdit.h"
#include "handpix/platform/core/MessageBox.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A memory-backed folder where there is one: the file is rewritten for every input.
    static const std::string path = std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
                                   "/handpix_fuzz_imageedit_" + std::to_string(getpid()) + ".jpg";
    static const bool quiet = [] {
        handpix::SetMessageBoxHandler([](const char*, const char*, UINT) { return IDOK; });
        return true;
    }();
    (void)quiet;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    // Pictures that claim millions of pixels decode correctly but slowly from
    // a few bytes; the size caps themselves are exercised by the tests.
    JPEG_CORE_PROPERTIES probe{};
    ijlInit(&probe);
    probe.JPGFile = path.c_str();
    const bool small = ijlRead(&probe, IJL_JFILE_READPARAMS) == IJL_OK &&
                       static_cast<unsigned long long>(probe.JPGWidth) * probe.JPGHeight <= (1u << 22);
    ijlFree(&probe);
    if (!small) return 0;
    CImageEdit edit;
    const int denom = size > 0 ? 1 << (data[size - 1] & 3) : 1;
    if (edit.LoadJPG(path.c_str(), [](unsigned, unsigned, void* d) { return *static_cast<const int*>(d); },
                     const_cast<int*>(&denom)))
        edit.FlipVertical();
    return 0;
}
