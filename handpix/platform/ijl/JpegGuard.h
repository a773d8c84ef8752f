// The one way libjpeg errors come back to our code: error_exit jumps to the
// guard, which reports failure. Steps run under the guard keep no objects
// that need destruction on their own stack, so the jump skips nothing.
#pragma once
#include <csetjmp>
#include <cstdint>
#include <cstdio>

#include <jpeglib.h>

namespace handpix {

struct JpegErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;  // right behind the manager, where error_exit finds it
};

// jpeg_std_error with error_exit replaced; error_exit still passes the message
// to output_message first, which `silent` turns into nothing.
jpeg_error_mgr* InitJpegErrors(JpegErrorManager& err, bool silent);

// Runs step(context); false when libjpeg raised an error on the way.
bool JpegGuarded(JpegErrorManager& err, void (*step)(void*), void* context);

// After jpeg_read_header: false when the frame is above the picture-size
// limit, or when its Huffman-coded blocks outnumber the bits of the
// `bytesAfterHeaders` that follow the first scan header (a few hostile
// bytes claiming a huge picture). Arithmetic coding can spend less than a
// bit on a block, so there only the size limit applies.
bool JpegHeaderFits(const jpeg_decompress_struct& c, std::uint64_t bytesAfterHeaders);

// For source managers: past the end of the data, a warning and an end-of-image
// marker, so a cut file ends as libjpeg's own sources end it.
void FeedEndOfImage(j_decompress_ptr c);
// skip_input_data for any source manager: consumes count bytes, refilling
// through the source's own fill_input_buffer.
void SkipThroughFill(j_decompress_ptr c, long count);

}  // namespace handpix
