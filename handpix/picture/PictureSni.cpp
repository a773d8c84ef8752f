// SNI containers: the 150-byte header, the embedded SIS or SAF stream handed
// to the decoder engine, the optional palette trailer, and the conversion of
// the engine's raw frame into the picture's RGB frame buffer.
#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "handpix/handset/Engine.h"
#include "handpix/imagefiles/SharedPalette.h"
#include "handpix/picture/Picture.h"
#include "handpix/picture/PictureHandset.h"
#include "handpix/platform/core/MessageBox.h"

namespace handpix::handset_picture {

HeaderReadCounts ReadAnimHeader(InputFile& f, tagANIMATION_INFO_T& info) {
    // Fix: a short read must not leave the previous file's bytes behind it,
    // or an empty file would pass as the animation read before it.
    std::memset(&info, 0, sizeof info);
    auto* bytes = reinterpret_cast<std::uint8_t*>(&info);
    HeaderReadCounts n;
    n.first = f.ReadAt(0, bytes, kAnimHeaderFirstPart);
    n.second = f.ReadAt(kAnimHeaderFirstPart, bytes + kAnimHeaderFirstPart, kAnimHeaderSize - kAnimHeaderFirstPart);
    return n;
}

void ConvertRawFrame(const std::uint8_t* raw, std::size_t rawSize, int w, int h, int bits, TwoBitOrder order,
                     BYTE (*rgb)[3]) {
    static constexpr std::uint8_t kSniGrey[4] = {255, 192, 128, 0};
    static constexpr std::uint8_t kEbaGrey[4] = {0, 128, 192, 255};
    const std::size_t count = w > 0 && h > 0 ? static_cast<std::size_t>(w) * static_cast<std::size_t>(h) : 0;
    const auto put = [rgb](std::size_t i, Rgb c) {
        rgb[i][0] = c.r;
        rgb[i][1] = c.g;
        rgb[i][2] = c.b;
    };
    // Pixels whose bytes are all present; the rest stay black.
    std::size_t present = 0;
    switch (bits) {
        case 1: {
            present = std::min(count, rawSize * 8);
            for (std::size_t i = 0; i < present; ++i)
                put(i, (raw[i / 8] & (0x80 >> (i % 8))) ? Rgb{0, 0, 0} : Rgb{255, 255, 255});
            break;
        }
        case 2: {
            const std::uint8_t* grey = order == TwoBitOrder::Sni ? kSniGrey : kEbaGrey;
            present = std::min(count, rawSize * 4);
            for (std::size_t i = 0; i < present; ++i) {
                const std::uint8_t v = grey[(raw[i / 4] >> (6 - 2 * (i % 4))) & 3];
                put(i, {v, v, v});
            }
            break;
        }
        case 8: {
            const PaletteSnapshot palette = GetSharedPalette();
            present = std::min(count, rawSize);
            for (std::size_t i = 0; i < present; ++i) put(i, Expand8BitPixel(palette, raw[i]));
            break;
        }
        case 16:
            present = std::min(count, rawSize / 2);
            for (std::size_t i = 0; i < present; ++i)
                put(i, ExpandRgb565(static_cast<std::uint16_t>(raw[2 * i] | (raw[2 * i + 1] << 8))));
            break;
        case 24:
            present = std::min(count, rawSize / 3);
            for (std::size_t i = 0; i < present; ++i) put(i, {raw[3 * i], raw[3 * i + 1], raw[3 * i + 2]});
            break;
        default:
            break;
    }
    for (std::size_t i = present; i < count; ++i) put(i, {0, 0, 0});
}

}  // namespace handpix::handset_picture

namespace {
using namespace handpix::handset_picture;

constexpr long kStreamOffset = 152;  // two bytes behind the header are skipped
constexpr std::size_t kStreamBufferBytes = kSniStreamMaxBytes;
constexpr std::size_t kPaletteBytes = 512;
constexpr std::size_t kObjectPoolBytes = kSniObjectPoolBytes;
constexpr std::size_t kBlockStoreBytes = kSniBlockStoreBytes;

// The work areas of one GetSNIData call, on the heap: together they are
// about 200 KB, too much for the stack of a host's worker thread.
struct SniBuffers {
    std::uint8_t stream[kStreamBufferBytes];
    std::uint8_t palette[kPaletteBytes];
    std::uint8_t raw[kRawFrameBytes];
    std::uint8_t pool[kObjectPoolBytes];
    std::uint8_t blocks[kBlockStoreBytes];
};

bool WithinSniLimits(const tagANIMATION_INFO_T& h) {
    return HasSignature(h, "SNI") && h.nWidth <= kMaxWidth && h.nHeight <= kMaxHeight &&
           KnownBitCount(h.byBitCount) && h.byFrameCount <= kMaxFrames;
}

// Entry `index` of the palette trailer of an open SNI file; the 3-3-2 colour
// when the file is too short to hold a trailer (its frames cannot be read then).
handpix::Rgb TrailerColour(InputFile& f, std::uint8_t index) {
    const long length = f.Length();
    std::uint8_t entry[2];
    if (length < kStreamOffset + static_cast<long>(kPaletteBytes) ||
        f.ReadAt(length - static_cast<long>(kPaletteBytes) + 2 * index, entry, 2) != 2)
        return handpix::ExpandRgb332(index);
    return handpix::ExpandRgb565(static_cast<std::uint16_t>(entry[0] | (entry[1] << 8)));
}

// The engine takes its lock per call, but it keeps our work areas between
// calls: a second decode must not start until this one has its frame.
std::mutex g_sniDecodeMutex;

// Runs the engine over the stream: probe, start, step until ready, decode.
bool DecodeStreamFrame(SniBuffers& b, std::size_t streamSize, int frame) {
    std::lock_guard<std::mutex> lock(g_sniDecodeMutex);
    handpix::StreamInfo info;
    if (!handpix::ProbeStream(b.stream, streamSize, info)) return false;
    const std::uint32_t width = info.width ? info.width : 256;
    const std::uint32_t height = info.height ? info.height : 256;
    handpix::StartEngine(b.pool, sizeof b.pool, b.blocks, sizeof b.blocks, width, height);
    // Every step consumes input or draws an item, so a ready stream is
    // reached well within this bound; it only stops a broken engine.
    const std::size_t maxSteps = 4 * streamSize + 64;
    int step = 0;
    for (std::size_t i = 0; i <= maxSteps && step == 0; ++i) step = handpix::StepEngine(b.stream, streamSize);
    if (step != 1) return false;
    return handpix::DecodeFrames(b.stream, streamSize, b.raw, sizeof b.raw, frame) > 0;
}

}  // namespace

