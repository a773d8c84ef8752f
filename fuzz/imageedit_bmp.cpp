// fuzz-link: handpix_enhance handpix_ijl handpix_imagefiles handpix_core
// Arbitrary bytes as a BMP file through CImageEdit::LoadBMP, then the row
// reversal the resizing code applies.
#include "fuzz/FuzzFiles.h"
#include "handpix/enhance/ImageEdit.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    handpix::fuzz::LimitPictures();
    static const std::string path = handpix::fuzz::ScratchPath("imageedit", ".bmp");
    handpix::fuzz::SilenceMessages();
    if (!handpix::fuzz::WriteInput(path, data, size)) return 0;
    CImageEdit edit;
    if (edit.LoadBMP(path.c_str())) edit.FlipVertical();
    return 0;
}
