#include "handpix/handset/SafEncoder.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

#include "handpix/handset/SafParser.h"
#include "handpix/handset/SafWriter.h"

namespace handpix {

namespace {

constexpr std::size_t kMaxItemsPerFrame = 8;     // placements a frame may take before its patch
constexpr std::size_t kMaxCoverPositions = 4096; // positions tried when an object could cover a patch
constexpr unsigned kMaxDelayTenths = 655;        // the stream keeps milliseconds in 16 bits
constexpr int kNoKey = -1;
constexpr std::size_t kMaxPatches = 16;          // separate patches a frame may take

struct Rect {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // x1, y1 exclusive
    bool Empty() const { return x1 <= x0 || y1 <= y0; }
};

struct Object {
    int w = 0, h = 0;
    int key = kNoKey;  // pixels of this value draw nothing (colour-keyed placement)
    Bytes pixels;
    Bytes packed;      // deflated
};

struct Placement {
    std::size_t object;
    int x, y;
};

struct FramePlan {
    std::uint8_t background = 0;
    std::vector<Placement> items;
};

// A frame being drawn from its plan, against the frame it must become.
struct Canvas {
    int w, h;
    const Bytes& want;
    Bytes now;

    bool Right(int x, int y) const { return now[At(x, y)] == want[At(x, y)]; }
    std::size_t At(int x, int y) const { return static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x); }
    void Draw(const Object& o, int ox, int oy) {
        for (int y = std::max(0, oy); y < std::min(h, oy + o.h); ++y)
            for (int x = std::max(0, ox); x < std::min(w, ox + o.w); ++x) {
                const std::uint8_t v = o.pixels[static_cast<std::size_t>((y - oy) * o.w + (x - ox))];
                if (v != o.key) now[At(x, y)] = v;
            }
    }
};

class Planner {
public:
    // seed: objects offered to every frame before any new one is made.
    Planner(const SafFrames& a, std::vector<Object> seed)
        : m_a(a), m_w(static_cast<int>(a.width)), m_h(static_cast<int>(a.height)), m_objects(std::move(seed)) {
        for (const Object& o : m_objects) m_poolUsed += o.pixels.size();
    }

    EncodeResult Plan() {
        for (const Bytes& f : m_a.frames)
            if (!PlanFrame(f)) return EncodeResult::Fail(m_error);
        DropUnused();
        return Write();
    }

    // Every object as the frames that place it show it: each pixel takes the
    // value most of those frames have there. An object that brought a moving
    // sprite along with a still or scrolling picture loses the sprite, which
    // the frames then patch where it really is.
    std::vector<Object> Cleaned() const {
        std::vector<Object> out;
        for (std::size_t i = 0; i < m_objects.size(); ++i) {
            // Patches are made again to fit the cleaned pictures.
            if (4 * m_objects[i].pixels.size() < m_a.frames[0].size()) continue;
            Object o = m_objects[i];
            std::vector<std::uint8_t> candidate(o.pixels.size());
            std::vector<int> votes(o.pixels.size(), 0);
            for (std::size_t f = 0; f < m_plans.size(); ++f)
                for (const Placement& p : m_plans[f].items) {
                    if (p.object != i) continue;
                    for (int y = std::max(0, p.y); y < std::min(m_h, p.y + o.h); ++y)
                        for (int x = std::max(0, p.x); x < std::min(m_w, p.x + o.w); ++x) {
                            // The majority vote of Boyer and Moore, pixel by pixel.
                            const std::size_t k = static_cast<std::size_t>((y - p.y) * o.w + (x - p.x));
                            const std::uint8_t v = m_a.frames[f][static_cast<std::size_t>(y * m_w + x)];
                            if (votes[k] == 0) candidate[k] = v, votes[k] = 1;
                            else votes[k] += candidate[k] == v ? 1 : -1;
                        }
                }
            for (std::size_t k = 0; k < o.pixels.size(); ++k)
                if (votes[k] > 0) o.pixels[k] = candidate[k];
            // A key that a vote brought back as a colour would hide it: the
            // object then has no key (its pixels are all the frames' own).
            if (o.key != kNoKey && std::count(o.pixels.begin(), o.pixels.end(), o.key) == 0) o.key = kNoKey;
            o.packed = SafDeflate(o.pixels);
            if (!o.packed.empty()) out.push_back(std::move(o));
        }
        return out;
    }

private:
    // The commonest value, or the frame before's background while it is at
    // least half as common: keyed objects show the background through, so
    // a steady one lets them be placed again.
    std::uint8_t Background(const Bytes& f) const {
        std::array<std::size_t, 256> n{};
        for (std::uint8_t v : f) ++n[v];
        const auto common = static_cast<std::uint8_t>(std::max_element(n.begin(), n.end()) - n.begin());
        if (m_plans.empty()) return common;
        const std::uint8_t before = m_plans.back().background;
        return 2 * n[before] >= n[common] ? before : common;
    }

