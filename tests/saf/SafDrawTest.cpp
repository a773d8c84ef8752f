// Drawing items against hand-checked pixel sets.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <set>
#include <utility>

#include "handpix/handset/SafRender.h"
#include "handpix/handset/SafWriter.h"

namespace handpix::test {
namespace {

using Points = std::set<std::pair<int, int>>;

// An 8-bit frame with an empty display list; shapes are drawn directly.
struct Canvas {
    int width, height;
    std::vector<std::uint8_t> px;
    Bytes chunk = {6, 0, 2, 0, 0};
    saf::Renderer r;

    Canvas(int w, int h) : width(w), height(h), px(static_cast<std::size_t>(w) * h) { EXPECT_GT(Start(), 0); }
    int Start() {
        saf::FrameSetup fs;
        fs.width = width;
        fs.height = height;
        fs.bpp = 8;
        return r.StartFrame(chunk.data(), chunk.size(), px.data(), px.size(), fs);
    }
    Points Lit(std::uint8_t c = 0) const {
        Points out;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const std::uint8_t v = px[static_cast<std::size_t>(y) * width + x];
                if (c ? v == c : v != 0) out.insert({x, y});
            }
        return out;
    }
    // Runs one display-list item through the item loop.
    void Item(const Bytes& item) {
        chunk = {6, 0, 0, 0, 1};
        chunk.insert(chunk.end(), item.begin(), item.end());
        ASSERT_GT(Start(), 0);
        ASSERT_GT(r.DrawNextItem(), 0);
        ASSERT_EQ(r.DrawNextItem(), 0);
    }
};

// What one direct drawing call lights on a fresh w x h canvas.
Points Drawn(int w, int h, const std::function<void(saf::Renderer&)>& draw, std::uint8_t colour = 0) {
    Canvas c(w, h);
    draw(c.r);
    return c.Lit(colour);
}

// What one display-list item lights on a fresh w x h canvas.
Points ItemLit(int w, int h, const Bytes& item, std::uint8_t colour = 0) {
    Canvas c(w, h);
    c.Item(item);
    return c.Lit(colour);
}

Points Rows(int x0, int x1, int y0, int y1) {
    Points p;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) p.insert({x, y});
    return p;
}

TEST(SafLines, ThinLineStepsFromTheSmallerEnd) {
    const Points expected = {{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 2}, {5, 2}};
    EXPECT_EQ(Drawn(8, 4, [](auto& r) { r.ThinLine(0, 0, 5, 2, 1); }), expected);
    EXPECT_EQ(Drawn(8, 4, [](auto& r) { r.ThinLine(5, 2, 0, 0, 1); }), expected);
    // y major: starts at (0, 0)
    EXPECT_EQ(Drawn(4, 6, [](auto& r) { r.ThinLine(2, 5, 0, 0, 1); }),
              (Points{{0, 0}, {0, 1}, {1, 2}, {1, 3}, {2, 4}, {2, 5}}));
    // pixels off the frame are skipped
    EXPECT_EQ(Drawn(4, 4, [](auto& r) { r.ThinLine(-2, 1, 6, 1, 1); }), Rows(0, 3, 1, 1));
}

TEST(SafLines, ThicknessByTheOffsetWalk) {
    struct Case { const char* name; int x0, y0, x1, y1, t; Points expected; };
    Points diagonal;
    for (int i = 0; i <= 4; ++i) {
        diagonal.insert({i, i});          // centre line
        diagonal.insert({i + 1, i - 1});  // the walk's side, off the frame at (1, -1)
        diagonal.insert({i + 1, i});      // its copy shifted down after the diagonal step
    }
    diagonal.erase({1, -1});
    const Case cases[] = {
        {"odd", 2, 5, 8, 5, 3, Rows(2, 8, 4, 6)},
        {"even", 2, 5, 8, 5, 4, Rows(2, 8, 3, 6)},  // one row more on the walk's side
        {"vertical", 3, 1, 3, 6, 3, Rows(2, 4, 1, 6)},
        {"diagonal even", 0, 0, 4, 4, 2, diagonal},
        {"zero", 0, 0, 5, 5, 0, {}},
        {"point", 3, 3, 3, 3, 3, {}},
    };
    for (const Case& k : cases)
        EXPECT_EQ(Drawn(10, 10, [&k](auto& r) { r.Line(k.x0, k.y0, k.x1, k.y1, 1, k.t, false); }), k.expected) << k.name;
}

