#include "tests/support/SisKind1Writer.h"

#include <algorithm>
#include <array>

#include "tests/support/SisBitWriter.h"
#include "tests/support/SisSilhouette.h"

namespace handpix::test {

// Table 2/T.4, terminating codes.
const char* const kT4WhiteText[64] = {
    "00110101", "000111",   "0111",     "1000",     "1011",     "1100",     "1110",     "1111",
    "10011",    "10100",    "00111",    "01000",    "001000",   "000011",   "110100",   "110101",
    "101010",   "101011",   "0100111",  "0001100",  "0001000",  "0010111",  "0000011",  "0000100",
    "0101000",  "0101011",  "0010011",  "0100100",  "0011000",  "00000010", "00000011", "00011010",
    "00011011", "00010010", "00010011", "00010100", "00010101", "00010110", "00010111", "00101000",
    "00101001", "00101010", "00101011", "00101100", "00101101", "00000100", "00000101", "00001010",
    "00001011", "01010010", "01010011", "01010100", "01010101", "00100100", "00100101", "01011000",
    "01011001", "01011010", "01011011", "01001010", "01001011", "00110010", "00110011", "00110100",
};
const char* const kT4BlackText[64] = {
    "0000110111",   "010",          "11",           "10",           "011",          "0011",
    "0010",         "00011",        "000101",       "000100",       "0000100",      "0000101",
    "0000111",      "00000100",     "00000111",     "000011000",    "0000010111",   "0000011000",
    "0000001000",   "00001100111",  "00001101000",  "00001101100",  "00000110111",  "00000101000",
    "00000010111",  "00000011000",  "000011001010", "000011001011", "000011001100", "000011001101",
    "000001101000", "000001101001", "000001101010", "000001101011", "000011010010", "000011010011",
    "000011010100", "000011010101", "000011010110", "000011010111", "000001101100", "000001101101",
    "000011011010", "000011011011", "000001010100", "000001010101", "000001010110", "000001010111",
    "000001100100", "000001100101", "000001010010", "000001010011", "000000100100", "000000110111",
    "000000111000", "000000100111", "000000101000", "000001011000", "000001011001", "000000101011",
    "000000101100", "000001011010", "000001100110", "000001100111",
};

namespace {

// Zig-zag walk of an 8 x 8 block by its anti-diagonals: entry i is the
// row-major index of the i-th pixel in coded order.
std::array<std::uint8_t, 64> ZigzagWalk() {
    std::array<std::uint8_t, 64> order{};
    unsigned i = 0;
    for (int d = 0; d < 15; ++d) {
        for (int j = 0; j <= d; ++j) {
            const int row = (d % 2 == 0) ? d - j : j;
            const int col = d - row;
            if (row < 8 && col < 8) order[i++] = static_cast<std::uint8_t>(row * 8 + col);
        }
    }
    return order;
}

void PutText(SisBitWriter& w, const char* bits) {
    for (const char* p = bits; *p; ++p) w.PutBit(*p == '1');
}

bool HasFullRun(const std::array<std::uint8_t, 64>& coded) {
    return std::all_of(coded.begin(), coded.end(), [&](std::uint8_t v) { return v == coded[0]; });
}

std::array<std::uint8_t, 64> CodedCell(const std::vector<std::uint8_t>& pixels, std::uint32_t stride,
                                       std::uint32_t x0, std::uint32_t y0) {
    static const std::array<std::uint8_t, 64> zigzag = ZigzagWalk();
    std::array<std::uint8_t, 64> coded{};
    for (unsigned i = 0; i < 64; ++i) {
        const unsigned at = zigzag[i];
        coded[i] = pixels[(y0 + at / 8) * stride + x0 + at % 8] ? 1 : 0;
    }
    return coded;
}

void PutCellData(SisBitWriter& w, const std::array<std::uint8_t, 64>& coded, bool runLength) {
    if (!runLength) {
        for (std::uint8_t v : coded) w.PutBit(v);
        return;
    }
    w.PutBit(coded[0]);
    unsigned i = 0;
    while (i < 64) {
        unsigned j = i;
        while (j < 64 && coded[j] == coded[i]) ++j;
        PutText(w, coded[i] ? kT4BlackText[j - i] : kT4WhiteText[j - i]);
        i = j;
    }
}

void PutExplicitBlock(SisBitWriter& w, const SisKind1Block& b) {
    w.Put(b.across, 5);
    w.Put(b.down, 4);
    const std::uint32_t cells = b.across * b.down;
    std::vector<std::array<std::uint8_t, 64>> coded(cells);
    std::vector<bool> runLength(cells);
    for (std::uint32_t c = 0; c < cells; ++c) {
        coded[c] = CodedCell(b.pixels, 8 * b.across, 8 * (c % b.across), 8 * (c / b.across));
        const CellCoding want = c < b.coding.size() ? b.coding[c] : CellCoding::runLength;
        runLength[c] = want == CellCoding::runLength && !HasFullRun(coded[c]);
        w.PutBit(runLength[c]);
    }
    for (std::uint32_t c = 0; c < cells; ++c) PutCellData(w, coded[c], runLength[c]);
}

void PutDerivedBlock(SisBitWriter& w, const SisKind1Block& b, std::uint32_t cellBits) {
    w.Put(0, 9);
    w.PutBit(b.change);
    if (!b.change) return;
    for (const SisKind1Change& c : b.changes) {
        w.Put(c.cell, cellBits);
        const std::array<std::uint8_t, 64> coded = CodedCell(c.pixels, 8, 0, 0);
        const bool runLength = c.coding == CellCoding::runLength && !HasFullRun(coded);
        w.PutBit(runLength);
        PutCellData(w, coded, runLength);
    }
    w.Put((1u << cellBits) - 1, cellBits);
}

void PutFrame(SisBitWriter& w, const SisKind1Stream& s, const SisKind1Frame& f) {
    w.PutBit(f.invert);
    std::vector<const SisKind1Placement*> byBlock(s.blocks.size(), nullptr);
    for (const SisKind1Placement& p : f.placements) byBlock[p.block] = &p;
    for (const SisKind1Placement* p : byBlock) w.PutBit(p != nullptr);
    for (const SisKind1Placement* p : byBlock) {
        if (!p) continue;
        if (s.layerCount != 1) w.Put(p->layer, 3);
        w.Put((p->x < 0 ? 0x80u : 0u) | static_cast<std::uint32_t>(std::abs(p->x)), 8);
        w.Put((p->y < 0 ? 0x40u : 0u) | static_cast<std::uint32_t>(std::abs(p->y)), 7);
        w.PutBit(p->flip);
        w.PutBit(p->mirror);
        w.PutBit(p->transpose);
        w.PutBit(p->extra >= 0);
        if (p->extra >= 0) w.Put(static_cast<std::uint32_t>(p->extra), 2);
    }
}

void PutHeader(SisBitWriter& w, const SisKind1Stream& s, std::uint32_t frames, std::uint32_t blockField) {
    w.Put('S', 8);
    w.Put('I', 8);
    w.Put('S', 8);
    w.Put(frames, 5);
    w.Put(s.attribute, 5);
    w.Put(s.widthUnits, 5);
    w.Put(s.heightUnits, 4);
    w.PutBit(s.invertAll);
    w.Put(blockField, 5);
    w.Put(s.cellNumberBits, 3);
    w.PutBit(0);
    w.Put(s.delay, 4);
    w.Put(s.layerCount, 3);
    w.Put(s.flags, 4);
}

}  // namespace

std::vector<std::uint8_t> WriteSisKind1(const SisKind1Stream& s) {
    SisBitWriter w;
    PutHeader(w, s, static_cast<std::uint32_t>(s.frames.size()),
              s.blocks.empty() ? 0 : static_cast<std::uint32_t>(s.blocks.size() - 1));
    for (const SisKind1Block& b : s.blocks) {
        if (b.derived) PutDerivedBlock(w, b, s.cellNumberBits);
        else PutExplicitBlock(w, b);
    }
    for (const SisKind1Frame& f : s.frames) PutFrame(w, s, f);
    return w.Bytes();
}

std::vector<std::uint8_t> WriteSisKind1Header(std::uint32_t frames, std::uint32_t widthUnits,
                                              std::uint32_t heightUnits, std::uint32_t blockField) {
    SisKind1Stream s;
    s.widthUnits = widthUnits;
    s.heightUnits = heightUnits;
    SisBitWriter w;
    PutHeader(w, s, frames, blockField);
    return w.Bytes();
}

namespace {

std::vector<std::uint8_t> BlockPixels(const SisKind1Stream& s, std::uint32_t b, std::uint32_t& w,
                                      std::uint32_t& h) {
    std::uint32_t base = b;
    while (s.blocks[base].derived) --base;
    const SisKind1Block& root = s.blocks[base];
    w = 8 * root.across;
    h = 8 * root.down;
    std::vector<std::uint8_t> px = root.pixels;
    for (std::uint32_t j = base + 1; j <= b; ++j) {
        for (const SisKind1Change& c : s.blocks[j].changes) {
            const std::uint32_t x0 = 8 * (c.cell % root.across), y0 = 8 * (c.cell / root.across);
            for (unsigned i = 0; i < 64; ++i) px[(y0 + i / 8) * w + x0 + i % 8] = c.pixels[i];
        }
    }
    return px;
}

}  // namespace

std::vector<std::uint8_t> RenderSisKind1(const SisKind1Stream& s, std::uint32_t f) {
    const int fw = static_cast<int>(8 * s.widthUnits), fh = static_cast<int>(8 * s.heightUnits);
    std::vector<std::uint8_t> frame(static_cast<std::size_t>(fw * fh), 0);
    const SisKind1Frame& fr = s.frames[f];
    for (std::uint32_t layer = 0; layer < s.layerCount; ++layer) {
        for (std::uint32_t b = 0; b < s.blocks.size(); ++b) {
            for (const SisKind1Placement& p : fr.placements) {
                const std::uint32_t pl = s.layerCount == 1 ? 0 : p.layer;
                if (p.block != b || pl != layer) continue;
                std::uint32_t bw = 0, bh = 0;
                const std::vector<std::uint8_t> src = BlockPixels(s, b, bw, bh);
                const int tw = p.transpose ? std::min<int>(bh, fw) : bw;
                const int th = p.transpose ? std::min<int>(bw, fh) : bh;
                auto at = [&](int tx, int ty) -> int {
                    const int ux = p.mirror ? tw - 1 - tx : tx, uy = p.flip ? th - 1 - ty : ty;
                    return p.transpose ? src[ux * bw + uy] : src[uy * bw + ux];
                };
                auto inMask = [&](int tx, int ty) { return InSilhouette(at, tw, th, tx, ty); };
                for (int ty = 0; ty < th; ++ty) {
                    for (int tx = 0; tx < tw; ++tx) {
                        const int fx = p.x + tx, fy = p.y + ty;
                        if (fx < 0 || fy < 0 || fx >= fw || fy >= fh) continue;
                        std::uint8_t& dst = frame[static_cast<std::size_t>(fy * fw + fx)];
                        if (layer > 0 && inMask(tx, ty)) dst = static_cast<std::uint8_t>(at(tx, ty));
                        else dst |= static_cast<std::uint8_t>(at(tx, ty));
                    }
                }
            }
        }
    }
    if (fr.invert != s.invertAll)
        for (auto& v : frame) v ^= 1;
    return frame;
}

std::vector<std::uint8_t> PackBits1(const std::vector<std::uint8_t>& px) {
    std::vector<std::uint8_t> out((px.size() + 7) / 8, 0);
    for (std::size_t i = 0; i < px.size(); ++i)
        if (px[i]) out[i / 8] |= static_cast<std::uint8_t>(0x80u >> (i % 8));
    return out;
}

}  // namespace handpix::test
