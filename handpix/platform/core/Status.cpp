#include "handpix/platform/core/Status.h"

namespace handpix {
const char* StatusName(Status s) {
    switch (s) {
        case Status::ok: return "ok";
        case Status::truncated: return "truncated";
        case Status::invalid: return "invalid";
        case Status::unsupported: return "unsupported";
        case Status::internal: return "internal";
    }
    return "?";
}
}  // namespace handpix
