#include "handpix/handset/SisKind1.h"

#include <cstring>

#include "handpix/handset/T4Codes.h"
#include "handpix/platform/core/Zigzag.h"

namespace handpix {

namespace {

Status ReadRunLengthCell(MsbBitReader& r, std::uint8_t* px) {
    std::uint32_t colour = 0;
    if (!r.Bit(colour)) return Status::truncated;
    unsigned filled = 0;
    while (filled < 64) {
        const std::size_t available = r.BitsLeft();
        const std::uint32_t window = r.PeekPadded(kT4MaxCodeLength);
        const T4Lookup& table = colour ? kT4BlackLookup : kT4WhiteLookup;
        const unsigned length = table.length[window];
        const unsigned run = table.run[window];
        if (length == 0) return available < kT4MaxCodeLength ? Status::truncated : Status::invalid;
        if (!r.Skip(length)) return Status::truncated;
        if (filled + run > 64) return Status::invalid;
        if (px) std::memset(px + filled, static_cast<int>(colour), run);
        filled += run;
        colour ^= 1;
    }
    return Status::ok;
}

Status ReadRawCell(MsbBitReader& r, std::uint8_t* px) {
    if (r.BitsLeft() < 64) return Status::truncated;
    if (!px) return r.Skip(64) ? Status::ok : Status::truncated;
    for (unsigned half = 0; half < 2; ++half) {
        std::uint32_t v = 0;
        r.Read(32, v);
        for (unsigned i = 0; i < 32; ++i) px[half * 32 + i] = static_cast<std::uint8_t>((v >> (31 - i)) & 1);
    }
    return Status::ok;
}

// Places a cell's coded pixels at cell number n of the block.
void PutCell(const std::uint8_t* coded, std::uint32_t n, std::uint32_t across, SisPixelBlock& dst) {
    const std::uint32_t x0 = 8 * (n % across);
    const std::uint32_t y0 = 8 * (n / across);
    for (unsigned i = 0; i < 64; ++i) {
        const unsigned at = kZigzag[i];
        dst.Row(y0 + at / 8)[x0 + at % 8] = coded[i];
    }
}

int SignMagnitude(std::uint32_t v, unsigned bits) {
    const std::uint32_t magnitude = v & ((1u << (bits - 1)) - 1);
    return (v >> (bits - 1)) ? -static_cast<int>(magnitude) : static_cast<int>(magnitude);
}

}  // namespace

Status ReadSisKind1Cell(MsbBitReader& r, bool runLength, std::uint8_t* px) {
    return runLength ? ReadRunLengthCell(r, px) : ReadRawCell(r, px);
}

Status SisKind1Decoder::ReadChangeList(MsbBitReader& r, const BlockRecord& block, SisPixelBlock* dst) {
    const std::uint32_t bits = m_header.cellNumberBits;
    const std::uint32_t end = (1u << bits) - 1;
    std::uint8_t coded[64];
    for (;;) {
        std::uint32_t n = 0, runLength = 0;
        if (!r.Read(bits, n)) return Status::truncated;
        if (n == end) return Status::ok;
        // Cell numbers past the block would land outside it.
        if (n >= block.cells) return Status::invalid;
        if (!r.Bit(runLength)) return Status::truncated;
        const Status s = ReadSisKind1Cell(r, runLength != 0, dst ? coded : nullptr);
        if (!Ok(s)) return s;
        if (dst) PutCell(coded, n, block.across, *dst);
    }
}

Status SisKind1Decoder::ReadBlockRecords(MsbBitReader& r) {
    bool haveExplicit = false;
    std::uint32_t lastExplicit = 0;
    for (std::uint32_t b = 0; b < m_header.blockCount; ++b) {
        BlockRecord& block = m_blocks[b];
        std::uint32_t across = 0, down = 0;
        if (!r.Read(5, across)) return Status::truncated;
        if (across == 0) {
            std::uint32_t rest = 0, change = 0;
            if (!r.Read(4, rest) || !r.Bit(change)) return Status::truncated;
            if (rest != 0 || !haveExplicit) return Status::invalid;
            block = m_blocks[lastExplicit];
            block.derived = true;
            block.base = lastExplicit;
            block.changed = change != 0;
            if (block.changed) {
                block.dataBit = r.BitPosition();
                const Status s = ReadChangeList(r, block, nullptr);
                if (!Ok(s)) return s;
            }
            continue;
        }
        if (!r.Read(4, down)) return Status::truncated;
        if (down == 0 || down > kSisKind1MaxCellsDown || across * down > kSisKind1MaxCells) return Status::invalid;
        block = BlockRecord{};
        block.across = across;
        block.down = down;
        block.cells = across * down;
        block.base = b;
        for (std::uint32_t c = 0; c < block.cells; ++c) {
            std::uint32_t bit = 0;
            if (!r.Bit(bit)) return Status::truncated;
            if (bit) block.cellMap[c >> 3] |= static_cast<std::uint8_t>(0x80u >> (c & 7));
        }
        block.dataBit = r.BitPosition();
        for (std::uint32_t c = 0; c < block.cells; ++c) {
            const Status s = ReadSisKind1Cell(r, block.RunLength(c), nullptr);
            if (!Ok(s)) return s;
        }
        haveExplicit = true;
        lastExplicit = b;
    }
    return Status::ok;
}

Status SisKind1Decoder::ReadFrameRecord(MsbBitReader& r, FrameRecord& f) const {
    std::uint32_t invert = 0;
    std::uint32_t present = 0;
    if (!r.Bit(invert) || !r.Read(m_header.blockCount, present)) return Status::truncated;
    f.invert = invert != 0;
    f.count = 0;
    for (std::uint32_t b = 0; b < m_header.blockCount; ++b) {
        if (!((present >> (m_header.blockCount - 1 - b)) & 1)) continue;
        Placement& p = f.placements[f.count++];
        std::uint32_t x = 0, y = 0, flip = 0, mirror = 0, transpose = 0, extra = 0, stored = 0;
        p.block = b;
        p.layer = 0;
        if (m_header.layerCount != 1 && !r.Read(3, p.layer)) return Status::truncated;
        if (!r.Read(8, x) || !r.Read(7, y) || !r.Bit(flip) || !r.Bit(mirror) || !r.Bit(transpose) || !r.Bit(extra))
            return Status::truncated;
        if (extra && !r.Read(2, stored)) return Status::truncated;
        p.x = SignMagnitude(x, 8);
        p.y = SignMagnitude(y, 7);
        p.transform = {transpose != 0, flip != 0, mirror != 0};
    }
    return Status::ok;
}

Status SisKind1Decoder::DecodeBlock(std::uint32_t b, SisPixelBlock& dst) {
    const BlockRecord& target = m_blocks[b];
    const std::uint32_t base = target.derived ? target.base : b;
    const BlockRecord& root = m_blocks[base];
    dst.Reset(8 * root.across, 8 * root.down);
    MsbBitReader r(m_pStream, m_nSize, root.dataBit);
    std::uint8_t coded[64];
    for (std::uint32_t c = 0; c < root.cells; ++c) {
        const Status s = ReadSisKind1Cell(r, root.RunLength(c), coded);
        if (!Ok(s)) return s;
        PutCell(coded, c, root.across, dst);
    }
    // Every derived block since the base carries its changes forward.
    for (std::uint32_t j = base + 1; j <= b && target.derived; ++j) {
        if (!m_blocks[j].changed) continue;
        MsbBitReader c(m_pStream, m_nSize, m_blocks[j].dataBit);
        const Status s = ReadChangeList(c, m_blocks[j], &dst);
        if (!Ok(s)) return s;
    }
    return Status::ok;
}

bool SisKind1Decoder::RenderPlacement(const Placement& p, const SisFrameSlot& slot) {
    if (!Ok(DecodeBlock(p.block, m_cells))) return false;
    TransformSisBlock(m_cells, p.transform, slot.width, slot.height, m_transformed);
    if (p.layer == 0) {
        CompositeSisBlock(slot, m_transformed, p.x, p.y, SisMerge::orSet, nullptr);
        return true;
    }
    BuildSisSilhouette(m_transformed, m_cells);
    CompositeSisBlock(slot, m_transformed, p.x, p.y, SisMerge::maskOrOutside, &m_cells);
    return true;
}

void SisKind1Decoder::RenderFrame(const FrameRecord& f, std::uint8_t* out) {
    const SisFrameSlot slot{out, m_header.width, m_header.height, 1};
    const std::size_t bytes = std::size_t{slot.width} * slot.height / 8;
    std::memset(out, 0, bytes);
    for (std::uint32_t layer = 0; layer < m_header.layerCount; ++layer) {
        for (std::uint32_t i = 0; i < f.count; ++i) {
            if (f.placements[i].layer != layer) continue;
            if (!RenderPlacement(f.placements[i], slot)) m_bBlockFailed = true;
        }
    }
    // The two inversions cancel.
    if (f.invert != (m_header.invertAll != 0)) {
        for (std::size_t i = 0; i < bytes; ++i) out[i] = static_cast<std::uint8_t>(~out[i]);
    }
}

int SisKind1Decoder::DecodeKind1Frame(const std::uint8_t* stream, std::size_t size, std::uint8_t* out,
                                      std::size_t outSize, int frame) {
    if (!out || !stream) return 0;
    m_pStream = stream;
    m_nSize = size;
    if (!Ok(ReadSisKind1Header(stream, size, m_header))) return 0;
    if (frame < -1 || frame >= static_cast<int>(m_header.frameCount)) return 0;
    const std::size_t slotBytes = std::size_t{m_header.width} * m_header.height / 8;
    const std::size_t slots = frame < 0 ? m_header.frameCount : 1;
    if (slotBytes * slots > outSize) return 0;

    MsbBitReader r(stream, size, m_header.endBit);
    if (!Ok(ReadBlockRecords(r))) return 0;
    m_bBlockFailed = false;
    FrameRecord record;
    for (std::uint32_t i = 0; i < m_header.frameCount; ++i) {
        if (!Ok(ReadFrameRecord(r, record))) return 0;
        if (frame < 0) RenderFrame(record, out + std::size_t{i} * slotBytes);
        else if (i == static_cast<std::uint32_t>(frame)) RenderFrame(record, out);
        if (m_bBlockFailed) return 0;
    }
    return static_cast<int>(m_header.frameCount);
}

}  // namespace handpix
