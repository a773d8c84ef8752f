// fuzz-link: handpix_enhance handpix_ijl handpix_imagefiles handpix_core
// Arbitrary bytes as a BMP file through CImageEdit::LoadBMP, then the row
// reversal the resizing code applies.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "handpix/enhance/ImageEdit.h"
#include "handpix/platform/core/MessageBox.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A memory-backed folder where there is one: the file is rewritten for every input.
    static const std::string path = std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
                                   "/handpix_fuzz_imageedit_" + std::to_string(getpid()) + ".bmp";
    static const bool quiet = [] {
        handpix::SetMessageBoxHandler([](const char*, const char*, UINT) { return IDOK; });
        return true;
    }();
    (void)quiet;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    CImageEdit edit;
    if (edit.LoadBMP(path.c_str())) edit.FlipVertical();
    return 0;
}
