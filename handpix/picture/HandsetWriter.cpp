#include "handpix/picture/HandsetWriter.h"

#include <algorithm>
#include <string>

#include "handpix/handset/SafEncoder.h"
#include "handpix/handset/SisEncoder.h"
#include "handpix/imagefiles/ImgFormat.h"
#include "handpix/picture/PictureHandset.h"

namespace handpix {

namespace {
void Put16(Bytes& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v & 0xFF);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
}  // namespace

Bytes AnimHeaderBytes(const AnimHeader& h) {
    Bytes b(handset_picture::kAnimHeaderSize, 0);
    if (h.reservedSeed >= 0)
        for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<std::uint8_t>(h.reservedSeed + i);
    for (int i = 0; i < 3; ++i) b[i] = static_cast<std::uint8_t>(h.signature[i]);
    Put16(b, 4, static_cast<std::uint16_t>(h.width));
    Put16(b, 6, static_cast<std::uint16_t>(h.height));
    b[10] = h.bits;
    b[11] = static_cast<std::uint8_t>(h.palette);
    Put16(b, 12, h.transColor);
    b[16] = h.transparent;
    b[48] = h.frameCount;
    return b;
}

Bytes WriteSni(const AnimHeader& h, const Bytes& stream, const std::optional<std::vector<std::uint16_t>>& palette) {
    Bytes b = AnimHeaderBytes(h);
    b.push_back(0);
    b.push_back(0);
    b.insert(b.end(), stream.begin(), stream.end());
    if (palette) {
        for (std::size_t i = 0; i < 256; ++i) {
            const std::uint16_t c = i < palette->size() ? (*palette)[i] : 0;
            b.push_back(static_cast<std::uint8_t>(c & 0xFF));
            b.push_back(static_cast<std::uint8_t>(c >> 8));
        }
    }
    return b;
}

Bytes WriteEba(AnimHeader h, const std::vector<Bytes>& frames) {
    h.signature[0] = 'A';
    h.signature[1] = 'N';
    h.signature[2] = 'I';
    Bytes b = AnimHeaderBytes(h);
    for (const Bytes& f : frames) b.insert(b.end(), f.begin(), f.end());
    return b;
}

namespace {

using namespace handset_picture;

std::string SizeText(int w, int h) { return std::to_string(w) + " x " + std::to_string(h); }

// The limits every animated container shares, and the frames' sizes.
std::string CheckAnimation(const HandsetPixels& p, int minSide) {
    if (p.width < minSide || p.width > kMaxWidth || p.height < minSide || p.height > kMaxHeight)
        return "the picture must be " + SizeText(minSide, minSide) + " to " + SizeText(kMaxWidth, kMaxHeight) +
               " pixels; it is " + SizeText(p.width, p.height);
    if (p.frames.empty() || p.frames.size() > static_cast<std::size_t>(kMaxFrames))
        return "an animation holds 1 to " + std::to_string(kMaxFrames) + " frames; there are " +
               std::to_string(p.frames.size());
    for (const HandsetFrame& f : p.frames)
        if (f.size() != static_cast<std::size_t>(p.width) * p.height) return "frame size does not match the picture size";
    return {};
}

AnimHeader HeaderFor(const HandsetPixels& p) {
    AnimHeader h;
    h.width = static_cast<std::int16_t>(p.width);
    h.height = static_cast<std::int16_t>(p.height);
    h.bits = static_cast<std::uint8_t>(p.bits);
    h.frameCount = static_cast<std::uint8_t>(p.frames.size());
    if (p.transparent >= 0 && (p.bits == 8 || p.bits == 16)) {
        h.transColor = static_cast<std::uint16_t>(p.transparent);
        h.transparent = p.bits == 16 ? 1 : 0;
    }
    return h;
}

// The bytes of every frame: the container's own packing, as the stream
// carries them (16-bit pixels as two bytes each, low byte first).
std::vector<Bytes> StreamFrames(const HandsetPixels& p) {
    std::vector<Bytes> out;
    for (const HandsetFrame& f : p.frames) out.push_back(PackHandsetPixels(f, p.bits));
    return out;
}

std::vector<Bytes> ValueFrames(const HandsetPixels& p) {
    std::vector<Bytes> out;
    for (const HandsetFrame& f : p.frames) {
        Bytes b(f.size());
        std::transform(f.begin(), f.end(), b.begin(), [](std::uint32_t v) { return static_cast<std::uint8_t>(v); });
        out.push_back(std::move(b));
    }
    return out;
}

EncodeResult EncodeStream(const HandsetPixels& p, SniStream stream) {
    if (stream == SniStream::sis) {
        if (p.bits != 1 && p.bits != 2) return EncodeResult::Fail("a SIS stream holds 1- or 2-bit pictures");
        SisAnimation a{static_cast<std::uint32_t>(p.width), static_cast<std::uint32_t>(p.height), ValueFrames(p),
                       p.delays, p.loop, kSniObjectPoolBytes};
        return p.bits == 1 ? EncodeSisKind1(a) : EncodeSisKind2(a);
    }
    if (p.bits != 8 && p.bits != 16) return EncodeResult::Fail("a SAF stream holds 8- or 16-bit pictures here");
    if (p.bits == 16 && 2 * p.width > 255)
        return EncodeResult::Fail("16-bit SAF pictures are at most 127 pixels wide (two stream bytes a pixel)");
    SafFrames a{static_cast<std::uint32_t>(p.width * p.bits / 8), static_cast<std::uint32_t>(p.height),
                StreamFrames(p), p.delays, p.loop, kSniObjectPoolBytes};
    return EncodeSafAnimation(a);
}

}  // namespace

EncodeResult EncodeEba(const HandsetPixels& p) {
    if (std::string why = CheckAnimation(p, kEbaMinSide); !why.empty()) return EncodeResult::Fail(why);
    // The reader shows 8, 16 and 24 bits; it refuses the smaller depths.
    if (p.bits != 8 && p.bits != 16 && p.bits != 24) return EncodeResult::Fail("EBA pictures are 8, 16 or 24 bits");
    if (!p.palette.empty()) return EncodeResult::Fail("EBA pictures have no palette of their own");
    return {WriteEba(HeaderFor(p), StreamFrames(p)), {}};
}

EncodeResult EncodeSni(const HandsetPixels& p, SniStream stream) {
    if (std::string why = CheckAnimation(p, 1); !why.empty()) return EncodeResult::Fail(why);
    if (!p.palette.empty() && (p.bits != 8 || p.palette.size() != 256))
        return EncodeResult::Fail("only 8-bit pictures carry a palette, of 256 colours");
    EncodeResult s = EncodeStream(p, stream);
    if (!s) return s;
    if (s.bytes.size() > kSniStreamMaxBytes)
        return EncodeResult::Fail("the stream takes " + std::to_string(s.bytes.size()) + " bytes; the reader holds " +
                                  std::to_string(kSniStreamMaxBytes) + ". Use fewer frames, fewer colours or a smaller size");
    AnimHeader h = HeaderFor(p);
    h.palette = p.palette.empty() ? 0 : 1;
    std::optional<std::vector<std::uint16_t>> palette;
    if (!p.palette.empty()) palette = p.palette;
    return {WriteSni(h, s.bytes, palette), {}};
}

}  // namespace handpix
