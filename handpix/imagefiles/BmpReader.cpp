#include "handpix/imagefiles/BmpReader.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {

// Bytes left in the stream from the current position, or -1 when unknown.
long long BytesLeft(FILE* f) {
    long here = std::ftell(f);
    if (here < 0 || std::fseek(f, 0, SEEK_END) != 0) return -1;
    long end = std::ftell(f);
    std::fseek(f, here, SEEK_SET);
    return end < here ? 0 : static_cast<long long>(end - here);
}

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
        m_count += static_cast<int>(n);
        return std::fread(out, 1, n, m_f) == n;
    }

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
    FILE* f = std::fopen(path, "rb");
    if (!f) {
        m_strError = CString("Can't open file for reading :\n") + path;
        return nullptr;
    }
    unsigned char* result = ReadBmpStream(f, width, height);
    std::fclose(f);
    return result;
}

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
    if (h.biCompression != 0) {
        m_strError = "This is a compressed file.";
        return nullptr;
    }
    const unsigned bits = h.biBitCount;
    const bool paletted = bits == 1 || bits == 4 || bits == 8;
    if (!paletted && bits != 16 && bits != 24 && bits != 32) {
        m_strError = "Not a valid BMP File";
        return nullptr;
    }
    const long long left = BytesLeft(f);
    std::uint32_t colours = h.biClrUsed;
    if (colours == 0) colours = bits < 32 ? (1u << bits) : 0;

    std::vector<PaletteEntry> palette;
    if (paletted) {
        // A palette longer than the rest of the file cannot be read whole: the
        // entry-by-entry read would fail, so fail the same way before allocating.
        if (left >= 0 && static_cast<long long>(colours) * 4 > left) {
            m_nBytesRead += static_cast<int>(left);
            m_strError = "Read Error!";
            return nullptr;
        }
        palette.resize(colours);
        for (PaletteEntry& e : palette) {
            unsigned char q[4];
            if (!in.Bytes(q, 4)) {
                m_strError = "Read Error!";
                return nullptr;
            }
            e = {q[0], q[1], q[2]};
        }
    }
    if (m_nBytesRead > h.bfOffBits) {
        m_strError = "Corrupt palette";
        return nullptr;
    }
    const long long gap = static_cast<long long>(h.bfOffBits) - m_nBytesRead;
    if (gap > 0 && std::fseek(f, static_cast<long>(gap), SEEK_CUR) != 0) {
        m_strError = "Read Error";
        return nullptr;
    }
    m_nBytesRead = h.bfOffBits;

    const bool topDown = h.biHeight < 0;
    const long long w = h.biWidth;
    const long long rows = topDown ? -static_cast<long long>(h.biHeight) : h.biHeight;
    *width = h.biWidth;
    *height = static_cast<int>(rows);
    const long long rowBytes = ((w * bits + 31) / 32) * 4;  // file rows are padded to 4 bytes
    if (w <= 0 || rows <= 0 || w * rows > handpix::kMaxPixels) {
        m_strError = "Memory alloc Failed";
        return nullptr;
    }
    if (left >= 0 && rowBytes * rows > left - (gap > 0 ? gap : 0)) {
        // The pixel rows would run out of file: refuse before allocating.
        m_strError = "Read Error";
        return nullptr;
    }
    const std::size_t outRow = static_cast<std::size_t>(w) * 3;
    unsigned char* out = new (std::nothrow) unsigned char[outRow * static_cast<std::size_t>(rows)];
    if (!out) {
        m_strError = "Memory alloc Failed";
        return nullptr;
    }
    std::vector<unsigned char> row(static_cast<std::size_t>(rowBytes));
    for (long long y = 0; y < rows; ++y) {
        if (!in.Bytes(row.data(), row.size())) {
            delete[] out;
            m_strError = "Read Error";
            return nullptr;
        }
        // Output rows are bottom row first, the file's own order unless it is top-down.
        unsigned char* dst = out + outRow * static_cast<std::size_t>(topDown ? rows - 1 - y : y);
        const unsigned char* src = row.data();
        if (bits == 24) {
            std::memcpy(dst, src, outRow);
        } else if (bits == 32) {
            for (long long x = 0; x < w; ++x, dst += 3, src += 4) {
                dst[0] = src[0];
                dst[1] = src[1];
                dst[2] = src[2];
            }
        } else if (bits == 16) {
            // 16-bit uncompressed files hold X1R5G5B5.
            for (long long x = 0; x < w; ++x, dst += 3, src += 2) {
                unsigned v = static_cast<unsigned>(src[0] | (src[1] << 8));
                unsigned r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
                dst[0] = static_cast<unsigned char>((b << 3) | (b >> 2));
                dst[1] = static_cast<unsigned char>((g << 3) | (g >> 2));
                dst[2] = static_cast<unsigned char>((r << 3) | (r >> 2));
            }
        } else {
            const unsigned mask = (1u << bits) - 1;
            for (long long x = 0; x < w; ++x, dst += 3) {
                std::size_t bit = static_cast<std::size_t>(x) * bits;
                unsigned v = (src[bit >> 3] >> (8 - bits - (bit & 7))) & mask;
                if (v < palette.size()) {
                    dst[0] = palette[v].b;
                    dst[1] = palette[v].g;
                    dst[2] = palette[v].r;
                } else {
                    dst[0] = dst[1] = dst[2] = 0;  // beyond the palette: black
                }
            }
        }
    }
    return out;
}
