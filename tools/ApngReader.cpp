#include "tools/ApngReader.h"

#include <png.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <optional>

#include "handpix/platform/core/File.h"
#include "handpix/platform/core/Limits.h"

namespace handpix::tool {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr long long kMaxFileBytes = 64LL << 20;

std::uint32_t Be32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}
std::uint16_t Be16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] << 8 | p[1]); }

void PutChunk(Bytes& out, const char* type, const std::uint8_t* data, std::size_t n) {
    for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<std::uint8_t>(n >> s));
    const std::size_t typeAt = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data, data + n);
    const uLong crc = crc32(0L, out.data() + typeAt, static_cast<uInt>(4 + n));
    for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<std::uint8_t>(crc >> s));
}

struct Control {  // fcTL
    std::uint32_t w = 0, h = 0, x = 0, y = 0;
    std::uint16_t num = 1, den = 100;
    std::uint8_t dispose = 0, blend = 0;
};

class Apng {
public:
    Apng(RgbaFrames& out, int maxFrames) : m_out(out), m_max(maxFrames) {}

    bool Read(const Bytes& file, std::string& why, bool& notAnimated) {
        notAnimated = false;
        if (file.size() < 8 || std::memcmp(file.data(), kSignature, 8) != 0) return Fail(why, "not a PNG file");
        bool animated = false;
        std::optional<Control> control;
        Bytes data;
        for (std::size_t at = 8; at + 12 <= file.size();) {
            const std::uint32_t n = Be32(&file[at]);
            if (n > file.size() - at - 12) return Fail(why, "damaged chunk");
            const char* type = reinterpret_cast<const char*>(&file[at + 4]);
            const std::uint8_t* body = &file[at + 8];
            at += 12 + n;
            if (!std::memcmp(type, "IHDR", 4) && n == 13) {
                m_header.assign(body, body + n);
                m_out.width = static_cast<int>(Be32(body)), m_out.height = static_cast<int>(Be32(body + 4));
                if (!PictureSizeAllowed(m_out.width, m_out.height)) return Fail(why, "picture beyond the size limit");
                m_canvas.assign(static_cast<std::size_t>(m_out.width) * static_cast<std::size_t>(m_out.height), Rgba{0, 0, 0, 0});
            } else if (!std::memcmp(type, "acTL", 4) && n == 8) {
                animated = true;
                m_out.loop = Be32(body + 4) == 0;
            } else if (!std::memcmp(type, "PLTE", 4) || !std::memcmp(type, "tRNS", 4) || !std::memcmp(type, "gAMA", 4)) {
                PutChunk(m_extras, std::string(type, 4).c_str(), body, n);
            } else if (!std::memcmp(type, "fcTL", 4) && n == 26) {
                if (control && !Frame(*control, data, why)) return false;
                data.clear();
                control = Control{Be32(body + 4), Be32(body + 8), Be32(body + 12), Be32(body + 16), Be16(body + 20),
                                  Be16(body + 22), body[24], body[25]};
            } else if (!std::memcmp(type, "IDAT", 4) && control) {
                data.insert(data.end(), body, body + n);
            } else if (!std::memcmp(type, "fdAT", 4) && control && n >= 4) {
                data.insert(data.end(), body + 4, body + n);
            }
        }
        if (!animated || m_header.empty()) {
            notAnimated = true;
            return Fail(why, "not an animated PNG");
        }
        if (control && !Frame(*control, data, why)) return false;
        if (m_out.frames.empty()) return Fail(why, "the animated PNG has no frame");
        return true;
    }

private:
    static bool Fail(std::string& why, std::string text) {
        why = std::move(text);
        return false;
    }

