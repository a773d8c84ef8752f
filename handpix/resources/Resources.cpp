#include "handpix/resources/Resources.h"

#include <mutex>

#include "handpix/platform/draw/ResourceTable.h"

namespace handpix {
namespace {

constexpr std::uint32_t Px(int r, int g, int b) {
    return (static_cast<std::uint32_t>(r) << 16) | (static_cast<std::uint32_t>(g) << 8) | static_cast<std::uint32_t>(b);
}

ResourceImage Canvas() {
    ResourceImage img;
    img.width = 192;
    img.height = 160;
    img.pixels.assign(192u * 160u, Px(255, 255, 255));
    return img;
}

// A strip of film seen flat: dark edges with rounded sprocket holes above and
// below a grey frame window. Landscape thumbnails cover the window and leave
// the perforated edges showing.
ResourceImage MovieIcon() {
    constexpr int kSide = 99;
    constexpr int kEdge = 13;       // height of each perforated edge
    constexpr int kHoleW = 6, kHoleH = 5, kPitch = 11;
    ResourceImage img;
    img.width = img.height = kSide;
    img.pixels.assign(kSide * kSide, Px(28, 28, 32));
    auto set = [&](int x, int y, std::uint32_t c) { img.pixels[static_cast<std::size_t>(y) * kSide + x] = c; };
    // The frame window with a thin lighter rim, as exposed film shows it.
    for (int y = kEdge; y < kSide - kEdge; ++y)
        for (int x = 3; x < kSide - 3; ++x) {
            bool rim = y == kEdge || y == kSide - kEdge - 1 || x == 3 || x == kSide - 4;
            set(x, y, rim ? Px(120, 118, 110) : Px(72, 70, 66));
        }
    // Sprocket holes: rounded by leaving their corner pixels dark.
    for (int x0 = 3; x0 + kHoleW <= kSide - 2; x0 += kPitch)
        for (int y0 : {(kEdge - kHoleH) / 2, kSide - kEdge + (kEdge - kHoleH) / 2})
            for (int dy = 0; dy < kHoleH; ++dy)
                for (int dx = 0; dx < kHoleW; ++dx) {
                    bool corner = (dx == 0 || dx == kHoleW - 1) && (dy == 0 || dy == kHoleH - 1);
                    if (!corner) set(x0 + dx, y0 + dy, Px(236, 234, 226));
                }
    return img;
}

// 'X' outline, '.' white fill, ' ' transparent. The tip of the finger is the hot spot.
constexpr const char* kHand[] = {
    "     XX           ",
    "    X..X          ",
    "    X..X          ",
    "    X..X          ",
    "    X..X          ",
    "    X..XXX        ",
    "    X..X..XXX     ",
    "    X..X..X..XX   ",
    " XX X..X..X..X.X  ",
    "X..XX........X..X ",
    "X...X...........X ",
    " X..............X ",
    "  X.............X ",
    "  X............X  ",
    "   X...........X  ",
    "   X..........X   ",
    "    X.........X   ",
    "    X........X    ",
    "     X.......X    ",
    "     XXXXXXXXX    ",
};

ResourceImage HandCursor() {
    constexpr int kSize = 32;
    ResourceImage img;
    img.width = img.height = kSize;
    img.hotX = 5;
    img.hotY = 0;
    img.pixels.assign(kSize * kSize, 0);  // fully transparent
    int y = 0;
    for (const char* row : kHand) {
        for (int x = 0; row[x]; ++x) {
            std::uint32_t c = row[x] == 'X' ? 0xFF000000u : row[x] == '.' ? 0xFFFFFFFFu : 0;
            img.pixels[static_cast<std::size_t>(y) * kSize + x] = c;
        }
        ++y;
    }
    return img;
}

}  // namespace

void RegisterLibraryResources() {
    static std::once_flag once;
    std::call_once(once, [] {
        RegisterResourceImage(RT_BITMAP, IDB_CANVAS, Canvas());
        RegisterResourceImage(RT_BITMAP, IDB_MOVIE_ICON, MovieIcon());
        RegisterResourceImage(RT_CURSOR, IDC_HAND, HandCursor());
    });
}

}  // namespace handpix
