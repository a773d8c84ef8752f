// Writers of the animated handset containers: the 150-byte header that SNI
// and EBA share, EBA files of raw frames, and SNI files around an embedded
// SIS or SAF stream with an optional 256-colour palette trailer.
#pragma once
#include <cstdint>
#include <optional>
#include <vector>

#include "handpix/imagefiles/ImgWriter.h"
#include "handpix/platform/core/Bytes.h"

namespace handpix {

struct AnimHeader {
    char signature[3] = {'S', 'N', 'I'};
    std::int16_t width = 16;
    std::int16_t height = 16;
    std::uint8_t bits = 1;
    std::int8_t palette = 0;
    std::uint16_t transColor = 256;
    std::uint8_t transparent = 0;
    std::uint8_t frameCount = 1;
    // -1: the bytes no reader interprets are zero; otherwise byte n is
    // seed + n, so that a reader can be seen to carry them unchanged.
    int reservedSeed = -1;
};

// The 150 header bytes.
Bytes AnimHeaderBytes(const AnimHeader& h);

// Header, two skipped bytes, the stream, and the palette when one is given
// (the header's palette byte is written as given, not derived from it).
Bytes WriteSni(const AnimHeader& h, const Bytes& stream,
               const std::optional<std::vector<std::uint16_t>>& palette = std::nullopt);

// An "ANI" header (whatever h.signature says) followed by the frames as given.
Bytes WriteEba(AnimHeader h, const std::vector<Bytes>& frames);

// The embedded stream of an SNI file.
enum class SniStream { saf, sis };

// p as an EBA or SNI file, refused with the reason when any reader would
// refuse it. EBA: 8, 16 or 24 bits, 60-178 x 60-160, at most 50 frames.
// SNI with SIS: 1 bit (kind 1) or 2 bits (kind 2), sides multiples of 8.
// SNI with SAF: 8 bits (own palette or 3-3-2) or 16 bits (at most 127
// pixels wide: the stream carries each pixel as two bytes).
EncodeResult EncodeEba(const HandsetPixels& p);
EncodeResult EncodeSni(const HandsetPixels& p, SniStream stream);

}  // namespace handpix