    // A frame is its background, the stored objects that make most of it right
    // where they are placed (a still part, a scrolled one), and one patch
    // over what is still wrong, colour-keyed so that it carries only that.
    bool PlanFrame(const Bytes& px) {
        FramePlan plan;
        plan.background = Background(px);
        Canvas c{m_w, m_h, px, Bytes(px.size(), plan.background)};
        while (plan.items.size() < kMaxItemsPerFrame) {
            Placement best{};
            long gain = 0;
            for (std::size_t o = 0; o < m_objects.size(); ++o) FindBestPlacement(c, o, best, gain);
            if (gain < static_cast<long>(std::max<std::size_t>(64, px.size() / 64))) break;
            c.Draw(m_objects[best.object], best.x, best.y);
            plan.items.push_back(best);
        }
        for (const Rect& wrong : WrongParts(c)) {
            Placement patch{};
            if (!Covering(c, wrong, patch) && !AddPatch(c, wrong, patch)) return false;
            c.Draw(m_objects[patch.object], patch.x, patch.y);
            plan.items.push_back(patch);
        }
        m_plans.push_back(std::move(plan));
        return true;
    }

    // How many more pixels placing object o at (x, y) makes right than wrong.
    long Gain(const Canvas& c, const Object& o, int ox, int oy) const {
        long gain = 0;
        for (int y = std::max(0, oy); y < std::min(m_h, oy + o.h); ++y)
            for (int x = std::max(0, ox); x < std::min(m_w, ox + o.w); ++x) {
                const std::uint8_t v = o.pixels[static_cast<std::size_t>((y - oy) * o.w + (x - ox))];
                if (v == o.key) continue;
                gain += (v == c.want[c.At(x, y)]) - c.Right(x, y);
            }
        return gain;
    }

    // Tries object o where it was first shown and shifted along
    // either axis (scrolling pictures); a few sample pixels rule out most
    // positions before the full count.
    void FindBestPlacement(const Canvas& c, std::size_t index, Placement& best, long& gain) const {
        const Object& o = m_objects[index];
        const auto sampleMatches = [&](int ox, int oy) {
            int hits = 0, tried = 0;
            for (int k = 0; k < 16; ++k) {
                const int x = std::max(0, ox) + (k * 37) % std::max(1, std::min(m_w, ox + o.w) - std::max(0, ox));
                const int y = std::max(0, oy) + (k * 53) % std::max(1, std::min(m_h, oy + o.h) - std::max(0, oy));
                if (x >= m_w || y >= m_h) continue;
                ++tried;
                // A key pixel shows what is below it.
                const std::uint8_t v = o.pixels[static_cast<std::size_t>((y - oy) * o.w + (x - ox))];
                hits += v == o.key ? c.Right(x, y) : v == c.want[c.At(x, y)];
            }
            return tried && 2 * hits > tried;
        };
        const auto consider = [&](int ox, int oy) {
            if (ox <= -o.w || oy <= -o.h || ox >= m_w || oy >= m_h || ox < -255 || oy < -255 || ox > 255 || oy > 255) return;
            if (!sampleMatches(ox, oy)) return;
            const long g = Gain(c, o, ox, oy);
            if (g > gain) gain = g, best = {index, ox, oy};
        };
        for (int dx = -o.w + 1; dx < m_w; ++dx) consider(dx, 0);
        for (int dy = -o.h + 1; dy < m_h; ++dy)
            if (dy) consider(0, dy);
    }

    // A stored object that, placed somewhere over the wrong rectangle, makes
    // all of it right and spoils nothing.
    bool Covering(const Canvas& c, const Rect& wrong, Placement& out) const {
        for (std::size_t i = 0; i < m_objects.size(); ++i) {
            const Object& o = m_objects[i];
            const int spanX = o.w - (wrong.x1 - wrong.x0), spanY = o.h - (wrong.y1 - wrong.y0);
            if (spanX < 0 || spanY < 0 || static_cast<std::size_t>(spanX + 1) * static_cast<std::size_t>(spanY + 1) > kMaxCoverPositions)
                continue;
            for (int oy = wrong.y1 - o.h; oy <= wrong.y0; ++oy)
                for (int ox = wrong.x1 - o.w; ox <= wrong.x0; ++ox)
                    if (std::abs(ox) <= 255 && std::abs(oy) <= 255 && Fits(c, o, ox, oy)) {
                        out = {i, ox, oy};
                        return true;
                    }
        }
        return false;
    }

