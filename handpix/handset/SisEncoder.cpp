#include "handpix/handset/SisEncoder.h"

#include <algorithm>
#include <optional>
#include <string>

#include "handpix/handset/SisHeader.h"
#include "handpix/handset/SisKind1.h"
#include "handpix/handset/SisKind1Writer.h"
#include "handpix/handset/SisKind2.h"
#include "handpix/handset/SisKind2Writer.h"

namespace handpix {

namespace {

// What a kind allows a block to be and where it may be placed.
struct TileRules {
    std::uint32_t maxAcross, maxDown, maxCells;  // in 8 x 8 cells
    int maxX, maxY;                              // largest placement offsets
};
constexpr TileRules kKind1Tiles{31, kSisKind1MaxCellsDown, kSisKind1MaxCells, 127, 63};
constexpr TileRules kKind2Tiles{kSisKind2MaxCellsSide, kSisKind2MaxCellsSide, 256, 255, 255};
constexpr std::uint32_t kKind1CellBits = 7;  // cell numbers 0 to 126; 127 ends a change list

struct Rect {
    std::uint32_t x0, y0, x1, y1;  // x1, y1 exclusive
};

// A block of the stream: its size in cells and its pixels as the decoder
// builds them (explicit, or its base's with changes applied).
struct Block {
    std::uint32_t across = 0, down = 0;
    Bytes pixels;
    int base = -1;  // derived: the block it is built from
    std::uint32_t depth = 0;
    std::vector<std::uint32_t> changed;  // kind 1: cell numbers; kind 2: first and last cell of the region
    std::uint32_t uses = 0;
};

struct Tile {
    std::uint32_t across, down;
    int x, y;
    Bytes pixels;
};

// Tile starts along one axis covering [from, to) with tiles of `step`
// pixels, none starting beyond `limit`; empty when the limit makes it impossible.
std::vector<int> TileStarts(std::uint32_t from, std::uint32_t to, std::uint32_t step, int limit) {
    std::vector<int> starts;
    long cover = from;
    while (cover < static_cast<long>(to)) {
        const long s = std::min<long>(cover, limit);
        if (s + static_cast<long>(step) <= cover) return {};
        starts.push_back(static_cast<int>(s));
        cover = s + step;
    }
    return starts;
}

class Tiler {
public:
    Tiler(const SisAnimation& a, const TileRules& rules) : m_a(a), m_rules(rules) {}

    // Tiles covering r in frame px; pixels outside the frame are `fill`.
    std::vector<Tile> Cover(const Bytes& px, const Rect& r, std::uint8_t fill) const {
        const std::uint32_t w = r.x1 - r.x0, h = r.y1 - r.y0;
        std::vector<int> bestXs, bestYs;
        std::uint32_t bestA = 0, bestD = 0;
        for (std::uint32_t d = std::min(m_rules.maxDown, (h + 7) / 8); d >= 1; --d) {
            const std::uint32_t a = std::min({m_rules.maxAcross, m_rules.maxCells / d, (w + 7) / 8});
            const std::vector<int> xs = TileStarts(r.x0, r.x1, 8 * a, m_rules.maxX);
            const std::vector<int> ys = TileStarts(r.y0, r.y1, 8 * d, m_rules.maxY);
            if (xs.empty() || ys.empty()) continue;
            if (bestA == 0 || xs.size() * ys.size() < bestXs.size() * bestYs.size())
                bestXs = xs, bestYs = ys, bestA = a, bestD = d;
        }
        std::vector<Tile> tiles;
        for (int y : bestYs)
            for (int x : bestXs) tiles.push_back({bestA, bestD, x, y, Cut(px, x, y, 8 * bestA, 8 * bestD, fill)});
        return tiles;
    }

private:
    Bytes Cut(const Bytes& px, int x0, int y0, std::uint32_t w, std::uint32_t h, std::uint8_t fill) const {
        Bytes out(std::size_t{w} * h, fill);
        for (std::uint32_t y = 0; y < h; ++y) {
            const long fy = y0 + static_cast<long>(y);
            if (fy < 0 || fy >= static_cast<long>(m_a.height)) continue;
            for (std::uint32_t x = 0; x < w; ++x) {
                const long fx = x0 + static_cast<long>(x);
                if (fx >= 0 && fx < static_cast<long>(m_a.width)) out[y * w + x] = px[fy * m_a.width + fx];
            }
        }
        return out;
    }

