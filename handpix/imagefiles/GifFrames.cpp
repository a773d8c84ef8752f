#include "handpix/imagefiles/GifFrames.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "handpix/imagefiles/GifLzw.h"
#include "handpix/platform/core/File.h"
#include "handpix/platform/core/Limits.h"

namespace handpix {

namespace {

using gif::GifInput;

struct Graphic {
    int disposal = 0;       // 2: back to transparent; 3: back to the frame before
    int transparent = -1;   // colour index that draws nothing
    unsigned delay = 0;     // hundredths of a second
};

struct ScreenMap {
    int entries = 0;
    std::uint8_t rgb[3 * gif::kMapEntries] = {};
};

bool ReadMap(GifInput& in, int entries, ScreenMap& map) {
    map.entries = entries;
    return in.Read(map.rgb, 3 * static_cast<std::size_t>(entries));
}

class Reader {
public:
    Reader(std::FILE* f, int maxFrames, RgbaFrames& out) : m_in(f, m_zero), m_max(maxFrames), m_out(out) {}

    bool Run(std::string& why) {
        if (!Screen(why)) return false;
        Graphic g;
        for (;;) {
            const int block = m_in.Byte();
            if (block == 0x3B || block < 0) break;  // the trailer, or a file cut after its last image
            if (block == 0x21) {
                if (!Extension(g)) return Fail(why, "damaged extension block");
            } else if (block == 0x2C) {
                if (static_cast<int>(m_out.frames.size()) == m_max)
                    return Fail(why, "more than " + std::to_string(m_max) + " frames");
                if (!Image(g, why)) return false;
                g = Graphic{};
            } else if (block != 0) {
                return Fail(why, "unknown block in the GIF stream");
            }
        }
        if (m_out.frames.empty()) return Fail(why, "the GIF has no image");
        return true;
    }

private:
    static bool Fail(std::string& why, std::string text) {
        why = std::move(text);
        return false;
    }

    bool Screen(std::string& why) {
        std::uint8_t h[13];
        if (!m_in.Read(h, sizeof h) || std::memcmp(h, "GIF", 3) != 0) return Fail(why, "not a GIF file");
        m_out.width = h[6] | h[7] << 8;
        m_out.height = h[8] | h[9] << 8;
        if (m_out.width < 1 || m_out.height < 1 || !PictureSizeAllowed(m_out.width, m_out.height))
            return Fail(why, "GIF screen size beyond the picture-size limit");
        if ((h[10] & 0x80) && !ReadMap(m_in, 2 << (h[10] & 7), m_global)) return Fail(why, "damaged colour table");
        m_out.loop = false;
        m_canvas.assign(static_cast<std::size_t>(m_out.width) * m_out.height, Rgba{0, 0, 0, 0});
        return true;
    }

    bool Extension(Graphic& g) {
        const int label = m_in.Byte();
        std::uint8_t b[gif::kMaxSubBlock + 1];
        int n = m_in.SubBlock(b);
        if (label == 0xF9 && n >= 4) {
            g.disposal = (b[0] >> 2) & 7;
            g.delay = static_cast<unsigned>(b[1] | b[2] << 8);
            g.transparent = (b[0] & 1) ? b[3] : -1;
        }
        // The application block that names a loop count makes the animation loop.
        if (label == 0xFF && n == 11 && std::memcmp(b, "NETSCAPE2.0", 11) == 0) m_out.loop = true;
        while (n > 0) n = m_in.SubBlock(b);
        return n == 0;
    }

