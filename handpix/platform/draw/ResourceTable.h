// The library's picture resources: bitmaps and cursors by numeric identifier.
// The resources module registers the library's own; a host may add more.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "handpix/platform/draw/Gdi.h"

namespace handpix {

struct ResourceImage {
    int width = 0;
    int height = 0;
    int hotX = 0;  // cursors: the point that the cursor position names
    int hotY = 0;
    std::vector<std::uint32_t> pixels;  // top row first; blue in the low byte; cursors carry alpha in the top byte
};

// type is RT_BITMAP or RT_CURSOR. Replaces an earlier registration of the same id.
void RegisterResourceImage(const char* type, UINT id, ResourceImage image);
std::shared_ptr<const ResourceImage> FindResourceImage(const char* type, UINT id);

}  // namespace handpix

// The module whose resources MFC searches: one module here, so every search
// answers the same handle.
HINSTANCE AfxGetResourceHandle();
HINSTANCE AfxFindResourceHandle(LPCTSTR name, LPCTSTR type);
