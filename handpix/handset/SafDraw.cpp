// SAF drawing items (8-bit frames): lines, ellipses and arcs, rectangles,
// polygons and the half-plane and ellipse masks. Shapes are walked in integer
// steps exactly as the handset draws them; pixels off the frame are skipped.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "handpix/handset/SafRender.h"

namespace handpix::saf {

void Renderer::FillRow(int y, int x0, int x1, std::uint8_t c) {
    if (y < 0 || y >= m_frame.height) return;
    x0 = std::max(x0, 0);
    x1 = std::min(x1, m_frame.width - 1);
    if (x0 > x1) return;
    std::memset(m_frame.data + static_cast<std::size_t>(y) * m_frame.width + x0, c,
                static_cast<std::size_t>(x1 - x0 + 1));
}

void Renderer::FillColumn(int x, int y0, int y1, std::uint8_t c) {
    if (x < 0 || x >= m_frame.width) return;
    y0 = std::max(y0, 0);
    y1 = std::min(y1, m_frame.height - 1);
    for (int y = y0; y <= y1; ++y) m_frame.data[static_cast<std::size_t>(y) * m_frame.width + x] = c;
}

void Renderer::ThinLine(int x0, int y0, int x1, int y1, std::uint8_t c) {
    const int dx = std::abs(x1 - x0);
    const int dy = std::abs(y1 - y0);
    const bool xMajor = dx >= dy;
    // Start from the end with the smaller coordinate on the major axis.
    if ((xMajor && x0 > x1) || (!xMajor && y0 > y1)) {
        std::swap(x0, x1);
        std::swap(y0, y1);
    }
    const int major = xMajor ? dx : dy;
    const int minor = xMajor ? dy : dx;
    const int minorStep = xMajor ? (y1 >= y0 ? 1 : -1) : (x1 >= x0 ? 1 : -1);
    int e = 2 * minor - major;
    int x = x0;
    int y = y0;
    for (int i = 0; i <= major; ++i) {
        Plot(x, y, c);
        const bool moveMinor = e >= 0;
        e += moveMinor ? 2 * (minor - major) : 2 * minor;
        if (xMajor) {
            ++x;
            if (moveMinor) y += minorStep;
        } else {
            ++y;
            if (moveMinor) x += minorStep;
        }
    }
}

void Renderer::Line(int x0, int y0, int x1, int y1, std::uint8_t c, int t, bool capFlag) {
    if (t < 1 || (x0 == x1 && y0 == y1)) return;
    const bool caps = capFlag && t != 2;
    ThinLine(x0, y0, x1, y1, c);
    if (t == 1) return;
    const int r = (t - 1) / 2;
    auto circles = [&](int ox, int oy) {
        Ellipse(x0 + ox, y0 + oy, r, r, 0, 0, c, c, 1, false);
        Ellipse(x1 + ox, y1 + oy, r, r, 0, 0, c, c, 1, false);
    };
    if (caps) circles(0, 0);

    // Shift of the extra copies after a diagonal step, by the line's direction.
    int shiftX = 0;
    int shiftY = 0;
    if (x0 <= x1 && y0 <= y1) shiftY = 1;
    else if (x0 <= x1) shiftX = 1;
    else if (y0 <= y1) shiftX = -1;
    else shiftY = -1;

    // The offset walk follows the perpendicular (dy, -dx) with thin-line steps.
    const int wx = y1 - y0;
    const int wy = -(x1 - x0);
    const bool xMajor = std::abs(wx) >= std::abs(wy);
    const int major = xMajor ? std::abs(wx) : std::abs(wy);
    const int minor = xMajor ? std::abs(wy) : std::abs(wx);
    const int sx = wx >= 0 ? 1 : -1;
    const int sy = wy >= 0 ? 1 : -1;
    const bool even = (t % 2) == 0;
    const long long limit = even ? static_cast<long long>(t - 1) * (t - 1) : static_cast<long long>(t) * t;
    int e = 2 * minor - major;
    int ox = 0;
    int oy = 0;
    bool diagonal = false;
    for (int step = 1;; ++step) {
        diagonal = e >= 0;
        e += diagonal ? 2 * (minor - major) : 2 * minor;
        if (xMajor) {
            ox += sx;
            if (diagonal) oy += sy;
        } else {
            oy += sy;
            if (diagonal) ox += sx;
        }
        if (even && caps && step == 1) circles(ox, oy);
        if (4LL * (static_cast<long long>(ox) * ox + static_cast<long long>(oy) * oy) > limit) break;
        ThinLine(x0 + ox, y0 + oy, x1 + ox, y1 + oy, c);
        ThinLine(x0 - ox, y0 - oy, x1 - ox, y1 - oy, c);
        if (diagonal) {
            ThinLine(x0 + ox + shiftX, y0 + oy + shiftY, x1 + ox + shiftX, y1 + oy + shiftY, c);
            ThinLine(x0 - ox - shiftX, y0 - oy - shiftY, x1 - ox - shiftX, y1 - oy - shiftY, c);
        }
    }
    // An even thickness is one pixel wider on the walk's side.
    if (even) {
        ThinLine(x0 + ox, y0 + oy, x1 + ox, y1 + oy, c);
        if (diagonal) ThinLine(x0 + ox + shiftX, y0 + oy + shiftY, x1 + ox + shiftX, y1 + oy + shiftY, c);
    }
}

namespace {

// The midpoint walk of an ellipse with squared radii A and B; visit(region,
// x, y) for every point after the start (0, ry).
template <typename Visit>
void WalkEllipse(long long A, long long B, long long ry, Visit visit) {
    long long x = 0;
    long long y = ry;
    long long px = 0;
    long long py = 2 * A * ry;
    long long d1 = ((A + 2) >> 2) - A * ry + B;
    while (px < py) {
        ++x;
        px += 2 * B;
        if (d1 >= 0) {
            --y;
            py -= 2 * A;
            d1 += px - py + B;
        } else {
            d1 += px + B;
        }
        visit(1, static_cast<int>(x), static_cast<int>(y));
    }
    if (y < 1) return;
    long long d2 = (x + 1) * x * B + (y - 1) * (y - 1) * A - A * B + ((B + 2) >> 2);
    while (y > 0) {
        --y;
        py -= 2 * A;
        if (d2 < 1) {
            ++x;
            px += 2 * B;
            d2 += px - py + A;
        } else {
            d2 += A - py;
        }
        visit(2, static_cast<int>(x), static_cast<int>(y));
    }
}

// Angle of (x, y) in 256 steps per turn, 0 to the right, 64 downward.
int StepAngle(int x, int y) { return static_cast<int>(std::atan2(static_cast<double>(y), x) * 40.7437 + 0.5); }

}  // namespace

void Renderer::PointRun(int cx, int cy, int x, int y, int n, bool vertical, int start, int end, bool all,
                        std::uint8_t c) {
    const int theta = all ? 0 : StepAngle(x, y);
    const int px[4] = {cx + x, cx - x, cx - x, cx + x};
    const int py[4] = {cy + y, cy + y, cy - y, cy - y};
    const int angle[4] = {theta, 128 - theta, 128 + theta, 256 - theta};
    const int len = vertical ? std::min(n, 2 * y) : std::min(n, 2 * x);
    if (len <= 0) return;
    for (int k = 0; k < 4; ++k) {
        if (!all && (angle[k] < start || angle[k] > end)) continue;
        if (vertical) {
            // Lower points run up, upper points run down, toward the inside.
            if (k < 2)
                FillColumn(px[k], py[k] - len + 1, py[k], c);
            else
                FillColumn(px[k], py[k], py[k] + len - 1, c);
        } else {
            // Right points run left, left points run right.
            if (k == 0 || k == 3)
                FillRow(py[k], px[k] - len + 1, px[k], c);
            else
                FillRow(py[k], px[k], px[k] + len - 1, c);
        }
    }
}

void Renderer::Ellipse(int cx, int cy, int rx, int ry, int start, int end, std::uint8_t line, std::uint8_t fill,
                       int t, bool noFill) {
    rx = std::abs(rx);
    ry = std::abs(ry);
    if (rx == 0 || ry == 0 || t == 0) return;
    const bool arc = start != 0 || end != 0;
    if (arc && start == end) return;
    const long long A = static_cast<long long>(rx) * rx;
    const long long B = static_cast<long long>(ry) * ry;

    if (!arc && !noFill) {
        FillColumn(cx, cy - ry, cy + ry, fill);
        WalkEllipse(A, B, ry, [&](int region, int x, int y) {
            if (region == 1) {
                FillColumn(cx + x, cy - y, cy + y, fill);
                FillColumn(cx - x, cy - y, cy + y, fill);
            } else {
                FillRow(cy + y, cx - x + 1, cx + x - 1, fill);
                FillRow(cy - y, cx - x + 1, cx + x - 1, fill);
            }
        });
    }

    // Run lengths widen where the outline is steep so that its thickness
    // stays even; the fourth powers are single precision by design.
    const double hv = static_cast<float>(std::pow(static_cast<float>(ry) / static_cast<float>(rx), 4.0f));
    const double vh = static_cast<float>(std::pow(static_cast<float>(rx) / static_cast<float>(ry), 4.0f));
    auto runLength = [&](int region, int x, int y) {
        if (t == 1) return 1;
        if (region == 1) {
            if (y == 0) return 0;
            const double q = static_cast<double>(x) * x / (static_cast<double>(y) * y);
            return static_cast<int>(std::sqrt(q * hv + 1.0) * t + 0.5);
        }
        if (x == 0) return t;
        const double q = static_cast<double>(y) * y / (static_cast<double>(x) * x);
        return static_cast<int>(std::sqrt(q * vh + 1.0) * t + 0.5);
    };
    PointRun(cx, cy, 0, ry, t, true, start, end, !arc, line);
    WalkEllipse(A, B, ry, [&](int region, int x, int y) {
        PointRun(cx, cy, x, y, runLength(region, x, y), region == 1, start, end, !arc, line);
    });
}

void Renderer::Rectangle(const std::uint8_t* p) {
    const int x0 = std::min(p[2], p[4]);
    const int x1 = std::max(p[2], p[4]);
    const int y0 = std::min(p[3], p[5]);
    const int y1 = std::max(p[3], p[5]);
    const std::uint8_t line = p[6];
    const int t = p[8];
    if (p[9] == 0) {
        for (int y = y0; y <= y1; ++y) FillRow(y, x0, x1, p[7]);
    }
    Line(x0, y0, x1, y0, line, t, false);
    Line(x1, y0, x1, y1, line, t, false);
    Line(x1, y1, x0, y1, line, t, false);
    Line(x0, y1, x0, y0, line, t, false);
}

// One row of the even-odd fill. An edge from point i - 1 to point i counts
// for row y when y lies in [min, max) of their y values, and pixel x crosses
// it when (x - xi) * dy^2 < (xp - xi) * (y - yi) * dy with dy = yp - yi. As
// dy^2 > 0 that is x <= floor((N - 1) / dy^2): one bound per edge, so a row
// costs a sort of the bounds instead of a test per pixel and edge.
void Renderer::FillEvenOdd(const std::uint8_t* xs, const std::uint8_t* ys, int n, int y, int minX, int maxX,
                           std::uint8_t c) {
    long long bounds[256];
    int count = 0;
    for (int i = 0; i < n; ++i) {
        const long long xi = xs[i], yi = ys[i];
        const long long xp = xs[i == 0 ? n - 1 : i - 1], yp = ys[i == 0 ? n - 1 : i - 1];
        if (y < std::min(yi, yp) || y >= std::max(yi, yp)) continue;
        const long long dy = yp - yi;
        const long long d = dy * dy;
        const long long num = xi * d + (xp - xi) * (y - yi) * dy - 1;
        bounds[count++] = num >= 0 ? num / d : -((-num + d - 1) / d);
    }
    std::sort(bounds, bounds + count);
    // A pixel is inside when an odd number of bounds lie at or right of it.
    int passed = 0;
    for (int x = minX; x <= maxX; ++x) {
        while (passed < count && bounds[passed] < x) ++passed;
        if ((count - passed) % 2 == 1) Plot(x, y, c);
    }
}

void Renderer::Polygon(const std::uint8_t* p, int end, bool closed) {
    if (end < 5) return;
    const int n = p[2];
    const std::uint8_t line = p[3];
    const int t = p[4];
    const std::uint8_t* xs = p + 5;
    const std::uint8_t* ys = p + 5 + n;
    if (n == 0 || 5 + 2 * n > end) return;
    if (closed) {
        if (7 + 2 * n > end) return;
        const std::uint8_t fill = p[5 + 2 * n];
        if (p[6 + 2 * n] == 0) {
            int minX = 255, maxX = 0, minY = 255, maxY = 0;
            for (int i = 0; i < n; ++i) {
                minX = std::min<int>(minX, xs[i]);
                maxX = std::max<int>(maxX, xs[i]);
                minY = std::min<int>(minY, ys[i]);
                maxY = std::max<int>(maxY, ys[i]);
            }
            maxX = std::min(maxX, m_frame.width - 1);
            maxY = std::min(maxY, m_frame.height - 1);
            for (int y = minY; y <= maxY; ++y) FillEvenOdd(xs, ys, n, y, minX, maxX, fill);
        }
    }
    for (int i = 1; i < n; ++i) Line(xs[i - 1], ys[i - 1], xs[i], ys[i], line, t, false);
    if (closed && n > 1) Line(xs[n - 1], ys[n - 1], xs[0], ys[0], line, t, false);
}

void Renderer::HalfPlaneMask(const std::uint8_t* p) {
    const long long x0 = p[2], y0 = p[3], x1 = p[4], y1 = p[5];
    const long long bound = (x1 - x0) * y0 - (y1 - y0) * x0;
    for (int y = 0; y < m_frame.height; ++y)
        for (int x = 0; x < m_frame.width; ++x)
            if ((x1 - x0) * y - (y1 - y0) * x < bound) Plot(x, y, p[6]);
}

void Renderer::EllipseMask(const std::uint8_t* p) {
    const long long cx = p[2], cy = p[3], rx = p[4], ry = p[5];
    if (rx == 0 || ry == 0) return;
    const long long rx2 = rx * rx, ry2 = ry * ry;
    for (int y = 0; y < m_frame.height; ++y) {
        for (int x = 0; x < m_frame.width; ++x) {
            const long long dx = x - cx, dy = y - cy;
            const bool outsideBox = dx < -rx || dx > rx || dy < -ry || dy > ry;
            if (outsideBox || dx * dx * ry2 + dy * dy * rx2 >= rx2 * ry2) Plot(x, y, p[6]);
        }
    }
}

}  // namespace handpix::saf