    const SisAnimation& m_a;
    const TileRules& m_rules;
};

// The bounding rectangle of pixels other than `background`, if any.
std::optional<Rect> Drawn(const Bytes& px, std::uint32_t width, std::uint32_t height, std::uint8_t background) {
    Rect r{width, height, 0, 0};
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x)
            if (px[y * width + x] != background) {
                r.x0 = std::min(r.x0, x), r.x1 = std::max(r.x1, x + 1);
                r.y0 = std::min(r.y0, y), r.y1 = std::max(r.y1, y + 1);
            }
    if (r.x1 <= r.x0) return std::nullopt;
    return r;
}

// Cells (row-major numbers) where two blocks of `across` cells differ.
std::vector<std::uint32_t> DifferingCells(const Bytes& a, const Bytes& b, std::uint32_t across, std::uint32_t down) {
    std::vector<std::uint32_t> cells;
    const std::uint32_t w = 8 * across;
    for (std::uint32_t c = 0; c < across * down; ++c) {
        const std::uint32_t x0 = 8 * (c % across), y0 = 8 * (c / across);
        bool same = true;
        for (std::uint32_t y = 0; y < 8 && same; ++y)
            same = std::equal(&a[(y0 + y) * w + x0], &a[(y0 + y) * w + x0 + 8], &b[(y0 + y) * w + x0]);
        if (!same) cells.push_back(c);
    }
    return cells;
}

std::string Check(const SisAnimation& a, std::uint32_t maxWidth, std::uint32_t maxHeight, std::uint8_t maxValue) {
    if (a.width < 8 || a.height < 8 || a.width % 8 || a.height % 8 || a.width > maxWidth || a.height > maxHeight)
        return "this SIS stream takes multiples of 8 from 8 x 8 to " + std::to_string(maxWidth) + " x " +
               std::to_string(maxHeight) + " pixels";
    if (a.frames.empty() || a.frames.size() > kSisMaxFrames)
        return "a SIS stream holds 1 to " + std::to_string(kSisMaxFrames) + " frames";
    for (const Bytes& f : a.frames) {
        if (f.size() != std::size_t{a.width} * a.height) return "frame size does not match";
        if (std::any_of(f.begin(), f.end(), [&](std::uint8_t v) { return v > maxValue; }))
            return "pixel values beyond the stream's depth";
    }
    return {};
}

unsigned DelayOf(const SisAnimation& a, std::size_t f) { return f < a.delays.size() ? a.delays[f] : 1; }

// ---- kind 1 ---------------------------------------------------------------

std::uint32_t Kind1CellBits(const Bytes& px, std::uint32_t across, std::uint32_t cell) {
    return SisKind1CellBits(SisKind1CodedCell(px, 8 * across, 8 * (cell % across), 8 * (cell / across))).bits;
}

class Kind1Encoder {
public:
    explicit Kind1Encoder(const SisAnimation& a) : m_a(a), m_tiler(a, kKind1Tiles) {}

    EncodeResult Encode() {
        for (const Bytes& px : m_a.frames)
            if (!AddFrame(px)) return EncodeResult::Fail(m_error);
        return {WriteSisKind1(Describe()), {}};
    }

private:
    bool AddFrame(Bytes px) {
        // A mostly set frame is stored inverted: fewer pixels to draw.
        const std::size_t set = static_cast<std::size_t>(std::count(px.begin(), px.end(), 1));
        SisKind1Frame frame;
        frame.invert = 2 * set > px.size();
        if (frame.invert)
            for (auto& v : px) v ^= 1;
        if (const auto r = Drawn(px, m_a.width, m_a.height, 0)) {
            for (Tile& t : m_tiler.Cover(px, *r, 0)) {
                const int b = BlockFor(t, frame);
                if (b < 0) return false;
                frame.placements.push_back({static_cast<std::uint32_t>(b), 0, t.x, t.y});
            }
        }
        m_frames.push_back(std::move(frame));
        return true;
    }

