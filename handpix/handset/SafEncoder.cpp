#include "handpix/handset/SafEncoder.h"

#include <algorithm>
#include <array>
#include <string>

#include "handpix/handset/SafParser.h"
#include "handpix/handset/SafWriter.h"

namespace handpix {

namespace {

constexpr std::size_t kPlaceItemBytes = 7;   // type, length, object, flags, modes, x, y
constexpr std::size_t kMaxItemsPerFrame = 32;  // keeps display lists short to draw
constexpr unsigned kMaxDelayTenths = 655;     // the stream keeps milliseconds in 16 bits

struct Rect {
    std::uint32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // x1, y1 exclusive
    bool Empty() const { return x1 <= x0 || y1 <= y0; }
    std::size_t Area() const { return Empty() ? 0 : std::size_t{x1 - x0} * (y1 - y0); }
};

struct Object {
    Rect at;        // where the frame that made it shows it
    Bytes pixels;   // (x1 - x0) x (y1 - y0)
    Bytes packed;   // deflated
};

struct Placement {
    std::size_t object;
    std::uint32_t x, y;
};

struct FramePlan {
    std::uint8_t background = 0;
    std::vector<Placement> items;
};

class Planner {
public:
    explicit Planner(const SafFrames& a) : m_a(a) {}

    EncodeResult Plan() {
        for (std::size_t f = 0; f < m_a.frames.size(); ++f) {
            if (!PlanFrame(f)) return EncodeResult::Fail(m_error);
        }
        return Write();
    }

private:
    // The rectangle of pixels where frame f differs from `other`, or from the
    // single colour `bg` when other is null.
    Rect Difference(const Bytes& f, const Bytes* other, std::uint8_t bg) const {
        Rect r{m_a.width, m_a.height, 0, 0};
        for (std::uint32_t y = 0; y < m_a.height; ++y) {
            const std::uint8_t* row = f.data() + std::size_t{y} * m_a.width;
            const std::uint8_t* orow = other ? other->data() + std::size_t{y} * m_a.width : nullptr;
            for (std::uint32_t x = 0; x < m_a.width; ++x) {
                if (row[x] == (orow ? orow[x] : bg)) continue;
                r.x0 = std::min(r.x0, x), r.x1 = std::max(r.x1, x + 1);
                r.y0 = std::min(r.y0, y), r.y1 = std::max(r.y1, y + 1);
            }
        }
        return r.Empty() ? Rect{} : r;
    }

    static std::uint8_t MostCommon(const Bytes& f) {
        std::array<std::size_t, 256> n{};
        for (std::uint8_t v : f) ++n[v];
        return static_cast<std::uint8_t>(std::max_element(n.begin(), n.end()) - n.begin());
    }

    Bytes Cut(const Bytes& f, const Rect& r) const {
        Bytes out;
        out.reserve(r.Area());
        for (std::uint32_t y = r.y0; y < r.y1; ++y) {
            const std::uint8_t* row = f.data() + std::size_t{y} * m_a.width;
            out.insert(out.end(), row + r.x0, row + r.x1);
        }
        return out;
    }

    // The object showing rectangle r of frame f: an existing one with the
    // same pixels, or a new one (not yet kept). cost: its packed bytes if new.
    std::size_t FindOrMake(const Bytes& f, const Rect& r, Object& made, std::size_t& cost) const {
        made = {r, Cut(f, r), {}};
        const std::uint32_t w = r.x1 - r.x0;
        for (std::size_t i = 0; i < m_objects.size(); ++i) {
            const Object& o = m_objects[i];
            if (o.at.x1 - o.at.x0 == w && o.pixels == made.pixels) {
                cost = 0;
                return i;
            }
        }
        made.packed = SafDeflate(made.pixels);
        cost = made.packed.size();
        return m_objects.size();
    }

