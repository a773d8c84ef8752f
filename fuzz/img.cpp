// fuzz-link: handpix_imagefiles handpix_core
// Arbitrary bytes as IMG and as PHT files, decoded with both grey ladders.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "fuzz/FuzzFiles.h"
#include "handpix/imagefiles/ImgFormat.h"

namespace {
void Decode(const std::uint8_t* data, std::size_t size, bool pht) {
    FILE* f = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    if (!f) return;
    handpix::ImgFile img;
    bool ok = (!pht || std::fseek(f, 20, SEEK_SET) == 0) && handpix::Ok(handpix::ReadImg(f, img));
    std::fclose(f);
    if (!ok) return;
    std::vector<handpix::Rgb> rgb(static_cast<std::size_t>(img.width) * static_cast<std::size_t>(img.height));
    handpix::DecodeImgPixels(img, pht ? handpix::GreyLadder::FileLoader : handpix::GreyLadder::Picture,
                             pht ? handpix::kPhtDepths : handpix::kImgDepthsAll, rgb.data());
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    handpix::fuzz::LimitPictures();
    if (size == 0) return 0;
    Decode(data, size, false);
    Decode(data, size, true);
    return 0;
}