tagANIMATION_INFO_T* CPicture::GetAnimationInfo() { return &m_AnimInfo; }

bool CPicture::IsSNIFile() { return HasSignature(m_AnimInfo, "SNI"); }

bool CPicture::GetSNIHeader(CString path) {
    if (path.GetLength() > 0 && path[0] == '<') return false;
    InputFile f(path);
    if (!f) return false;
    ReadAnimHeader(f, m_AnimInfo);
    if (!WithinSniLimits(m_AnimInfo)) {
        f.Close();
        AfxMessageBox(kNotAnimation, MB_OK);
        return false;
    }
    const bool ownPalette = m_AnimInfo.byPalette != 0;
    SetColourKey(*this, [&](std::uint8_t index) {
        return ownPalette ? TrailerColour(f, index) : handpix::ExpandRgb332(index);
    });
    return true;
}

bool CPicture::GetSNIData(CString path, int frame) {
    InputFile f(path);
    if (!f) return false;
    const HeaderReadCounts n = ReadAnimHeader(f, m_AnimInfo);
    if (n.first < kAnimHeaderFirstPart) {
        f.Close();
        AfxMessageBox(path + "Fileinfo Error(BH)", MB_OK);
        return false;
    }
    if (n.second < kAnimHeaderSize - kAnimHeaderFirstPart) {
        f.Close();
        AfxMessageBox(path + "Fileinfo Error(AH)", MB_OK);
        return false;
    }
    // Frames are counted from 0, so the frame count itself names no frame.
    if (frame >= static_cast<int>(m_AnimInfo.byFrameCount)) {
        f.Close();
        AfxMessageBox(kBeyondFrameCount, MB_OK);
        return false;
    }
    // -1 would ask the engine for every frame at once: not a frame of ours.
    if (frame < 0) return false;

    const bool ownPalette = m_AnimInfo.byPalette != 0;
    if (ownPalette)
        handpix::SetSharedPalette(handpix::GetSharedPalette().colours);  // in force from here, entries follow
    else
        handpix::ClearSharedPalette();

    std::unique_ptr<SniBuffers> b(new (std::nothrow) SniBuffers());
    if (!b) return false;
    const long length = f.Length();
    const long streamLength = length - kStreamOffset - (ownPalette ? static_cast<long>(kPaletteBytes) : 0);
    bool ok = length >= 0 && streamLength >= 0 && static_cast<std::size_t>(streamLength) <= kStreamBufferBytes;
    const std::size_t streamSize = ok ? static_cast<std::size_t>(streamLength) : 0;
    ok = ok && f.ReadAt(kStreamOffset, b->stream, streamSize) == streamSize;
    if (ok && ownPalette) {
        ok = std::fread(b->palette, 1, kPaletteBytes, f.get()) == kPaletteBytes;
        if (ok) {
            std::uint16_t colours[256];
            for (int i = 0; i < 256; ++i)
                colours[i] = static_cast<std::uint16_t>(b->palette[2 * i] | (b->palette[2 * i + 1] << 8));
            handpix::SetSharedPalette(colours);
        }
    }
    f.Close();
    if (!ok || !DecodeStreamFrame(*b, streamSize, frame)) {
        AfxMessageBox(kNotAnimation, MB_OK);
        return false;
    }
    // The header, not the stream, says how the raw frame is laid out; sizes
    // beyond the handset screen never reach the fixed frame buffer.
    const int w = m_AnimInfo.nWidth <= kMaxWidth ? m_AnimInfo.nWidth : 0;
    const int h = m_AnimInfo.nHeight <= kMaxHeight ? m_AnimInfo.nHeight : 0;
    ConvertRawFrame(b->raw, sizeof b->raw, w, h, m_AnimInfo.byBitCount, TwoBitOrder::Sni, m_FrameRGB);
    return true;
}
