#include "handpix/platform/ijl/JpegGuard.h"

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

}  // namespace handpix
