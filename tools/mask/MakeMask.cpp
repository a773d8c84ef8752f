// handpix_make_mask OUT [WIDTH HEIGHT]: writes the default vignetting mask that
// ships beside the tool. 640 x 480 has the 4:3 shape of most camera pictures;
// the library fits the mask to every photo's own size.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "handpix/handpix.h"

int main(int argc, char** argv) {
    if (argc != 2 && argc != 4) {
        std::fprintf(stderr, "usage: handpix_make_mask OUT.jpg [WIDTH HEIGHT]\n");
        return 2;
    }
    const unsigned long width = argc == 4 ? std::strtoul(argv[2], nullptr, 10) : 640;
    const unsigned long height = argc == 4 ? std::strtoul(argv[3], nullptr, 10) : 480;
    LUX_Image* mask = CLuxJpeg::LUX_MakeVignetteMask(width, height);
    std::string out = argv[1];
    const bool saved = mask && CLuxJpeg::LUX_SaveJPEG(mask, out.data()) == 1;
    CLuxJpeg::LUX_FreeImage(mask);
    if (!saved) {
        std::fprintf(stderr, "handpix_make_mask: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
