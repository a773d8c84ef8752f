#include "tests/support/GifWriter.h"

#include <algorithm>
#include <unordered_map>

namespace handpix::test {

namespace {

constexpr int kMaxCodes = 4096;

// Writes codes LSB first at the width a decoder expects: it follows the
// decoder's own table growth, so encoder and decoder cannot disagree about
// when codes widen.
class CodeWriter {
public:
    explicit CodeWriter(int minCodeSize) : m_min(minCodeSize), m_clear(1 << minCodeSize) { Reset(); }

    void Put(int code) {
        m_acc |= static_cast<std::uint32_t>(code) << m_nbits;
        m_nbits += m_bits;
        while (m_nbits >= 8) {
            m_out.push_back(static_cast<std::uint8_t>(m_acc));
            m_acc >>= 8;
            m_nbits -= 8;
        }
        if (code == m_clear) {
            Reset();
        } else if (code == m_clear + 1) {
        } else if (m_fresh) {
            m_fresh = false;
        } else if (m_next < kMaxCodes) {
            ++m_next;
            if (m_next >= m_limit && m_limit < kMaxCodes) {
                m_limit *= 2;
                ++m_bits;
            }
        }
    }
    std::vector<std::uint8_t> Finish() {
        if (m_nbits > 0) m_out.push_back(static_cast<std::uint8_t>(m_acc));
        m_acc = 0;
        m_nbits = 0;
        return m_out;
    }

private:
    void Reset() {
        m_bits = m_min + 1;
        m_limit = 2 * m_clear;
        m_next = m_clear + 2;
        m_fresh = true;
    }
    int m_min, m_clear;
    int m_bits = 0, m_limit = 0, m_next = 0;
    bool m_fresh = true;
    std::uint32_t m_acc = 0;
    int m_nbits = 0;
    std::vector<std::uint8_t> m_out;
};

int BitsFor(std::size_t entries) {
    int bits = 1;
    while ((std::size_t{1} << bits) < entries && bits < 8) ++bits;
    return bits;
}

void PutU16(std::vector<std::uint8_t>& out, int v) {
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}

void PutMap(std::vector<std::uint8_t>& out, const std::vector<GifColour>& map, int entries) {
    for (int i = 0; i < entries; ++i) {
        const GifColour c = i < static_cast<int>(map.size()) ? map[static_cast<std::size_t>(i)] : GifColour{};
        out.insert(out.end(), {c.r, c.g, c.b});
    }
}

std::vector<std::uint8_t> StoredOrder(const GifImage& image) {
    if (!image.interlaced) return image.pixels;
    std::vector<std::uint8_t> out;
    out.reserve(image.pixels.size());
    const auto w = static_cast<std::size_t>(image.width);
    for (int y : InterlacedRowOrder(image.height)) {
        const auto row = image.pixels.begin() + static_cast<std::ptrdiff_t>(w * static_cast<std::size_t>(y));
        out.insert(out.end(), row, row + static_cast<std::ptrdiff_t>(w));
    }
    return out;
}

}  // namespace

GifImage MakeImage(int width, int height, std::vector<std::uint8_t> pixels, bool interlaced) {
    GifImage image;
    image.width = width;
    image.height = height;
    image.pixels = std::move(pixels);
    image.interlaced = interlaced;
    return image;
}

std::vector<std::uint8_t> LzwEncode(const std::vector<std::uint8_t>& indices, int minCodeSize,
                                    const GifLzwOptions& options) {
    const int clear = 1 << minCodeSize;
    CodeWriter writer(minCodeSize);
    std::unordered_map<std::uint32_t, int> table;
    int next = clear + 2;
    int sinceClear = 0;
    auto reset = [&] {
        writer.Put(clear);
        table.clear();
        next = clear + 2;
        sinceClear = 0;
    };
    if (options.leadingClear) writer.Put(clear);
    int prefix = -1;
    for (std::uint8_t k : indices) {
        if (prefix < 0) {
            prefix = k;
            continue;
        }
        const std::uint32_t key = (static_cast<std::uint32_t>(prefix) << 8) | k;
        const auto hit = table.find(key);
        if (hit != table.end()) {
            prefix = hit->second;
            continue;
        }
        writer.Put(prefix);
        ++sinceClear;
        if (next < kMaxCodes) table.emplace(key, next++);
        prefix = k;
        if ((next == kMaxCodes && options.clearWhenFull) || (options.clearEvery > 0 && sinceClear >= options.clearEvery))
            reset();
    }
    if (prefix >= 0) writer.Put(prefix);
    if (options.endCode) writer.Put(clear + 1);
    return writer.Finish();
}

std::vector<std::uint8_t> PackCodes(const std::vector<int>& codes, int minCodeSize) {
    CodeWriter writer(minCodeSize);
    for (int c : codes) writer.Put(c);
    return writer.Finish();
}

std::vector<std::uint8_t> SubBlocks(const std::vector<std::uint8_t>& data, int blockSize, bool terminator) {
    const auto size = static_cast<std::size_t>(std::clamp(blockSize, 1, 255));
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < data.size(); i += size) {
        const std::size_t n = std::min(size, data.size() - i);
        out.push_back(static_cast<std::uint8_t>(n));
        out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(i),
                   data.begin() + static_cast<std::ptrdiff_t>(i + n));
    }
    if (terminator) out.push_back(0);
    return out;
}