// The filled disc of radius 2 that the midpoint walk makes: 5 x 5 without corners.
Points Disc2(int cx, int cy) {
    Points p = Rows(cx - 2, cx + 2, cy - 2, cy + 2);
    for (int dx : {-2, 2})
        for (int dy : {-2, 2}) p.erase({cx + dx, cy + dy});
    return p;
}

TEST(SafLines, RoundCaps) {
    Points expected = Rows(4, 10, 3, 7);
    for (const Points& disc : {Disc2(4, 5), Disc2(10, 5)}) expected.insert(disc.begin(), disc.end());
    EXPECT_EQ(Drawn(16, 10, [](auto& r) { r.Line(4, 5, 10, 5, 1, 5, true); }), expected);
    // Thickness 2 never gets caps.
    EXPECT_EQ(Drawn(16, 10, [](auto& r) { r.Line(4, 5, 10, 5, 1, 2, true); }), Rows(4, 10, 4, 5));
}

TEST(SafEllipses, FilledCircleAndOutline) {
    Canvas c(9, 9);
    c.r.Ellipse(4, 4, 2, 2, 0, 0, 7, 3, 1, false);
    EXPECT_EQ(c.Lit(), Disc2(4, 4));
    EXPECT_EQ(c.Lit(3), Rows(3, 5, 3, 5));
    auto ring = [](auto& r) { r.Ellipse(4, 4, 2, 2, 0, 0, 7, 3, 1, true); };
    EXPECT_EQ(Drawn(9, 9, ring, 3), Points{});
    EXPECT_EQ(Drawn(9, 9, ring, 7).size(), 12u);
}

TEST(SafEllipses, ThickOutlineRunsInward) {
    const Points lit = Drawn(30, 30, [](auto& r) { r.Ellipse(15, 15, 10, 6, 0, 0, 7, 0, 3, true); });
    // The top and bottom get runs of 3 toward the centre.
    for (int y : {9, 10, 11, 19, 20, 21}) EXPECT_TRUE(lit.count({15, y})) << y;
    // The sides too.
    for (int x : {5, 6, 7, 23, 24, 25}) EXPECT_TRUE(lit.count({x, 15})) << x;
    for (const auto& q : {std::pair{15, 12}, std::pair{15, 8}, std::pair{8, 15}}) EXPECT_FALSE(lit.count(q));
    for (const auto& [x, y] : lit) {
        const double e = std::pow((x - 15) / 10.0, 2) + std::pow((y - 15) / 6.0, 2);
        EXPECT_LE(e, 1.1) << x << "," << y;
    }
}

TEST(SafEllipses, ArcsChooseByAngle) {
    auto arc = [](int from, int to, bool outline) {
        return Drawn(30, 30, [&](auto& r) { r.Ellipse(15, 15, 8, 8, from, to, 7, 0, 1, outline); });
    };
    EXPECT_TRUE(arc(40, 40, false).empty());
    // Angle 0 points right and 64 down: each arc keeps to its quarter of the whole outline.
    Points lr, ul;
    for (const auto& [x, y] : arc(0, 0, true)) {
        if (x >= 15 && y >= 15) lr.insert({x, y});
        if (x <= 15 && y <= 15) ul.insert({x, y});
    }
    EXPECT_EQ(arc(0, 64, false), lr);  // an arc is never filled
    EXPECT_EQ(arc(128, 192, false), ul);
}

