// The program's text helpers: UTF-8 decoding and encoding with broken
// bytes, counting and cutting by characters, the decimal parser's limits
// and formatting beyond any fixed buffer.
#include <gtest/gtest.h>

#include <string>

#include "session/Text.h"

using namespace kv;

TEST(Text, Utf8RoundTripsCharactersOfEveryLength)
{
    const std::u32string chars = {U'A', U'ж', U'€', U'😀'};
    std::string text;
    for (char32_t c : chars)
        AppendUtf8(text, c);
    EXPECT_EQ(text, "Aж€😀");
    ASSERT_EQ(text.size(), 1u + 2u + 3u + 4u);

    size_t i = 0;
    for (char32_t expected : chars) {
        char32_t c = 0;
        EXPECT_TRUE(NextUtf8(text, i, c));
        EXPECT_EQ(c, expected);
    }
    EXPECT_EQ(i, text.size());
}

TEST(Text, Utf8BrokenBytesStandForThemselvesOneAtATime)
{
    // A stray continuation byte, a lead byte followed by no continuation, a
    // byte no sequence starts with, and a sequence cut off by the end.
    const std::string text = "\x80" "\xD0" "A" "\xFF" "\xE2\x82";
    const std::u32string expected = {0x80, 0xD0, U'A', 0xFF, 0xE2, 0x82};
    const bool valid[] = {false, false, true, false, false, false};
    size_t i = 0;
    for (size_t k = 0; k < expected.size(); ++k) {
        ASSERT_LT(i, text.size()) << k;
        char32_t c = 0;
        EXPECT_EQ(NextUtf8(text, i, c), valid[k]) << k;
        EXPECT_EQ(c, expected[k]) << k;
        EXPECT_EQ(i, k + 1) << "each byte is taken alone";
    }
}

TEST(Text, CountsCutsAndDropsWholeCharacters)
{
    const std::string text = "жA€";
    EXPECT_EQ(TextLength(text), 3u);
    EXPECT_EQ(TextLength(""), 0u);
    EXPECT_EQ(Utf8Prefix(text, 0), 0u);
    EXPECT_EQ(Utf8Prefix(text, 1), 2u);
    EXPECT_EQ(Utf8Prefix(text, 2), 3u);
    EXPECT_EQ(Utf8Prefix(text, 9), text.size());

    std::string s = text;
    DropLastCharacter(s);
    EXPECT_EQ(s, "жA");
    DropLastCharacter(s);
    DropLastCharacter(s);
    EXPECT_EQ(s, "");
    DropLastCharacter(s);
    EXPECT_EQ(s, "");
}

TEST(Text, DecimalTakesTheWhole32BitRangeAndOneSignOnly)
{
    int32_t v = 0;
    EXPECT_TRUE(ParseDecimal("2147483647", v));
    EXPECT_EQ(v, 2147483647);
    EXPECT_TRUE(ParseDecimal("-2147483648", v));
    EXPECT_EQ(v, INT32_MIN);
    EXPECT_TRUE(ParseDecimal("007", v));
    EXPECT_EQ(v, 7);
    v = 5;
    for (const char* bad : {"-2147483649", "+-5", "++5", "--5", "5-", "0x10", "1.0"})
        EXPECT_FALSE(ParseDecimal(bad, v)) << bad;
    EXPECT_EQ(v, 5);
}

TEST(Text, FormatsTextOfAnyLength)
{
    EXPECT_EQ(Format("%.2d:%.2d", 5, 7), "05:07");
    EXPECT_EQ(Format("%s", ""), "");
    const std::string body(5000, 'x');
    const std::string out = Format("<%s>%d", body.c_str(), 42);
    EXPECT_EQ(out, "<" + body + ">42");
}
