// The one way libjpeg errors come back to our code: error_exit jumps to the
// guard, which reports failure. Steps run under the guard keep no objects
// that need destruction on their own stack, so the jump skips nothing.
#pragma once
#include <csetjmp>
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

}  // namespace handpix
