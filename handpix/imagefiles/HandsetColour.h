// The handset colour rules: RGB 5-6-5 and RGB 3-3-2 expanded to 8 bits per
// channel (a field with all bits set gives 255), and 24-bit to 5-6-5.
#pragma once
#include <cstdint>

namespace handpix {

struct Rgb {
    std::uint8_t r, g, b;
    friend bool operator==(const Rgb& a, const Rgb& b) { return a.r == b.r && a.g == b.g && a.b == b.b; }
};

constexpr Rgb ExpandRgb565(std::uint16_t c) {
    std::uint8_t r = static_cast<std::uint8_t>((c & 0xF800) == 0xF800 ? 255 : (c & 0xF800) >> 8);
    std::uint8_t g = static_cast<std::uint8_t>((c & 0x07E0) == 0x07E0 ? 255 : (c & 0x07E0) >> 3);
    std::uint8_t b = static_cast<std::uint8_t>((c & 0x001F) == 0x001F ? 255 : (c & 0x001F) << 3);
    return {r, g, b};
}

constexpr Rgb ExpandRgb332(std::uint8_t v) {
    std::uint8_t r = static_cast<std::uint8_t>((v & 0xE0) == 0xE0 ? 255 : (v & 0xE0));
    std::uint8_t g = static_cast<std::uint8_t>((v & 0x1C) == 0x1C ? 255 : (v & 0x1C) * 8);
    std::uint8_t b = static_cast<std::uint8_t>((v & 0x03) == 0x03 ? 255 : (v & 0x03) * 64);
    return {r, g, b};
}

constexpr std::uint16_t PackRgb565(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return static_cast<std::uint16_t>(((r & 0xF8) << 8) | ((g & 0xFC) << 3) | (b >> 3));
}

}  // namespace handpix