    // Placed at (ox, oy), o spoils no pixel and leaves none wrong under it.
    bool Fits(const Canvas& c, const Object& o, int ox, int oy) const {
        for (int y = std::max(0, oy); y < std::min(m_h, oy + o.h); ++y)
            for (int x = std::max(0, ox); x < std::min(m_w, ox + o.w); ++x) {
                const std::uint8_t v = o.pixels[static_cast<std::size_t>((y - oy) * o.w + (x - ox))];
                if (v == o.key ? !c.Right(x, y) : v != c.want[c.At(x, y)]) return false;
            }
        return true;
    }

    // The wrong pixels in groups far enough apart to be patched apart (a
    // sprite that moved leaves two): the boxes of pixels within kReach of
    // each other, merged where they overlap.
    std::vector<Rect> WrongParts(const Canvas& c) const {
        constexpr int kReach = 3;
        std::vector<int> group(c.now.size(), -1);
        std::vector<Rect> boxes;
        std::vector<std::pair<int, int>> todo;
        for (int y = 0; y < m_h; ++y)
            for (int x = 0; x < m_w; ++x) {
                if (c.Right(x, y) || group[c.At(x, y)] >= 0) continue;
                const int g = static_cast<int>(boxes.size());
                Rect box{x, y, x + 1, y + 1};
                todo.assign(1, {x, y});
                group[c.At(x, y)] = g;
                while (!todo.empty()) {
                    const auto [px, py] = todo.back();
                    todo.pop_back();
                    box.x0 = std::min(box.x0, px), box.x1 = std::max(box.x1, px + 1);
                    box.y0 = std::min(box.y0, py), box.y1 = std::max(box.y1, py + 1);
                    for (int ny = std::max(0, py - kReach); ny <= std::min(m_h - 1, py + kReach); ++ny)
                        for (int nx = std::max(0, px - kReach); nx <= std::min(m_w - 1, px + kReach); ++nx)
                            if (!c.Right(nx, ny) && group[c.At(nx, ny)] < 0) {
                                group[c.At(nx, ny)] = g;
                                todo.push_back({nx, ny});
                            }
                }
                boxes.push_back(box);
            }
        // Many scattered parts become one box: a display list stays short.
        if (boxes.size() > kMaxPatches) {
            Rect all = boxes[0];
            for (const Rect& b : boxes)
                all = {std::min(all.x0, b.x0), std::min(all.y0, b.y0), std::max(all.x1, b.x1), std::max(all.y1, b.y1)};
            return {all};
        }
        // Boxes that overlap become one.
        for (bool merged = true; merged;) {
            merged = false;
            for (std::size_t i = 0; i < boxes.size() && !merged; ++i)
                for (std::size_t j = i + 1; j < boxes.size() && !merged; ++j) {
                    Rect& a = boxes[i];
                    const Rect& b = boxes[j];
                    if (a.x0 < b.x1 && b.x0 < a.x1 && a.y0 < b.y1 && b.y0 < a.y1) {
                        a = {std::min(a.x0, b.x0), std::min(a.y0, b.y0), std::max(a.x1, b.x1), std::max(a.y1, b.y1)};
                        boxes.erase(boxes.begin() + static_cast<std::ptrdiff_t>(j));
                        merged = true;
                    }
                }
        }
        return boxes;
    }

