#include "tools/Apng.h"

#include <zlib.h>

#include <cstdint>

#include "handpix/platform/core/File.h"

namespace handpix::tool {
namespace {

using Bytes = std::vector<std::uint8_t>;

void Put32(Bytes& b, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) b.push_back(static_cast<std::uint8_t>(v >> shift));
}
void Put16(Bytes& b, std::uint16_t v) {
    b.push_back(static_cast<std::uint8_t>(v >> 8));
    b.push_back(static_cast<std::uint8_t>(v));
}

// Length, type, data and the CRC over type and data.
void Chunk(Bytes& file, const char type[5], const Bytes& data) {
    Put32(file, static_cast<std::uint32_t>(data.size()));
    const std::size_t typeAt = file.size();
    file.insert(file.end(), type, type + 4);
    file.insert(file.end(), data.begin(), data.end());
    const uLong crc = crc32(0L, file.data() + typeAt, static_cast<uInt>(4 + data.size()));
    Put32(file, static_cast<std::uint32_t>(crc));
}

Bytes FrameControl(std::uint32_t sequence, const ApngFrame& f) {
    Bytes b;
    Put32(b, sequence);
    Put32(b, static_cast<std::uint32_t>(f.image.width));
    Put32(b, static_cast<std::uint32_t>(f.image.height));
    Put32(b, 0);  // x offset
    Put32(b, 0);  // y offset
    Put16(b, static_cast<std::uint16_t>(f.delayNum));
    Put16(b, static_cast<std::uint16_t>(f.delayDen));
    b.push_back(0);  // dispose: none; every frame covers the whole picture
    b.push_back(0);  // blend: source
    return b;
}

}  // namespace

bool WriteApng(const std::string& path, const std::vector<ApngFrame>& frames, unsigned plays, std::string* error) {
    if (frames.empty()) {
        if (error) *error = "no frames";
        return false;
    }
    const PngImage& first = frames[0].image;
    const bool alpha = first.order == PixelOrder::RGBA;
    Bytes file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes ihdr;
    Put32(ihdr, static_cast<std::uint32_t>(first.width));
    Put32(ihdr, static_cast<std::uint32_t>(first.height));
    ihdr.insert(ihdr.end(), {8, static_cast<std::uint8_t>(alpha ? 6 : 2), 0, 0, 0});
    Chunk(file, "IHDR", ihdr);
    Bytes actl;
    Put32(actl, static_cast<std::uint32_t>(frames.size()));
    Put32(actl, plays);
    Chunk(file, "acTL", actl);

    std::uint32_t sequence = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const PngImage& im = frames[i].image;
        if (im.width != first.width || im.height != first.height || (im.order == PixelOrder::RGBA) != alpha) {
            if (error) *error = "frames differ in size or pixel format";
            return false;
        }
        Bytes data;
        if (!CompressPngRows(im, data, error)) return false;
        Chunk(file, "fcTL", FrameControl(sequence++, frames[i]));
        if (i == 0) {
            Chunk(file, "IDAT", data);
        } else {
            Bytes fdat;
            Put32(fdat, sequence++);
            fdat.insert(fdat.end(), data.begin(), data.end());
            Chunk(file, "fdAT", fdat);
        }
    }
    Chunk(file, "IEND", {});

    if (WriteFileAtomically(path.c_str(), file.data(), file.size())) return true;
    if (error) *error = "cannot write " + path;
    return false;
}

}  // namespace handpix::tool
