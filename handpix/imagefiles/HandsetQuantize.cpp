#include "handpix/imagefiles/HandsetQuantize.h"

#include <algorithm>
#include <array>
#include <cstdlib>

#include "handpix/platform/core/Resample.h"

namespace handpix {

namespace {

constexpr std::uint16_t kKey565 = 0xF81F;  // magenta: rare in pictures
constexpr std::uint8_t kKey332 = 0xE3;
constexpr int kPaletteEntries = 256;
constexpr int kMaxCarry = 128;  // the widest level step of any depth

int Luminance(int r, int g, int b) { return (77 * r + 150 * g + 29 * b + 128) >> 8; }

// Per channel: the levels a depth shows and, for every 8-bit input, the
// nearest of them.
struct Channel {
    std::vector<int> levels;
    std::array<std::uint8_t, 256> nearest{};
    int shift = 0;  // where the level index goes in the value
};

Channel MakeChannel(std::vector<int> levels, int shift) {
    Channel c{std::move(levels), {}, shift};
    for (int v = 0; v < 256; ++v) {
        std::size_t best = 0;
        for (std::size_t i = 1; i < c.levels.size(); ++i)
            if (std::abs(c.levels[i] - v) < std::abs(c.levels[best] - v)) best = i;
        c.nearest[static_cast<std::size_t>(v)] = static_cast<std::uint8_t>(best);
    }
    return c;
}

// The three channels of a depth whose value is made of separate fields,
// with their levels taken from the readers' expansion rules.
std::array<Channel, 3> Fields(int bits) {
    std::vector<int> r, g, b;
    if (bits == 16) {
        for (unsigned i = 0; i < 32; ++i) r.push_back(ExpandRgb565(static_cast<std::uint16_t>(i << 11)).r);
        for (unsigned i = 0; i < 64; ++i) g.push_back(ExpandRgb565(static_cast<std::uint16_t>(i << 5)).g);
        for (unsigned i = 0; i < 32; ++i) b.push_back(ExpandRgb565(static_cast<std::uint16_t>(i)).b);
        return {MakeChannel(r, 11), MakeChannel(g, 5), MakeChannel(b, 0)};
    }
    if (bits == 8) {
        for (unsigned i = 0; i < 8; ++i) r.push_back(ExpandRgb332(static_cast<std::uint8_t>(i << 5)).r);
        for (unsigned i = 0; i < 8; ++i) g.push_back(ExpandRgb332(static_cast<std::uint8_t>(i << 2)).g);
        for (unsigned i = 0; i < 4; ++i) b.push_back(ExpandRgb332(static_cast<std::uint8_t>(i)).b);
        return {MakeChannel(r, 5), MakeChannel(g, 2), MakeChannel(b, 0)};
    }
    for (int i = 0; i < 256; ++i) r.push_back(i);
    return {MakeChannel(r, 16), MakeChannel(r, 8), MakeChannel(r, 0)};
}

// Chooses the value of one pixel and says the colour it shows.
class Chooser {
public:
    Chooser(const ColourTarget& t, int key) : m_t(t), m_key(key) {
        if (t.shown.empty()) m_fields = Fields(t.bits);
        m_cache.fill(-1);
    }

    // The colour a value shows.
    Rgb Shown(std::uint32_t v) const {
        if (!m_t.shown.empty()) return m_t.shown[v];
        int out[3];
        for (std::size_t c = 0; c < 3; ++c) {
            const Channel& ch = m_fields[c];
            out[c] = ch.levels[(v >> ch.shift) & (ch.levels.size() - 1)];
        }
        return {static_cast<std::uint8_t>(out[0]), static_cast<std::uint8_t>(out[1]), static_cast<std::uint8_t>(out[2])};
    }