TEST(SafShapes, RectanglePolygonPolyline) {
    Points border = Rows(2, 6, 2, 6);
    for (const auto& q : Rows(3, 5, 3, 5)) border.erase(q);
    const Bytes rect = SafItem(3, {6, 6, 2, 2, 9, 5, 1, 0});  // corners given backwards
    const Bytes square = SafItem(4, {4, 9, 1, 2, 6, 6, 2, 2, 2, 6, 6, 5, 0});
    for (const Bytes& item : {rect, square}) {
        EXPECT_EQ(ItemLit(10, 10, item, 9), border) << int(item[0]);
        EXPECT_EQ(ItemLit(10, 10, item, 5), Rows(3, 5, 3, 5)) << int(item[0]);
    }
    EXPECT_EQ(ItemLit(10, 10, SafItem(5, {3, 9, 1, 0, 4, 4, 0, 0, 3}), 9),
              (Points{{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {4, 1}, {4, 2}, {4, 3}}));
}

// The even-odd rule pixel by pixel, as a second derivation of the row fill.
bool InsideByRule(const std::vector<int>& xs, const std::vector<int>& ys, long long x, long long y) {
    bool inside = false;
    const std::size_t n = xs.size();
    for (std::size_t i = 0; i < n; ++i) {
        const long long xi = xs[i], yi = ys[i];
        const long long xp = xs[(i + n - 1) % n], yp = ys[(i + n - 1) % n];
        if (y < std::min(yi, yp) || y >= std::max(yi, yp)) continue;
        if ((x - xi) * (yp - yi) * (yp - yi) < (xp - xi) * (y - yi) * (yp - yi)) inside = !inside;
    }
    return inside;
}

TEST(SafShapes, PolygonFillFollowsTheEvenOddRule) {
    std::uint32_t seed = 7;
    auto next = [&seed](int mod) { return static_cast<int>(((seed = seed * 1664525u + 1013904223u) >> 8) % mod); };
    for (int trial = 0; trial < 40; ++trial) {
        const int n = 3 + next(10);
        std::vector<int> xs(n), ys(n);
        Bytes params = {static_cast<std::uint8_t>(n), 0, 0};
        for (int& x : xs) params.push_back(static_cast<std::uint8_t>(x = next(40)));
        for (int& y : ys) params.push_back(static_cast<std::uint8_t>(y = next(30)));
        params.insert(params.end(), {1, 0});
        Points expected;
        for (int y = 0; y < 28; ++y)
            for (int x = 0; x < 36; ++x)
                if (InsideByRule(xs, ys, x, y)) expected.insert({x, y});
        EXPECT_EQ(ItemLit(36, 28, SafItem(4, params), 1), expected) << trial;  // the frame cuts some polygons
    }
}

TEST(SafShapes, HalfPlaneAndEllipseMasks) {
    EXPECT_EQ(ItemLit(6, 6, SafItem(17, {0, 3, 5, 3, 4}), 4), Rows(0, 5, 0, 2));
    const Points slanted = ItemLit(6, 6, SafItem(17, {0, 0, 5, 5, 4}), 4);  // below the diagonal: x > y
    for (const auto& [x, y] : slanted) EXPECT_GT(x, y);
    EXPECT_EQ(slanted.size(), 15u);

    const Points lit = ItemLit(11, 11, SafItem(18, {5, 5, 2, 2, 4}), 4);
    EXPECT_FALSE(lit.count({5, 5}));
    EXPECT_FALSE(lit.count({6, 6}));
    EXPECT_TRUE(lit.count({5, 7}));  // on the boundary counts as outside
    EXPECT_TRUE(lit.count({0, 0}));
    EXPECT_EQ(lit.size(), 121u - 9u);
    EXPECT_TRUE(ItemLit(4, 4, SafItem(18, {2, 2, 0, 2, 4})).empty());
}

}  // namespace
}  // namespace handpix::test
