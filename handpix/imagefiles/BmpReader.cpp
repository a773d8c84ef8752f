#include "handpix/imagefiles/BmpReader.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "handpix/platform/core/File.h"

namespace {

constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiBitfields = 3;
constexpr long long kFileHeaderBytes = 14;
constexpr long long kInfoHeaderBytes = 40;
// BI_BITFIELDS masks sit right after the 40-byte fields, whether they end a
// 40-byte header or open the longer ones.
constexpr long long kMasksEnd = kFileHeaderBytes + kInfoHeaderBytes + 12;

struct BmpHeader {
    std::uint32_t bfSize = 0;
    std::uint16_t bfReserved1 = 0, bfReserved2 = 0;
    std::int32_t bfOffBits = 0;
    std::uint32_t biSize = 0;
    std::int32_t biWidth = 0, biHeight = 0;
    std::uint16_t biPlanes = 0, biBitCount = 0;
    std::uint32_t biCompression = 0, biSizeImage = 0;
    std::int32_t biXPelsPerMeter = 0, biYPelsPerMeter = 0;
    std::uint32_t biClrUsed = 0, biClrImportant = 0;
};

struct PaletteEntry {
    std::uint8_t b, g, r;
};

// One colour channel of a 16- or 32-bit pixel: where its mask starts and how wide it is.
struct Channel {
    unsigned shift = 0, bits = 0;

    // False for a mask whose bits are not one run.
    bool Set(std::uint32_t mask) {
        if (mask == 0) return true;  // an absent channel reads as 0
        shift = static_cast<unsigned>(std::countr_zero(mask));
        bits = static_cast<unsigned>(std::popcount(mask));
        return (mask >> shift) == (bits == 32 ? ~0u : (1u << bits) - 1);
    }
    // Wider fields keep their top 8 bits; narrower ones repeat their bits
    // downwards, so all-ones gives 255 and five bits v give (v << 3) | (v >> 2).
    std::uint8_t Scale(std::uint32_t pixel) const {
        if (bits == 0) return 0;
        const std::uint32_t v = (pixel >> shift) & (bits == 32 ? ~0u : (1u << bits) - 1);
        if (bits >= 8) return static_cast<std::uint8_t>(v >> (bits - 8));
        unsigned out = v << (8 - bits);
        for (unsigned filled = bits; filled < 8; filled *= 2) out |= out >> filled;
        return static_cast<std::uint8_t>(out);
    }
};

struct Layout {
    unsigned bits = 0;
    std::vector<PaletteEntry> palette;
    Channel red, green, blue;  // 16 and 32 bits
};

void DecodeRow(const Layout& l, const unsigned char* src, unsigned char* dst, long long width) {
    if (l.bits == 24) {
        std::memcpy(dst, src, static_cast<std::size_t>(width) * 3);
        return;
    }
    if (l.bits == 16 || l.bits == 32) {
        const unsigned step = l.bits / 8;
        for (long long x = 0; x < width; ++x, dst += 3, src += step) {
            std::uint32_t v = src[0] | (static_cast<std::uint32_t>(src[1]) << 8);
            if (step == 4) v |= (static_cast<std::uint32_t>(src[2]) << 16) | (static_cast<std::uint32_t>(src[3]) << 24);
            dst[0] = l.blue.Scale(v);
            dst[1] = l.green.Scale(v);
            dst[2] = l.red.Scale(v);
        }
        return;
    }
    const unsigned mask = (1u << l.bits) - 1;
    for (long long x = 0; x < width; ++x, dst += 3) {
        const std::size_t bit = static_cast<std::size_t>(x) * l.bits;
        const unsigned v = (src[bit >> 3] >> (8 - l.bits - (bit & 7))) & mask;
        const PaletteEntry e = v < l.palette.size() ? l.palette[v] : PaletteEntry{0, 0, 0};  // beyond: black
        dst[0] = e.b;
        dst[1] = e.g;
        dst[2] = e.r;
    }
}

}  // namespace

