#include "handpix/platform/ijl/JpegGuard.h"
// after jpeglib.h, which JpegGuard.h brings
#include <jerror.h>

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

void FeedEndOfImage(j_decompress_ptr c) {
    WARNMS(c, JWRN_JPEG_EOF);
    static const JOCTET kEnd[2] = {0xFF, JPEG_EOI};
    c->src->next_input_byte = kEnd;
    c->src->bytes_in_buffer = 2;
}

void SkipThroughFill(j_decompress_ptr c, long count) {
    if (count <= 0) return;
    jpeg_source_mgr& src = *c->src;
    auto left = static_cast<std::size_t>(count);
    while (left > src.bytes_in_buffer) {
        left -= src.bytes_in_buffer;
        src.bytes_in_buffer = 0;
        src.fill_input_buffer(c);
    }
    src.next_input_byte += left;
    src.bytes_in_buffer -= left;
}

}  // namespace handpix
