#include "encryption.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>

using namespace tarvek::encryption;

namespace {

std::string randomBytes(std::mt19937& rng, size_t length)
{
    std::uniform_int_distribution<int> byte(0, 255);
    std::string s(length, '\0');
    for (char& c : s)
        c = static_cast<char>(byte(rng));
    return s;
}

std::string fromHex(const std::string& hex)
{
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::string header(const std::string& payload)
{
    char* block = nullptr;
    const int length = addEncryptHeader(payload.data(), &block, static_cast<int>(payload.size()));
    std::string result(block, static_cast<size_t>(length));
    std::free(block);
    return result;
}

// The built-in key as it must stay for ever: texts scrambled by earlier
// versions have to remain readable.
const std::string INTERNAL_KEY = fromHex("ace8781652f39d990a49782d2f87349dffd007c04b330646" "5e8c9958");

std::string scrambleWithInternalKey(std::string plain)
{
    encrypt(plain.data(), static_cast<int>(plain.size()), INTERNAL_KEY.data(), static_cast<int>(INTERNAL_KEY.size()));
    return plain;
}

}  // namespace

TEST(Encryption, CallerKeyRoundTripsArbitraryBytes)
{
    std::mt19937 rng(11);
    for (size_t length : {1u, 2u, 7u, 28u, 29u, 256u, 1000u}) {
        for (size_t keyLength : {1u, 3u, 28u, 300u}) {
            const std::string data = randomBytes(rng, length);
            const std::string key = randomBytes(rng, keyLength);
            const std::string image = encrypt_image(data, key);
            EXPECT_EQ(image.size(), data.size());
            EXPECT_EQ(decrypt_image(image, key), data);
            EXPECT_EQ(decrypt_text(encrypt_text(data, key), key), data);
        }
    }
}

TEST(Encryption, CallerKeyXorsThenReverses)
{
    EXPECT_EQ(encrypt_image(std::string(1, '\x81'), "\x0F"), std::string(1, '\x8E'));
    EXPECT_EQ(encrypt_text(std::string("ab\0", 3), "\x01\x02"), std::string("\x01\x60\x60", 3));
    EXPECT_EQ(decrypt_text(std::string("\x01\x60\x60", 3), "\x01\x02"), std::string("ab\0", 3));

    char buffer[] = {'\x10', '\x20', '\x30', '\x40', '\x50'};
    encrypt(buffer, 5, "\xFF\x00", 2);
    EXPECT_EQ(std::string(buffer, 5), "\xAF\x40\xCF\x20\xEF");
    decrypt(buffer, 5, "\xFF\x00", 2);
    EXPECT_EQ(std::string(buffer, 5), "\x10\x20\x30\x40\x50");
}

TEST(Encryption, EmptyDataOrKeyOrBadLengthsChangeNothing)
{
    EXPECT_EQ(encrypt_image("payload", ""), "payload");
    EXPECT_EQ(decrypt_image("payload", ""), "payload");
    EXPECT_EQ(encrypt_text("", "key"), "");
    char buffer[] = {'a', 'b'};
    encrypt(buffer, 2, "k", 0);
    encrypt(buffer, -1, "k", 1);
    decrypt(buffer, 2, nullptr, 1);
    EXPECT_EQ(std::string(buffer, 2), "ab");

    char a = 'x', b = 'y';
    char_swap(&a, &b);
    EXPECT_EQ(a, 'y');
    EXPECT_EQ(b, 'x');
}

TEST(EncryptionHeader, ShortPayloadIsCopiedIntoTheFingerprint)
{
    const std::string h = header(std::string("ab\0\xFF", 4));
    ASSERT_EQ(h.size(), 47u);
    EXPECT_EQ(h.substr(0, 32), std::string("ab\0\xFF", 4) + std::string(28, '\0'));
    EXPECT_EQ(h.substr(32, 6), "Tarvek");
    EXPECT_EQ(h.substr(38, 4), std::string("\0\0\0\x04", 4));
    EXPECT_EQ(h.substr(42, 4), std::string("ab\0\xFF", 4));
    EXPECT_EQ(h[46], '\0');
}

TEST(EncryptionHeader, LongPayloadKeepsItsFirstAndLastSixteenBytes)
{
    std::mt19937 rng(3);
    const std::string payload = randomBytes(rng, 300);
    const std::string h = header(payload);
    ASSERT_EQ(h.size(), 343u);
    EXPECT_EQ(h.substr(0, 16), payload.substr(0, 16));
    EXPECT_EQ(h.substr(16, 16), payload.substr(284, 16));
    EXPECT_EQ(h.substr(38, 4), std::string("\0\0\x01\x2C", 4));
    EXPECT_EQ(h.substr(42, 300), payload);
    EXPECT_EQ(h[342], '\0');

    const std::string exact = randomBytes(rng, 32);
    EXPECT_EQ(header(exact).substr(0, 32), exact);
}

TEST(EncryptionHeader, RejectsLengthsItCannotDescribe)
{
    char* block = reinterpret_cast<char*>(1);
    EXPECT_EQ(addEncryptHeader("x", &block, -1), -1);
    EXPECT_EQ(block, nullptr);
    EXPECT_EQ(addEncryptHeader("x", &block, 0x7FFFFFFF), -1);
    EXPECT_EQ(addEncryptHeader(nullptr, &block, 0), 43);
    std::free(block);
}

TEST(InternalKey, KnownAnswer)
{
    // Scrambling the header of an empty payload reveals the key stream.
    const std::string scrambled = encrypt_image_internal_key("");
    ASSERT_EQ(scrambled.size(), 43u);
    EXPECT_EQ(scrambled, scrambleWithInternalKey(header("")));
    EXPECT_EQ(encrypt_image_internal_key("Hello, world"),
              fromHex("99e8323469446bec68bc93f87c8b2f2d78226fefef92061678e8ac58998c5e4606334bc007d0ff9d"
                      "34872f49143b65eebddf3d7a148de4"));
}

TEST(InternalKey, RoundTripsArbitraryPayloads)
{
    std::mt19937 rng(5);
    for (size_t length : {1u, 15u, 31u, 32u, 33u, 40u, 1000u, 70000u}) {
        const std::string payload = randomBytes(rng, length);
        const std::string scrambled = encrypt_image_internal_key(payload);
        EXPECT_EQ(scrambled.size(), length + 43);
        EXPECT_EQ(decrypt_image_internal_key(scrambled), payload);
    }
    EXPECT_EQ(decrypt_image_internal_key(encrypt_image_internal_key("")), "");
}

TEST(InternalKey, DecoderRejectsDefects)
{
    std::mt19937 rng(9);
    EXPECT_EQ(decrypt_image_internal_key(""), "");
    EXPECT_EQ(decrypt_image_internal_key(std::string(42, '\0')), "");

    const std::string payload = randomBytes(rng, 40);
    std::string plain = header(payload);

    ASSERT_EQ(decrypt_image_internal_key(scrambleWithInternalKey(plain)), payload);
    // Each of the six magic bytes is checked: only the magic changes, fingerprint and length still hold.
    for (size_t position = 32; position < 38; ++position) {
        std::string badMagic = plain;
        badMagic[position] ^= 0x20;
        EXPECT_EQ(decrypt_image_internal_key(scrambleWithInternalKey(badMagic)), "") << position;
    }

    std::string tooLong = plain;
    tooLong[41] = 41;  // one more than the 40 payload bytes
    EXPECT_EQ(decrypt_image_internal_key(scrambleWithInternalKey(tooLong.substr(0, 82))), "");

    for (size_t position : {0u, 15u, 16u, 31u}) {
        std::string badFingerprint = plain;
        badFingerprint[position] ^= 1;
        EXPECT_EQ(decrypt_image_internal_key(scrambleWithInternalKey(badFingerprint)), "") << position;
    }

    std::string shortPlain = header("abc");
    shortPlain[2] = 'x';
    EXPECT_EQ(decrypt_image_internal_key(scrambleWithInternalKey(shortPlain)), "");
    shortPlain[2] = 'c';
    shortPlain[3] = 'x';  // the zero fill is not part of the check
    EXPECT_EQ(decrypt_image_internal_key(scrambleWithInternalKey(shortPlain)), "abc");

    // The bytes are reversed, so the last scrambled byte covers the fingerprint.
    std::string altered = encrypt_image_internal_key(payload);
    altered.back() ^= 0x40;
    EXPECT_EQ(decrypt_image_internal_key(altered), "");
    // Any change of length shifts the key stream over the header.
    const std::string scrambled = encrypt_image_internal_key(payload);
    EXPECT_EQ(decrypt_image_internal_key(scrambled.substr(0, scrambled.size() - 1)), "");
    EXPECT_EQ(decrypt_image_internal_key(scrambled + '\0'), "");
}

TEST(InternalKey, PayloadTellsAnEmptyPayloadFromARefusedText)
{
    std::mt19937 rng(13);
    const std::string scrambledEmpty = encrypt_image_internal_key("");
    EXPECT_EQ(internalKeyPayload(scrambledEmpty), std::optional<std::string>(""));
    const std::vector<std::string> refused = {"", std::string(42, '\0'), std::string(43, '\0'), "plain bytes",
                                              scrambledEmpty + '\0', scrambledEmpty.substr(1),
                                              encrypt_image(scrambledEmpty, "k")};
    for (const std::string& text : refused)
        EXPECT_EQ(internalKeyPayload(text), std::nullopt) << text.size();
    // Wherever the decoder answers a payload the optional holds it, and random texts are refused.
    for (std::size_t length = 0; length < 200; length += 7) {
        const std::string payload = randomBytes(rng, length);
        EXPECT_EQ(internalKeyPayload(encrypt_image_internal_key(payload)), payload) << length;
        EXPECT_EQ(internalKeyPayload(randomBytes(rng, length + 43)), std::nullopt) << length;
    }
}