    bool Placed(const SisKind1Frame& f, std::size_t b) const {
        return std::any_of(f.placements.begin(), f.placements.end(), [&](const auto& p) { return p.block == b; });
    }

    // The block showing tile t: one already stored, a derived block on the
    // last one, or a new explicit block. -1 when the stream is out of blocks.
    int BlockFor(Tile& t, const SisKind1Frame& frame) {
        for (std::size_t b = 0; b < m_blocks.size(); ++b)
            if (!Placed(frame, b) && m_blocks[b].across == t.across && m_blocks[b].pixels == t.pixels)
                return static_cast<int>(b);
        if (m_blocks.size() == kSisKind1MaxBlocks) {
            m_error = "the frames need more than " + std::to_string(kSisKind1MaxBlocks) +
                      " different blocks, the most a 1-bit SIS stream holds; try the SAF stream or fewer frames";
            return -1;
        }
        Block made;
        made.across = t.across;
        made.down = t.down;
        made.pixels = std::move(t.pixels);
        std::uint32_t explicitBits = 9;
        for (std::uint32_t c = 0; c < made.across * made.down; ++c) explicitBits += 1 + Kind1CellBits(made.pixels, made.across, c);
        // A derived block builds on the last block (its base is the last explicit one).
        if (!m_blocks.empty() && !Placed(frame, m_blocks.size() - 1)) {
            const Block& tip = m_blocks.back();
            if (tip.across == made.across && tip.down == made.down) {
                const auto cells = DifferingCells(tip.pixels, made.pixels, made.across, made.down);
                std::uint32_t derivedBits = 10 + kKind1CellBits;
                for (std::uint32_t c : cells) derivedBits += kKind1CellBits + 1 + Kind1CellBits(made.pixels, made.across, c);
                const bool numbered = cells.empty() || cells.back() < (1u << kKind1CellBits) - 1;
                if (numbered && derivedBits < explicitBits) {
                    made.base = tip.base >= 0 ? tip.base : static_cast<int>(m_blocks.size() - 1);
                    made.changed = cells;
                }
            }
        }
        m_blocks.push_back(std::move(made));
        return static_cast<int>(m_blocks.size() - 1);
    }

    SisKind1Stream Describe() const {
        SisKind1Stream s;
        s.widthUnits = m_a.width / 8;
        s.heightUnits = m_a.height / 8;
        s.cellNumberBits = kKind1CellBits;
        s.delay = std::clamp(DelayOf(m_a, 0), 1u, 15u);
        s.flags = m_a.loop ? 0x8 : 0;
        // The header counts blocks from one: frames with nothing drawn still
        // need a (blank, unplaced) block.
        std::vector<Block> blocks = m_blocks;
        if (blocks.empty()) {
            blocks.emplace_back();
            blocks.back().across = blocks.back().down = 1;
            blocks.back().pixels.assign(64, 0);
        }
        for (const Block& b : blocks) {
            SisKind1Block d;
            d.across = b.across;
            d.down = b.down;
            if (b.base < 0) {
                d.pixels = b.pixels;
                for (std::uint32_t c = 0; c < b.across * b.down; ++c)
                    d.coding.push_back(Kind1CellBits(b.pixels, b.across, c) < 64 ? CellCoding::runLength : CellCoding::raw);
            } else {
                d.derived = true;
                d.change = true;
                for (std::uint32_t c : b.changed) {
                    SisKind1Change ch{c, {}};
                    const std::uint32_t x0 = 8 * (c % b.across), y0 = 8 * (c / b.across);
                    for (std::uint32_t i = 0; i < 64; ++i) ch.pixels.push_back(b.pixels[(y0 + i / 8) * 8 * b.across + x0 + i % 8]);
                    ch.coding = Kind1CellBits(ch.pixels, 1, 0) < 64 ? CellCoding::runLength : CellCoding::raw;
                    d.changes.push_back(std::move(ch));
                }
            }
            s.blocks.push_back(std::move(d));
        }
        s.frames = m_frames;
        return s;
    }

