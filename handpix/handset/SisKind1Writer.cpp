#include "handpix/handset/SisKind1Writer.h"

#include <algorithm>
#include <cstdlib>

#include "handpix/handset/T4Codes.h"
#include "handpix/platform/core/Zigzag.h"

namespace handpix {

namespace {

bool HasFullRun(const std::array<std::uint8_t, 64>& coded) {
    return std::all_of(coded.begin(), coded.end(), [&](std::uint8_t v) { return v == coded[0]; });
}

void PutCode(SisBitWriter& w, const T4Code& c) { w.Put(c.bits, c.length); }

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
        PutCode(w, coded[i] ? kT4BlackTerminating[j - i] : kT4WhiteTerminating[j - i]);
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
        coded[c] = SisKind1CodedCell(b.pixels, 8 * b.across, 8 * (c % b.across), 8 * (c / b.across));
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
        const std::array<std::uint8_t, 64> coded = SisKind1CodedCell(c.pixels, 8, 0, 0);
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
    return w.Data();
}

std::vector<std::uint8_t> WriteSisKind1Header(std::uint32_t frames, std::uint32_t widthUnits,
                                              std::uint32_t heightUnits, std::uint32_t blockField) {
    SisKind1Stream s;
    s.widthUnits = widthUnits;
    s.heightUnits = heightUnits;
    SisBitWriter w;
    PutHeader(w, s, frames, blockField);
    return w.Data();
}

std::array<std::uint8_t, 64> SisKind1CodedCell(const std::vector<std::uint8_t>& pixels, std::uint32_t stride,
                                               std::uint32_t x0, std::uint32_t y0) {
    std::array<std::uint8_t, 64> coded{};
    for (unsigned i = 0; i < 64; ++i) {
        const unsigned at = kZigzag[i];
        coded[i] = pixels[(y0 + at / 8) * stride + x0 + at % 8] ? 1 : 0;
    }
    return coded;
}

SisKind1CellCost SisKind1CellBits(const std::array<std::uint8_t, 64>& coded) {
    if (HasFullRun(coded)) return {false, 64};
    std::uint32_t bits = 1;
    for (unsigned i = 0; i < 64;) {
        unsigned j = i;
        while (j < 64 && coded[j] == coded[i]) ++j;
        bits += (coded[i] ? kT4BlackTerminating[j - i] : kT4WhiteTerminating[j - i]).length;
        i = j;
    }
    return bits < 64 ? SisKind1CellCost{true, bits} : SisKind1CellCost{false, 64};
}

}  // namespace handpix
