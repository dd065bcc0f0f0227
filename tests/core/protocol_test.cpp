#include "core/protocol.h"

#include <gtest/gtest.h>

#include "../support/server_messages.h"

using namespace std::string_literals;

namespace {

using dltest::codeBytes;
using dltest::field;

TEST(ReadField, cuts_at_the_end_of_the_message_and_at_the_first_zero_byte) {
    const std::string message = "abcdefghij"; // 10 bytes
    EXPECT_EQ(readField(message, 8, 5), "ij");
    EXPECT_EQ(readField("abcdefgh\0j"s, 8, 5), "");
    EXPECT_EQ(readField("abcdefghi\0"s, 8, 5), "i");
    EXPECT_EQ(readField(message, 2, 3), "cde");
    EXPECT_EQ(readField("ab\0cd"s, 0, 5), "ab");
}

TEST(ReadField, starting_at_the_end_is_empty_and_beyond_it_is_nothing) {
    const std::string message = "abcdefghij";
    EXPECT_EQ(readField(message, 10, 5), "");
    EXPECT_EQ(readField(message, 10, 0), "");
    EXPECT_FALSE(readField(message, 11, 5).has_value());
    EXPECT_FALSE(readField(message, 1000, 0).has_value());
}

TEST(WriteField, writes_length_byte_and_text_and_advances_past_them) {
    std::string message(10, 'x');
    std::size_t offset = 1;
    writeField(message, offset, "abc");
    EXPECT_EQ(offset, 5u);
    EXPECT_EQ(message, "x\x03"s + "abcxxxxx");
    writeField(message, offset, "");
    EXPECT_EQ(offset, 6u);
    EXPECT_EQ(message[5], '\0');
}

TEST(WriteField, never_writes_past_the_end_of_the_message) {
    std::string message(4, 'x');
    std::size_t offset = 2;
    writeField(message, offset, "abcdef");
    EXPECT_EQ(message, "xx\x06"s + "a"); // the text is cut where the message ends
    EXPECT_EQ(message.size(), 4u);
    EXPECT_EQ(offset, 9u);
}

TEST(WriteField, length_byte_holds_the_low_eight_bits) {
    std::string message(300, '\0');
    std::size_t offset = 0;
    writeField(message, offset, std::string(257, 'a'));
    EXPECT_EQ(message[0], '\x01');
    EXPECT_EQ(offset, 258u);
}

TEST(Hello, carries_a_digest_in_150_bytes) {
    const std::string digest = "0123456789abcdef0123456789abcdef";
    const std::string hello = buildHello(digest);
    ASSERT_EQ(hello.size(), 150u);
    EXPECT_EQ(hello.substr(0, 5), "\xE9\x03\x00\x00\x20"s);
    EXPECT_EQ(hello.substr(5, 32), digest);
    EXPECT_EQ(hello.substr(37), std::string(113, '\0'));
}

TEST(Hello, carries_none_in_150_bytes) {
    const std::string hello = buildHello("None");
    ASSERT_EQ(hello.size(), 150u);
    EXPECT_EQ(hello.substr(0, 9), "\xE9\x03\x00\x00\x04None"s);
    EXPECT_EQ(hello.substr(9), std::string(141, '\0'));
}

TEST(IntegrityRequest, is_the_code_and_eleven_zero_bytes) {
    EXPECT_EQ(buildIntegrityRequest(), "\xEB\x03\x00\x00"s + std::string(11, '\0'));
}

TEST(MessageCode, reads_four_little_endian_bytes_and_nothing_from_fewer) {
    EXPECT_EQ(messageCode("\xE8\x03\x00\x00"s), 1000);
    EXPECT_EQ(messageCode("\xFF\xFF\xFF\xFF\x01"s), -1);
    EXPECT_FALSE(messageCode("\xE8\x03\x00"s).has_value());
    EXPECT_FALSE(messageCode("").has_value());
    EXPECT_TRUE(isKnownCode(1000));
    EXPECT_TRUE(isKnownCode(1003));
    EXPECT_FALSE(isKnownCode(999));
    EXPECT_FALSE(isKnownCode(1004));
}

TEST(DeclaredLength, news_is_count_then_length_prefixed_items) {
    const std::string news = codeBytes(1000) + "\x02" + field("A") + field("BC");
    EXPECT_EQ(declaredMessageLength(news), news.size());
    EXPECT_EQ(declaredMessageLength(news + "trailing"), news.size());
    EXPECT_EQ(declaredMessageLength(codeBytes(1000) + "\x00"s), 5u);
    // Cut inside the second item, inside its length byte, and before the count.
    EXPECT_FALSE(declaredMessageLength(news.substr(0, news.size() - 1)).has_value());
    EXPECT_FALSE(declaredMessageLength(news.substr(0, 7)).has_value());
    EXPECT_FALSE(declaredMessageLength(codeBytes(1000)).has_value());
}

TEST(DeclaredLength, acceptance_and_patch_list_are_one_field) {
    for (const std::int32_t value : {1001, 1002}) {
        const std::string message = codeBytes(value) + field("1001\n1002");
        EXPECT_EQ(declaredMessageLength(message), 14u);
        EXPECT_EQ(declaredMessageLength(message + codeBytes(1000)), 14u);
        EXPECT_FALSE(declaredMessageLength(message.substr(0, 13)).has_value());
        // Only the code: the length byte may still come.
        EXPECT_FALSE(declaredMessageLength(codeBytes(value)).has_value());
        EXPECT_EQ(declaredMessageLength(codeBytes(value) + "\x00"s), 5u);
    }
}

TEST(DeclaredLength, integrity_list_is_skipped_text_then_three_fields_per_entry) {
    const std::string entry = field("data/a.bin") + field("data/a.bin") + field("0123");
    const std::string message = codeBytes(1003) + "\x02" + field("xyz") + entry + entry;
    EXPECT_EQ(declaredMessageLength(message), message.size());
    EXPECT_EQ(declaredMessageLength(message + "\0\0\0"s), message.size());
    EXPECT_FALSE(declaredMessageLength(message.substr(0, message.size() - 2)).has_value());
    EXPECT_FALSE(declaredMessageLength(codeBytes(1003) + "\x01"s).has_value());
    EXPECT_EQ(declaredMessageLength(codeBytes(1003) + "\x00\x00"s), 6u);
    EXPECT_EQ(declaredMessageLength(codeBytes(1003) + "\x00\x03xyz"s), 9u);
}

TEST(DeclaredLength, unknown_codes_take_every_byte_and_code_prefixes_wait) {
    EXPECT_EQ(declaredMessageLength(codeBytes(1004) + "whatever"), 12u);
    EXPECT_EQ(declaredMessageLength("\x01\x02"s), 2u);
    EXPECT_FALSE(declaredMessageLength("\xE9\x03"s).has_value());
    EXPECT_FALSE(declaredMessageLength("\xEA"s).has_value());
}

TEST(BeginsKnownMessage, accepts_known_codes_and_their_prefixes_only) {
    EXPECT_TRUE(beginsKnownMessage(codeBytes(1002) + "x"));
    EXPECT_TRUE(beginsKnownMessage("\xEB\x03\x00"s));
    EXPECT_TRUE(beginsKnownMessage("\xE8"s));
    EXPECT_FALSE(beginsKnownMessage(codeBytes(1004)));
    EXPECT_FALSE(beginsKnownMessage("\xE8\x04"s));
    EXPECT_FALSE(beginsKnownMessage(std::string(8, '\0')));
    EXPECT_FALSE(beginsKnownMessage(""));
}

} // namespace
