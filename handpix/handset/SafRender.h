// The SAF frame renderer: paints one frame's display list into the caller's
// slot, one item per DrawNextItem call so that the parser can yield between
// items. Internal to the handset module.
#pragma once
#include <cstddef>
#include <cstdint>

#include "handpix/handset/SafParser.h"

namespace handpix::saf {

// Everything a frame needs besides its chunk, fixed at frame start.
struct FrameSetup {
    const SafObject* objects = nullptr;  // kSafMaxObjects entries
    const std::uint8_t* pool = nullptr;
    std::size_t poolSize = 0;
    std::uint8_t* scratch1 = nullptr;  // 1- and 2-bit streams only
    std::uint8_t* scratch2 = nullptr;
    std::size_t scratchBytes = 0;      // size of each scratch area
    std::uint8_t* blockStore = nullptr;
    std::size_t blockStoreSize = 0;
    int width = 0;
    int height = 0;
    int bpp = 0;
};

// A packed surface of width x height pixels at bpp bits, pixels addressed by
// their linear index (rows follow one another with no gap).
struct Surface {
    std::uint8_t* data = nullptr;
    std::size_t bytes = 0;
    int width = 0;
    int height = 0;
    int bpp = 8;
};

// A decoded object placement (item type 0).
struct Placement {
    int object = 0;
    int x = 0;
    int y = 0;
    bool mirror = false;
    bool flip = false;
    int hMode = 0;
    int vMode = 0;
    int hFactor = 256;
    int vFactor = 256;
    int drawMode = 0;
    int angle = 0;
    bool clip = false;
    int clipLeft = 0, clipRight = 0, clipTop = 0, clipBottom = 0;
    bool alpha = false;
    int alphaValue = 0;
};

constexpr int kBadItem = -3;  // an item that runs past its chunk

class Renderer {
public:
    // Negative when the chunk is not a frame chunk, the depth has no writer
    // or the slot cannot hold width x height bytes; else the chunk's size.
    int StartFrame(const std::uint8_t* chunk, std::size_t chunkSize, std::uint8_t* slot,
                   std::size_t slotSize, const FrameSetup& setup);
    // 0 when every item is drawn; -2 for an object number above 127;
    // kBadItem for an item past the chunk; else width x height.
    int DrawNextItem();

    // Drawing operations, public so that tests can call them directly.
    void ThinLine(int x0, int y0, int x1, int y1, std::uint8_t c);
    void Line(int x0, int y0, int x1, int y1, std::uint8_t c, int t, bool caps);
    void Ellipse(int cx, int cy, int rx, int ry, int start, int end, std::uint8_t line,
                 std::uint8_t fill, int t, bool noFill);

private:
    int DrawItem(int type, const std::uint8_t* p, int len);
    void Place(const Placement& pl);
    void Rectangle(const std::uint8_t* p);
    void Polygon(const std::uint8_t* p, int len, bool closed);
    void FillEvenOdd(const std::uint8_t* xs, const std::uint8_t* ys, int n, int y, int minX, int maxX,
                     std::uint8_t c);
    void HalfPlaneMask(const std::uint8_t* p);
    void EllipseMask(const std::uint8_t* p);
    void RectangleMask(const std::uint8_t* p);
    void Invert();
    void Plot(int x, int y, std::uint8_t c) {
        if (x >= 0 && y >= 0 && x < m_frame.width && y < m_frame.height)
            m_frame.data[static_cast<std::size_t>(y) * m_frame.width + x] = c;
    }
    void FillRow(int y, int x0, int x1, std::uint8_t c);
    void FillColumn(int x, int y0, int y1, std::uint8_t c);
    void PointRun(int cx, int cy, int x, int y, int n, bool vertical, int start, int end,
                  bool all, std::uint8_t c);

    FrameSetup m_setup;
    Surface m_frame;
    const std::uint8_t* m_chunk = nullptr;
    std::size_t m_chunkSize = 0;
    std::size_t m_next = 0;
    int m_items = 0;
    int m_index = 0;
};

}  // namespace handpix::saf