// Reads little-endian fields one by one, counting every field in m_nBytesRead
// whether or not the read succeeds, so the pixel-data offset check sees the
// same count as the file layout.
class BmpFieldReader {
public:
    BmpFieldReader(FILE* f, int& counter) : m_f(f), m_count(counter) {}
    template <typename T>
    bool Field(T& v) {
        unsigned char b[sizeof(T)];
        m_count += static_cast<int>(sizeof(T));
        if (std::fread(b, 1, sizeof(T), m_f) != sizeof(T)) return false;
        std::uint32_t u = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i) u |= static_cast<std::uint32_t>(b[i]) << (8 * i);
        v = static_cast<T>(u);
        return true;
    }
    bool Bytes(unsigned char* out, std::size_t n) {
        // Saturates: the count only matters up to the pixel offset, an int.
        m_count = static_cast<int>(std::min<long long>(INT_MAX, static_cast<long long>(m_count) + n));
        return std::fread(out, 1, n, m_f) == n;
    }
    // Moves forward to the file offset `to` (not before the current count).
    bool SkipTo(long long to) {
        const long long gap = to - m_count;
        m_count = static_cast<int>(to);
        return gap <= 0 || std::fseek(m_f, static_cast<long>(gap), SEEK_CUR) == 0;
    }
    FILE* Stream() const { return m_f; }

private:
    FILE* m_f;
    int& m_count;
};

CBmpReader::CBmpReader() : m_strError("OK"), m_nBytesRead(0) {}

unsigned char* CBmpReader::Read(const char* path, int* width, int* height) {
    return ReadBmp(CString(path), width, height);
}

unsigned char* CBmpReader::ReadBmp(CString path, int* width, int* height) {
    if (width) *width = 0;
    if (height) *height = 0;
    m_strError = "OK";
    m_nBytesRead = 0;
    FILE* f = handpix::OpenRegularFileStream(path);
    if (!f) {
        m_strError = CString("Can't open file for reading :\n") + path;
        return nullptr;
    }
    unsigned char* result = ReadBmpStream(f, width, height);
    std::fclose(f);
    return result;
}

