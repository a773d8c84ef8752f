#include "handpix/handpix.h"

namespace handpix {
const char* Version() { return HANDPIX_VERSION; }
void Initialize() { RegisterLibraryResources(); }
}  // namespace handpix
