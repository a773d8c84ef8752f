#include "tests/support/JpegSegments.h"

#include <cstddef>

namespace jpegtest {

SplitFile Split(const Bytes& file) {
    SplitFile out;
    std::size_t p = 2;  // after SOI
    while (p + 4 <= file.size() && file[p] == 0xFF) {
        const std::uint8_t marker = file[p + 1];
        const std::size_t length = static_cast<std::size_t>(file[p + 2] << 8 | file[p + 3]);
        out.segments.push_back({marker, Bytes(file.begin() + static_cast<std::ptrdiff_t>(p + 4),
                                              file.begin() + static_cast<std::ptrdiff_t>(p + 2 + length))});
        p += 2 + length;
        if (marker == 0xDA) break;
    }
    out.entropy.assign(file.begin() + static_cast<std::ptrdiff_t>(p), file.end());
    return out;
}

Bytes WithFrameSize(const Bytes& file, int width, int height) {
    SplitFile s = Split(file);
    for (Segment& seg : s.segments)
        if (seg.marker >= 0xC0 && seg.marker <= 0xC2) {
            seg.payload[1] = static_cast<std::uint8_t>(height >> 8);
            seg.payload[2] = static_cast<std::uint8_t>(height);
            seg.payload[3] = static_cast<std::uint8_t>(width >> 8);
            seg.payload[4] = static_cast<std::uint8_t>(width);
        }
    return Join(s.segments, s.entropy);
}

Bytes Join(const std::vector<Segment>& segments, const Bytes& entropy) {
    Bytes out = {0xFF, 0xD8};
    for (const Segment& s : segments) {
        const std::size_t length = s.payload.size() + 2;
        out.insert(out.end(), {0xFF, s.marker, static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)});
        out.insert(out.end(), s.payload.begin(), s.payload.end());
    }
    out.insert(out.end(), entropy.begin(), entropy.end());
    return out;
}

std::vector<Bytes> DhtTables(const Bytes& payload) {
    std::vector<Bytes> tables;
    for (std::size_t p = 0; p + 17 <= payload.size();) {
        std::size_t n = 0;
        for (int i = 1; i <= 16; ++i) n += payload[p + i];
        tables.emplace_back(payload.begin() + static_cast<std::ptrdiff_t>(p),
                            payload.begin() + static_cast<std::ptrdiff_t>(p + 17 + n));
        p += 17 + n;
    }
    return tables;
}

Bytes DhtTable(std::uint8_t slot, const std::vector<int>& countsPerLength, const Bytes& symbols) {
    Bytes t(17, 0);
    t[0] = slot;
    for (std::size_t i = 0; i < countsPerLength.size() && i < 16; ++i) t[1 + i] = static_cast<std::uint8_t>(countsPerLength[i]);
    t.insert(t.end(), symbols.begin(), symbols.end());
    return t;
}

Bytes Grey8x8(const Bytes& dcTable, const Bytes& acTable, const Bytes& entropy, std::uint8_t scanTables) {
    Bytes dqt(65, 1);
    dqt[0] = 0;
    const Bytes sof = {8, 0, 8, 0, 8, 1, 1, 0x11, 0};
    const Bytes sos = {1, 1, scanTables, 0, 63, 0};
    Bytes data = entropy;
    data.insert(data.end(), {0xFF, 0xD9});
    return Join({{0xDB, dqt}, {0xC0, sof}, {0xC4, dcTable}, {0xC4, acTable}, {0xDA, sos}}, data);
}

Bytes ExifPayload(const ExifBlock& block) {
    Bytes out = {'E', 'x', 'i', 'f', 0, 0};
    auto put = [&](std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            const int shift = block.bigEndian ? 8 * (bytes - 1 - i) : 8 * i;
            out.push_back(static_cast<std::uint8_t>(v >> shift));
        }
    };
    const std::uint8_t order = block.bigEndian ? 'M' : 'I';
    out.insert(out.end(), {order, order});
    put(42, 2);
    put(static_cast<std::uint32_t>(block.ifdOffset < 0 ? 8 : block.ifdOffset), 4);
    const int entries = block.others + (block.withTag ? 1 : 0);
    put(static_cast<std::uint32_t>(block.claimedEntries < 0 ? entries : block.claimedEntries), 2);
    for (int i = 0; i < block.others; ++i) {  // ImageWidth, a LONG
        put(0x0100, 2), put(4, 2), put(1, 4), put(640, 4);
    }
    if (block.withTag) {
        put(0x0112, 2), put(block.type, 2), put(1, 4);
        put(static_cast<std::uint32_t>(block.orientation), 2), put(0, 2);
    }
    put(0, 4);  // no next IFD
    return out;
}

Bytes WithExif(const Bytes& file, const Bytes& payload, bool late) {
    SplitFile s = Split(file);
    s.segments.insert(s.segments.begin() + (late && !s.segments.empty() ? 1 : 0), Segment{0xE1, payload});
    return Join(s.segments, s.entropy);
}

}  // namespace jpegtest
