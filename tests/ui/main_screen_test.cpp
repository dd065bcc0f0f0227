#include "ui/main_screen.h"

#include <gtest/gtest.h>

TEST(WrapText, seventy_bytes_become_two_lines_each_ended_by_a_break) {
    const std::string text(70, 'x');
    EXPECT_EQ(wrapText(text, 35), std::string(35, 'x') + "\n" + std::string(35, 'x') + "\n");
}

TEST(WrapText, exactly_one_width_ends_with_a_break_and_a_short_rest_does_not) {
    EXPECT_EQ(wrapText(std::string(35, 'a'), 35), std::string(35, 'a') + "\n");
    EXPECT_EQ(wrapText(std::string(36, 'a'), 35), std::string(35, 'a') + "\na");
    EXPECT_EQ(wrapText("short", 35), "short");
}

TEST(WrapText, empty_text_stays_empty) {
    EXPECT_EQ(wrapText("", 35), "");
}

TEST(WrapText, counts_bytes_not_words_or_characters) {
    // Breaks fall inside words and inside multi-byte characters alike; existing breaks count too.
    EXPECT_EQ(wrapText("ab cd", 2), "ab\n c\nd");
    EXPECT_EQ(wrapText("\xE2\x82\xAC", 2), "\xE2\x82\n\xAC");
    EXPECT_EQ(wrapText("a\nbc", 2), "a\n\nbc\n");
}

TEST(ClientCount, stays_within_one_to_fifty) {
    EXPECT_EQ(steppedClientCount(1, -1), 1);
    EXPECT_EQ(steppedClientCount(2, -1), 1);
    EXPECT_EQ(steppedClientCount(1, +1), 2);
    EXPECT_EQ(steppedClientCount(50, +1), 50);
    EXPECT_EQ(steppedClientCount(49, +1), 50);
}
