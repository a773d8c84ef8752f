#include "handpix/platform/ijl/JpegGuard.h"

#include "handpix/platform/core/Limits.h"

namespace handpix {
namespace {
[[noreturn]] void OnError(j_common_ptr cinfo) {
    (*cinfo->err->output_message)(cinfo);
    std::longjmp(reinterpret_cast<JpegErrorManager*>(cinfo->err)->jump, 1);
}
void Silent(j_common_ptr) {}
}  // namespace

jpeg_error_mgr* InitJpegErrors(JpegErrorManager& err, bool silent) {
    jpeg_std_error(&err.pub);
    err.pub.error_exit = OnError;
    if (silent) err.pub.output_message = Silent;
    return &err.pub;
}

bool JpegGuarded(JpegErrorManager& err, void (*step)(void*), void* context) {
    if (setjmp(err.jump)) return false;
    step(context);
    return true;
}

bool JpegHeaderFits(const jpeg_decompress_struct& c, std::uint64_t bytesAfterHeaders) {
    if (!PictureSizeAllowed(c.image_width, c.image_height)) return false;
    if (c.arith_code) return true;
    // The header read has sized every component in blocks.
    std::uint64_t blocks = 0;
    for (int i = 0; i < c.num_components; ++i)
        blocks += static_cast<std::uint64_t>(c.comp_info[i].width_in_blocks) * c.comp_info[i].height_in_blocks;
    return JpegDataCanFill(blocks, bytesAfterHeaders);
}

}  // namespace handpix