    // Decodes one frame's data as a PNG of the frame's size and draws it.
    bool Frame(const Control& c, const Bytes& data, std::string& why) {
        if (static_cast<int>(m_out.frames.size()) == m_max) return Fail(why, "more than " + std::to_string(m_max) + " frames");
        const auto w = static_cast<std::uint32_t>(m_out.width), h = static_cast<std::uint32_t>(m_out.height);
        // Compared without sums that could wrap around.
        if (m_canvas.empty() || c.w == 0 || c.h == 0 || c.w > w || c.x > w - c.w || c.h > h || c.y > h - c.h)
            return Fail(why, "a frame lies outside the picture");
        Bytes png(kSignature, kSignature + 8);
        Bytes header = m_header;
        for (int i = 0; i < 4; ++i) header[i] = static_cast<std::uint8_t>(c.w >> (24 - 8 * i)), header[4 + i] = static_cast<std::uint8_t>(c.h >> (24 - 8 * i));
        PutChunk(png, "IHDR", header.data(), header.size());
        png.insert(png.end(), m_extras.begin(), m_extras.end());
        PutChunk(png, "IDAT", data.data(), data.size());
        PutChunk(png, "IEND", nullptr, 0);
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        std::vector<Rgba> px(static_cast<std::size_t>(c.w) * c.h);
        if (!png_image_begin_read_from_memory(&image, png.data(), png.size())) return Fail(why, image.message);
        image.format = PNG_FORMAT_RGBA;
        if (!png_image_finish_read(&image, nullptr, px.data(), 0, nullptr)) return Fail(why, image.message);
        const std::vector<Rgba> before = m_canvas;
        for (std::uint32_t y = 0; y < c.h; ++y)
            for (std::uint32_t x = 0; x < c.w; ++x) {
                const Rgba& s = px[y * c.w + x];
                Rgba& d = m_canvas[(c.y + y) * static_cast<std::size_t>(m_out.width) + c.x + x];
                d = c.blend == 0 ? s : Over(s, d);
            }
        m_out.frames.push_back(m_canvas);
        const unsigned den = c.den ? c.den : 100;
        m_out.delays.push_back(std::max(1u, (10u * c.num + den / 2) / den));
        // Disposal prepares the canvas for the next frame.
        if (c.dispose == 1)
            for (std::uint32_t y = 0; y < c.h; ++y)
                std::fill_n(m_canvas.begin() + static_cast<std::ptrdiff_t>((c.y + y) * static_cast<std::size_t>(m_out.width) + c.x), c.w, Rgba{0, 0, 0, 0});
        if (c.dispose == 2) m_canvas = before;
        return true;
    }

    static Rgba Over(const Rgba& s, const Rgba& d) {
        const int a = s.a + d.a * (255 - s.a) / 255;
        if (a == 0) return {0, 0, 0, 0};
        const auto mix = [&](int cs, int cd) { return static_cast<std::uint8_t>((cs * s.a + cd * d.a * (255 - s.a) / 255) / a); };
        return {mix(s.r, d.r), mix(s.g, d.g), mix(s.b, d.b), static_cast<std::uint8_t>(a)};
    }

    RgbaFrames& m_out;
    int m_max;
    Bytes m_header;
    Bytes m_extras;  // PLTE, tRNS, gAMA: the frames share them
    std::vector<Rgba> m_canvas;
};

}  // namespace

bool ReadApngFrames(const std::string& path, int maxFrames, RgbaFrames& out, std::string& why, bool& notAnimated) {
    notAnimated = false;
    const long long size = FileSizeOf(path.c_str());
    if (size < 0 || size > kMaxFileBytes) {
        why = size < 0 ? "cannot open the file" : "file too large";
        return false;
    }
    std::FILE* f = OpenRegularFileStream(path.c_str());
    if (!f) {
        why = "cannot open the file";
        return false;
    }
    Bytes file(static_cast<std::size_t>(size));
    const bool read = std::fread(file.data(), 1, file.size(), f) == file.size();
    std::fclose(f);
    if (!read) {
        why = "cannot read the file";
        return false;
    }
    out = RgbaFrames{};
    return Apng(out, maxFrames).Read(file, why, notAnimated);
}

}  // namespace handpix::tool
