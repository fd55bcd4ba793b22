// Feeds arbitrary bytes to the built-in-key decoder and checks that any bytes
// survive a scramble and descramble with the built-in key unchanged. The first
// input byte chooses whether the rest is taken as scrambled text, or as a
// plain header that is scrambled first, so that the fuzzer also reaches the
// checks behind the magic.
#include "encryption.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

// The key stream follows from the scrambled header of an empty payload, whose
// plain bytes are known: 32 zero bytes, the magic, a zero length, a zero byte.
const std::string& internalKey()
{
    static const std::string key = [] {
        const std::string plain = std::string(32, '\0') + "Tarvek" + std::string(5, '\0');
        std::string stream(tarvek::encryption::encrypt_image_internal_key("").substr(0, 43));
        std::string result(stream.rbegin(), stream.rend());
        for (std::size_t i = 0; i < result.size(); ++i)
            result[i] = static_cast<char>(result[i] ^ plain[i]);
        return result.substr(0, 28);
    }();
    return key;
}

std::string scrambled(std::string plain)
{
    const std::string& key = internalKey();
    tarvek::encryption::encrypt(plain.data(), static_cast<int>(plain.size()), key.data(),
                                static_cast<int>(key.size()));
    return plain;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
    if (data[0] & 1)
        input = scrambled(input);
    const std::string payload = tarvek::encryption::decrypt_image_internal_key(input);
    if (!payload.empty() && payload.size() + 42 > input.size())
        std::abort();  // the payload cannot be longer than the text holding it

    const std::string again = tarvek::encryption::encrypt_image_internal_key(input);
    if (again.size() != input.size() + 43 || tarvek::encryption::decrypt_image_internal_key(again) != input)
        std::abort();
    return 0;
}