std::vector<int> InterlacedRowOrder(int height) {
    std::vector<int> rows;
    const int start[4] = {0, 4, 2, 1};
    const int step[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass)
        for (int y = start[pass]; y < height; y += step[pass]) rows.push_back(y);
    return rows;
}

std::vector<std::uint8_t> EncodeGif(const GifFile& file) {
    std::vector<std::uint8_t> out(file.version.begin(), file.version.end());
    out.insert(out.begin(), {'G', 'I', 'F'});
    const GifImage* first = file.images.empty() ? nullptr : &file.images.front();
    PutU16(out, file.screenWidth ? file.screenWidth : first ? first->width : 1);
    PutU16(out, file.screenHeight ? file.screenHeight : first ? first->height : 1);
    const int globalBits = BitsFor(file.globalMap.size());
    out.push_back(static_cast<std::uint8_t>((file.globalMap.empty() ? 0 : 0x80) | 0x70 | (globalBits - 1)));
    out.push_back(static_cast<std::uint8_t>(file.background));
    out.push_back(static_cast<std::uint8_t>(file.aspect));
    if (!file.globalMap.empty()) PutMap(out, file.globalMap, 1 << globalBits);

    const auto putExtensions = [&](const std::vector<GifExtension>& list) {
        for (const GifExtension& ext : list) {
            out.insert(out.end(), {0x21, ext.label});
            for (const auto& block : ext.blocks) {
                out.push_back(static_cast<std::uint8_t>(block.size()));
                out.insert(out.end(), block.begin(), block.end());
            }
            out.push_back(0);
        }
    };
    putExtensions(file.extensions);
    for (const GifImage& image : file.images) {
        putExtensions(image.extensions);
        out.push_back(0x2C);
        PutU16(out, image.left);
        PutU16(out, image.top);
        PutU16(out, image.width);
        PutU16(out, image.height);
        const int localBits = BitsFor(image.localMap.size());
        out.push_back(static_cast<std::uint8_t>((image.localMap.empty() ? 0 : 0x80) | (image.interlaced ? 0x40 : 0) |
                                                (image.localMap.empty() ? 0 : localBits - 1)));
        if (!image.localMap.empty()) PutMap(out, image.localMap, 1 << localBits);
        const std::size_t colours = image.localMap.empty() ? file.globalMap.size() : image.localMap.size();
        const int minCodeSize = image.lzw.minCodeSize ? image.lzw.minCodeSize : std::max(2, BitsFor(colours));
        out.push_back(static_cast<std::uint8_t>(minCodeSize));
        const auto data = SubBlocks(LzwEncode(StoredOrder(image), minCodeSize, image.lzw), image.lzw.subBlockSize);
        out.insert(out.end(), data.begin(), data.end());
    }
    if (file.trailer) out.push_back(0x3B);
    return out;
}

GifBuilder& GifBuilder::Raw(std::initializer_list<std::uint8_t> b) {
    bytes.insert(bytes.end(), b);
    return *this;
}

GifBuilder& GifBuilder::Raw(const std::vector<std::uint8_t>& b) {
    bytes.insert(bytes.end(), b.begin(), b.end());
    return *this;
}

GifBuilder& GifBuilder::U16(int v) {
    PutU16(bytes, v);
    return *this;
}

GifBuilder& GifBuilder::Header(int width, int height, int flags, int background, int aspect, const char* version) {
    Raw({'G', 'I', 'F'});
    for (int i = 0; i < 3 && version[i]; ++i) bytes.push_back(static_cast<std::uint8_t>(version[i]));
    U16(width).U16(height);
    return Raw({static_cast<std::uint8_t>(flags), static_cast<std::uint8_t>(background),
                static_cast<std::uint8_t>(aspect)});
}

GifBuilder& GifBuilder::Map(const std::vector<GifColour>& colours, int entries) {
    PutMap(bytes, colours, entries);
    return *this;
}

GifBuilder& GifBuilder::ImageDescriptor(int width, int height, int flags) {
    Raw({0x2C}).U16(0).U16(0).U16(width).U16(height);
    return Raw({static_cast<std::uint8_t>(flags)});
}

}  // namespace handpix::test
