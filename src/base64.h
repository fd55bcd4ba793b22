#pragma once

// Base64 codec for the images carried in the recognition service's JSON.
// Encoding is standard Base64 with padding. Decoding is deliberately lenient:
// it checks only the length. Characters outside the alphabet count as 64 and
// "=" counts as 0 wherever it stands, and the values are combined by an
// arithmetic sum, so such input yields bytes rather than an error.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace macaron {

class Base64 {
public:
    static std::string Encode(std::string data)
    {
        static constexpr char alphabet[] =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        const std::size_t n = data.size();
        std::string out((n + 2) / 3 * 4, '=');
        const auto* in = reinterpret_cast<const unsigned char*>(data.data());
        char* o = out.data();

        std::size_t i = 0;
        for (; i + 2 < n; i += 3) {
            const unsigned b0 = in[i], b1 = in[i + 1], b2 = in[i + 2];
            *o++ = alphabet[b0 >> 2];
            *o++ = alphabet[((b0 & 3) << 4) | (b1 >> 4)];
            *o++ = alphabet[((b1 & 15) << 2) | (b2 >> 6)];
            *o++ = alphabet[b2 & 63];
        }
        if (n - i == 1) {
            const unsigned b0 = in[i];
            o[0] = alphabet[b0 >> 2];
            o[1] = alphabet[(b0 & 3) << 4];
        } else if (n - i == 2) {
            const unsigned b0 = in[i], b1 = in[i + 1];
            o[0] = alphabet[b0 >> 2];
            o[1] = alphabet[((b0 & 3) << 4) | (b1 >> 4)];
            o[2] = alphabet[(b1 & 15) << 2];
        }
        return out;
    }

    // Returns "" on success, or the length error; `out` is untouched on error.
    static std::string Decode(const std::string& input, std::string& out)
    {
        const std::size_t n = input.size();
        if (n % 4 != 0)
            return "Input data size is not a multiple of 4";

        std::size_t length = n / 4 * 3;
        if (n > 0 && input[n - 1] == '=')
            --length;
        if (n > 1 && input[n - 2] == '=')
            --length;
        out.resize(length);

        const auto& table = decodingTable();
        const auto* in = reinterpret_cast<const unsigned char*>(input.data());
        std::size_t written = 0;
        for (std::size_t i = 0; i < n; i += 4) {
            std::uint32_t sum = 0;
            for (std::size_t k = 0; k < 4; ++k)
                sum = (sum << 6) + (in[i + k] == '=' ? 0u : table[in[i + k]]);
            const unsigned char bytes[3] = {static_cast<unsigned char>(sum >> 16),
                                            static_cast<unsigned char>(sum >> 8),
                                            static_cast<unsigned char>(sum)};
            for (unsigned char byte : bytes)
                if (written < length)
                    out[written++] = static_cast<char>(byte);
        }
        return "";
    }

private:
    // Alphabet characters map to their index, every other byte to 64.
    static const std::array<std::uint32_t, 256>& decodingTable()
    {
        static const std::array<std::uint32_t, 256> table = [] {
            std::array<std::uint32_t, 256> t{};
            t.fill(64);
            for (std::uint32_t v = 0; v < 26; ++v) {
                t['A' + v] = v;
                t['a' + v] = 26 + v;
            }
            for (std::uint32_t v = 0; v < 10; ++v)
                t['0' + v] = 52 + v;
            t['+'] = 62;
            t['/'] = 63;
            return t;
        }();
        return table;
    }
};

} // namespace macaron
