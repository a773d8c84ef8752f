// The T.4 tables against the standard's table as bit strings (transcribed
// separately in the test writer).
#include <gtest/gtest.h>

#include <string>

#include "handpix/handset/T4Codes.h"
#include "handpix/platform/core/BitReader.h"
#include "tests/support/SisKind1Writer.h"

namespace {

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
                         ::testing::Values(Colour{"white", handpix::kT4WhiteTerminating, handpix::test::kT4WhiteText,
                                                  &handpix::kT4WhiteLookup},
                                           Colour{"black", handpix::kT4BlackTerminating, handpix::test::kT4BlackText,
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
