#include "handpix/handpix.h"

namespace handpix {
const char* Version() { return "0.1.0"; }
void Initialize() { RegisterLibraryResources(); }
}  // namespace handpix