    std::uint32_t Choose(int r, int g, int b, Rgb& shown) {
        r = std::clamp(r, 0, 255), g = std::clamp(g, 0, 255), b = std::clamp(b, 0, 255);
        if (m_t.shown.empty()) return ChooseFields(r, g, b, shown);
        const std::size_t slot = static_cast<std::size_t>((r >> 3) << 10 | (g >> 3) << 5 | (b >> 3));
        // The cache serves a 5-5-5 bucket once its first colour was searched
        // exactly: neighbours in a bucket differ by less than a level step.
        int v = m_cache[slot];
        if (v < 0) v = m_cache[slot] = Nearest(r, g, b);
        shown = m_t.shown[static_cast<std::size_t>(v)];
        return static_cast<std::uint32_t>(v);
    }

private:
    std::uint32_t ChooseFields(int r, int g, int b, Rgb& shown) {
        const int in[3] = {r, g, b};
        std::uint32_t value = 0;
        int out[3];
        for (int c = 0; c < 3; ++c) {
            const Channel& ch = m_fields[static_cast<std::size_t>(c)];
            const std::uint8_t i = ch.nearest[static_cast<std::size_t>(in[c])];
            value |= static_cast<std::uint32_t>(i) << ch.shift;
            out[c] = ch.levels[i];
        }
        // An opaque pixel never takes the transparent value: the nearest
        // other value differs in the lowest bit of blue.
        if (m_key >= 0 && value == static_cast<std::uint32_t>(m_key)) {
            value ^= 1;
            out[2] = m_fields[2].levels[(value >> m_fields[2].shift) & (m_fields[2].levels.size() - 1)];
        }
        shown = {static_cast<std::uint8_t>(out[0]), static_cast<std::uint8_t>(out[1]), static_cast<std::uint8_t>(out[2])};
        return value;
    }

    int Nearest(int r, int g, int b) const {
        int best = -1;
        long bestD = 0;
        for (std::size_t i = 0; i < m_t.shown.size(); ++i) {
            if (static_cast<int>(i) == m_key) continue;
            const Rgb& s = m_t.shown[i];
            const long d = m_t.grey ? std::labs(static_cast<long>(Luminance(r, g, b)) - s.r)
                                    : (r - s.r) * (r - s.r) + (g - s.g) * (g - s.g) + (b - s.b) * (b - s.b);
            if (best < 0 || d < bestD) best = static_cast<int>(i), bestD = d;
        }
        return best;
    }

