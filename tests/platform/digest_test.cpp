#include "platform/digest.h"
#include "platform/signature.h"

#include <gtest/gtest.h>
#include <string>

namespace {

template <std::size_t Size> std::string hex(const std::array<unsigned char, Size>& value) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (const unsigned char byte : value) {
        text += digits[byte >> 4];
        text += digits[byte & 0x0F];
    }
    return text;
}

TEST(Md5Hasher, hashes_data_given_in_parts_like_data_given_at_once) {
    platform::Md5Hasher whole;
    ASSERT_TRUE(whole.valid());
    ASSERT_TRUE(whole.update("message digest", 14));
    platform::Md5Hasher parts;
    ASSERT_TRUE(parts.update("mess", 4));
    ASSERT_TRUE(parts.update("", 0));
    ASSERT_TRUE(parts.update("age digest", 10));
    const auto first = whole.finish();
    const auto second = parts.finish();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(hex(*first), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(*first, *second);
}

TEST(Md5Hasher, a_finished_hash_takes_no_more_data) {
    platform::Md5Hasher hasher;
    ASSERT_TRUE(hasher.finish().has_value());
    EXPECT_FALSE(hasher.valid());
    EXPECT_FALSE(hasher.update("a", 1));
    EXPECT_FALSE(hasher.finish().has_value());
}

TEST(Sha256Hasher, hashes_data_given_in_parts_to_the_published_value) {
    platform::Sha256Hasher hasher;
    ASSERT_TRUE(hasher.update("a", 1));
    ASSERT_TRUE(hasher.update("bc", 2));
    const auto value = hasher.finish();
    ASSERT_TRUE(value);
    EXPECT_EQ(hex(*value), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_FALSE(hasher.update("a", 1));
}

std::string bytes(const std::string& hexText) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hexText.size(); i += 2)
        out += static_cast<char>(std::stoi(hexText.substr(i, 2), nullptr, 16));
    return out;
}

// RFC 8032, section 7.1, TEST 2 (a one-byte message).
TEST(VerifyEd25519, accepts_the_published_test_vector_and_nothing_changed_from_it) {
    const std::string key = "-----BEGIN PUBLIC KEY-----\n"
                            "MCowBQYDK2VwAyEAPUAXw+hDiVqStwqnTRt+vJyYLM8uxJaMwM1V8Sr0Zgw=\n"
                            "-----END PUBLIC KEY-----\n";
    const std::string signature = bytes("92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da"
                                        "085ac1e43e15996e458f3613d0f11d8c387b2eaeb4302aeeb00d291612bb0c00");
    EXPECT_TRUE(platform::verifyEd25519(key, "r", signature));
    EXPECT_FALSE(platform::verifyEd25519(key, "s", signature));
    EXPECT_FALSE(platform::verifyEd25519(key, "r", signature.substr(0, 63)));
    EXPECT_FALSE(platform::verifyEd25519(key, "r", signature + "x"));
    std::string changed = signature;
    changed[10] = static_cast<char>(changed[10] ^ 1);
    EXPECT_FALSE(platform::verifyEd25519(key, "r", changed));
    EXPECT_FALSE(platform::verifyEd25519("not a key", "r", signature));
    EXPECT_FALSE(platform::verifyEd25519("", "r", signature));
}

} // namespace