    // A new object over the wrong rectangle: the wanted pixels, and the key
    // where the frame is right already (when a value is free to be the key).
    bool AddPatch(const Canvas& c, const Rect& r, Placement& out) {
        Object o;
        o.w = r.x1 - r.x0, o.h = r.y1 - r.y0;
        std::array<bool, 256> used{};
        for (int y = r.y0; y < r.y1; ++y)
            for (int x = r.x0; x < r.x1; ++x)
                if (!c.Right(x, y)) used[c.want[c.At(x, y)]] = true;
        int key = kNoKey;
        for (int v = 255; v >= 0 && key == kNoKey; --v)
            if (!used[static_cast<std::size_t>(v)]) key = v;
        bool keyed = false;
        for (int y = r.y0; y < r.y1; ++y)
            for (int x = r.x0; x < r.x1; ++x) {
                const bool keep = key != kNoKey && c.Right(x, y);
                keyed = keyed || keep;
                o.pixels.push_back(keep ? static_cast<std::uint8_t>(key) : c.want[c.At(x, y)]);
            }
        o.key = keyed ? key : kNoKey;
        if (m_poolUsed + o.pixels.size() > m_a.poolBytes)
            return Fail("the frames need more than the reader's " + std::to_string(m_a.poolBytes) +
                        " bytes of object memory; use fewer or smaller frames, or fewer colours");
        if (m_objects.size() == kSafMaxObjects)
            return Fail("the frames need more than " + std::to_string(kSafMaxObjects) + " objects");
        o.packed = SafDeflate(o.pixels);
        if (o.packed.empty() || o.packed.size() > 0xFFFF) return Fail("an object could not be compressed");
        m_poolUsed += o.pixels.size();
        m_objects.push_back(std::move(o));
        out = {m_objects.size() - 1, r.x0, r.y0};
        return true;
    }

    bool Fail(std::string why) {
        m_error = std::move(why);
        return false;
    }

    // Seeded objects that no frame placed are not written.
    void DropUnused() {
        std::vector<std::size_t> number(m_objects.size(), SIZE_MAX);
        std::vector<Object> kept;
        for (const FramePlan& p : m_plans)
            for (const Placement& pl : p.items)
                if (number[pl.object] == SIZE_MAX) number[pl.object] = 0;
        for (std::size_t i = 0; i < m_objects.size(); ++i)
            if (number[i] != SIZE_MAX) number[i] = kept.size(), kept.push_back(std::move(m_objects[i]));
        m_objects = std::move(kept);
        for (FramePlan& p : m_plans)
            for (Placement& pl : p.items) pl.object = number[pl.object];
    }

    EncodeResult Write() const {
        SafWriter w;
        const std::size_t n = m_a.frames.size();
        std::vector<int> delays;
        for (std::size_t f = 0; f < n; ++f)
            delays.push_back(100 * static_cast<int>(std::min(f < m_a.delays.size() ? m_a.delays[f] : 1u, kMaxDelayTenths)));
        const bool same = std::all_of(delays.begin(), delays.end(), [&](int d) { return d == delays[0]; });
        // A single delay of 0 would announce per-frame delays instead.
        w.Header({SafImageHeader(m_w, m_h, 8, m_a.loop ? 1 : 0), SafAnimation(static_cast<int>(n)),
                  same && delays[0] ? SafDelay(delays[0]) : SafFrameDelays(delays)});
        for (std::size_t i = 0; i < m_objects.size(); ++i) {
            const Object& o = m_objects[i];
            w.ObjectRaw(static_cast<int>(i), o.w, o.h, 1, o.key == kNoKey ? 0 : o.key, o.packed);
        }
        for (const FramePlan& p : m_plans) {
            std::vector<Bytes> items;
            for (const Placement& pl : p.items)
                items.push_back(SafPlaceItem({.object = static_cast<int>(pl.object), .x = pl.x, .y = pl.y,
                                              .mode = m_objects[pl.object].key == kNoKey ? 0 : 2}));
            w.FrameItems(p.background, items);
        }
        w.End();
        if (w.Size() > 0xFFFF) return EncodeResult::Fail("the stream is longer than its 16-bit length");
        return {w.Build(), {}};
    }

    const SafFrames& m_a;
    int m_w, m_h;
    std::vector<Object> m_objects;
    std::vector<FramePlan> m_plans;
    std::size_t m_poolUsed = 0;
    std::string m_error;
};

}  // namespace

EncodeResult EncodeSafAnimation(const SafFrames& a) {
    if (a.width < 1 || a.width > 255 || a.height < 1 || a.height > 255)
        return EncodeResult::Fail("a SAF stream is 1 to 255 pixels each way");
    if (a.frames.empty() || a.frames.size() > kSafMaxFrames)
        return EncodeResult::Fail("a SAF stream holds 1 to " + std::to_string(kSafMaxFrames) + " frames");
    for (const Bytes& f : a.frames)
        if (f.size() != std::size_t{a.width} * a.height) return EncodeResult::Fail("frame size does not match");
    // A second plan from the first one's objects, cleaned of what moved over
    // them, when that is smaller.
    Planner first(a, {});
    EncodeResult r = first.Plan();
    if (!r) return r;
    EncodeResult second = Planner(a, first.Cleaned()).Plan();
    return second && second.bytes.size() < r.bytes.size() ? second : r;
}

}  // namespace handpix