    const SisAnimation& m_a;
    Tiler m_tiler;
    std::vector<Block> m_blocks;
    std::vector<SisKind1Frame> m_frames;
    std::string m_error;
};

// ---- kind 2 ---------------------------------------------------------------

struct RegionCells {
    std::uint32_t first, last;  // cell numbers of the region's corners
};

RegionCells Enclosing(const std::vector<std::uint32_t>& cells, std::uint32_t across) {
    std::uint32_t c0 = across, c1 = 0, r0 = UINT32_MAX, r1 = 0;
    for (std::uint32_t c : cells) {
        c0 = std::min(c0, c % across), c1 = std::max(c1, c % across);
        r0 = std::min(r0, c / across), r1 = std::max(r1, c / across);
    }
    return {r0 * across + c0, r1 * across + c1};
}

Bytes RegionPixels(const Bytes& px, std::uint32_t across, const RegionCells& r) {
    const std::uint32_t w = 8 * across;
    const std::uint32_t x0 = 8 * (r.first % across), x1 = 8 * (r.last % across) + 8;
    const std::uint32_t y0 = 8 * (r.first / across), y1 = 8 * (r.last / across) + 8;
    Bytes out;
    for (std::uint32_t y = y0; y < y1; ++y) out.insert(out.end(), &px[y * w + x0], &px[y * w + x1]);
    return out;
}

class Kind2Encoder {
public:
    explicit Kind2Encoder(const SisAnimation& a) : m_a(a), m_tiler(a, kKind2Tiles) {}

    EncodeResult Encode() {
        m_plate = Plate();
        for (const Bytes& px : m_a.frames)
            if (!AddFrame(px)) return EncodeResult::Fail(m_error);
        return {WriteSisKind2(Describe()), {}};
    }

private:
    struct Shown {
        int block;  // an existing block, or -1: the tile is new
        Tile tile;
    };

    // Every pixel's commonest value over all frames: what stays still behind
    // whatever moves.
    Bytes Plate() const {
        Bytes plate(m_a.frames[0].size());
        for (std::size_t i = 0; i < plate.size(); ++i) {
            std::size_t count[4] = {};
            for (const Bytes& f : m_a.frames) ++count[f[i] & 3];
            plate[i] = static_cast<std::uint8_t>(std::max_element(count, count + 4) - count);
        }
        return plate;
    }

    // A frame is either its background and tiles over the rest, or the
    // plate's tiles and, over where it differs from the plate, a stored
    // block that fits there or new tiles; whichever stores fewer bytes.
    bool AddFrame(const Bytes& px) {
        std::size_t count[4] = {};
        for (std::uint8_t v : px) ++count[v & 3];
        const auto background = static_cast<std::uint8_t>(std::max_element(count, count + 4) - count);
        std::vector<Shown> plain;
        if (const auto r = Drawn(px, m_a.width, m_a.height, background))
            for (Tile& t : m_tiler.Cover(px, *r, background)) plain.push_back({Existing(t), std::move(t)});
        std::vector<Shown> plated;
        if (m_a.frames.size() > 1) {
            const Rect whole{0, 0, m_a.width, m_a.height};
            for (Tile& t : m_tiler.Cover(m_plate, whole, 0)) plated.push_back({Existing(t), std::move(t)});
            if (const auto d = Differing(px)) {
                Shown cover{-1, {}};
                if (Covering(px, *d, cover)) plated.push_back(std::move(cover));
                else
                    for (Tile& t : m_tiler.Cover(px, *d, 0)) plated.push_back({Existing(t), std::move(t)});
            }
        }
        // The plate's tiles serve every frame still to come: each pays its share.
        const std::size_t plateTiles = m_tiler.Cover(m_plate, {0, 0, m_a.width, m_a.height}, 0).size();
        const std::size_t shares = m_a.frames.size() - m_frames.size();
        const std::vector<Shown> plateOnly(plated.begin(), plated.begin() + static_cast<std::ptrdiff_t>(std::min(plateTiles, plated.size())));
        const std::vector<Shown> patchOnly(plated.begin() + static_cast<std::ptrdiff_t>(std::min(plateTiles, plated.size())), plated.end());
        const bool usePlate = !plated.empty() && Cost(plateOnly) / shares + Cost(patchOnly) < Cost(plain);
        SisKind2Frame frame;
        frame.background = usePlate || background == 0 ? -1 : background;
        for (Shown& s : usePlate ? plated : plain) {
            const int b = s.block >= 0 ? Use(s.block) : BlockFor(s.tile);
            if (b < 0) return false;
            frame.placements.push_back({static_cast<std::uint32_t>(b + 1), 0, s.tile.x, s.tile.y});
        }
        if (frame.placements.size() > kSisKind2MaxPlacements) {
            m_error = "a frame needs more than " + std::to_string(kSisKind2MaxPlacements) + " blocks";
            return false;
        }
        m_frames.push_back(std::move(frame));
        return true;
    }

