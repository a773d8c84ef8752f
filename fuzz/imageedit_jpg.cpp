// fuzz-link: handpix_enhance handpix_ijl handpix_imagefiles handpix_core
// Arbitrary bytes as a JPEG file through CImageEdit::LoadJPG, whole and at a
// reduced scale.
#include "fuzz/FuzzFiles.h"
#include "handpix/enhance/ImageEdit.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    handpix::fuzz::LimitPictures();
    static const std::string path = handpix::fuzz::ScratchPath("imageedit", ".jpg");
    handpix::fuzz::SilenceMessages();
    if (!handpix::fuzz::WriteInput(path, data, size)) return 0;
    CImageEdit edit;
    const int denom = size > 0 ? 1 << (data[size - 1] & 3) : 1;
    if (edit.LoadJPG(path.c_str(), [](unsigned, unsigned, void* d) { return *static_cast<const int*>(d); },
                     const_cast<int*>(&denom)))
        edit.FlipVertical();
    return 0;
}
