#include "encryption.h"

#include <array>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace tarvek::encryption {

namespace {

// Layout of the header around an internally keyed payload.
constexpr std::size_t FINGERPRINT_SIZE = 32;
constexpr std::size_t FINGERPRINT_HALF = FINGERPRINT_SIZE / 2;
constexpr char MAGIC[] = {'T', 'a', 'r', 'v', 'e', 'k'};
constexpr std::size_t MAGIC_OFFSET = FINGERPRINT_SIZE;
constexpr std::size_t LENGTH_OFFSET = MAGIC_OFFSET + sizeof(MAGIC);
constexpr std::size_t PAYLOAD_OFFSET = LENGTH_OFFSET + 4;
constexpr std::size_t HEADER_OVERHEAD = PAYLOAD_OFFSET + 1;  // header plus the trailing zero byte

constexpr std::size_t INTERNAL_KEY_SIZE = 28;
using InternalKey = std::array<char, INTERNAL_KEY_SIZE>;

// The built-in key. Texts scrambled with it must stay readable, so these bytes
// never change. It is put together byte by byte so that it does not stand in
// the binary as one string.
InternalKey internalKey()
{
    InternalKey key;
    key[0] = static_cast<char>(0xAC);
    key[1] = static_cast<char>(0xE8);
    key[2] = static_cast<char>(0x78);
    key[3] = static_cast<char>(0x16);
    key[4] = static_cast<char>(0x52);
    key[5] = static_cast<char>(0xF3);
    key[6] = static_cast<char>(0x9D);
    key[7] = static_cast<char>(0x99);
    key[8] = static_cast<char>(0x0A);
    key[9] = static_cast<char>(0x49);
    key[10] = static_cast<char>(0x78);
    key[11] = static_cast<char>(0x2D);
    key[12] = static_cast<char>(0x2F);
    key[13] = static_cast<char>(0x87);
    key[14] = static_cast<char>(0x34);
    key[15] = static_cast<char>(0x9D);
    key[16] = static_cast<char>(0xFF);
    key[17] = static_cast<char>(0xD0);
    key[18] = static_cast<char>(0x07);
    key[19] = static_cast<char>(0xC0);
    key[20] = static_cast<char>(0x4B);
    key[21] = static_cast<char>(0x33);
    key[22] = static_cast<char>(0x06);
    key[23] = static_cast<char>(0x46);
    key[24] = static_cast<char>(0x5E);
    key[25] = static_cast<char>(0x8C);
    key[26] = static_cast<char>(0x99);
    key[27] = static_cast<char>(0x58);
    return key;
}

void xorWithKey(char* buf, std::size_t len, const char* key, std::size_t keyLen)
{
    for (std::size_t i = 0; i < len; ++i)
        buf[i] = static_cast<char>(buf[i] ^ key[i % keyLen]);
}

void reverseBytes(char* buf, std::size_t len)
{
    for (std::size_t i = 0; i < len / 2; ++i)
        char_swap(buf + i, buf + len - 1 - i);
}

// The scrambling on any length; encrypt and decrypt are its int-sized faces.
void scramble(char* buf, std::size_t len, const char* key, std::size_t keyLen)
{
    xorWithKey(buf, len, key, keyLen);
    reverseBytes(buf, len);
}

void unscramble(char* buf, std::size_t len, const char* key, std::size_t keyLen)
{
    reverseBytes(buf, len);
    xorWithKey(buf, len, key, keyLen);
}

bool usable(const char* buf, int len, const char* key, int keyLen)
{
    return buf != nullptr && key != nullptr && len > 0 && keyLen > 0;
}

// Fills the len + HEADER_OVERHEAD zero-filled bytes at out.
void writeHeader(const char* src, std::uint32_t len, char* out)
{
    std::memcpy(out + MAGIC_OFFSET, MAGIC, sizeof(MAGIC));
    for (int byte = 0; byte < 4; ++byte)
        out[LENGTH_OFFSET + byte] = static_cast<char>((len >> (24 - 8 * byte)) & 0xFF);
    if (len == 0)
        return;  // src may be null then
    std::memcpy(out + PAYLOAD_OFFSET, src, len);
    if (len < FINGERPRINT_SIZE) {
        std::memcpy(out, src, len);
    } else {
        std::memcpy(out, src, FINGERPRINT_HALF);
        std::memcpy(out + FINGERPRINT_HALF, src + len - FINGERPRINT_HALF, FINGERPRINT_HALF);
    }
}

std::uint32_t readLength(const char* header)
{
    std::uint32_t len = 0;
    for (int byte = 0; byte < 4; ++byte)
        len = (len << 8) | static_cast<unsigned char>(header[LENGTH_OFFSET + byte]);
    return len;
}

// Whether the fingerprint at the start of the header matches the payload.
bool fingerprintMatches(const char* header, std::uint32_t len)
{
    const char* payload = header + PAYLOAD_OFFSET;
    if (len < FINGERPRINT_SIZE)
        return std::memcmp(header, payload, len) == 0;
    return std::memcmp(header, payload, FINGERPRINT_HALF) == 0 &&
           std::memcmp(header + FINGERPRINT_HALF, payload + len - FINGERPRINT_HALF, FINGERPRINT_HALF) == 0;
}

std::string withKey(const std::string& data, const std::string& key,
                    void (*apply)(char*, std::size_t, const char*, std::size_t))
{
    if (data.empty() || key.empty())
        return data;
    std::string result = data;
    apply(result.data(), result.size(), key.data(), key.size());
    return result;
}

}  // namespace