    int Use(int b) {
        ++m_blocks[static_cast<std::size_t>(b)].uses;
        return b;
    }

    int Existing(const Tile& t) const {
        for (std::size_t b = 0; b < m_blocks.size(); ++b)
            if (m_blocks[b].across == t.across && m_blocks[b].pixels == t.pixels) return static_cast<int>(b);
        return -1;
    }

    std::size_t Cost(const std::vector<Shown>& tiles) const {
        std::size_t bytes = 0;
        for (const Shown& s : tiles)
            bytes += 5 + (s.block >= 0 ? 0 : 6 + EncodeSisKind2Planes(s.tile.pixels, 8 * s.tile.across, 8 * s.tile.down).size());
        return bytes;
    }

    std::optional<Rect> Differing(const Bytes& px) const {
        Rect r{m_a.width, m_a.height, 0, 0};
        for (std::uint32_t y = 0; y < m_a.height; ++y)
            for (std::uint32_t x = 0; x < m_a.width; ++x)
                if (px[y * m_a.width + x] != m_plate[y * m_a.width + x]) {
                    r.x0 = std::min(r.x0, x), r.x1 = std::max(r.x1, x + 1);
                    r.y0 = std::min(r.y0, y), r.y1 = std::max(r.y1, y + 1);
                }
        if (r.x1 <= r.x0) return std::nullopt;
        return r;
    }

    // A stored block that, placed over rectangle d, shows exactly the frame's
    // pixels wherever it lands.
    bool Covering(const Bytes& px, const Rect& d, Shown& out) const {
        for (std::size_t b = 0; b < m_blocks.size(); ++b) {
            const Block& k = m_blocks[b];
            const int bw = static_cast<int>(8 * k.across), bh = static_cast<int>(8 * k.down);
            const int x0 = static_cast<int>(d.x1) - bw, y0 = static_cast<int>(d.y1) - bh;
            if (x0 > static_cast<int>(d.x0) || y0 > static_cast<int>(d.y0) ||
                static_cast<std::size_t>(static_cast<int>(d.x0) - x0 + 1) * static_cast<std::size_t>(static_cast<int>(d.y0) - y0 + 1) > 4096)
                continue;
            for (int y = y0; y <= static_cast<int>(d.y0); ++y)
                for (int x = x0; x <= static_cast<int>(d.x0); ++x)
                    if (Matches(px, k, x, y)) {
                        out = {static_cast<int>(b), {k.across, k.down, x, y, {}}};
                        return true;
                    }
        }
        return false;
    }

    bool Matches(const Bytes& px, const Block& k, int x0, int y0) const {
        const int bw = static_cast<int>(8 * k.across), bh = static_cast<int>(8 * k.down);
        for (int y = std::max(0, y0); y < std::min(static_cast<int>(m_a.height), y0 + bh); ++y)
            for (int x = std::max(0, x0); x < std::min(static_cast<int>(m_a.width), x0 + bw); ++x)
                if (k.pixels[static_cast<std::size_t>((y - y0) * bw + (x - x0))] != px[static_cast<std::size_t>(y) * m_a.width + static_cast<std::size_t>(x)])
                    return false;
        return true;
    }

