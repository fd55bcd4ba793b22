#include "base64.h"

#include <gtest/gtest.h>

#include <random>

using macaron::Base64;

namespace {

std::string decoded(const std::string& text)
{
    std::string out;
    EXPECT_EQ(Base64::Decode(text, out), "");
    return out;
}

// Base64 read off the bit string, six bits at a time, padded with zero bits
// and "=".
std::string bitByBitBase64(const std::string& bytes)
{
    static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    const std::size_t bits = 8 * bytes.size();
    for (std::size_t at = 0; at < bits; at += 6) {
        unsigned sextet = 0;
        for (std::size_t bit = at; bit < at + 6; ++bit) {
            const bool set = bit < bits && (static_cast<unsigned char>(bytes[bit / 8]) >> (7 - bit % 8)) & 1;
            sextet = sextet << 1 | static_cast<unsigned>(set);
        }
        text += alphabet[sextet];
    }
    return text + std::string((4 - text.size() % 4) % 4, '=');
}

} // namespace

TEST(Base64, EncodesLikeTheBitStringAtEveryLength)
{
    // Long inputs go through the vector blocks of 12 bytes, their last bytes and
    // shorter ones through the group loop.
    std::mt19937 random(11);
    for (std::size_t length = 0; length < 200; ++length) {
        std::string bytes(length, '\0');
        for (auto& byte : bytes)
            byte = static_cast<char>(random() & 0xFF);
        EXPECT_EQ(Base64::Encode(bytes), bitByBitBase64(bytes)) << "length " << length;
    }
}

TEST(Base64, EncodesTheStandardTestVectors)
{
    EXPECT_EQ(Base64::Encode(""), "");
    EXPECT_EQ(Base64::Encode("f"), "Zg==");
    EXPECT_EQ(Base64::Encode("fo"), "Zm8=");
    EXPECT_EQ(Base64::Encode("foo"), "Zm9v");
    EXPECT_EQ(Base64::Encode("foob"), "Zm9vYg==");
    EXPECT_EQ(Base64::Encode("fooba"), "Zm9vYmE=");
    EXPECT_EQ(Base64::Encode("foobar"), "Zm9vYmFy");
    EXPECT_EQ(Base64::Encode("\xfb\xff\xbf"), "+/+/");
}

TEST(Base64, DecodesTheStandardTestVectors)
{
    EXPECT_EQ(decoded(""), "");
    EXPECT_EQ(decoded("Zg=="), "f");
    EXPECT_EQ(decoded("Zm8="), "fo");
    EXPECT_EQ(decoded("Zm9vYmFy"), "foobar");
}

TEST(Base64, RoundTripsEveryByteValueAndLength)
{
    std::mt19937 random(7);
    for (std::size_t length = 0; length < 64; ++length) {
        std::string bytes(length, '\0');
        for (auto& byte : bytes)
            byte = static_cast<char>(random() & 0xFF);
        EXPECT_EQ(decoded(Base64::Encode(bytes)), bytes) << "length " << length;
    }
    std::string all;
    for (int value = 0; value < 256; ++value)
        all.push_back(static_cast<char>(value));
    EXPECT_EQ(decoded(Base64::Encode(all)), all);
}

TEST(Base64, RejectsLengthsThatAreNoMultipleOfFourAndLeavesOutputAlone)
{
    std::string out = "kept";
    EXPECT_EQ(Base64::Decode("Zm9vY", out), "Input data size is not a multiple of 4");
    EXPECT_EQ(out, "kept");
    EXPECT_EQ(Base64::Decode("abc", out), "Input data size is not a multiple of 4");
    EXPECT_EQ(out, "kept");
}

TEST(Base64, PaddingAtTheEndShortensTheOutput)
{
    EXPECT_EQ(decoded("QQ==").size(), 1u);
    EXPECT_EQ(decoded("QUI=").size(), 2u);
    EXPECT_EQ(decoded("QUJD").size(), 3u);
}

TEST(Base64, DecodingIsLenientAboutCharacters)
{
    // A space counts as 64 at its place value: in "A A=" that is 64 * 2^12,
    // which carries into the first byte.
    EXPECT_EQ(decoded("A A="), std::string("\x04\x00", 2));
    // "=" inside the text counts as 0 and does not end it.
    EXPECT_EQ(decoded("Q=JD"), decoded("QAJD"));
    // Bytes above 0x7F are outside the alphabet too.
    EXPECT_EQ(decoded("\xc3\xa9" "AA"), decoded("  AA"));
}