    const ColourTarget& m_t;
    int m_key;
    std::array<Channel, 3> m_fields;
    std::array<int, 32768> m_cache;
};

Rgb OverWhite(const Rgba& p) {
    const auto mix = [&](int c) { return static_cast<std::uint8_t>((c * p.a + 255 * (255 - p.a) + 127) / 255); };
    return {mix(p.r), mix(p.g), mix(p.b)};
}

bool Transparent(const Rgba& p) { return p.a < 128; }

int DivideRounded(int v, int d) { return v >= 0 ? (v + d / 2) / d : -((-v + d / 2) / d); }

// Floyd-Steinberg: 7/16 right, 3/16 below left, 5/16 below, 1/16 below right.
// Pixels whose source is the same as in the frame before keep the value
// they had there, so that diffusion does not make still parts of an
// animation flicker (and the frame encoders can reuse them); their error
// is still passed on to their neighbours.
HandsetFrame ReduceFrame(const RgbaFrames& in, const std::vector<Rgba>& px, const ColourTarget& t, Chooser& chooser,
                         int key, bool dither, const std::vector<Rgba>* before, const HandsetFrame* beforeOut) {
    const int w = in.width, h = in.height;
    HandsetFrame out(px.size());
    std::vector<std::array<int, 3>> err(2 * static_cast<std::size_t>(w + 2), {0, 0, 0});
    for (int y = 0; y < h; ++y) {
        std::array<int, 3>* cur = err.data() + (y % 2) * (w + 2) + 1;
        std::array<int, 3>* next = err.data() + ((y + 1) % 2) * (w + 2) + 1;
        for (int x = -1; x <= w; ++x) next[x] = {0, 0, 0};
        for (int x = 0; x < w; ++x) {
            const Rgba& p = px[static_cast<std::size_t>(y) * w + x];
            if (key >= 0 && Transparent(p)) {
                out[static_cast<std::size_t>(y) * w + x] = static_cast<std::uint32_t>(key);
                continue;
            }
            Rgb c = OverWhite(p);
            int want[3] = {c.r, c.g, c.b};
            if (t.grey) want[0] = want[1] = want[2] = Luminance(c.r, c.g, c.b);
            for (std::size_t k = 0; k < 3 && dither; ++k) want[k] += DivideRounded(cur[x][k], 16);
            Rgb shown{};
            const std::size_t i = static_cast<std::size_t>(y) * w + x;
            const Rgba& old = before ? (*before)[i] : p;
            if (before && old.r == p.r && old.g == p.g && old.b == p.b && old.a == p.a && !(key >= 0 && Transparent(p))) {
                out[i] = (*beforeOut)[i];
                shown = chooser.Shown(out[i]);
            } else {
                out[i] = chooser.Choose(want[0], want[1], want[2], shown);
            }
            if (!dither) continue;
            const int got[3] = {shown.r, shown.g, shown.b};
            for (std::size_t k = 0; k < 3; ++k) {
                // A kept value may lie further from what diffusion wanted:
                // pass on no more than one level step's worth.
                const int e = std::clamp(want[k] - got[k], -kMaxCarry, kMaxCarry);
                cur[x + 1][k] += 7 * e;
                next[x - 1][k] += 3 * e;
                next[x][k] += 5 * e;
                next[x + 1][k] += e;
            }
        }
    }
    return out;
}

// ---- median cut -------------------------------------------------------------

struct Box {
    int lo[3], hi[3];  // 5-bit channel ranges, inclusive
    std::uint64_t count = 0;
};

// Pixels per 5-5-5 colour bin, and the sums of their 8-bit channels so that
// an entry is the true mean of its pixels (exact for a single colour).
struct Histogram {
    std::vector<std::uint32_t> count = std::vector<std::uint32_t>(32768, 0);
    std::vector<std::array<std::uint64_t, 3>> sum = std::vector<std::array<std::uint64_t, 3>>(32768, {0, 0, 0});
    std::uint32_t operator[](std::size_t bin) const { return count[bin]; }
};

std::size_t Bin(int r, int g, int b) { return static_cast<std::size_t>(r << 10 | g << 5 | b); }

void Shrink(Box& box, const Histogram& hist) {
    int lo[3] = {31, 31, 31}, hi[3] = {0, 0, 0};
    box.count = 0;
    for (int r = box.lo[0]; r <= box.hi[0]; ++r)
        for (int g = box.lo[1]; g <= box.hi[1]; ++g)
            for (int b = box.lo[2]; b <= box.hi[2]; ++b) {
                const std::uint32_t n = hist[Bin(r, g, b)];
                if (!n) continue;
                box.count += n;
                const int v[3] = {r, g, b};
                for (int k = 0; k < 3; ++k) lo[k] = std::min(lo[k], v[k]), hi[k] = std::max(hi[k], v[k]);
            }
    if (box.count)
        for (int k = 0; k < 3; ++k) box.lo[k] = lo[k], box.hi[k] = hi[k];
}

// Splits the box on its longest side where half of its pixels lie below.
bool Split(Box& box, const Histogram& hist, Box& other) {
    int axis = 0;
    for (int k = 1; k < 3; ++k)
        if (box.hi[k] - box.lo[k] > box.hi[axis] - box.lo[axis]) axis = k;
    if (box.hi[axis] == box.lo[axis]) return false;
    std::vector<std::uint64_t> plane(32, 0);
    for (int r = box.lo[0]; r <= box.hi[0]; ++r)
        for (int g = box.lo[1]; g <= box.hi[1]; ++g)
            for (int b = box.lo[2]; b <= box.hi[2]; ++b) plane[static_cast<std::size_t>(axis == 0 ? r : axis == 1 ? g : b)] += hist[Bin(r, g, b)];
    std::uint64_t below = 0;
    int cut = box.lo[axis];
    while (cut < box.hi[axis] - 1 && 2 * (below + plane[static_cast<std::size_t>(cut)]) < box.count) below += plane[static_cast<std::size_t>(cut++)];
    other = box;
    box.hi[axis] = cut;
    other.lo[axis] = cut + 1;
    Shrink(box, hist);
    Shrink(other, hist);
    return true;
}

std::uint16_t MeanColour(const Box& box, const Histogram& hist) {
    std::uint64_t sum[3] = {}, n = 0;
    for (int r = box.lo[0]; r <= box.hi[0]; ++r)
        for (int g = box.lo[1]; g <= box.hi[1]; ++g)
            for (int b = box.lo[2]; b <= box.hi[2]; ++b) {
                const std::size_t bin = Bin(r, g, b);
                for (std::size_t k = 0; k < 3; ++k) sum[k] += hist.sum[bin][k];
                n += hist[bin];
            }
    if (!n) return 0;
    const auto mean = [&](std::size_t k) { return static_cast<std::uint8_t>((sum[k] + n / 2) / n); };
    return PackRgb565(mean(0), mean(1), mean(2));
}

std::vector<std::uint16_t> MedianCut(const RgbaFrames& in, int entries) {
    Histogram hist;
    for (const auto& f : in.frames)
        for (const Rgba& p : f) {
            if (Transparent(p)) continue;
            const Rgb c = OverWhite(p);
            const std::size_t bin = Bin(c.r >> 3, c.g >> 3, c.b >> 3);
            ++hist.count[bin];
            hist.sum[bin][0] += c.r, hist.sum[bin][1] += c.g, hist.sum[bin][2] += c.b;
        }
    std::vector<Box> boxes{{{0, 0, 0}, {31, 31, 31}, 0}};
    Shrink(boxes[0], hist);
    while (static_cast<int>(boxes.size()) < entries) {
        // The most populous box that can still be split.
        std::size_t pick = boxes.size();
        for (std::size_t i = 0; i < boxes.size(); ++i) {
            const Box& b = boxes[i];
            const bool splittable = b.hi[0] > b.lo[0] || b.hi[1] > b.lo[1] || b.hi[2] > b.lo[2];
            if (splittable && b.count && (pick == boxes.size() || b.count > boxes[pick].count)) pick = i;
        }
        Box other{};
        if (pick == boxes.size() || !Split(boxes[pick], hist, other)) break;
        boxes.push_back(other);
    }
    std::vector<std::uint16_t> palette(kPaletteEntries, 0);
    for (std::size_t i = 0; i < boxes.size(); ++i) palette[i] = MeanColour(boxes[i], hist);
    return palette;
}

}  // namespace

ColourTarget GreyTarget(int bits, bool setIsBlack) {
    // The IMG greys; SNI and EBA files show them the other way about.
    static constexpr std::uint8_t kGrey1[2] = {0, 255};
    static constexpr std::uint8_t kGrey2[4] = {0, 128, 192, 255};
    ColourTarget t;
    t.bits = bits;
    t.grey = true;
    const int n = 1 << bits;
    for (int v = 0; v < n; ++v) {
        const int i = setIsBlack ? n - 1 - v : v;
        const std::uint8_t g = bits == 1 ? kGrey1[i] : kGrey2[i];
        t.shown.push_back({g, g, g});
    }
    return t;
}

ColourTarget Rgb332Target() {
    ColourTarget t;
    t.bits = 8;
    t.keyed = true;
    return t;
}

ColourTarget OwnPaletteTarget() {
    ColourTarget t;
    t.bits = 8;
    t.ownPalette = true;
    t.keyed = true;
    return t;
}

ColourTarget Rgb565Target() {
    ColourTarget t;
    t.bits = 16;
    t.keyed = true;
    return t;
}

ColourTarget Rgb888Target() {
    ColourTarget t;
    t.bits = 24;
    return t;
}

HandsetPixels ReduceColours(const RgbaFrames& in, ColourTarget target, bool dither) {
    HandsetPixels out;
    out.width = in.width;
    out.height = in.height;
    out.bits = target.bits;
    out.delays = in.delays;
    out.loop = in.loop;
    bool anyTransparent = false;
    for (const auto& f : in.frames) anyTransparent = anyTransparent || std::any_of(f.begin(), f.end(), Transparent);
    int key = -1;
    if (target.keyed && anyTransparent) key = target.bits == 16 ? kKey565 : target.ownPalette ? kPaletteEntries - 1 : kKey332;
    if (target.ownPalette) {
        out.palette = MedianCut(in, key >= 0 ? kPaletteEntries - 1 : kPaletteEntries);
        if (key >= 0) out.palette[static_cast<std::size_t>(key)] = kKey565;
        for (std::uint16_t c : out.palette) target.shown.push_back(ExpandRgb565(c));
    }
    out.transparent = key;
    Chooser chooser(target, key);
    for (std::size_t f = 0; f < in.frames.size(); ++f)
        out.frames.push_back(ReduceFrame(in, in.frames[f], target, chooser, key, dither, f ? &in.frames[f - 1] : nullptr,
                                         f ? &out.frames[f - 1] : nullptr));
    return out;
}

void FitSize(int w, int h, int maxW, int maxH, int& outW, int& outH) {
    outW = w, outH = h;
    if (w <= maxW && h <= maxH) return;
    // The smaller of the two scales, in integer arithmetic.
    if (static_cast<long>(w) * maxH >= static_cast<long>(h) * maxW) {
        outW = maxW;
        outH = std::max(1, static_cast<int>(static_cast<long>(h) * maxW / w));
    } else {
        outH = maxH;
        outW = std::max(1, static_cast<int>(static_cast<long>(w) * maxH / h));
    }
}

RgbaFrames ResizeFrames(const RgbaFrames& in, int w, int h) {
    RgbaFrames out = in;
    out.width = w, out.height = h;
    out.frames.clear();
    for (const auto& f : in.frames) {
        std::vector<Rgba> px(static_cast<std::size_t>(w) * h);
        Resample({reinterpret_cast<const std::uint8_t*>(f.data()), in.width, in.height, static_cast<std::ptrdiff_t>(in.width) * 4},
                 {reinterpret_cast<std::uint8_t*>(px.data()), w, h, static_cast<std::ptrdiff_t>(w) * 4}, 4);
        out.frames.push_back(std::move(px));
    }
    return out;
}

}  // namespace handpix