    int BlockFor(Tile& t) {
        for (std::size_t b = 0; b < m_blocks.size(); ++b)
            if (m_blocks[b].across == t.across && m_blocks[b].pixels == t.pixels) {
                ++m_blocks[b].uses;
                return static_cast<int>(b);
            }
        if (m_blocks.size() == kSisKind2MaxBlocks) {
            m_error = "the frames need more than " + std::to_string(kSisKind2MaxBlocks) +
                      " different blocks, the most a 2-bit SIS stream holds; try fewer frames";
            return -1;
        }
        Block made;
        made.across = t.across;
        made.down = t.down;
        made.pixels = std::move(t.pixels);
        made.uses = 1;
        std::size_t best = 4 + EncodeSisKind2Planes(made.pixels, 8 * made.across, 8 * made.down).size();
        // Derived from the earlier block of the same size whose changed cells
        // make the smallest region, when that region codes smaller.
        for (std::size_t b = 0; b < m_blocks.size(); ++b) {
            const Block& base = m_blocks[b];
            if (base.across != made.across || base.down != made.down || base.depth + 1 >= kSisKind2MaxChain) continue;
            const auto cells = DifferingCells(base.pixels, made.pixels, made.across, made.down);
            if (cells.empty()) continue;
            const RegionCells r = Enclosing(cells, made.across);
            const std::uint32_t rw = 8 * (r.last % made.across - r.first % made.across + 1);
            const std::uint32_t rh = 8 * (r.last / made.across - r.first / made.across + 1);
            const std::size_t size = 7 + 2 + EncodeSisKind2Planes(RegionPixels(made.pixels, made.across, r), rw, rh).size();
            if (size < best) {
                best = size;
                made.base = static_cast<int>(b);
                made.depth = base.depth + 1;
                made.changed = {r.first, r.last};
            }
        }
        if (made.base >= 0) ++m_blocks[static_cast<std::size_t>(made.base)].uses;
        m_blocks.push_back(std::move(made));
        return static_cast<int>(m_blocks.size() - 1);
    }

    SisKind2Stream Describe() const {
        SisKind2Stream s;
        s.widthByte = static_cast<std::uint8_t>(m_a.width);
        s.heightByte = static_cast<std::uint8_t>(m_a.height);
        s.flags = m_a.loop ? 0x80 : 0;
        std::vector<std::uint8_t> delays;
        for (std::size_t f = 0; f < m_a.frames.size(); ++f)
            delays.push_back(static_cast<std::uint8_t>(std::min(DelayOf(m_a, f), 255u)));
        if (std::all_of(delays.begin(), delays.end(), [&](std::uint8_t d) { return d == delays[0]; }) && delays[0] < 128)
            s.delay = delays[0];
        else
            s.frameDelays = delays;
        // Blocks shown more than once keep their decoded pixels, while the cache has room.
        std::size_t cached = 0;
        for (const Block& b : m_blocks) {
            SisKind2Block d;
            const std::size_t bytes = std::size_t{64} * b.across * b.down / 4;
            d.cache = b.uses > 1 && cached + bytes <= m_a.poolBytes;
            if (d.cache) cached += bytes;
            if (b.base < 0) {
                d.across = b.across;
                d.down = b.down;
                d.pixels = b.pixels;
            } else {
                d.derived = true;
                d.base = static_cast<std::uint32_t>(b.base + 1);
                d.change = true;
                const RegionCells r{b.changed[0], b.changed[1]};
                d.regions.push_back({r.first, r.last, RegionPixels(b.pixels, b.across, r)});
            }
            s.blocks.push_back(std::move(d));
        }
        s.frames = m_frames;
        return s;
    }

    const SisAnimation& m_a;
    Tiler m_tiler;
    Bytes m_plate;
    std::vector<Block> m_blocks;
    std::vector<SisKind2Frame> m_frames;
    std::string m_error;
};

}  // namespace

EncodeResult EncodeSisKind1(const SisAnimation& a) {
    if (std::string why = Check(a, 248, 120, 1); !why.empty()) return EncodeResult::Fail(why);
    return Kind1Encoder(a).Encode();
}

EncodeResult EncodeSisKind2(const SisAnimation& a) {
    if (std::string why = Check(a, 248, 248, 3); !why.empty()) return EncodeResult::Fail(why);
    return Kind2Encoder(a).Encode();
}

}  // namespace handpix
