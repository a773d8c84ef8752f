#include "handpix/platform/draw/Surface.h"

namespace handpix {

bool Surface::Reset(int width, int height, std::uint32_t fill) {
    if (width <= 0 || height <= 0 || width > kMaxSurfaceSide || height > kMaxSurfaceSide ||
        static_cast<long long>(width) * height > kMaxSurfacePixels) {
        m_pixels.clear();
        m_width = m_height = 0;
        return false;
    }
    m_pixels.assign(static_cast<std::size_t>(width) * height, fill);
    m_width = width;
    m_height = height;
    return true;
}

}  // namespace handpix