namespace {

// Everything between the fields and the pixels: masks, the rest of a longer
// header, the palette. Returns the error text, or null.
const char* ReadLayout(BmpFieldReader& in, const BmpHeader& h, Layout& l) {
    l.bits = h.biBitCount;
    const bool paletted = l.bits == 1 || l.bits == 4 || l.bits == 8;
    const bool bitfields = h.biCompression == kBiBitfields && (l.bits == 16 || l.bits == 32);
    if (h.biCompression != kBiRgb && !bitfields) return "This is a compressed file.";
    if (!paletted && l.bits != 16 && l.bits != 24 && l.bits != 32) return "Not a valid BMP File";

    // Without masks of their own, 16-bit files hold X1R5G5B5 and 32-bit files X8R8G8B8.
    std::uint32_t masks[3] = {l.bits == 16 ? 0x7C00u : 0xFF0000u, l.bits == 16 ? 0x03E0u : 0xFF00u,
                              l.bits == 16 ? 0x001Fu : 0xFFu};
    if (bitfields && !(in.Field(masks[0]) && in.Field(masks[1]) && in.Field(masks[2]))) return "Read Error!";
    if (!l.red.Set(masks[0]) || !l.green.Set(masks[1]) || !l.blue.Set(masks[2])) return "Not a valid BMP File";

    long long headerEnd = kFileHeaderBytes + std::max<long long>(h.biSize, kInfoHeaderBytes);
    if (bitfields) headerEnd = std::max(headerEnd, kMasksEnd);
    if (headerEnd > h.bfOffBits) return "Corrupt palette";
    if (!in.SkipTo(headerEnd)) return "Read Error!";
    if (!paletted) return nullptr;

    const std::uint32_t colours = h.biClrUsed ? h.biClrUsed : 1u << l.bits;
    // A palette longer than the rest of the file cannot be read whole: the
    // entry-by-entry read would fail, so fail the same way before allocating.
    const long long left = handpix::StreamBytesLeft(in.Stream());
    if (left >= 0 && static_cast<long long>(colours) * 4 > left) return "Read Error!";
    if (headerEnd + static_cast<long long>(colours) * 4 > h.bfOffBits) return "Corrupt palette";
    l.palette.resize(colours);
    for (PaletteEntry& e : l.palette) {
        unsigned char q[4];
        if (!in.Bytes(q, 4)) return "Read Error!";
        e = {q[0], q[1], q[2]};
    }
    return nullptr;
}

// The rows, once the stream stands at the pixel offset.
unsigned char* ReadPixels(BmpFieldReader& in, const BmpHeader& h, const Layout& l, int* width, int* height,
                          CString& error) {
    const bool topDown = h.biHeight < 0;
    const long long w = h.biWidth;
    const long long rows = topDown ? -static_cast<long long>(h.biHeight) : h.biHeight;
    *width = h.biWidth;
    *height = rows > INT_MAX ? h.biHeight : static_cast<int>(rows);
    if (w <= 0 || rows <= 0) {
        error = "Memory alloc Failed";
        return nullptr;
    }
    if (!handpix::ReaderSizeAllowed(w, rows)) {
        error = handpix::OverLimitText(w, rows);
        return nullptr;
    }
    const long long rowBytes = ((w * l.bits + 31) / 32) * 4;  // file rows are padded to 4 bytes
    const long long left = handpix::StreamBytesLeft(in.Stream());
    if (left >= 0 && rowBytes > left / rows) {
        // The pixel rows would run out of file: refuse before allocating.
        error = "Read Error";
        return nullptr;
    }
    const std::size_t outRow = static_cast<std::size_t>(w) * 3;
    unsigned char* out = new (std::nothrow) unsigned char[outRow * static_cast<std::size_t>(rows)];
    if (!out) {
        error = "Memory alloc Failed";
        return nullptr;
    }
    std::vector<unsigned char> row(static_cast<std::size_t>(rowBytes));
    for (long long y = 0; y < rows; ++y) {
        if (!in.Bytes(row.data(), row.size())) {
            delete[] out;
            error = "Read Error";
            return nullptr;
        }
        // Output rows are bottom row first, the file's own order unless it is top-down.
        DecodeRow(l, row.data(), out + outRow * static_cast<std::size_t>(topDown ? rows - 1 - y : y), w);
    }
    return out;
}

}  // namespace

unsigned char* CBmpReader::ReadBmpStream(FILE* f, int* width, int* height) {
    int dummyW = 0, dummyH = 0;
    if (!width) width = &dummyW;
    if (!height) height = &dummyH;
    *width = 0;
    *height = 0;
    m_strError = "OK";
    m_nBytesRead = 0;
    if (!f) {
        m_strError = "Read Error!";
        return nullptr;
    }
    BmpFieldReader in(f, m_nBytesRead);
    BmpHeader h;
    unsigned char type[2] = {0, 0};
    if (!in.Bytes(type, 2) || type[0] != 'B' || type[1] != 'M') {
        m_strError = "Not a valid BMP File";
        return nullptr;
    }
    bool ok = in.Field(h.bfSize) && in.Field(h.bfReserved1) && in.Field(h.bfReserved2) &&
              in.Field(h.bfOffBits) && in.Field(h.biSize) && in.Field(h.biWidth) && in.Field(h.biHeight) &&
              in.Field(h.biPlanes) && in.Field(h.biBitCount) && in.Field(h.biCompression) &&
              in.Field(h.biSizeImage) && in.Field(h.biXPelsPerMeter) && in.Field(h.biYPelsPerMeter) &&
              in.Field(h.biClrUsed) && in.Field(h.biClrImportant);
    if (!ok) {
        m_strError = "Read Error!";
        return nullptr;
    }
    Layout layout;
    if (const char* error = ReadLayout(in, h, layout)) {
        m_strError = error;
        return nullptr;
    }
    if (!in.SkipTo(h.bfOffBits)) {
        m_strError = "Read Error";
        return nullptr;
    }
    return ReadPixels(in, h, layout, width, height, m_strError);
}
