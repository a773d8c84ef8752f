#include "handpix/imagefiles/Orientation.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

#include "handpix/imagefiles/DibRows.h"
#include "handpix/platform/core/ByteReader.h"
#include "handpix/platform/core/File.h"

namespace handpix {
namespace {

std::atomic<bool> g_autoOrient{true};

constexpr std::uint16_t kOrientationTag = 0x0112;
constexpr std::uint16_t kTypeShort = 3;
constexpr std::uint8_t kExifName[6] = {'E', 'x', 'i', 'f', 0, 0};
// Most files hold IFD0 within the first few hundred bytes; one behind a full
// APP0 and a full APP2 (colour profile) still lies within the larger read.
constexpr std::size_t kFirstRead = 8u << 10;
constexpr std::size_t kLastRead = 160u << 10;

// IFD0 of a TIFF block (the Exif segment after its name), either byte order.
Status TiffOrientation(const std::uint8_t* tiff, std::size_t size, int& orientation) {
    ByteReader r(tiff, size);
    std::uint8_t order[2];
    if (!r.Read(order, 2)) return Status::invalid;
    const bool little = order[0] == 'I' && order[1] == 'I';
    if (!little && !(order[0] == 'M' && order[1] == 'M')) return Status::invalid;
    auto u16 = [&](std::uint16_t& v) { return little ? r.U16LE(v) : r.U16BE(v); };
    auto u32 = [&](std::uint32_t& v) { return little ? r.U32LE(v) : r.U32BE(v); };
    std::uint16_t magic = 0, count = 0;
    std::uint32_t ifd = 0;
    if (!u16(magic) || magic != 42 || !u32(ifd) || !r.Seek(ifd) || !u16(count) || !r.Has(count * 12u))
        return Status::invalid;
    for (unsigned i = 0; i < count; ++i) {
        std::uint16_t tag = 0, type = 0, value = 0;
        std::uint32_t n = 0;
        if (!u16(tag) || !u16(type) || !u32(n) || !u16(value) || !r.Skip(2)) return Status::invalid;
        if (tag != kOrientationTag) continue;
        if (type == kTypeShort && n >= 1 && value >= 1 && value <= 8) orientation = value;
        return Status::ok;
    }
    return Status::ok;
}

}  // namespace

Status ReadJpegOrientation(const std::uint8_t* data, std::size_t size, int& orientation) {
    orientation = 1;
    ByteReader r(data, size);
    std::uint8_t soi[2];
    if (!r.Read(soi, 2)) return Status::truncated;
    if (soi[0] != 0xFF || soi[1] != 0xD8) return Status::invalid;
    for (;;) {
        // Every segment starts with FF; fill bytes (more FF) may stand before its code.
        std::uint8_t marker = 0;
        if (!r.U8(marker)) return Status::truncated;
        if (marker != 0xFF) return Status::invalid;
        while (marker == 0xFF)
            if (!r.U8(marker)) return Status::truncated;
        if (marker == 0xDA || marker == 0xD9) return Status::ok;  // the scan (or the end) comes first: no tag
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;  // no length
        std::uint16_t length = 0;
        if (!r.U16BE(length)) return Status::truncated;
        if (length < 2) return Status::invalid;
        const std::size_t bytes = length - 2u;
        if (marker == 0xE1 && bytes >= sizeof kExifName) {
            // IFD0 sits near the start of a segment that often carries a whole
            // preview picture: what is there may answer before the rest is read.
            const std::size_t there = std::min(bytes, r.Remaining());
            if (there < sizeof kExifName) return Status::truncated;
            if (std::memcmp(r.Current(), kExifName, sizeof kExifName) == 0) {
                const Status s = TiffOrientation(r.Current() + sizeof kExifName, there - sizeof kExifName, orientation);
                return s != Status::ok && there < bytes ? Status::truncated : s;
            }
        }
        if (!r.Skip(bytes)) return Status::truncated;
    }
}

int JpegFileOrientation(const char* path) {
    const int fd = OpenRegularFile(path);
    if (fd < 0) return 1;
    std::vector<std::uint8_t> head;
    int orientation = 1;
    for (std::size_t want : {kFirstRead, kLastRead}) {
        const std::size_t had = head.size();
        head.resize(want);
        std::size_t got = had;
        while (got < want) {
            const ssize_t n = ::read(fd, head.data() + got, want - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        head.resize(got);
        if (ReadJpegOrientation(head.data(), head.size(), orientation) != Status::truncated || got < want) break;
    }
    ::close(fd);
    return orientation;
}

void SetAutoOrient(bool on) { g_autoOrient.store(on); }
bool GetAutoOrient() { return g_autoOrient.load(); }

unsigned char* OrientDibRows(const unsigned char* rows, int width, int height, int orientation) {
    if (!rows || width < 1 || height < 1 || orientation < 1 || orientation > 8) return nullptr;
    const bool swap = OrientationSwapsSides(orientation);
    // Where each upright pixel comes from: read across the stored columns
    // (or down its rows, when the sides are exchanged), mirrored as needed.
    const bool flipX = orientation == 2 || orientation == 3 || orientation == 7 || orientation == 8;
    const bool flipY = orientation == 3 || orientation == 4 || orientation == 6 || orientation == 7;
    const int outW = swap ? height : width, outH = swap ? width : height;
    const std::size_t inStride = DibStride(static_cast<unsigned>(width));
    const std::size_t outStride = DibStride(static_cast<unsigned>(outW));
    auto* out = new (std::nothrow) unsigned char[outStride * static_cast<std::size_t>(outH)]();
    if (!out) return nullptr;
    for (int y = 0; y < outH; ++y) {
        unsigned char* o = out + static_cast<std::size_t>(y) * outStride;
        for (int x = 0; x < outW; ++x, o += 3) {
            const int a = swap ? y : x, b = swap ? x : y;
            const int sx = flipX ? width - 1 - a : a, sy = flipY ? height - 1 - b : b;
            std::memcpy(o, rows + static_cast<std::size_t>(sy) * inStride + static_cast<std::size_t>(sx) * 3, 3);
        }
    }
    return out;
}

}  // namespace handpix
