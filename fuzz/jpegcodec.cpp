// Arbitrary bytes through CJpeg's decoder, by the memory entry point that
// LoadJPG shares. Each input starts from a copy of an object that already
// holds the standard Huffman tables, so files without DHT segments reach the
// scan too (and copying is exercised on the way).
// fuzz-link: handpix_jpegcodec handpix_core
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <unistd.h>

#include "fuzz/FuzzFiles.h"
#include "handpix/jpegcodec/Jpeg.h"

namespace {

const CJpeg& Primed() {
    static const CJpeg primed = [] {
        CJpeg j;
        unsigned char px[8 * 8 * 3] = {};
        char path[64];
        std::snprintf(path, sizeof path, "/tmp/fuzz_jpegcodec_%d.jpg", static_cast<int>(::getpid()));
        j.SaveJPG(path, 8, 8, px);
        std::remove(path);
        return j;
    }();
    return primed;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    handpix::fuzz::LimitPictures();
    CJpeg j(Primed());
    const int ok = j.LoadJPGFromMemory(data, size);
    if (j.m_eStatus == handpix::Status::internal) std::abort();
    if (ok) {
        // The picture must be exactly GetHeight() rows of 4-byte-aligned rows.
        const std::size_t stride = 4 * ((3 * static_cast<std::size_t>(j.GetWidth()) + 3) / 4);
        if (!j.m_pRGB || j.m_nRGBSize != stride * static_cast<std::size_t>(j.GetHeight())) std::abort();
        volatile std::uint8_t sink = j.m_pRGB[j.m_nRGBSize - 1];
        (void)sink;
    }
    return 0;
}
