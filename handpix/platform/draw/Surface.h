// A drawing surface: 32-bit pixels, bytes blue, green, red, unused, rows top
// down. Memory bitmaps own one; a window system gives each window one; a DC
// draws into whichever it targets.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "handpix/platform/core/Types.h"

namespace handpix {

// The in-memory value of a colour: blue in the low byte, the top byte unused (0).
constexpr std::uint32_t PixelOf(COLORREF c) {
    return ((c & 0xFFu) << 16) | (c & 0xFF00u) | ((c >> 16) & 0xFFu);
}
constexpr COLORREF ColorOf(std::uint32_t px) {
    return RGB(static_cast<int>((px >> 16) & 0xFF), static_cast<int>((px >> 8) & 0xFF),
               static_cast<int>(px & 0xFF));
}

// Largest surface side and area we allocate; bigger requests fail instead.
inline constexpr int kMaxSurfaceSide = 1 << 15;
inline constexpr long long kMaxSurfacePixels = 1LL << 26;

class Surface {
public:
    Surface() = default;
    // Sets the size; new pixels take `fill`. Fails (false, empty) beyond the caps.
    bool Reset(int width, int height, std::uint32_t fill);
    int Width() const { return m_width; }
    int Height() const { return m_height; }
    bool Empty() const { return m_width <= 0 || m_height <= 0; }
    std::ptrdiff_t Stride() const { return static_cast<std::ptrdiff_t>(m_width) * 4; }  // bytes
    std::uint32_t* Row(int y) { return m_pixels.data() + static_cast<std::size_t>(y) * m_width; }
    const std::uint32_t* Row(int y) const { return m_pixels.data() + static_cast<std::size_t>(y) * m_width; }
    std::uint8_t* Bytes() { return reinterpret_cast<std::uint8_t*>(m_pixels.data()); }
    const std::uint8_t* Bytes() const { return reinterpret_cast<const std::uint8_t*>(m_pixels.data()); }
    std::uint32_t At(int x, int y) const { return Row(y)[x]; }
    bool Contains(int x, int y) const { return x >= 0 && y >= 0 && x < m_width && y < m_height; }

private:
    std::vector<std::uint32_t> m_pixels;
    int m_width = 0;
    int m_height = 0;
};

}  // namespace handpix
