#include "ui/main_screen.h"

#include <optional>

#include "core/downloader.h"
#include "ui/download_line.h"

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

TEST(WrapText, counts_bytes_not_words_but_keeps_characters_whole) {
    // Breaks fall inside words; existing breaks count too; a character that would cross the count
    // starts the next line, one longer than the count stands alone, a broken sequence is bytes.
    const struct {
        const char* text;
        std::size_t width;
        const char* wrapped;
    } cases[] = {
        {"ab cd", 2, "ab\n c\nd"},
        {"a\nbc", 2, "a\n\nbc\n"},
        {"\xE2\x82\xAC", 2, "\xE2\x82\xAC\n"},
        {"a\xE2\x82\xAC", 2, "a\n\xE2\x82\xAC\n"},
        {"ab\xE2\x82\xAC", 4, "ab\n\xE2\x82\xAC"},
        {"\xC5\x9F\xC4\x9F\xC4\xB1", 3, "\xC5\x9F\n\xC4\x9F\n\xC4\xB1"},
        {"\xE2\x82x\xAC", 2, "\xE2\x82\nx\xAC\n"},
        {"\xF0\x9F\x98\x80z", 4, "\xF0\x9F\x98\x80\nz"},
    };
    for (const auto& c : cases) EXPECT_EQ(wrapText(c.text, c.width), c.wrapped) << c.text;
    // Cyrillic: 35 bytes would end in the middle of the 18th letter.
    const std::string cyrillic = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"; // Привет, 12 bytes
    const std::string line = cyrillic + cyrillic + cyrillic;                         // 36 bytes
    EXPECT_EQ(wrapText(line, 35), line.substr(0, 34) + "\n" + line.substr(34));
}

TEST(WrapText, a_line_ends_before_a_character_that_would_leave_the_box) {
    // Every character 10 pixels wide, the box 45: four a line, though the count allows six.
    const auto tenPixels = [](std::string_view) { return 10.0f; };
    EXPECT_EQ(wrapText("abcdefghij", 6, 45.0f, tenPixels), "abcd\nefgh\nij");
    EXPECT_EQ(wrapText("ab\ncdefg", 35, 45.0f, tenPixels), "ab\ncdef\ng");
    // A character wider than the box still stands on a line of its own.
    EXPECT_EQ(wrapText("ab", 35, 5.0f, tenPixels), "a\nb");
}

TEST(ClientCount, stays_within_one_to_fifty) {
    EXPECT_EQ(steppedClientCount(1, -1), 1);
    EXPECT_EQ(steppedClientCount(2, -1), 1);
    EXPECT_EQ(steppedClientCount(1, +1), 2);
    EXPECT_EQ(steppedClientCount(50, +1), 50);
    EXPECT_EQ(steppedClientCount(49, +1), 50);
}

TEST(DownloadLine, bytes_speed_and_time_left) {
    constexpr std::uint64_t mb = 1024 * 1024;
    const struct {
        std::uint64_t done, total;
        std::optional<double> speed;
        const char* line;
    } cases[] = {
        {13002342, 310 * mb, 5.2 * mb, "12.4 MB of 310.0 MB  -  5.2 MB/s  -  about 1 min left"},
        {100 * mb, 310 * mb, 0.5 * mb, "100.0 MB of 310.0 MB  -  512 KB/s  -  about 7 min left"},
        {300 * mb, 310 * mb, 1.0 * mb, "300.0 MB of 310.0 MB  -  1.0 MB/s  -  about 10 s left"},
        {512 * 1024, 3 * 1024 * mb, 256.0 * 1024, "512 KB of 3.00 GB  -  256 KB/s  -  about 3 h 25 min left"},
        {1, 100 * mb, 2.0, "1 KB of 100.0 MB  -  1 KB/s  -  more than a day left"},
        // No time yet: sizes only. A stall: no speed to divide by.
        {5 * mb, 10 * mb, std::nullopt, "5.0 MB of 10.0 MB"},
        {5 * mb, 10 * mb, 0.0, "5.0 MB of 10.0 MB  -  stalled"},
        // Unknown size, or the file complete: no line.
        {5 * mb, 0, 1.0 * mb, ""},
        {10 * mb, 10 * mb, 1.0 * mb, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(downloadProgressLine(c.done, c.total, c.speed), c.line) << c.line;
}

TEST(DownloadLine, speed_is_the_average_of_the_last_seconds_and_a_restart_starts_over) {
    TransferRate rate;
    rate.add(0.0, 1000);
    rate.add(0.25, 2000);
    EXPECT_EQ(rate.bytesPerSecond(), std::nullopt) << "a quarter of a second is too little time";
    for (int second = 1; second <= 10; ++second) rate.add(second, 1000 + 2000 * second);
    EXPECT_DOUBLE_EQ(*rate.bytesPerSecond(), 2000.0);
    for (int second = 11; second <= 15; ++second) rate.add(second, 21000); // five seconds of nothing
    EXPECT_DOUBLE_EQ(*rate.bytesPerSecond(), 0.0);
    rate.add(16.0, 10); // a try from the start drops what was measured
    EXPECT_EQ(rate.bytesPerSecond(), std::nullopt);
}

TEST(DownloadLine, shows_only_while_a_transfer_of_known_size_is_under_way) {
    constexpr std::uint64_t mb = 1024 * 1024;
    Downloader sink;
    DownloadLine line;
    EXPECT_FALSE(line.update(sink, 0.0));
    {
        const Downloader::Transfer transfer(sink);
        sink.onProgress(1 * mb, 4 * mb);
        EXPECT_TRUE(line.update(sink, 1.0));
        EXPECT_EQ(line.text(), "1.0 MB of 4.0 MB");
        sink.onProgress(2 * mb, 4 * mb);
        EXPECT_TRUE(line.update(sink, 1.6));
        EXPECT_EQ(line.text(), "2.0 MB of 4.0 MB  -  1.7 MB/s  -  about 2 s left");
        // The bytes follow at once, the speed only after the interval.
        sink.onProgress(3 * mb, 4 * mb);
        EXPECT_TRUE(line.update(sink, 1.8));
        EXPECT_EQ(line.text(), "3.0 MB of 4.0 MB  -  1.7 MB/s  -  about 1 s left");
        EXPECT_TRUE(line.update(sink, 2.1));
        EXPECT_EQ(line.text(), "3.0 MB of 4.0 MB  -  1.8 MB/s  -  about 1 s left");
        EXPECT_FALSE(line.update(sink, 2.2));
    }
    EXPECT_TRUE(line.update(sink, 2.3));
    EXPECT_EQ(line.text(), "");
}
