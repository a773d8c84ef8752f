// handpix: the one header a host needs. Every exported class is reachable from here.
#pragma once

#include "handpix/platform/core/Types.h"
#include "handpix/platform/core/String.h"
#include "handpix/platform/core/Geometry.h"
#include "handpix/platform/core/MessageBox.h"
#include "handpix/platform/core/File.h"
#include "handpix/imagefiles/GraphicFileLoad.h"

namespace handpix {
const char* Version();
}  // namespace handpix