void char_swap(char* a, char* b)
{
    const char t = *a;
    *a = *b;
    *b = t;
}

void encrypt(char* buf, int len, const char* key, int keyLen)
{
    if (usable(buf, len, key, keyLen))
        scramble(buf, static_cast<std::size_t>(len), key, static_cast<std::size_t>(keyLen));
}

void decrypt(char* buf, int len, const char* key, int keyLen)
{
    if (usable(buf, len, key, keyLen))
        unscramble(buf, static_cast<std::size_t>(len), key, static_cast<std::size_t>(keyLen));
}

int addEncryptHeader(const char* src, char** out, int len)
{
    *out = nullptr;
    if (len < 0 || len > INT_MAX - static_cast<int>(HEADER_OVERHEAD) || (src == nullptr && len > 0))
        return -1;
    const int total = len + static_cast<int>(HEADER_OVERHEAD);
    char* block = static_cast<char*>(std::calloc(static_cast<std::size_t>(total), 1));
    if (block == nullptr)
        return -1;
    writeHeader(src, static_cast<std::uint32_t>(len), block);
    *out = block;
    return total;
}

std::string encrypt_image(const std::string& data, const std::string& key)
{
    return withKey(data, key, scramble);
}

std::string decrypt_image(const std::string& data, const std::string& key)
{
    return withKey(data, key, unscramble);
}

std::string encrypt_text(const std::string& data, const std::string& key)
{
    return withKey(data, key, scramble);
}

std::string decrypt_text(const std::string& data, const std::string& key)
{
    return withKey(data, key, unscramble);
}

std::string encrypt_image_internal_key(const std::string& data)
{
    if (data.size() > UINT32_MAX)
        return "";
    std::string result(data.size() + HEADER_OVERHEAD, '\0');
    writeHeader(data.data(), static_cast<std::uint32_t>(data.size()), result.data());
    const InternalKey key = internalKey();
    scramble(result.data(), result.size(), key.data(), key.size());
    return result;
}

std::string decrypt_image_internal_key(const std::string& data)
{
    return internalKeyPayload(data).value_or("");
}

std::optional<std::string> internalKeyPayload(const std::string& data)
{
    if (data.size() <= PAYLOAD_OFFSET)
        return std::nullopt;
    std::string plain = data;
    const InternalKey key = internalKey();
    unscramble(plain.data(), plain.size(), key.data(), key.size());
    if (std::memcmp(plain.data() + MAGIC_OFFSET, MAGIC, sizeof(MAGIC)) != 0)
        return std::nullopt;
    const std::uint32_t len = readLength(plain.data());
    if (plain.size() < PAYLOAD_OFFSET + len || !fingerprintMatches(plain.data(), len))
        return std::nullopt;
    return plain.substr(PAYLOAD_OFFSET, len);
}

}  // namespace tarvek::encryption
