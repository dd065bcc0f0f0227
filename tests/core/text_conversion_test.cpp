#include "core/text_conversion.h"

#include <gtest/gtest.h>

using namespace std::string_literals;

namespace {

TEST(ToWide, empty_and_ascii_pass_through) {
    EXPECT_EQ(toWide(""), u"");
    EXPECT_EQ(toWide("abc"), u"abc");
    EXPECT_EQ(toWide("a\0b"s), u"a\0b"s);
}

TEST(ToWide, decodes_every_sequence_length) {
    EXPECT_EQ(toWide("\xC3\xA9"), u"\u00E9");
    EXPECT_EQ(toWide("\xE2\x82\xAC"), u"\u20AC");
    EXPECT_EQ(toWide("\xF0\x9F\x98\x80"), u"\U0001F600");
    EXPECT_EQ(toWide("\xF0\x9F\x98\x80").size(), 2u);
}

TEST(ToWide, replaces_each_bad_sequence_with_one_replacement_character) {
    EXPECT_EQ(toWide("a\xFF"
                     "b"),
              u"a\uFFFDb");
    EXPECT_EQ(toWide("\x80"), u"\uFFFD");
    // Overlong form, encoded surrogate, beyond U+10FFFF.
    EXPECT_EQ(toWide("\xC0\xAF"), u"\uFFFD\uFFFD");
    EXPECT_EQ(toWide("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(toWide("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");
    // A truncated sequence is one replacement, and the byte that broke it is read again.
    EXPECT_EQ(toWide("\xE2\x82"
                     "A"),
              u"\uFFFDA");
    EXPECT_EQ(toWide("x\xE2\x82"), u"x\uFFFD");
}

TEST(ToNarrow, encodes_every_sequence_length) {
    EXPECT_EQ(toNarrow(u""), "");
    EXPECT_EQ(toNarrow(u"abc"), "abc");
    EXPECT_EQ(toNarrow(u"\u20AC"), "\xE2\x82\xAC");
    EXPECT_EQ(toNarrow(u"\u00E9"), "\xC3\xA9");
    EXPECT_EQ(toNarrow(u"\U0001F600"), "\xF0\x9F\x98\x80");
}

TEST(ToNarrow, lone_surrogates_become_replacement_characters) {
    EXPECT_EQ(toNarrow(u"\xD83D"s), "\xEF\xBF\xBD");
    EXPECT_EQ(toNarrow(u"a\xDE00"s + u"b"), "a\xEF\xBF\xBD"
                                            "b");
    // A low surrogate before a high one is no pair.
    EXPECT_EQ(toNarrow(u"\xDE00\xD83D"s), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(Conversions, valid_text_round_trips) {
    const std::string text = "Ostrevan/\xC3\xA9t\xC3\xA9/\xE2\x82\xAC/\xF0\x9F\x98\x80.dat";
    EXPECT_EQ(toNarrow(toWide(text)), text);
}

} // namespace
