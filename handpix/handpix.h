// handpix: the one header a host needs. Every exported class is reachable from here.
#pragma once

#include "handpix/platform/core/Types.h"
#include "handpix/platform/core/String.h"
#include "handpix/platform/core/Geometry.h"
#include "handpix/platform/core/MessageBox.h"
#include "handpix/platform/core/File.h"
#include "handpix/platform/core/FileFind.h"
#include "handpix/platform/draw/DC.h"
#include "handpix/platform/draw/ResourceTable.h"
#include "handpix/platform/ole/Archive.h"
#include "handpix/platform/ole/OlePicture.h"
#include "handpix/platform/ole/Resource.h"
#include "handpix/platform/windows/Wnd.h"
#include "handpix/platform/windows/Desktop.h"
#include "handpix/platform/windows/Input.h"
#include "handpix/imagefiles/GraphicFileLoad.h"
#include "handpix/imagefiles/Orientation.h"
#include "handpix/jpegcodec/Jpeg.h"
#include "handpix/picture/Picture.h"
#include "handpix/picture/HandsetWriter.h"
#include "handpix/imagefiles/GifFrames.h"
#include "handpix/photolist/PhotoListCtrl.h"
#include "handpix/photolist/DecodedThumbnails.h"
#include "handpix/photolist/PhotoCacheIndex.h"
#include "handpix/enhance/LuxJpeg.h"
#include "handpix/resources/Resources.h"

namespace handpix {
const char* Version();
// Registers the library's own bitmaps and cursor; safe to call more than once.
// Every exported object that needs them calls it too.
void Initialize();
}  // namespace handpix