    bool PlanFrame(std::size_t f) {
        const Bytes& px = m_a.frames[f];
        // Fresh: the commonest colour as background, one object over the rest.
        FramePlan best;
        best.background = MostCommon(px);
        Object bestObject;
        std::size_t bestObjectIndex = SIZE_MAX;
        std::size_t bestCost = 0;
        const Rect fresh = Difference(px, nullptr, best.background);
        if (!fresh.Empty()) {
            bestObjectIndex = FindOrMake(px, fresh, bestObject, bestCost);
            best.items.push_back({bestObjectIndex, fresh.x0, fresh.y0});
        }
        bestCost += best.items.size() * kPlaceItemBytes;
        // Or an earlier frame's plan with a patch over what changed.
        for (std::size_t g : Candidates(f)) {
            if (m_plans[g].items.size() >= kMaxItemsPerFrame) continue;
            const Rect d = Difference(px, &m_a.frames[g], 0);
            FramePlan plan = m_plans[g];
            Object made;
            std::size_t index = SIZE_MAX, cost = 0;
            if (!d.Empty()) {
                index = FindOrMake(px, d, made, cost);
                plan.items.push_back({index, d.x0, d.y0});
            }
            cost += plan.items.size() * kPlaceItemBytes;
            if (cost < bestCost && PoolFits(index == m_objects.size() ? made.pixels.size() : 0)) {
                best = plan, bestObject = std::move(made), bestObjectIndex = index, bestCost = cost;
            }
        }
        if (bestObjectIndex == m_objects.size()) {
            if (bestObject.packed.empty()) return Fail("the object could not be compressed");
            if (!PoolFits(bestObject.pixels.size()))
                return Fail("the frames need more than the reader's " + std::to_string(m_a.poolBytes) +
                            " bytes of object memory; use fewer or smaller frames, or fewer colours");
            if (m_objects.size() == kSafMaxObjects)
                return Fail("the frames need more than " + std::to_string(kSafMaxObjects) + " objects");
            m_poolUsed += bestObject.pixels.size();
            m_objects.push_back(std::move(bestObject));
        }
        m_plans.push_back(std::move(best));
        return true;
    }

    // Earlier frames worth patching from: the one before, and the one whose
    // difference is smallest.
    std::vector<std::size_t> Candidates(std::size_t f) const {
        if (f == 0) return {};
        std::size_t smallest = f - 1, area = SIZE_MAX;
        for (std::size_t g = 0; g < f; ++g) {
            const std::size_t a = Difference(m_a.frames[f], &m_a.frames[g], 0).Area();
            if (a < area) smallest = g, area = a;
        }
        if (smallest == f - 1) return {f - 1};
        return {f - 1, smallest};
    }

    bool PoolFits(std::size_t more) const { return m_poolUsed + more <= m_a.poolBytes; }
    bool Fail(std::string why) {
        m_error = std::move(why);
        return false;
    }

    EncodeResult Write() const {
        SafWriter w;
        const std::size_t n = m_a.frames.size();
        std::vector<int> delays;
        for (std::size_t f = 0; f < n; ++f)
            delays.push_back(100 * static_cast<int>(std::min(f < m_a.delays.size() ? m_a.delays[f] : 1u, kMaxDelayTenths)));
        const bool same = std::all_of(delays.begin(), delays.end(), [&](int d) { return d == delays[0]; });
        // A single delay of 0 would announce per-frame delays instead.
        w.Header({SafImageHeader(static_cast<int>(m_a.width), static_cast<int>(m_a.height), 8, m_a.loop ? 1 : 0),
                  SafAnimation(static_cast<int>(n)), same && delays[0] ? SafDelay(delays[0]) : SafFrameDelays(delays)});
        for (std::size_t i = 0; i < m_objects.size(); ++i) {
            const Object& o = m_objects[i];
            if (o.packed.size() > 0xFFFF) return EncodeResult::Fail("an object does not fit its 16-bit length");
            w.ObjectRaw(static_cast<int>(i), static_cast<int>(o.at.x1 - o.at.x0), static_cast<int>(o.at.y1 - o.at.y0), 1,
                        0, o.packed);
        }
        for (const FramePlan& p : m_plans) {
            std::vector<Bytes> items;
            for (const Placement& pl : p.items)
                items.push_back(SafPlaceItem({.object = static_cast<int>(pl.object), .x = static_cast<int>(pl.x),
                                              .y = static_cast<int>(pl.y)}));
            w.FrameItems(p.background, items);
        }
        w.End();
        if (w.Size() > 0xFFFF) return EncodeResult::Fail("the stream is longer than its 16-bit length");
        return {w.Build(), {}};
    }

    const SafFrames& m_a;
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
    return Planner(a).Plan();
}

}  // namespace handpix