    bool Image(const Graphic& g, std::string& why) {
        std::uint8_t d[9];
        if (!m_in.Read(d, sizeof d)) return Fail(why, "damaged image descriptor");
        const int left = d[0] | d[1] << 8, top = d[2] | d[3] << 8, w = d[4] | d[5] << 8, h = d[6] | d[7] << 8;
        ScreenMap local;
        if ((d[8] & 0x80) && !ReadMap(m_in, 2 << (d[8] & 7), local)) return Fail(why, "damaged colour table");
        const ScreenMap& map = (d[8] & 0x80) ? local : m_global;
        if (w > 0 && h > 0 && !PictureSizeAllowed(w, h)) return Fail(why, "GIF image size beyond the picture-size limit");
        // Every frame is a whole screen, so the frames together count against the limit.
        if (!PictureSizeAllowed(m_out.width, static_cast<long long>(m_out.height) * (m_out.frames.size() + 1)))
            return Fail(why, "GIF frames together beyond the picture-size limit");
        const std::vector<Rgba> before = m_canvas;
        if (w > 0 && h > 0 && !Draw(map, g, left, top, w, h, (d[8] & 0x40) != 0)) return Fail(why, "damaged image data");
        m_out.frames.push_back(m_canvas);
        m_out.delays.push_back(std::max(1u, (g.delay + 5) / 10));
        // Disposal prepares the canvas for the next image.
        if (g.disposal == 2) Clear(left, top, w, h);
        if (g.disposal == 3) m_canvas = before;
        return true;
    }

    void Clear(int left, int top, int w, int h) {
        for (int y = std::max(0, top); y < std::min(m_out.height, top + h); ++y)
            for (int x = std::max(0, left); x < std::min(m_out.width, left + w); ++x)
                m_canvas[static_cast<std::size_t>(y) * m_out.width + x] = Rgba{0, 0, 0, 0};
    }

    // Decodes indices (through a palette whose red channel is the index) and
    // draws them at (left, top), clipped to the screen.
    bool Draw(const ScreenMap& map, const Graphic& g, int left, int top, int w, int h, bool interlaced) {
        const int minCode = m_in.Byte();
        if (minCode < 0 || !m_lzw->Start(minCode)) return false;
        gif::Palette indices{};
        for (int i = 0; i < gif::kMapEntries; ++i) indices.entry[i] = {static_cast<std::uint8_t>(i), 0, 0};
        std::vector<std::uint8_t> row(3 * static_cast<std::size_t>(w));
        int pass = 0;
        gif::LzwStop stop = gif::LzwStop::none;
        for (int y = 0; y >= 0; y = gif::NextRow(y, pass, h, interlaced)) {
            const int got = m_lzw->Decode(m_in, indices, row.data(), w, stop);
            for (int x = 0; x < got; ++x) Plot(map, g, left + x, top + y, row[3 * static_cast<std::size_t>(x)]);
            if (got < w) break;  // a short image keeps what it decoded
            // With the data spent, the rows left are one colour: only their
            // part on the screen is drawn, so a huge image over a few bytes
            // costs no more than the screen.
            const int index = m_lzw->ExhaustedIndex();
            if (index < 0) continue;
            while ((y = gif::NextRow(y, pass, h, interlaced)) >= 0) {
                if (top + y >= m_out.height) continue;
                for (int x = std::max(0, left); x < std::min(m_out.width, left + w); ++x) Plot(map, g, x, top + y, index);
            }
            return true;
        }
        // One more value consumes the end code and the block terminator.
        std::uint8_t scratch[3];
        if (stop == gif::LzwStop::none) m_lzw->Decode(m_in, indices, scratch, 1, stop);
        return true;
    }

    void Plot(const ScreenMap& map, const Graphic& g, int x, int y, int index) {
        if (index == g.transparent || x >= m_out.width || y >= m_out.height || index >= map.entries) return;
        const std::uint8_t* c = map.rgb + 3 * index;
        m_canvas[static_cast<std::size_t>(y) * m_out.width + x] = {c[0], c[1], c[2], 255};
    }

    bool m_zero = false;
    GifInput m_in;
    int m_max;
    RgbaFrames& m_out;
    ScreenMap m_global;
    std::vector<Rgba> m_canvas;
    std::unique_ptr<gif::LzwDecoder> m_lzw = std::make_unique<gif::LzwDecoder>();
};

}  // namespace

bool ReadGifFrames(const char* path, int maxFrames, RgbaFrames& out, std::string& why) {
    std::FILE* f = path ? OpenRegularFileStream(path) : nullptr;
    if (!f) {
        why = "cannot open the file";
        return false;
    }
    out = RgbaFrames{};
    const bool ok = Reader(f, maxFrames, out).Run(why);
    std::fclose(f);
    return ok;
}

}  // namespace handpix
