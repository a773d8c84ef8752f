#include "handpix/platform/core/Limits.h"

#include <atomic>

namespace handpix {
namespace {
// A plain value read by every decoder: relaxed ordering is enough.
std::atomic<std::uint64_t> g_maxPicturePixels{kDefaultMaxPicturePixels};
}  // namespace

void SetMaxPicturePixels(std::uint64_t pixels) {
    g_maxPicturePixels.store(pixels ? pixels : kDefaultMaxPicturePixels, std::memory_order_relaxed);
}

std::uint64_t GetMaxPicturePixels() { return g_maxPicturePixels.load(std::memory_order_relaxed); }

bool PictureSizeAllowed(long long width, long long height) {
    if (width <= 0 || height <= 0) return false;
    // Each side is below 2^63, so the division form cannot overflow.
    const std::uint64_t w = static_cast<std::uint64_t>(width), h = static_cast<std::uint64_t>(height);
    return w <= GetMaxPicturePixels() / h;
}

}  // namespace handpix
