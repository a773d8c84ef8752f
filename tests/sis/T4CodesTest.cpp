// The T.4 tables against the standard's table as bit strings, transcribed
// here apart from the library's table.
#include <gtest/gtest.h>

#include <string>

#include "handpix/handset/T4Codes.h"
#include "handpix/platform/core/BitReader.h"

namespace {

// Table 2/T.4, terminating codes.
constexpr const char* kT4WhiteText[64] = {
    "00110101", "000111",   "0111",     "1000",     "1011",     "1100",     "1110",     "1111",
    "10011",    "10100",    "00111",    "01000",    "001000",   "000011",   "110100",   "110101",
    "101010",   "101011",   "0100111",  "0001100",  "0001000",  "0010111",  "0000011",  "0000100",
    "0101000",  "0101011",  "0010011",  "0100100",  "0011000",  "00000010", "00000011", "00011010",
    "00011011", "00010010", "00010011", "00010100", "00010101", "00010110", "00010111", "00101000",
    "00101001", "00101010", "00101011", "00101100", "00101101", "00000100", "00000101", "00001010",
    "00001011", "01010010", "01010011", "01010100", "01010101", "00100100", "00100101", "01011000",
    "01011001", "01011010", "01011011", "01001010", "01001011", "00110010", "00110011", "00110100",
};
constexpr const char* kT4BlackText[64] = {
    "0000110111",   "010",          "11",           "10",           "011",          "0011",
    "0010",         "00011",        "000101",       "000100",       "0000100",      "0000101",
    "0000111",      "00000100",     "00000111",     "000011000",    "0000010111",   "0000011000",
    "0000001000",   "00001100111",  "00001101000",  "00001101100",  "00000110111",  "00000101000",
    "00000010111",  "00000011000",  "000011001010", "000011001011", "000011001100", "000011001101",
    "000001101000", "000001101001", "000001101010", "000001101011", "000011010010", "000011010011",
    "000011010100", "000011010101", "000011010110", "000011010111", "000001101100", "000001101101",
    "000011011010", "000011011011", "000001010100", "000001010101", "000001010110", "000001010111",
    "000001100100", "000001100101", "000001010010", "000001010011", "000000100100", "000000110111",
    "000000111000", "000000100111", "000000101000", "000001011000", "000001011001", "000000101011",
    "000000101100", "000001011010", "000001100110", "000001100111",
};

using handpix::T4Code;

std::string AsText(const T4Code& c) {
    std::string s;
    for (unsigned i = c.length; i-- > 0;) s += ((c.bits >> i) & 1) ? '1' : '0';
    return s;
}

struct Colour {
    const char* name;
    const T4Code* table;
    const char* const* text;
    const handpix::T4Lookup* lookup;
};

class T4Table : public ::testing::TestWithParam<Colour> {};

TEST_P(T4Table, MatchesTheStandardsBitStrings) {
    for (unsigned run = 0; run < 64; ++run) EXPECT_EQ(AsText(GetParam().table[run]), GetParam().text[run]) << run;
}

TEST_P(T4Table, LookupRefusesRunZero) {
    const T4Code zero = GetParam().table[0];
    EXPECT_EQ(GetParam().lookup->length[static_cast<unsigned>(zero.bits) << (12 - zero.length)], 0);
}

INSTANTIATE_TEST_SUITE_P(Colours, T4Table,
                         ::testing::Values(Colour{"white", handpix::kT4WhiteTerminating, kT4WhiteText,
                                                  &handpix::kT4WhiteLookup},
                                           Colour{"black", handpix::kT4BlackTerminating, kT4BlackText,
                                                  &handpix::kT4BlackLookup}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MsbBitReaderPeek, PadsOnlyTheWindowAndSkipIsBounded) {
    const std::uint8_t data[] = {0b10110011, 0b01000000};
    handpix::MsbBitReader r(data, sizeof data, 3);
    EXPECT_EQ(r.PeekPadded(12), 0b100110100000u);
    EXPECT_EQ(r.BitPosition(), 3u);
    ASSERT_TRUE(r.Skip(10));
    EXPECT_EQ(r.PeekPadded(12), 0b000000000000u);  // three real bits, then padding
    EXPECT_FALSE(r.Skip(4));
    EXPECT_TRUE(r.Skip(3));
    EXPECT_EQ(r.BitsLeft(), 0u);
}

}  // namespace
