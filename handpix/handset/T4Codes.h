// Modified Huffman terminating codes of ITU-T T.4 (Table 2/T.4), runs 0 to
// 63, for white and black runs. Each entry is the code value read most
// significant bit first and its length in bits.
#pragma once
#include <cstdint>

namespace handpix {

struct T4Code {
    std::uint16_t bits;
    std::uint8_t length;
};

// White terminating codes, index = run length.
inline constexpr T4Code kT4WhiteTerminating[64] = {
    {0x35, 8}, {0x07, 6}, {0x07, 4}, {0x08, 4}, {0x0B, 4}, {0x0C, 4}, {0x0E, 4}, {0x0F, 4},
    {0x13, 5}, {0x14, 5}, {0x07, 5}, {0x08, 5}, {0x08, 6}, {0x03, 6}, {0x34, 6}, {0x35, 6},
    {0x2A, 6}, {0x2B, 6}, {0x27, 7}, {0x0C, 7}, {0x08, 7}, {0x17, 7}, {0x03, 7}, {0x04, 7},
    {0x28, 7}, {0x2B, 7}, {0x13, 7}, {0x24, 7}, {0x18, 7}, {0x02, 8}, {0x03, 8}, {0x1A, 8},
    {0x1B, 8}, {0x12, 8}, {0x13, 8}, {0x14, 8}, {0x15, 8}, {0x16, 8}, {0x17, 8}, {0x28, 8},
    {0x29, 8}, {0x2A, 8}, {0x2B, 8}, {0x2C, 8}, {0x2D, 8}, {0x04, 8}, {0x05, 8}, {0x0A, 8},
    {0x0B, 8}, {0x52, 8}, {0x53, 8}, {0x54, 8}, {0x55, 8}, {0x24, 8}, {0x25, 8}, {0x58, 8},
    {0x59, 8}, {0x5A, 8}, {0x5B, 8}, {0x4A, 8}, {0x4B, 8}, {0x32, 8}, {0x33, 8}, {0x34, 8},
};

// Black terminating codes, index = run length.
inline constexpr T4Code kT4BlackTerminating[64] = {
    {0x37, 10}, {0x02, 3},  {0x03, 2},  {0x02, 2},  {0x03, 3},  {0x03, 4},  {0x02, 4},  {0x03, 5},
    {0x05, 6},  {0x04, 6},  {0x04, 7},  {0x05, 7},  {0x07, 7},  {0x04, 8},  {0x07, 8},  {0x18, 9},
    {0x17, 10}, {0x18, 10}, {0x08, 10}, {0x67, 11}, {0x68, 11}, {0x6C, 11}, {0x37, 11}, {0x28, 11},
    {0x17, 11}, {0x18, 11}, {0xCA, 12}, {0xCB, 12}, {0xCC, 12}, {0xCD, 12}, {0x68, 12}, {0x69, 12},
    {0x6A, 12}, {0x6B, 12}, {0xD2, 12}, {0xD3, 12}, {0xD4, 12}, {0xD5, 12}, {0xD6, 12}, {0xD7, 12},
    {0x6C, 12}, {0x6D, 12}, {0xDA, 12}, {0xDB, 12}, {0x54, 12}, {0x55, 12}, {0x56, 12}, {0x57, 12},
    {0x64, 12}, {0x65, 12}, {0x52, 12}, {0x53, 12}, {0x24, 12}, {0x37, 12}, {0x38, 12}, {0x27, 12},
    {0x28, 12}, {0x58, 12}, {0x59, 12}, {0x2B, 12}, {0x2C, 12}, {0x5A, 12}, {0x66, 12}, {0x67, 12},
};

inline constexpr unsigned kT4MaxCodeLength = 12;

// Lookup by a 12-bit window: the run (1 to 63) whose code starts the window
// and the code's length; length 0 where no accepted code starts there. Run 0
// is left out on purpose: the cell coder never uses it.
struct T4Lookup {
    std::uint8_t run[1u << kT4MaxCodeLength];
    std::uint8_t length[1u << kT4MaxCodeLength];
};

constexpr T4Lookup MakeT4Lookup(const T4Code (&codes)[64]) {
    T4Lookup t{};
    for (unsigned r = 1; r < 64; ++r) {
        const unsigned len = codes[r].length;
        const unsigned first = static_cast<unsigned>(codes[r].bits) << (kT4MaxCodeLength - len);
        for (unsigned w = 0; w < (1u << (kT4MaxCodeLength - len)); ++w) {
            t.run[first + w] = static_cast<std::uint8_t>(r);
            t.length[first + w] = static_cast<std::uint8_t>(len);
        }
    }
    return t;
}

inline constexpr T4Lookup kT4WhiteLookup = MakeT4Lookup(kT4WhiteTerminating);
inline constexpr T4Lookup kT4BlackLookup = MakeT4Lookup(kT4BlackTerminating);

}  // namespace handpix
