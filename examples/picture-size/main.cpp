// Loads a picture with libhandpix and prints its size.
#include <cstdio>

#include "handpix/handpix.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: picture-size FILE\n");
        return 2;
    }
    CGraphicFileLoad picture;
    if (picture.LoadGraphicFile(argv[1]) != 0) {  // 0 loaded, 1 reader failed, 2 unknown extension
        std::fprintf(stderr, "%s: cannot load\n", argv[1]);
        return 1;
    }
    std::printf("%s: %d x %d (libhandpix %s)\n", argv[1], picture.m_nWidth, picture.m_nHeight, handpix::Version());
    return 0;
}
