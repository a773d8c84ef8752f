// Builds SNI files (and the 150-byte header they share with EBA files) from
// readable descriptions: header fields, an embedded SIS or SAF stream made by
// the stream writers, and an optional 256-colour palette trailer.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace handpix::test {

using FileBytes = std::vector<std::uint8_t>;

struct AnimHeader {
    char signature[3] = {'S', 'N', 'I'};
    std::int16_t width = 16;
    std::int16_t height = 16;
    std::uint8_t bits = 1;
    std::int8_t palette = 0;
    std::uint16_t transColor = 256;
    std::uint8_t transparent = 0;
    std::uint8_t frameCount = 1;
    // The bytes no reader interprets get this pattern (byte n = seed + n), so
    // a test can see that they are carried unchanged.
    std::uint8_t reservedSeed = 0x30;
};

// The 150 header bytes.
FileBytes AnimHeaderBytes(const AnimHeader& h);

// Header, two skipped bytes, the stream, and the palette when one is given
// (the header's palette byte is written as given, not derived from it).
FileBytes WriteSni(const AnimHeader& h, const FileBytes& stream,
                   const std::optional<std::vector<std::uint16_t>>& palette = std::nullopt);

// Writes bytes to a file; false on failure.
bool WriteBytesToFile(const std::string& path, const FileBytes& bytes);

}  // namespace handpix::test
