#include "handpix/handset/SisHeader.h"

#include "handpix/platform/core/BitReader.h"
#include "handpix/platform/core/ByteReader.h"

namespace handpix {

namespace {

bool HasSisSignature(const std::uint8_t* s, std::size_t n) {
    return s && n >= 4 && s[0] == 'S' && s[1] == 'I' && s[2] == 'S';
}

// 0 stands for 256; only whole 8-pixel units count.
std::uint32_t Kind2Extent(std::uint8_t b) { return b == 0 ? 256u : 8u * (b >> 3); }

}  // namespace

int SisKindOf(const std::uint8_t* stream, std::size_t size) {
    if (!HasSisSignature(stream, size)) return 0;
    const unsigned top = stream[3] >> 3;
    if (top >= 1 && top <= kSisMaxFrames) return 1;
    if (top == 0 || top == 29 || top == 30) return 2;
    return 0;
}

Status ReadSisKind1Header(const std::uint8_t* stream, std::size_t size, SisKind1Header& h) {
    if (SisKindOf(stream, size) != 1) return Status::invalid;
    MsbBitReader r(stream, size, kSisKind1HeaderBit);
    std::uint32_t widthUnits = 0, heightUnits = 0, blocksMinus1 = 0;
    const bool read = r.Read(5, h.frameCount) && r.Read(5, h.attribute) && r.Read(5, widthUnits) &&
                      r.Read(4, heightUnits) && r.Read(1, h.invertAll) && r.Read(5, blocksMinus1) &&
                      r.Read(3, h.cellNumberBits) && r.Read(1, h.storedFlag) && r.Read(4, h.delay) &&
                      r.Read(3, h.layerCount) && r.Read(4, h.flags);
    if (!read) return Status::truncated;
    if (h.frameCount == 0 || widthUnits == 0 || heightUnits == 0) return Status::invalid;
    h.blockCount = blocksMinus1 + 1;
    if (h.blockCount > kSisKind1MaxBlocks) return Status::invalid;
    h.width = 8 * widthUnits;
    h.height = 8 * heightUnits;
    h.endBit = r.BitPosition();
    return Status::ok;
}

Status ReadSisKind2Header(const std::uint8_t* stream, std::size_t size, SisKind2Header& h) {
    if (SisKindOf(stream, size) != 2) return Status::invalid;
    ByteReader r(stream, size);
    std::uint8_t b[13];
    if (!r.Read(b, sizeof b)) return Status::truncated;
    h.width = Kind2Extent(b[6]);
    h.height = Kind2Extent(b[7]);
    h.invertAll = b[8];
    h.frameCount = b[9];
    h.attribute = b[10];
    h.storedByte = b[11];
    h.delayControl = b[12];
    if (h.frameCount == 0) return Status::invalid;
    h.perFrameDelays = h.delayControl >= 128;
    h.delayOffset = r.Position();
    if (h.perFrameDelays && !r.Skip(h.frameCount)) return Status::truncated;
    std::uint8_t tail[5];
    if (!r.Read(tail, sizeof tail)) return Status::truncated;
    h.layerCount = tail[0];
    h.flags = tail[1];
    h.kindByte = tail[2];
    h.method = tail[3];
    h.blockCount = tail[4];
    if (h.kindByte == 8) return Status::invalid;
    h.recordsOffset = r.Position();
    return Status::ok;
}

}  // namespace handpix
